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

std::wstring NoSavedRowReason(uint8_t operation, const RowImages& rebuilt) {
    switch (operation) {
        case logfmt::kOpModifyRow:
        case logfmt::kOpModifyColumns: {
            if (rebuilt.operation == 0) return L"its log record cannot be read again";
            // The status text the grid shows, without its sentence frame: "... cannot be rebuilt: <why>."
            std::wstring why = rebuilt.StatusText();
            const size_t colon = why.find(L": ");
            if (colon == std::wstring::npos) return L"the updated row cannot be rebuilt";
            why = why.substr(colon + 2);
            if (!why.empty() && why.back() == L'.') why.pop_back();
            return L"the updated row cannot be rebuilt: " + why;
        }
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
