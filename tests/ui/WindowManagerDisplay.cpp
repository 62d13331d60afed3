#include "WindowManagerDisplay.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

namespace kestrane::test {

namespace {

// The root window's property `name` as a list of windows (empty when it has none).
std::vector<unsigned long> RootWindows(const char* name) {
    std::vector<unsigned long> windows;
    Display* display = XOpenDisplay(nullptr);
    if (!display) return windows;
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, DefaultRootWindow(display), XInternAtom(display, name, False), 0, 4096, False,
                           XA_WINDOW, &type, &format, &count, &after, &data) == Success &&
        data && format == 32) {
        const auto* ids = reinterpret_cast<const unsigned long*>(data);
        windows.assign(ids, ids + count);
    }
    if (data) XFree(data);
    XCloseDisplay(display);
    return windows;
}

}  // namespace

std::string WindowManagerMissing() {
    if (std::system("{ command -v xvfb-run && command -v openbox && command -v xdotool; } >/dev/null 2>&1") != 0)
        return "xvfb-run, openbox or xdotool is missing (scripts/setup.sh installs them)";
    return {};
}

int RunOnDisplayWithWindowManager(const std::string& testName, const std::string& flag, std::chrono::seconds timeout) {
    std::error_code ec;
    const std::string self = std::filesystem::read_symlink("/proc/self/exe", ec).string();
    const std::string command =
        flag + "=1 timeout -k 5 " + std::to_string(timeout.count()) +
        " xvfb-run -a -s '-screen 0 1366x900x24 -nolisten tcp' sh -c "
        "'openbox --sm-disable >/dev/null 2>&1 & exec \"$0\" --gtest_filter=\"$1\"' '" + self + "' '" + testName + "'";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool WindowManagerRunning(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (RootWindows("_NET_SUPPORTING_WM_CHECK").empty()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

std::vector<unsigned long> StackedClientWindows() { return RootWindows("_NET_CLIENT_LIST_STACKING"); }

unsigned long TransientFor(unsigned long window) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return 0;
    Window owner = 0;
    if (!XGetTransientForHint(display, window, &owner)) owner = 0;
    XCloseDisplay(display);
    return owner;
}

}  // namespace kestrane::test
