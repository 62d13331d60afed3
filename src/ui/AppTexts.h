#pragma once
// The program's name as the dialogs and message boxes show it, and the Help menu's command ids.
namespace kestrane {

inline constexpr const wchar_t* kAppTitle = L"Kestrane";

enum HelpCommand : int {
    kCmdHelp = 32771,
    kCmdAbout = 32772,
    kCmdHomepage = 32773,
};

}  // namespace kestrane
