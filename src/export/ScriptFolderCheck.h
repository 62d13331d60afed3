#pragma once
// Whether a chosen script folder can take a script run: it must be an existing folder in which a file
// can be created (tried, not judged by permission bits, which the superuser and read-only mounts
// make meaningless).
#include <string>

namespace kestrane {

enum class ScriptFolderState { Usable, Missing, NotWritable };

ScriptFolderState CheckScriptFolder(const std::wstring& folder);

// The save options' refusal of such a folder; empty for a usable one.
std::wstring ScriptFolderRefusal(const std::wstring& folder);

}  // namespace kestrane
