#pragma once
// The application object's Help menu commands, shared by every dialog's Help menu button.
#include <functional>
#include <string>

#include "platform/Prompter.h"

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

// Opens the help page at `page` (an absolute path) as a file:// address with `openUrl` (false: no
// browser could be started). A missing page, or no browser, is said in a message, the latter with
// the page's path so that the user can open it by hand.
void OpenHelpPageWith(const std::string& page, const std::function<bool(const std::string& url)>& openUrl,
                      Prompter& prompter);

}  // namespace kestrane
