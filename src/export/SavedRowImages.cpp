#include "export/SavedRowImages.h"

#include "logreader/LogFormat.h"

namespace kestrane {

std::vector<RowValues> SavedRowImages(RowImages&& rebuilt, RowRebuildFailure* leftOutBecause) {
    std::vector<RowValues> rows;
    if (leftOutBecause) *leftOutBecause = RowRebuildFailure::None;
    switch (rebuilt.operation) {
        case logfmt::kOpInsertRow:
        case logfmt::kOpDeleteRow:
            rows = std::move(rebuilt.images);
            break;
        case logfmt::kOpModifyRow:
        case logfmt::kOpModifyColumns:
            if (leftOutBecause) *leftOutBecause = rebuilt.failure;
            if (rebuilt.Rebuilt() && rebuilt.images.size() >= 2) rows.push_back(std::move(rebuilt.images[1]));
            break;
        default:
            break;
    }
    return rows;
}

}  // namespace kestrane
