#pragma once
// Opens an address with the desktop's launcher and tells whether that worked: the launcher itself
// says "no method available" by its exit status, which starting it alone does not show.
#include <chrono>
#include <string>

namespace kestrane {

// Runs `program` with `argument` (found on PATH) and waits at most `wait` for it to end. False when it
// cannot be started or ends with a failure within the wait; one still running then (a browser that
// the launcher runs in the foreground) counts as started and is left to run.
bool RunLauncher(const std::string& program, const std::string& argument, std::chrono::milliseconds wait);

// The desktop's launcher ("xdg-open") with a wait short enough for the window not to seem stuck.
bool OpenWithDesktop(const std::string& url);

}  // namespace kestrane
