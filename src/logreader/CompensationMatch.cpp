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
    CLogSeqNo lsn;
    uint64_t transaction = 0;
    CLogSeqNo previous;
    RecordPlace place;
};

bool ByChangeThenLsn(const CandidateChange& a, const CandidateChange& b) {
    return std::tie(a.transaction, a.previous, a.lsn) < std::tie(b.transaction, b.previous, b.lsn);
}

// The candidates' records, read back block by block.
std::vector<CandidateChange> ReadCandidates(const LogByteSource& source, std::vector<RecordPlace>& candidates) {
    std::sort(candidates.begin(), candidates.end());
    std::vector<CandidateChange> changes;
    std::vector<uint8_t> buffer;
    std::optional<LogBlockView> block;
    uint64_t blockPos = UINT64_MAX;
    for (const RecordPlace& candidate : candidates) {
        if (candidate.first != blockPos) {
            blockPos = candidate.first;
            block = ReadLogBlock(source, blockPos, buffer);
        }
        const uint16_t j = candidate.second;
        if (!block || j >= block->RecordCount() || !block->Examinable(j)) continue;
        const LogRecordHead head(*block, block->SlotOffset(j));
        if (head.IsCompensation()) continue;
        CandidateChange change;
        change.lsn = block->header().lsn;
        change.lsn.slot = static_cast<uint16_t>(change.lsn.slot + j);
        change.transaction = head.TransactionId();
        change.previous = head.Previous();
        change.place = candidate;
        changes.push_back(change);
    }
    return changes;
}

// Matches each of `unmatched` to the latest of `changes` before it of its transaction and undo-next
// that nothing undid yet. Taken per transaction and undo-next in log order, the changes not undone
// yet are a stack whose top each compensation record takes: after a partial rollback an earlier
// change can follow the same record, and a change already undone is never looked at again, however
// many compensation records share its key.
void MatchByKey(std::vector<CompensationRecord>& unmatched, std::vector<CandidateChange>& changes,
                const UndoneBy& undoneBy, std::vector<RecordPlace>& undone, uint64_t& steps) {
    std::vector<CLogSeqNo> walked;  // undone by what the chain walks found
    for (const auto& [compensation, change] : undoneBy) walked.push_back(change);
    std::sort(walked.begin(), walked.end());
    std::sort(changes.begin(), changes.end(), ByChangeThenLsn);
    std::sort(unmatched.begin(), unmatched.end(), [](const CompensationRecord& a, const CompensationRecord& b) {
        return std::tie(a.transaction, a.undoNext, a.lsn) < std::tie(b.transaction, b.undoNext, b.lsn);
    });
    std::vector<const CandidateChange*> open;  // of the compensation record's key, not undone yet
    size_t next = 0;                           // the first change not looked at
    for (size_t i = 0; i < unmatched.size(); ++i) {
        const CompensationRecord& c = unmatched[i];
        const auto key = std::tie(c.transaction, c.undoNext);
        if (i == 0 || key != std::tie(unmatched[i - 1].transaction, unmatched[i - 1].undoNext)) open.clear();
        for (; next < changes.size(); ++next, ++steps) {
            const CandidateChange& change = changes[next];
            const auto order = std::tie(change.transaction, change.previous) <=> key;
            if (order > 0 || (order == 0 && !(change.lsn < c.lsn))) break;
            if (order == 0 && !std::binary_search(walked.begin(), walked.end(), change.lsn)) open.push_back(&change);
        }
        ++steps;
        if (open.empty()) continue;
        undone.push_back(open.back()->place);
        open.pop_back();
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
                                           uint64_t blocksWalked, std::vector<RecordPlace> candidates,
                                           uint64_t& steps) {
    std::vector<RecordPlace> undone;
    if (compensations.empty()) return undone;
    // In log order, so that a rollback's earlier compensation records are matched first.
    std::sort(compensations.begin(), compensations.end(),
              [](const CompensationRecord& a, const CompensationRecord& b) { return a.lsn < b.lsn; });
    LsnReader reader(source, vlfOffsets, 1024 + 2 * blocksWalked);
    const uint64_t budgetGiven = 65536 + 16 * uint64_t{compensations.size()};
    uint64_t budget = budgetGiven;
    auto read = [&reader](const CLogSeqNo& lsn, bool&) { return reader.Read(lsn); };
    std::vector<CompensationRecord> unmatched;
    for (CompensationRecord& c : compensations) {
        RecordPlace place;
        if (FollowChain(c, undoneBy, budget, read, place) == ChainEnd::Found) undone.push_back(place);
        else unmatched.push_back(c);
    }
    steps += budgetGiven - budget;
    if (!unmatched.empty() && !candidates.empty()) {
        std::vector<CandidateChange> changes = ReadCandidates(source, candidates);
        MatchByKey(unmatched, changes, undoneBy, undone, steps);
    }
    std::sort(undone.begin(), undone.end());
    undone.erase(std::unique(undone.begin(), undone.end()), undone.end());
    return undone;
}

}  // namespace kestrane
