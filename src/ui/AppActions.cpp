#include "ui/AppActions.h"

#include <filesystem>

#include "platform/TextCodec.h"
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

void OpenHelpPageWith(const std::string& page, const std::function<bool(const std::string& url)>& openUrl,
                      Prompter& prompter) {
    if (page.empty()) {
        prompter.ShowMessage(L"The help page cannot be found.", MessageIcon::Information);
        return;
    }
    if (openUrl && openUrl("file://" + page)) return;
    prompter.ShowMessage(L"No web browser could be started to show the help page. It is at:\n" + Utf8ToWide(page),
                         MessageIcon::Information);
}

}  // namespace kestrane
