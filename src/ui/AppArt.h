#pragma once
// The program's small images, drawn in code: the application icon, the tree's item images (0 table,
// 1 database) and the operations list's images (0 Update, 1 Delete, 2 Insert).
#include <wx/icon.h>
#include <wx/imaglist.h>

namespace kestrane {

wxIcon MakeAppIcon(int size = 32);
wxImageList* MakeTreeImages();
wxImageList* MakeOperationImages();

}  // namespace kestrane
