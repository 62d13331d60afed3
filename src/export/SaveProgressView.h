#pragma once
// What a save run shows while it works: the progress dialog's log list ("DATABASE LOG") and progress
// bar, the main dialog's statement box, and the dialog's end state. Both save runs report through it;
// the dialog implements it on the UI thread, tests record it.
#include <cstdint>
#include <string>

#include "export/LogListSink.h"

namespace kestrane {

// The log list ("DATABASE LOG") is the LogListSink part.
class SaveProgressView : public LogListSink {
public:
    virtual void SetProgressRange(uint64_t upper) = 0;
    virtual void SetProgressPosition(uint64_t position) = 0;
    // The main dialog's statement box.
    virtual void ShowStatement(const std::wstring& text) = 0;
    // The run has ended: Close enabled, the progress bar and Stop hidden.
    virtual void SetFinished() = 0;
};

}  // namespace kestrane
