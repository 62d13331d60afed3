#include "logreader/CompensationMatch.h"

#include <algorithm>
#include <array>
#include <optional>

#include "logreader/LogRecord.h"

namespace kestrane {

namespace {
constexpr size_t kCachedBlocks = 8;

// Reads records by their CLogSeqNo, keeping the last few blocks read.
class LsnReader {
public:
    LsnReader(const LogByteSource& source, const std::map<uint32_t, uint64_t>& vlfOffsets, uint64_t loads)
        : source_(source), vlfOffsets_(vlfOffsets), loadsLeft_(loads) {}

    // The record at `lsn` when it is one the scan examines (its block walked, its head inside it).
    std::optional<FoundRecord> Read(const CLogSeqNo& lsn) {
        auto vlf = vlfOffsets_.find(lsn.vlfSequence);
        if (vlf == vlfOffsets_.end()) return std::nullopt;
        const uint64_t offset = uint64_t{lsn.blockOffset} * logfmt::kBlockOffsetUnit;
        if (offset > UINT64_MAX - vlf->second) return std::nullopt;
        const uint64_t pos = vlf->second + offset;
        const LogBlockView* block = Block(pos);
        if (!block || block->header().lsn.vlfSequence != lsn.vlfSequence ||
            block->header().lsn.blockOffset != lsn.blockOffset)
            return std::nullopt;
        const uint16_t j = static_cast<uint16_t>(lsn.slot - block->header().lsn.slot);
        if (j >= block->RecordCount() || !block->Examinable(j)) return std::nullopt;
        return FoundRecord{{pos, j}, LogRecordHead(*block, block->SlotOffset(j))};
    }

private:
    struct Cached {
        uint64_t pos = UINT64_MAX;
        uint64_t used = 0;
        std::vector<uint8_t> bytes;
        std::optional<LogBlockView> view;
    };

    const LogBlockView* Block(uint64_t pos) {
        Cached* oldest = &cache_[0];
        for (Cached& c : cache_) {
            if (c.pos == pos) {
                c.used = ++clock_;
                return c.view ? &*c.view : nullptr;
            }
            if (c.used < oldest->used) oldest = &c;
        }
        if (loadsLeft_ == 0) return nullptr;
        --loadsLeft_;
        oldest->pos = pos;
        oldest->used = ++clock_;
        oldest->view = ReadLogBlock(source_, pos, oldest->bytes);
        return oldest->view ? &*oldest->view : nullptr;
    }

    const LogByteSource& source_;
    const std::map<uint32_t, uint64_t>& vlfOffsets_;
    uint64_t loadsLeft_;
    std::array<Cached, kCachedBlocks> cache_;
    uint64_t clock_ = 0;
};
}  // namespace

std::vector<RecordPlace> FindUndoneRecords(const LogByteSource& source, const std::map<uint32_t, uint64_t>& vlfOffsets,
                                           std::vector<CompensationRecord> compensations, UndoneBy& undoneBy,
                                           uint64_t blocksWalked) {
    std::vector<RecordPlace> undone;
    if (compensations.empty()) return undone;
    // In log order, so that a rollback's earlier compensation records are matched first.
    std::sort(compensations.begin(), compensations.end(),
              [](const CompensationRecord& a, const CompensationRecord& b) { return a.lsn < b.lsn; });
    LsnReader reader(source, vlfOffsets, 1024 + 2 * blocksWalked);
    uint64_t budget = 65536 + 16 * uint64_t{compensations.size()};
    auto read = [&reader](const CLogSeqNo& lsn, bool&) { return reader.Read(lsn); };
    for (CompensationRecord& c : compensations) {
        RecordPlace place;
        if (FollowChain(c, undoneBy, budget, read, place) == ChainEnd::Found) undone.push_back(place);
    }
    std::sort(undone.begin(), undone.end());
    undone.erase(std::unique(undone.begin(), undone.end()), undone.end());
    return undone;
}

}  // namespace kestrane
