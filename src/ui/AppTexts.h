#pragma once
// The program's name as the dialogs and message boxes show it, and the Help menu's command ids.
namespace kestrane {

inline constexpr const wchar_t* kAppTitle = L"Kestrane";

// The toolkit takes menu ids below 32767 only (32771..32773 raised its assertion on every click).
enum HelpCommand : int {
    kCmdHelp = 22771,
    kCmdAbout = 22772,
    kCmdHomepage = 22773,
};

}  // namespace kestrane
