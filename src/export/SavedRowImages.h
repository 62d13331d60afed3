#pragma once
// The row a save keeps of a rebuilt operation: an inserted or deleted row as it was, a modified row
// with its logged bytes put back (the row before the change), not the row as the page holds it now.
#include <vector>

#include "logreader/OperationRebuild.h"

namespace kestrane {

// Operations 2 and 3: every image; 4 and 6: image 1 when there are two, else image 0; others: none.
std::vector<RowValues> SavedRowImages(RowImages&& rebuilt);

}  // namespace kestrane
