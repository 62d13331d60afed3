#include "export/ScriptFolderNames.h"

#include <algorithm>

#include "platform/TextCodec.h"
#include "sqltext/SqlNames.h"

namespace kestrane {

namespace {

// A safe component of at most kMaxComponent units and 200 UTF-8 bytes (a name above U+00FF takes up
// to three bytes a unit), without a trailing dot or blank once cut.
std::wstring SafeAndShort(const std::wstring& name) {
    std::wstring safe = SafePathComponent(name);
    // sqlcmd would read "$(" in a ":r" path as one of its variables.
    for (size_t at = safe.find(L"$("); at != std::wstring::npos; at = safe.find(L"$(", at)) safe[at] = L'_';
    while (safe.size() > ScriptFolderNames::kMaxComponent || WideToUtf8(safe).size() > 200) safe.pop_back();
    return SafePathComponent(safe);
}

}  // namespace

bool HasCharacterAboveLatin1(const std::wstring& name) {
    for (wchar_t c : name)
        if (static_cast<uint32_t>(c) > 0xFF) return true;
    return false;
}

std::wstring ScriptFolderNames::DatabaseFolderName(const std::wstring& databaseName) { return SafeAndShort(databaseName); }

std::wstring ScriptFolderNames::DatabaseScriptName(const std::wstring& databaseName) {
    if (HasCharacterAboveLatin1(databaseName)) return L"UnicodeDatabase_" + std::to_wstring(++unicodeCounter_);
    return SafeAndShort(databaseName);
}

std::wstring ScriptFolderNames::TableFolderName(const std::wstring& tableName) {
    if (HasCharacterAboveLatin1(tableName)) return Unique(L"Unicodetable_" + std::to_wstring(++unicodeCounter_));
    return Unique(SafeAndShort(tableName));
}

std::wstring ScriptFolderNames::Unique(std::wstring name) {
    if (taken_.insert(LowerCase(name)).second) return name;
    // Names cut to one length meet often: each goes on from the last suffix it was given.
    const std::wstring base = name;
    uint32_t& next = nextSuffix_[LowerCase(base)];
    for (uint32_t n = std::max<uint32_t>(next, 2);; ++n) {
        name = base + L"_" + std::to_wstring(n);
        if (taken_.insert(LowerCase(name)).second) {
            next = n + 1;
            return name;
        }
    }
}

}  // namespace kestrane
