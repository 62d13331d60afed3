#include "ui/AppActions.h"

#include <filesystem>

#include "ui/AppTexts.h"

namespace kestrane {

bool HandleHelpCommand(int commandId, AppActions& actions) {
    switch (commandId) {
        case kCmdHelp: actions.OpenHelpPage(); return true;
        case kCmdAbout: actions.RunAboutBox(); return true;
        case kCmdHomepage: actions.OpenHomePage(); return true;
        default: return false;
    }
}

std::string FindHelpPage(const std::string& executableDir) {
    namespace fs = std::filesystem;
    std::error_code ec;
    for (const fs::path& candidate : {fs::path(executableDir) / "help" / "index.html", fs::path("help") / "index.html"}) {
        if (fs::is_regular_file(candidate, ec)) return fs::absolute(candidate, ec).lexically_normal().string();
    }
    return {};
}

}  // namespace kestrane
