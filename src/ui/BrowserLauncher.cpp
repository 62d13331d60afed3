#include "ui/BrowserLauncher.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

extern char** environ;

namespace kestrane {

namespace {
constexpr auto kPollStep = std::chrono::milliseconds(10);
constexpr auto kDesktopWait = std::chrono::milliseconds(2000);
}  // namespace

bool RunLauncher(const std::string& program, const std::string& argument, std::chrono::milliseconds wait) {
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return false;
    // The browser may outlive the program: it must not hold the instance lock or any file of ours.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    std::string programArg = program, urlArg = argument;
    char* argv[] = {programArg.data(), urlArg.data(), nullptr};
    pid_t pid = 0;
    const int started = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0) return false;

    const auto end = std::chrono::steady_clock::now() + wait;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (done < 0) return true;  // reaped elsewhere: its outcome is unknown, it did start
        if (std::chrono::steady_clock::now() >= end) break;
        std::this_thread::sleep_for(kPollStep);
    }
    std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();  // collected whenever it ends
    return true;
}

bool OpenWithDesktop(const std::string& url) { return RunLauncher("xdg-open", url, kDesktopWait); }

}  // namespace kestrane
