#pragma once
// The modules whose definitions the catalogue holds (functions, views, procedures, triggers), each as a
// script of its own in the script folder: "Functions/Function<i>.sql", "Views/View<i>.sql",
// "Storeprocedure/Procedure<i>.sql", "Triggers/Trigger<i>.sql" (i counts all of them), listed in that
// order so that what a module uses is created first.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "datafile/CatalogRecords.h"

namespace kestrane {

struct ModuleScript {
    std::wstring relativePath;  // e.g. "Views/View3.sql"
    std::wstring name;          // the module's name
    std::wstring text;          // "GO\r\n" + the definition
};

// True when sqlcmd would hand the text to the server unchanged: no line that is a batch separator
// ("GO") or a sqlcmd command (":...", "!!...", or ED, RESET, EXIT, QUIT), and no scripting variable ("$(").
bool PassesSqlcmdUnchanged(const std::wstring& text);

// The module scripts of the catalogue's objects; `definitionText` gives an object's stored text by id.
// A text that is empty, holds neither "create" nor "alter" (an encrypted one) is passed over; one that
// sqlcmd would change, or that does not begin (after blanks and comments) with the module's own CREATE
// [OR ALTER] or ALTER statement, goes to `refused` (by name) instead of becoming a script.
std::vector<ModuleScript> CollectModuleScripts(const std::vector<ObjectRecord>& objects,
                                               const std::function<std::wstring(int32_t)>& definitionText,
                                               std::vector<std::wstring>& refused);

}  // namespace kestrane
