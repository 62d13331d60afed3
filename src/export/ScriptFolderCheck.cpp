#include "export/ScriptFolderCheck.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/TextCodec.h"

namespace kestrane {

ScriptFolderState CheckScriptFolder(const std::wstring& folder) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path path(WideToUtf8(folder));
    if (folder.empty() || !fs::is_directory(path, ec)) return ScriptFolderState::Missing;
    const std::string probe = (path / (".kestrane-write-check-" + std::to_string(::getpid()))).string();
    int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST && ::unlink(probe.c_str()) == 0)  // left by a run that did not end
        fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return ScriptFolderState::NotWritable;
    ::close(fd);
    ::unlink(probe.c_str());
    return ScriptFolderState::Usable;
}

std::wstring ScriptFolderRefusal(const std::wstring& folder) {
    switch (CheckScriptFolder(folder)) {
        case ScriptFolderState::Missing:
            return L"The folder \" " + folder + L" \" does not exist. Please browse save location for script file";
        case ScriptFolderState::NotWritable:
            return L"The folder \" " + folder + L" \" cannot be written. Please browse save location for script file";
        default:
            return {};
    }
}

}  // namespace kestrane
