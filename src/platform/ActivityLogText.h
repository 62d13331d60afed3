#pragma once
// Lines of the activity log ("log.txt") that the run state holds open: written by the dialogs and by
// the engine's save runs alike.
#include <string>

#include "platform/RunState.h"

namespace kestrane {

// Appends `text` as UTF-16LE code units, no terminator. Does nothing when the log is not open.
void AppendActivityLog(RunState& state, const std::wstring& text);

}  // namespace kestrane
