#pragma once
// Message boxes captioned with the application title, callable from any thread (a worker's question
// waits for the answer on the user-interface thread).
#include <functional>

#include "platform/Prompter.h"
#include "ui/UiDispatcher.h"

class wxWindow;

namespace kestrane {

class WxPrompter : public Prompter {
public:
    // `parent` names the window that a box belongs to (centred on it, above it), asked each time.
    WxPrompter(UiDispatcher& ui, std::function<wxWindow*()> parent = {}) : ui_(ui), parent_(std::move(parent)) {}
    void ShowMessage(const std::wstring& text, MessageIcon icon) override;
    PromptAnswer AskYesNo(const std::wstring& text) override;

private:
    wxWindow* Parent() const { return parent_ ? parent_() : nullptr; }

    UiDispatcher& ui_;
    std::function<wxWindow*()> parent_;
};

}  // namespace kestrane
