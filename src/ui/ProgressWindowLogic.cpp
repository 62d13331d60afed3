#include "ui/ProgressWindowLogic.h"

namespace kestrane {

void ProgressWindowLogic::OnStop() {
    // The save goes on while the question is open; a Yes given after it ended stops nothing.
    if (prompter_.AskYesNo(L"Are you sure you want to stop the saving process?") == PromptAnswer::Yes && saving_)
        state_.stopFlag = 1;
}

bool ProgressWindowLogic::OnClose() {
    return prompter_.AskYesNo(L"Do you want to Close Application ?") == PromptAnswer::Yes;
}

}  // namespace kestrane
