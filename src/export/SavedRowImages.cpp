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

std::wstring NoSavedRowReason(uint8_t operation, const RowImages& rebuilt) {
    switch (operation) {
        case logfmt::kOpModifyRow:
        case logfmt::kOpModifyColumns:
            return rebuilt.operation == 0 ? L"its log record cannot be read again" : L"the updated row cannot be rebuilt";
        case logfmt::kOpInsertRow:
        case logfmt::kOpDeleteRow:
            return rebuilt.operation == 0 ? L"its log record cannot be read again" : L"its row cannot be decoded";
        default:
            return L"operation " + std::to_wstring(operation) + L" holds no row";
    }
}

KeptRows KeepRows(uint8_t operation, RowImages&& rebuilt) {
    KeptRows kept;
    // SavedRowImages takes only the images: the kind that the reason reads stays.
    kept.rows = SavedRowImages(std::move(rebuilt));
    if (kept.rows.empty()) kept.noRowReason = NoSavedRowReason(operation, rebuilt);
    return kept;
}

}  // namespace kestrane
