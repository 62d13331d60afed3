#pragma once
// The save-progress window's behaviour without its window: Stop's question, Close (the program ends),
// the hidden Cancel and the Help menu.
#include <atomic>

#include "platform/Prompter.h"
#include "platform/RunState.h"
#include "ui/AppActions.h"

namespace kestrane {

class ProgressWindowLogic {
public:
    ProgressWindowLogic(RunState& state, Prompter& prompter, AppActions& actions)
        : state_(state), prompter_(prompter), actions_(actions) {}

    // The save worker has started or ended.
    void SetSaving(bool saving) { saving_ = saving; }
    bool Saving() const { return saving_; }

    // Asks, and on Yes sets the stop flag while the save still runs.
    void OnStop();
    // True when the user said Yes: the caller ends the program with exit code 0.
    bool OnClose();
    bool OnCancel() { return OnClose(); }
    void OnHelpCommand(int commandId) { HandleHelpCommand(commandId, actions_); }

private:
    RunState& state_;
    Prompter& prompter_;
    AppActions& actions_;
    std::atomic<bool> saving_{false};
};

}  // namespace kestrane
