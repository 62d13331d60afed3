#pragma once
// The row a save keeps of a rebuilt operation: an inserted or deleted row as it was, a modified row
// with its logged bytes put back (the row before the change), not the row as the page holds it now.
#include <string>
#include <vector>

#include "logreader/OperationRebuild.h"

namespace kestrane {

// Operations 2 and 3: every image; 4 and 6: image 1 when there are two, else image 0; others: none.
std::vector<RowValues> SavedRowImages(RowImages&& rebuilt);

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
