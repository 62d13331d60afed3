#pragma once
// The save runs over the main dialog's engine objects: the open database, its logged operations and the
// log file they were read from. `owner` shows the error descriptions of the database steps.
#include <memory>

#include "platform/ProgressSink.h"
#include "platform/Prompter.h"
#include "platform/RunState.h"
#include "ui/EngineSession.h"
#include "ui/SaveRuns.h"

namespace kestrane {

std::unique_ptr<SaveRuns> MakeEngineSaveRuns(RunState& state, EngineSession& engine, Prompter& prompter,
                                             ProgressSink& owner);

}  // namespace kestrane
