#include "ui/SaveRuns.h"

#include <exception>

#include "platform/TextCodec.h"

namespace kestrane {

void RunSaveWorker(SaveRuns& runs, RunState& state, bool asScript, const std::vector<TickedTreeItem>& items, SaveProgressView& view) {
    try {
        if (asScript)
            runs.SaveAsScripts(items, view);
        else
            runs.SaveToDatabase(items, view);
    } catch (const std::exception& e) {
        view.AddLine(state.saveLogRow++, L"The save ended early: " + Utf8ToWide(e.what()));
    }
    view.SetFinished();
}

}  // namespace kestrane
