#include "logreader/UserTableMap.h"

#include "datafile/MetadataCatalog.h"

namespace kestrane {

void BuildUserTableMap(CMetadataCatalog& catalog, UserTableMap& map) {
    for (const ObjectRecord& object : catalog.objects) {
        if (object.name.empty() || object.type != L"U ") continue;
        const auto tableId = static_cast<uint32_t>(object.id);
        const RowsetRecord rowset = catalog.FindTableRowset(tableId);
        // A table without any rowset has no id that a log record could carry.
        if (rowset.objectId != tableId) continue;
        map.emplace(rowset.rowsetId, UserTableInfo{tableId, object.name});
    }
}

}  // namespace kestrane
