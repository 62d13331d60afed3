#include "support/TdsEndpoint.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/OdbcConnection.h"
#include "platform/TextCodec.h"

extern char** environ;

namespace kestrane::test {

namespace {

const char* kScript = KESTRANE_SOURCE_DIR "/tests/tools/tds_endpoint.py";

bool OnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "");
    for (std::string dir; std::getline(dirs, dir, ':');)
        if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    return false;
}

}  // namespace

std::string TdsEndpointUnavailable() {
    if (!OnPath("python3")) return "python3 is not installed (scripts/setup.sh installs it)";
    try {
        const auto drivers = OdbcEnvironment().InstalledDrivers();
        if (std::find(drivers.begin(), drivers.end(), L"FreeTDS") == drivers.end())
            return "the FreeTDS ODBC driver is not registered (scripts/setup.sh registers it)";
    } catch (const std::exception& e) {
        return std::string("no ODBC driver manager: ") + e.what();
    }
    return {};
}

TdsEndpoint::TdsEndpoint(const nlohmann::json& rules) {
    static std::atomic<int> counter{0};
    folder_ = (std::filesystem::temp_directory_path() /
               ("kestrane-tds-" + std::to_string(getpid()) + "-" + std::to_string(counter++))).string();
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    const std::string rulesPath = folder_ + "/rules.json", logPath = folder_ + "/log.jsonl";
    std::ofstream(rulesPath) << rules.dump();
    std::ofstream(logPath).close();

    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string python = "python3", script = kScript, logFlag = "--log", rulesFlag = "--rules";
    char* argv[] = {python.data(), script.data(), logFlag.data(), const_cast<char*>(logPath.c_str()),
                    rulesFlag.data(), const_cast<char*>(rulesPath.c_str()), nullptr};
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, "python3", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
        close(out[0]);
        return;
    }
    pid_ = pid;
    // The first line is "PORT <n>"; give the interpreter a few seconds to start.
    std::string line;
    pollfd fd{out[0], POLLIN, 0};
    while (line.find('\n') == std::string::npos && poll(&fd, 1, 10000) > 0) {
        char buffer[64];
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0) break;
        line.append(buffer, static_cast<size_t>(n));
    }
    close(out[0]);
    if (line.rfind("PORT ", 0) == 0) port_ = std::atoi(line.c_str() + 5);
}

TdsEndpoint::~TdsEndpoint() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

std::wstring TdsEndpoint::server() const { return L"127.0.0.1," + std::to_wstring(port_); }

std::string TdsEndpoint::RecordText() const {
    std::ifstream in(folder_ + "/log.jsonl");
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<nlohmann::json> TdsEndpoint::Events(const std::string& event) const {
    std::vector<nlohmann::json> events;
    std::istringstream lines(RecordText());
    for (std::string line; std::getline(lines, line);) {
        auto parsed = nlohmann::json::parse(line, nullptr, false);
        if (parsed.is_discarded()) continue;
        if (event.empty() || parsed.value("event", "") == event) events.push_back(std::move(parsed));
    }
    return events;
}

std::vector<std::wstring> TdsEndpoint::Statements() const {
    std::vector<std::wstring> texts;
    for (const auto& e : Events("execute")) texts.push_back(Utf8ToWide(e.value("text", "")));
    return texts;
}

}  // namespace kestrane::test
