#pragma once
// Interned names: each distinct text is stored once and named by a small id. Id 0 is the empty text.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace kestrane {

class NameTable {
public:
    NameTable() { Clear(); }

    // The id of `text`, adding it when new. Looking up a known text allocates nothing.
    uint32_t Intern(const std::wstring& text);
    const std::wstring& Text(uint32_t id) const;
    size_t Count() const { return texts_.size(); }
    void Clear();

private:
    std::vector<std::wstring> texts_;
    std::unordered_map<std::wstring, uint32_t> ids_;
};

}  // namespace kestrane
