#pragma once
// "log.txt": the activity log of every run, UTF-16LE with a byte-order mark when created, appended to
// otherwise. It is held open in the run state; the start dialog opens it, the workers write their steps.
#include <string>

#include "platform/ActivityLogText.h"
#include "platform/RunState.h"

namespace kestrane {

// "log.txt" in `executableDir` when that folder is writable; otherwise in the user's state folder
// ($XDG_STATE_HOME/kestrane, else ~/.local/state/kestrane), created when missing.
std::string ActivityLogPath(const std::string& executableDir);

// Closes a log left open, opens (or creates with FF FE) the file at `path` and writes the run separator:
// CR LF, 80 '*', CR LF. False when the file cannot be opened; the program then runs without a log.
bool OpenActivityLog(RunState& state, const std::string& path);

void CloseActivityLog(RunState& state);

}  // namespace kestrane
