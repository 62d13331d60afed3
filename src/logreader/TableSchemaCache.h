#pragma once
// The schemas of the tables whose operations are clicked during one listing: each table's schema is
// loaded from the catalogue once, without walking its pages, so that a click costs the same on a
// table of ten pages and of ten million.
#include <cstdint>
#include <map>
#include <string>

#include "datafile/ColumnDef.h"

namespace kestrane {

class CMetadataCatalog;

struct ClickedTableSchema {
    ColumnDefList columns;
    uint32_t firstColumnIndex = 0;
    bool byRowsetColumns = false;  // the catalogue places its columns by rowset-column records
};

class TableSchemaCache {
public:
    // The schema of the user table of that object id, loaded on first use.
    const ClickedTableSchema& Get(CMetadataCatalog& catalog, uint32_t objectId);
    // A new listing (or another catalogue) starts afresh.
    void Clear() { tables_.clear(); }
    size_t Loads() const { return loads_; }

private:
    std::map<uint32_t, ClickedTableSchema> tables_;  // by object id: a name may be two schemas' tables
    size_t loads_ = 0;
};

}  // namespace kestrane
