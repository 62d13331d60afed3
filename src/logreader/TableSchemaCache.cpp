#include "logreader/TableSchemaCache.h"

#include "datafile/MetadataCatalog.h"

namespace kestrane {

const ClickedTableSchema& TableSchemaCache::Get(CMetadataCatalog& catalog, uint32_t objectId) {
    auto found = tables_.find(objectId);
    if (found != tables_.end()) return found->second;
    ClickedTableSchema schema;
    schema.columns = catalog.BuildTableLists(objectId, {}, TablePages::Skip);
    schema.firstColumnIndex = catalog.firstColumnIndex;
    schema.byRowsetColumns = !catalog.currentRowsetColumns.empty();
    ++loads_;
    return tables_.emplace(objectId, std::move(schema)).first->second;
}

}  // namespace kestrane
