#pragma once
// A test on a display of its own with a window manager (openbox) on it, so that windows are framed,
// stacked and focused as on a desktop, and what the window manager says of them. Other tests keep
// their display: the test program runs the one test again, as a child, under xvfb-run.
#include <chrono>
#include <string>
#include <vector>

namespace kestrane::test {

// Why such a test cannot run here ("" when it can).
std::string WindowManagerMissing();

// Runs this program's test `testName` ("Suite.Name") with `flag` set in its environment on a new
// virtual display with openbox, killed after `timeout`; its exit status (124 when it timed out).
int RunOnDisplayWithWindowManager(const std::string& testName, const std::string& flag, std::chrono::seconds timeout);

// Waits at most `timeout` for a window manager to take the display named by DISPLAY.
bool WindowManagerRunning(std::chrono::milliseconds timeout);
// The client windows of that display, bottom to top, as the window manager stacks them.
std::vector<unsigned long> StackedClientWindows();
// The window that `window` is transient for (0: none).
unsigned long TransientFor(unsigned long window);

}  // namespace kestrane::test
