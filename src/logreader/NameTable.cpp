#include "logreader/NameTable.h"

namespace kestrane {

uint32_t NameTable::Intern(const std::wstring& text) {
    if (text.empty()) return 0;
    auto it = ids_.find(text);
    if (it != ids_.end()) return it->second;
    const auto id = static_cast<uint32_t>(texts_.size());
    texts_.push_back(text);
    ids_.emplace(text, id);
    return id;
}

const std::wstring& NameTable::Text(uint32_t id) const {
    return id < texts_.size() ? texts_[id] : texts_[0];
}

void NameTable::Clear() {
    texts_.assign(1, std::wstring());
    ids_.clear();
}

}  // namespace kestrane
