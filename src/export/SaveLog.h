#pragma once
// The lines of a save run: a row of the progress dialog's log list, numbered by the run state's save-log
// row counter, and the same line (with CR LF) in the activity log.
#include <string>

#include "export/SaveProgressView.h"
#include "platform/RunState.h"

namespace kestrane {

class SaveLog {
public:
    SaveLog(RunState& state, SaveProgressView& view) : state_(state), view_(view) {}

    // The list row and the activity-log line.
    void Line(const std::wstring& text);
    // The activity log only, as given (no CR LF added).
    void Activity(const std::wstring& text);
    // The run's last words in the activity log, between two lines of stars.
    void EndBlock(const std::wstring& text);

    SaveProgressView& View() { return view_; }

private:
    RunState& state_;
    SaveProgressView& view_;
};

}  // namespace kestrane
