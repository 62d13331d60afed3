#pragma once
// Catalogue records filled in code, for tests that build a catalogue without a data file.
#include <cstdint>
#include <string>

#include "datafile/CatalogRecords.h"

namespace kestrane::test {

inline ObjectRecord Object(int32_t id, const std::wstring& name, const std::wstring& type, uint32_t parent = 0) {
    ObjectRecord o;
    o.id = id;
    o.name = name;
    o.type = type;
    o.parentId = parent;
    o.status = 0;
    return o;
}

inline ColumnRecord Column(uint32_t objectId, uint32_t columnId, const std::wstring& name, uint8_t systemType,
                           uint16_t maxLength, uint32_t status = 0, uint32_t userType = 0) {
    ColumnRecord c;
    c.objectId = objectId;
    c.number = 0;
    c.columnId = columnId;
    c.name = name;
    c.systemTypeId = systemType;
    c.userTypeId = userType ? userType : systemType;
    c.maxLength = maxLength;
    c.precision = 0;
    c.scale = 0;
    c.collationId = 53256;
    c.status = status;
    return c;
}

inline TypeRecord Type(uint32_t id, const std::wstring& name, uint32_t schema = 4, uint8_t systemType = 0,
                       uint16_t maxLength = 0) {
    TypeRecord t;
    t.typeId = id;
    t.name = name;
    t.schemaId = schema;
    t.systemTypeId = systemType ? systemType : static_cast<uint8_t>(id);
    t.maxLength = maxLength;
    return t;
}

inline RowsetRecord Rowset(uint64_t id, uint32_t objectId, uint32_t indexId) {
    RowsetRecord r;
    r.rowsetId = id;
    r.objectId = objectId;
    r.indexId = indexId;
    return r;
}

}  // namespace kestrane::test
