#pragma once
// A dialog's log list as the export sees it: the owner dialog's list (the connection test's "TEST LOG",
// or the main dialog's hidden list 1004) and the progress dialog's "DATABASE LOG". The dialogs add
// the line on the UI thread; tests record it.
#include <cstdint>
#include <string>

namespace kestrane {

class LogListSink {
public:
    virtual ~LogListSink() = default;
    // Adds `text` as row `row` of the list.
    virtual void AddLine(uint32_t row, const std::wstring& text) = 0;
};

}  // namespace kestrane
