#include "export/ModuleScripts.h"

#include <algorithm>

#include "platform/TextCodec.h"

namespace kestrane {

namespace {

struct ModuleKind {
    std::vector<std::wstring> types;
    const wchar_t* folder;
    const wchar_t* prefix;
};

const ModuleKind kModuleKinds[] = {
    {{L"FN", L"IF", L"TF"}, L"Functions", L"Function"},
    {{L"V "}, L"Views", L"View"},
    {{L"P "}, L"Storeprocedure", L"Procedure"},
    {{L"TR"}, L"Triggers", L"Trigger"},
};

bool IsBatchSeparator(const std::wstring& line) {
    if (line.size() < 2 || (line[0] != L'G' && line[0] != L'g') || (line[1] != L'O' && line[1] != L'o')) return false;
    return line.size() == 2 || line[2] == L' ' || line[2] == L'\t' || (line[2] >= L'0' && line[2] <= L'9');
}

}  // namespace

bool PassesSqlcmdUnchanged(const std::wstring& text) {
    if (text.find(L"$(") != std::wstring::npos) return false;
    for (size_t start = 0; start <= text.size();) {
        size_t end = std::min(text.find_first_of(L"\r\n", start), text.size());
        const size_t first = text.find_first_not_of(L" \t", start);
        if (first < end) {
            const std::wstring line = text.substr(first, end - first);
            if (IsBatchSeparator(line) || line[0] == L':' || line.rfind(L"!!", 0) == 0) return false;
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
            if (!PassesSqlcmdUnchanged(text)) {
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
