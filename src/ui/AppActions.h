#pragma once
// The application object's Help menu commands, shared by every dialog's Help menu button.
#include <string>

namespace kestrane {

class AppActions {
public:
    virtual ~AppActions() = default;
    virtual void OpenHelpPage() = 0;      // "Help"
    virtual void RunAboutBox() = 0;       // "About"
    virtual void OpenHomePage() = 0;      // "Software Homepage"
};

// Dispatches a Help menu command id (kCmdHelp..kCmdHomepage); other ids are ignored. True when handled.
bool HandleHelpCommand(int commandId, AppActions& actions);

// Where the shipped help page is: "help/index.html" beside the executable, else under the current
// directory; empty when neither exists.
std::string FindHelpPage(const std::string& executableDir);

}  // namespace kestrane
