#pragma once
// How many values of a table's saved rows were stand-ins (values the files do not give), per column,
// so that the save can say what it wrote in their place.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kestrane {

class StandInTally {
public:
    void Add(const std::wstring& column, uint64_t count = 1);
    void Add(const StandInTally& other);
    void Clear() { columns_.clear(); }
    bool Empty() const { return columns_.empty(); }
    uint64_t Total() const;
    // "N values not in the files written as stand-ins (A, B)"; "" when there were none.
    std::wstring Text() const;

private:
    std::vector<std::pair<std::wstring, uint64_t>> columns_;  // in the order first met
};

}  // namespace kestrane
