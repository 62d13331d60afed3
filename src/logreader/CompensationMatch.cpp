#include "logreader/CompensationMatch.h"

#include <algorithm>
#include <array>
#include <optional>
#include <tuple>

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

// A candidate's record as read back: what the key stands for, exactly.
struct CandidateChange {
    uint64_t key = 0;
    CLogSeqNo lsn;
    uint64_t transaction = 0;
    CLogSeqNo previous;
    RecordPlace place;
    bool undone = false;
};

bool ByKeyThenLsn(const CandidateChange& a, const CandidateChange& b) {
    return std::tie(a.key, a.lsn) < std::tie(b.key, b.lsn);
}

// The candidates' records, read back block by block.
std::vector<CandidateChange> ReadCandidates(const LogByteSource& source, std::vector<UndoCandidate>& candidates) {
    std::sort(candidates.begin(), candidates.end(),
              [](const UndoCandidate& a, const UndoCandidate& b) { return a.place < b.place; });
    std::vector<CandidateChange> changes;
    std::vector<uint8_t> buffer;
    std::optional<LogBlockView> block;
    uint64_t blockPos = UINT64_MAX;
    for (const UndoCandidate& candidate : candidates) {
        if (candidate.place.first != blockPos) {
            blockPos = candidate.place.first;
            block = ReadLogBlock(source, blockPos, buffer);
        }
        const uint16_t j = candidate.place.second;
        if (!block || j >= block->RecordCount() || !block->Examinable(j)) continue;
        const LogRecordHead head(*block, block->SlotOffset(j));
        if (head.IsCompensation()) continue;
        CandidateChange change;
        change.key = candidate.key;
        change.lsn = block->header().lsn;
        change.lsn.slot = static_cast<uint16_t>(change.lsn.slot + j);
        change.transaction = head.TransactionId();
        change.previous = head.Previous();
        change.place = candidate.place;
        changes.push_back(change);
    }
    return changes;
}

// Matches each of `unmatched` (in log order) to the latest of `changes` before it with its key that
// nothing undid yet.
void MatchByKey(const std::vector<CompensationRecord>& unmatched, std::vector<CandidateChange>& changes,
                const UndoneBy& undoneBy, std::vector<RecordPlace>& undone) {
    std::sort(changes.begin(), changes.end(), ByKeyThenLsn);
    std::vector<CLogSeqNo> walked;  // undone by what the chain walks found
    for (const auto& [compensation, change] : undoneBy) walked.push_back(change);
    std::sort(walked.begin(), walked.end());
    for (CandidateChange& change : changes) change.undone = std::binary_search(walked.begin(), walked.end(), change.lsn);
    for (const CompensationRecord& c : unmatched) {
        CandidateChange probe;
        probe.key = UndoKey(c.transaction, c.undoNext);
        const auto first = std::lower_bound(changes.begin(), changes.end(), probe, ByKeyThenLsn);
        probe.lsn = c.lsn;
        // The latest change before the compensation record that is not undone yet: after a partial
        // rollback an earlier change of the transaction can follow the same record.
        for (auto it = std::lower_bound(first, changes.end(), probe, ByKeyThenLsn); it != first;) {
            --it;
            if (it->transaction != c.transaction || it->previous != c.undoNext || it->undone) continue;
            it->undone = true;
            undone.push_back(it->place);
            break;
        }
    }
}
}  // namespace

uint64_t UndoKey(uint64_t transaction, const CLogSeqNo& previous) {
    // The transaction id has 48 bits, the CLogSeqNo 80: mixed, not packed; a match is checked exactly.
    uint64_t h = transaction * 0x9E3779B97F4A7C15ULL;
    h ^= (uint64_t{previous.vlfSequence} << 32 | previous.blockOffset) + 0x7F4A7C159E3779B9ULL + (h << 6) + (h >> 2);
    h ^= previous.slot + 0x85EBCA6BULL + (h << 6) + (h >> 2);
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDULL;
    h ^= h >> 33;
    return h;
}

UndoKeyFilter::UndoKeyFilter(const std::vector<CompensationRecord>& compensations) : bits_(kBits / 64, 0) {
    keys_.reserve(compensations.size());
    for (const CompensationRecord& c : compensations) {
        const uint64_t key = UndoKey(c.transaction, c.undoNext);
        keys_.push_back(key);
        const uint64_t bit = key & (kBits - 1);
        bits_[bit / 64] |= uint64_t{1} << (bit % 64);
    }
    std::sort(keys_.begin(), keys_.end());
}

std::vector<RecordPlace> FindUndoneRecords(const LogByteSource& source, const std::map<uint32_t, uint64_t>& vlfOffsets,
                                           std::vector<CompensationRecord> compensations, UndoneBy& undoneBy,
                                           uint64_t blocksWalked, std::vector<UndoCandidate> candidates) {
    std::vector<RecordPlace> undone;
    if (compensations.empty()) return undone;
    // In log order, so that a rollback's earlier compensation records are matched first.
    std::sort(compensations.begin(), compensations.end(),
              [](const CompensationRecord& a, const CompensationRecord& b) { return a.lsn < b.lsn; });
    LsnReader reader(source, vlfOffsets, 1024 + 2 * blocksWalked);
    uint64_t budget = 65536 + 16 * uint64_t{compensations.size()};
    auto read = [&reader](const CLogSeqNo& lsn, bool&) { return reader.Read(lsn); };
    std::vector<CompensationRecord> unmatched;
    for (CompensationRecord& c : compensations) {
        RecordPlace place;
        if (FollowChain(c, undoneBy, budget, read, place) == ChainEnd::Found) undone.push_back(place);
        else unmatched.push_back(c);
    }
    if (!unmatched.empty() && !candidates.empty()) {
        std::vector<CandidateChange> changes = ReadCandidates(source, candidates);
        MatchByKey(unmatched, changes, undoneBy, undone);
    }
    std::sort(undone.begin(), undone.end());
    undone.erase(std::unique(undone.begin(), undone.end()), undone.end());
    return undone;
}

}  // namespace kestrane
