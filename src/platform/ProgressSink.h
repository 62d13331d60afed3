#pragma once
// How the engine reports to whoever shows it, in the order and with the meaning of the synchronous
// window messages WM_USER+3..+7. The dialogs implement it on the UI thread; tests record the calls.
#include <string>

namespace kestrane {

enum ProgressMessage : unsigned {
    kWmUser = 0x0400,
    kMsgProgressPosition = kWmUser + 3,
    kMsgProgressRange = kWmUser + 4,
    kMsgStatusText = kWmUser + 5,
    kMsgFatalText = kWmUser + 6,
    kMsgErrorDescription = kWmUser + 7,
};

class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual void SetPosition(int position) = 0;             // WM_USER+3
    virtual void SetRange(int range) = 0;                   // WM_USER+4
    virtual void StatusText(const std::string& text) = 0;   // WM_USER+5 (8-bit text)
    virtual void FatalText(const std::string& text) = 0;    // WM_USER+6
    virtual void ErrorDescription(const std::string& text) = 0;  // WM_USER+7
};

// A sink that drops everything: for callers that do not show progress.
class NullProgressSink : public ProgressSink {
public:
    void SetPosition(int) override {}
    void SetRange(int) override {}
    void StatusText(const std::string&) override {}
    void FatalText(const std::string&) override {}
    void ErrorDescription(const std::string&) override {}
    static NullProgressSink& instance() { static NullProgressSink s; return s; }
};

}  // namespace kestrane
