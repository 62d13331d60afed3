#include "export/ModuleScripts.h"

#include <algorithm>
#include <cwctype>

#include "platform/TextCodec.h"

namespace kestrane {

namespace {

struct ModuleKind {
    std::vector<std::wstring> types;
    const wchar_t* folder;
    const wchar_t* prefix;
    std::vector<std::wstring> keywords;  // what follows CREATE in the module's own statement
};

const ModuleKind kModuleKinds[] = {
    {{L"FN", L"IF", L"TF"}, L"Functions", L"Function", {L"FUNCTION"}},
    {{L"V "}, L"Views", L"View", {L"VIEW"}},
    {{L"P "}, L"Storeprocedure", L"Procedure", {L"PROC", L"PROCEDURE"}},
    {{L"TR"}, L"Triggers", L"Trigger", {L"TRIGGER"}},
};

// The place after the blanks, line breaks and comments (block comments nest) that begin at `at`.
size_t SkipBlanksAndComments(const std::wstring& text, size_t at) {
    while (at < text.size()) {
        if (text[at] == L' ' || text[at] == L'\t' || text[at] == L'\r' || text[at] == L'\n') {
            ++at;
        } else if (text.compare(at, 2, L"--") == 0) {
            at = text.find(L'\n', at);
        } else if (text.compare(at, 2, L"/*") == 0) {
            size_t depth = 0;
            do {
                if (text.compare(at, 2, L"/*") == 0) {
                    ++depth;
                    at += 2;
                } else if (text.compare(at, 2, L"*/") == 0) {
                    --depth;
                    at += 2;
                } else {
                    ++at;
                }
            } while (depth > 0 && at < text.size());
        } else {
            break;
        }
    }
    return std::min(at, text.size());
}

// The upper-cased word at `at` (letters and "_"), moving `at` past it and what follows it.
std::wstring NextWord(const std::wstring& text, size_t& at) {
    std::wstring word;
    for (; at < text.size() && (std::iswalpha(text[at]) || text[at] == L'_'); ++at) word += std::towupper(text[at]);
    at = SkipBlanksAndComments(text, at);
    return word;
}

// A module's text is its one CREATE (or ALTER) statement: a procedure's, function's or trigger's body
// runs to the end of the batch, a view's must. Text before it would run as statements of the file's.
bool BeginsWithItsCreate(const std::wstring& text, const ModuleKind& kind) {
    size_t at = SkipBlanksAndComments(text, 0);
    std::wstring word = NextWord(text, at);
    if (word == L"CREATE") {
        word = NextWord(text, at);
        if (word == L"OR" && NextWord(text, at) == L"ALTER") word = NextWord(text, at);
    } else if (word == L"ALTER") {
        word = NextWord(text, at);
    } else {
        return false;
    }
    return std::find(kind.keywords.begin(), kind.keywords.end(), word) != kind.keywords.end();
}

bool IsBatchSeparator(const std::wstring& line) {
    if (line.size() < 2 || (line[0] != L'G' && line[0] != L'g') || (line[1] != L'O' && line[1] != L'o')) return false;
    return line.size() == 2 || line[2] == L' ' || line[2] == L'\t' || (line[2] >= L'0' && line[2] <= L'9');
}

// sqlcmd takes these at a line's start without the ":" too.
bool IsBareCommand(const std::wstring& line) {
    const std::wstring word = LowerCase(line.substr(0, line.find_first_of(L" \t(")));
    return word == L"ed" || word == L"reset" || word == L"exit" || word == L"quit";
}

}  // namespace

bool PassesSqlcmdUnchanged(const std::wstring& text) {
    if (text.find(L"$(") != std::wstring::npos) return false;
    for (size_t start = 0; start <= text.size();) {
        size_t end = std::min(text.find_first_of(L"\r\n", start), text.size());
        const size_t first = text.find_first_not_of(L" \t", start);
        if (first < end) {
            const std::wstring line = text.substr(first, end - first);
            if (IsBatchSeparator(line) || line[0] == L':' || line.rfind(L"!!", 0) == 0 || IsBareCommand(line))
                return false;
        }
        start = end + 1;
    }
    return true;
}

std::vector<ModuleScript> CollectModuleScripts(const std::vector<ObjectRecord>& objects,
                                               const std::function<std::wstring(int32_t)>& definitionText,
                                               std::vector<std::wstring>& refused) {
    std::vector<ModuleScript> scripts;
    size_t place = 0;
    for (const ModuleKind& kind : kModuleKinds) {
        for (const ObjectRecord& object : objects) {
            if (std::find(kind.types.begin(), kind.types.end(), object.type) == kind.types.end()) continue;
            const std::wstring text = definitionText(object.id);
            const std::wstring lower = LowerCase(text);
            if (lower.find(L"create") == std::wstring::npos && lower.find(L"alter") == std::wstring::npos) continue;
            if (!PassesSqlcmdUnchanged(text) || !BeginsWithItsCreate(text, kind)) {
                refused.push_back(object.name);
                continue;
            }
            scripts.push_back({std::wstring(kind.folder) + L"/" + kind.prefix + std::to_wstring(place++) + L".sql",
                               object.name, L"GO\r\n" + text});
        }
    }
    return scripts;
}

}  // namespace kestrane
