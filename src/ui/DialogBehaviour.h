#pragma once
// Behaviour that the start, main, save-options and progress dialogs share: Enter and Escape do nothing,
// and the dialog moves when any part of its own surface is dragged.
class wxWindow;

namespace kestrane {

void IgnoreEnterAndEscape(wxWindow* dialog);
// Dragging `surface` (the dialog or one of its static children) moves `dialog`.
void DragMovesDialog(wxWindow* dialog, wxWindow* surface);

}  // namespace kestrane
