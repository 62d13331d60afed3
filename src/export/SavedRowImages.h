#pragma once
// The row a save keeps of a rebuilt operation: an inserted or deleted row as it was, an updated row
// as it was right before the change, not the row as the page holds it now. An update whose row
// cannot be rebuilt gives no row.
#include <vector>

#include "logreader/OperationRebuild.h"

namespace kestrane {

// Operations 2 and 3: every image; 4 and 6: image 1 (the row before the change) when the row was
// rebuilt; others: none. `leftOutBecause`, when given, is set to why an update gave no row (None
// when it gave one, or for other operations).
std::vector<RowValues> SavedRowImages(RowImages&& rebuilt, RowRebuildFailure* leftOutBecause = nullptr);

}  // namespace kestrane
