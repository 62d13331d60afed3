#include "export/SavedTableNames.h"

#include "export/SaveLog.h"
#include "platform/TextCodec.h"
#include "sqltext/SqlNames.h"

namespace kestrane {

const std::wstring& SavedTableNames::NameFor(uint32_t objectId, const std::wstring& storedName) {
    if (auto found = byId_.find(objectId); found != byId_.end()) return found->second;
    std::wstring name = storedName;
    // Each stem remembers how far its suffixes are taken, so the k-th table of one name does not try
    // the k-1 names before it again. Stems of long names are cut, and several names may share one.
    for (uint32_t n = 2; taken_.count(LowerCase(name)) != 0;) {
        const std::wstring suffix = L"_" + std::to_wstring(n);
        const std::wstring stem = storedName.substr(0, kMaxName > suffix.size() ? kMaxName - suffix.size() : 0);
        uint32_t& next = nextSuffix_[LowerCase(stem)];
        if (next > n) {
            n = next;  // its digits may cut the stem shorter: look again
            continue;
        }
        next = ++n;
        ++suffixesTried_;
        name = stem + suffix;
    }
    taken_.insert(LowerCase(name));
    return byId_.emplace(objectId, std::move(name)).first->second;
}

const std::wstring* SavedTableNames::Find(uint32_t objectId) const {
    auto found = byId_.find(objectId);
    return found == byId_.end() ? nullptr : &found->second;
}

std::wstring TakeSavedName(SavedTableNames& names, uint32_t objectId, const std::wstring& storedName, SaveLog& log) {
    if (storedName.empty()) return storedName;
    const std::wstring& saved = names.NameFor(objectId, storedName);
    if (saved != storedName)
        log.Line(L"Table " + WithoutControlCharacters(storedName) + L" (object id " + std::to_wstring(objectId) +
                 L") is saved as " + WithoutControlCharacters(saved) +
                 L": a table of another schema with the same name is saved in this run");
    return saved;
}

}  // namespace kestrane
