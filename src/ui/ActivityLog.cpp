#include "ui/ActivityLog.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>


namespace kestrane {

std::string ActivityLogPath(const std::string& executableDir) {
    namespace fs = std::filesystem;
    if (!executableDir.empty() && ::access(executableDir.c_str(), W_OK) == 0)
        return (fs::path(executableDir) / "log.txt").string();
    fs::path folder;
    if (const char* stateHome = std::getenv("XDG_STATE_HOME"); stateHome && *stateHome)
        folder = fs::path(stateHome) / "kestrane";
    else if (const char* home = std::getenv("HOME"); home && *home)
        folder = fs::path(home) / ".local" / "state" / "kestrane";
    else
        return (fs::path(executableDir) / "log.txt").string();
    std::error_code ec;
    fs::create_directories(folder, ec);
    return (folder / "log.txt").string();
}

bool OpenActivityLog(RunState& state, const std::string& path) {
    state.activityLog.close();
    std::error_code ec;
    const bool existed = std::filesystem::exists(path, ec);
    if (!state.activityLog.open(path, BinaryFile::Mode::Append)) return false;
    if (!existed) {
        static const uint8_t bom[2] = {0xFF, 0xFE};
        state.activityLog.write(bom, sizeof bom);
    }
    AppendActivityLog(state, L"\r\n" + std::wstring(80, L'*') + L"\r\n");
    return true;
}

void CloseActivityLog(RunState& state) { state.activityLog.close(); }

}  // namespace kestrane
