#include "platform/RunState.h"

#include <fstream>

#include "platform/TextCodec.h"

namespace kestrane {

int32_t ParseLeadingInt32(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r' ||
                               text[i] == '\v' || text[i] == '\f'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > (int64_t{1} << 32)) value = int64_t{1} << 32;  // clamp: no overflow on long digit runs
    }
    if (negative) value = -value;
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

RunState::RunState() : RunState("collation.txt") {}

RunState::RunState(const std::string& collationPath) { LoadCollations(collationPath); }

void RunState::ResetDatabaseFields() {
    const RunState fresh{std::string()};
    serverVersionText = fresh.serverVersionText;
    collationFound = fresh.collationFound;
    collationId = fresh.collationId;
    codePage = fresh.codePage;
    collationName = fresh.collationName;
    legacyCatalog = fresh.legacyCatalog;
    identityColumnSeen = fresh.identityColumnSeen;
    rowSplice.clear();
}

void RunState::LoadCollations(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t tab1 = line.find('\t');
        if (tab1 == std::string::npos) continue;
        size_t tab2 = line.find('\t', tab1 + 1);
        if (tab2 == std::string::npos) continue;
        CollationEntry entry;
        entry.name = CodePageToWide(line.substr(0, tab1), 1252);
        int64_t id = ParseLeadingInt32(line.substr(tab1 + 1, tab2 - tab1 - 1));
        entry.codePage = ParseLeadingInt32(line.substr(tab2 + 1));
        collationMap[id] = std::move(entry);
    }
}

}  // namespace kestrane
