#include "ui/SaveCommand.h"

namespace kestrane {

void RunSaveCommand(RunState& state, Prompter& prompter, SaveCommandHost& host) {
    if (host.CheckedItemCount() == 0) {
        prompter.ShowMessage(L"Please select atleast one item from tree to save", MessageIcon::Information);
        return;
    }
    state.stopFlag = 0;
    state.saveLogRow = 0;
    // The main dialog's hidden option boxes always read unchecked: "dd" and "f" leave their options as
    // they are, "Show deleted records" and "Advance Delete record" clear theirs.
    state.includeDeletedRows = 0;
    state.deletedRecordScan = 0;
    if (!host.RunSaveOptions()) return;
    if (!host.CreateProgressWindow()) {
        prompter.ShowMessage(L"Migration dialog cannot be created", MessageIcon::Error);
        return;
    }
    host.ShowProgressWindow();
    host.StartSaveWorker(state.saveAsScript != 0);
}

}  // namespace kestrane
