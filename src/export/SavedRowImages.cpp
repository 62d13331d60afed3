#include "export/SavedRowImages.h"

#include "logreader/LogFormat.h"

namespace kestrane {

std::vector<RowValues> SavedRowImages(RowImages&& rebuilt) {
    std::vector<RowValues> rows;
    switch (rebuilt.operation) {
        case logfmt::kOpInsertRow:
        case logfmt::kOpDeleteRow:
            rows = std::move(rebuilt.images);
            break;
        case logfmt::kOpModifyRow:
        case logfmt::kOpModifyColumns:
            if (!rebuilt.images.empty()) rows.push_back(std::move(rebuilt.images[rebuilt.images.size() >= 2 ? 1 : 0]));
            break;
        default:
            break;
    }
    return rows;
}

}  // namespace kestrane
