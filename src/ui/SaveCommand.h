#pragma once
// Save in the main dialog: the ticked tables go through the save options (modal), then the progress
// window replaces the main dialog and the save worker starts.
#include "platform/Prompter.h"
#include "platform/RunState.h"

namespace kestrane {

class SaveCommandHost {
public:
    virtual ~SaveCommandHost() = default;
    virtual int CheckedItemCount() const = 0;
    // Runs the save-options dialog modally; true on OK.
    virtual bool RunSaveOptions() = 0;
    // Creates the progress window; false when it cannot be made.
    virtual bool CreateProgressWindow() = 0;
    // Hides the main dialog and shows the progress window.
    virtual void ShowProgressWindow() = 0;
    // Starts the database save (false) or the script save (true) and returns at once.
    virtual void StartSaveWorker(bool asScript) = 0;
};

void RunSaveCommand(RunState& state, Prompter& prompter, SaveCommandHost& host);

}  // namespace kestrane
