#include "logreader/TableSchemaCache.h"

#include "datafile/MetadataCatalog.h"

namespace kestrane {

const ClickedTableSchema& TableSchemaCache::Get(CMetadataCatalog& catalog, const std::wstring& table) {
    auto found = tables_.find(table);
    if (found != tables_.end()) return found->second;
    ClickedTableSchema schema;
    schema.columns = catalog.BuildObjectLists(table, L"U ", {}, TablePages::Skip);
    schema.firstColumnIndex = catalog.firstColumnIndex;
    schema.byRowsetColumns = !catalog.currentRowsetColumns.empty();
    ++loads_;
    return tables_.emplace(table, std::move(schema)).first->second;
}

}  // namespace kestrane
