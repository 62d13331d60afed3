#pragma once
// The row a save keeps of a rebuilt operation: an inserted or deleted row as it was, an updated row
// as it was right before the change, not the row as the page holds it now. An update whose row
// cannot be rebuilt gives no row.
#include <string>
#include <vector>

#include "logreader/OperationRebuild.h"

namespace kestrane {

// Operations 2 and 3: every image; 4 and 6: image 1 (the row before the change) when the row was
// rebuilt; others: none. `leftOutBecause`, when given, is set to why an update gave no row (None
// when it gave one, or for other operations).
std::vector<RowValues> SavedRowImages(RowImages&& rebuilt, RowRebuildFailure* leftOutBecause = nullptr);

// Why an operation of kind `operation` gave no row to save when SavedRowImages gave none, for the
// save log.
std::wstring NoSavedRowReason(uint8_t operation, const RowImages& rebuilt);

// The rows a save keeps of an operation of kind `operation`, and why there are none when so.
struct KeptRows {
    std::vector<RowValues> rows;
    std::wstring noRowReason;  // set when `rows` is empty
};
KeptRows KeepRows(uint8_t operation, RowImages&& rebuilt);

}  // namespace kestrane
