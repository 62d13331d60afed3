#include "ui/DialogBehaviour.h"

#include <wx/event.h>
#include <wx/window.h>

#include <memory>

namespace kestrane {

void IgnoreEnterAndEscape(wxWindow* dialog) {
    dialog->Bind(wxEVT_CHAR_HOOK, [](wxKeyEvent& event) {
        switch (event.GetKeyCode()) {
            case WXK_RETURN:
            case WXK_NUMPAD_ENTER:
            case WXK_ESCAPE:
                return;  // swallowed
            default:
                event.Skip();
        }
    });
}

void DragMovesDialog(wxWindow* dialog, wxWindow* surface) {
    struct Drag {
        bool active = false;
        wxPoint grab;  // mouse position relative to the dialog's origin
    };
    auto drag = std::make_shared<Drag>();
    surface->Bind(wxEVT_LEFT_DOWN, [dialog, surface, drag](wxMouseEvent& event) {
        drag->active = true;
        drag->grab = surface->ClientToScreen(event.GetPosition()) - dialog->GetPosition();
        if (!surface->HasCapture()) surface->CaptureMouse();
        event.Skip();
    });
    surface->Bind(wxEVT_MOTION, [dialog, surface, drag](wxMouseEvent& event) {
        if (drag->active && event.Dragging() && event.LeftIsDown())
            dialog->Move(surface->ClientToScreen(event.GetPosition()) - drag->grab);
        event.Skip();
    });
    auto end = [surface, drag](wxMouseEvent& event) {
        drag->active = false;
        if (surface->HasCapture()) surface->ReleaseMouse();
        event.Skip();
    };
    surface->Bind(wxEVT_LEFT_UP, end);
    surface->Bind(wxEVT_MOUSE_CAPTURE_LOST, [drag](wxMouseCaptureLostEvent&) { drag->active = false; });
}

}  // namespace kestrane
