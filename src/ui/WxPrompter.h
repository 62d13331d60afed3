#pragma once
// Message boxes captioned with the application title, callable from any thread (a worker's question
// waits for the answer on the user-interface thread).
#include "platform/Prompter.h"
#include "ui/UiDispatcher.h"

class wxWindow;

namespace kestrane {

class WxPrompter : public Prompter {
public:
    explicit WxPrompter(UiDispatcher& ui) : ui_(ui) {}
    void ShowMessage(const std::wstring& text, MessageIcon icon) override;
    PromptAnswer AskYesNo(const std::wstring& text) override;

private:
    UiDispatcher& ui_;
};

}  // namespace kestrane
