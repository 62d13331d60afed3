#include "logreader/VlfWalker.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <queue>
#include <unordered_set>
#include <utility>

#include "logreader/LogRecord.h"

namespace kestrane {

namespace {
constexpr ptrdiff_t kPrefetchAhead = 16;  // records
constexpr size_t kCacheLine = 64;
}  // namespace

VlfEntry VlfEntry::Parse(ByteView bytes) {
    VlfEntry v;
    v.signature = bytes.getOr<uint8_t>(0x00, 0);
    v.parity = bytes.getOr<uint8_t>(0x01, 0);
    v.sequence = bytes.getOr<uint32_t>(0x04, 0);
    v.offset = bytes.getOr<uint64_t>(0x18, 0);
    v.lsn.Set(bytes.getOr<uint32_t>(0x20, 0), bytes.getOr<uint32_t>(0x24, 0), bytes.getOr<uint16_t>(0x28, 0));
    return v;
}

bool VlfEntry::Probe(ByteView at, VlfEntry& vlf) {
    if (at.size() < 2 || at.data()[0] != logfmt::kVlfSignature || (at.data()[1] != 0x40 && at.data()[1] != 0x80))
        return false;
    uint8_t header[logfmt::kVlfHeaderSize] = {};  // a header cut by the end of the file reads zeros there
    at.copy(0, std::min(at.size(), sizeof header), header);
    vlf = Parse(ByteView(header, sizeof header));
    return vlf.sequence != 0;
}

void RunEntries::NewBlock() { blocks_.emplace_back(blocks_.empty() ? kFirstBlock : EntryBlock::kLargeCapacity); }

VlfWalker::VlfWalker(const std::vector<ScanTable>& tables, const LogByteSource& source, NameTable& names,
                     std::mutex* namesLock, size_t windowBytes)
    : tables_(tables),
      window_(windowBytes ? LogReadWindow(source, windowBytes) : LogReadWindow(source)),
      names_(names),
      namesLock_(namesLock) {
    for (size_t i = 0; i < kKnownRowsets; ++i) {
        uint64_t other = 0;
        while (RowsetSlot(other) == i) ++other;
        known_[i].rowsetId = other;
    }
    uint32_t most = 0;
    for (const ScanTable& t : tables_) most = std::max(most, t.tableIndex + 1);
    tableRun_.assign(most, 0);
}

void VlfWalker::Start(VlfRun& run, const VlfEntry& vlf, uint32_t sequence) {
    ++run.stats.vlfs;
    if (run.walker != this) {
        run.serial = ++runs_;
        run.transactions = std::move(spare_);
        // VLFs of one log end about as many transactions each: room for them at once spares the
        // copies (and fresh pages) of a list grown by doubling.
        run.ended.reserve(endedLately_);
    }
    run.walker = this;
    run.sequence = sequence;
    run.vlfOffset = vlf.offset;
    const uint64_t fileLength = window_.Source().Size();
    run.done = vlf.offset >= fileLength || fileLength - vlf.offset <= logfmt::kFirstBlockOffset;
    run.pos = run.done ? 0 : vlf.offset + logfmt::kFirstBlockOffset;
}

void VlfWalker::Finish(VlfRun& run) {
    run.transactions.ForEach([&run](const TransactionTable::Entry& t) { run.open.push_back(t); });
    run.transactions.Clear();
    endedLately_ = run.ended.size();
    spare_ = std::move(run.transactions);
    run.transactions = TransactionTable();
}

void VlfWalker::Step(VlfRun& run) {
    uint8_t head[logfmt::kBlockHeaderSize] = {};
    const ByteView headBytes = window_.Fetch(run.pos, sizeof head);
    headBytes.copy(0, headBytes.size(), head);
    const auto header = LogBlockHeader::Parse(ByteView(head, sizeof head));
    if (!header || header->lsn.vlfSequence != run.sequence || header->size < logfmt::kBlockHeaderSize) {
        run.done = true;
        return;
    }
    // The block is examined where it lies, its stamps undone in place for the while; one cut short
    // by the end of the file is completed with zeros in a copy.
    const std::span<uint8_t> bytes = window_.FetchWritable(run.pos, header->size);
    if (bytes.size() == header->size) {
        const SectorStampsUndone undone(bytes);
        ExamineBlock(LogBlockView(ByteView(bytes.data(), bytes.size()), *header), run.pos, run);
    } else {
        cutBlock_.assign(bytes.begin(), bytes.end());
        cutBlock_.resize(header->size, 0);
        UndoSectorStamps(cutBlock_.data(), cutBlock_.size());
        ExamineBlock(LogBlockView(ByteView(cutBlock_), *header), run.pos, run);
    }
    run.pos += header->size;
    run.done = run.pos >= window_.Source().Size();
}

bool VlfWalker::Probe(uint64_t offset, VlfEntry& vlf) {
    return VlfEntry::Probe(window_.Fetch(offset, logfmt::kVlfHeaderSize), vlf);
}

std::vector<VlfRun> VlfWalker::Sweep(uint64_t from, uint64_t to) {
    std::vector<VlfRun> runs;
    std::unordered_set<uint32_t> seen;
    std::vector<size_t> behind;  // runs whose first block lies before their header
    // The runs being walked by their next block, lowest first: every read goes forward.
    using Next = std::pair<uint64_t, size_t>;
    std::priority_queue<Next, std::vector<Next>, std::greater<Next>> walking;
    to = std::min(to, window_.Source().Size());
    uint64_t probe = from;
    for (;;) {
        if (probe < to && (walking.empty() || probe <= walking.top().first)) {
            VlfEntry vlf;
            if (Probe(probe, vlf) && seen.insert(vlf.sequence).second) {
                VlfRun& run = runs.emplace_back();
                Start(run, vlf, vlf.sequence);
                if (run.done) Finish(run);
                else if (run.pos >= probe) walking.emplace(run.pos, runs.size() - 1);
                else behind.push_back(runs.size() - 1);
            }
            probe += logfmt::kVlfProbeStep;
            continue;
        }
        if (walking.empty()) break;
        const size_t i = walking.top().second;
        walking.pop();
        Step(runs[i]);
        if (!runs[i].done) walking.emplace(runs[i].pos, i);
        else Finish(runs[i]);
    }
    for (size_t i : behind) {
        while (!runs[i].done) Step(runs[i]);
        Finish(runs[i]);
    }
    return runs;
}

const ScanTable* VlfWalker::LookUpTable(uint64_t rowsetId) {
    KnownRowset& k = known_[RowsetSlot(rowsetId)];
    auto it = std::lower_bound(tables_.begin(), tables_.end(), rowsetId,
                               [](const ScanTable& t, uint64_t id) { return t.rowsetId < id; });
    k = KnownRowset{rowsetId, it != tables_.end() && it->rowsetId == rowsetId ? &*it : nullptr};
    return k.table;
}

uint32_t VlfWalker::NewNameId(RecentName& r, ByteView field, const uint64_t (&words)[4]) {
    r.size = field.size();
    std::copy(std::begin(words), std::end(words), std::begin(r.words));
    r.raw.assign(field.data(), field.data() + field.size());
    DecodeTransactionName(TransactionNameIn(field), text_);
    {
        std::unique_lock<std::mutex> lock;
        if (namesLock_) lock = std::unique_lock<std::mutex>(*namesLock_);
        r.id = names_.Intern(text_);
    }
    if (r.id >= VlfRun::kPending) r.id = 0;  // ids that high cannot be told from pending marks
    return r.id;
}

uint32_t VlfWalker::Pending(VlfRun& run, uint64_t transaction) {
    PendingTransaction p;
    p.transaction = transaction;
    p.endedBefore = p.endedChecked = run.ended.size();
    // An entry of a transaction begun before the log keeps no name and no time: the begin record
    // before it is another transaction's. Only a record without an id takes that record.
    p.fallbackCarried = transaction == 0 && !run.hasTransaction;
    if (transaction == 0 && run.hasTransaction) {
        p.fallbackName = run.nameId;
        p.fallbackTime = run.beginTime;
    }
    // Entries of one transaction come in a row: they share one pending record, as long as that
    // transaction has not ended in between.
    if (!run.pending.empty()) {
        PendingTransaction& last = run.pending.back();
        if (last.transaction == p.transaction && last.fallbackCarried == p.fallbackCarried &&
            last.fallbackName == p.fallbackName && last.fallbackTime == p.fallbackTime &&
            (transaction == 0 || std::find(run.ended.begin() + static_cast<ptrdiff_t>(last.endedChecked),
                                           run.ended.end(), transaction) == run.ended.end())) {
            last.endedChecked = run.ended.size();
            return VlfRun::kPending | static_cast<uint32_t>(run.pending.size() - 1);
        }
    }
    run.pending.push_back(p);
    return VlfRun::kPending | static_cast<uint32_t>(run.pending.size() - 1);
}

ChainEnd VlfWalker::UndoInBlock(const LogBlockView& block, uint64_t pos, VlfRun& run, CompensationRecord& c,
                                uint64_t& budget) {
    const CLogSeqNo& b = block.header().lsn;
    auto read = [&](const CLogSeqNo& lsn, bool& outside) -> std::optional<FoundRecord> {
        outside = lsn.vlfSequence != b.vlfSequence || lsn.blockOffset != b.blockOffset;
        const uint16_t j = static_cast<uint16_t>(lsn.slot - b.slot);
        if (outside || j >= block.RecordCount() || !block.Examinable(j)) return std::nullopt;
        return FoundRecord{{pos, j}, LogRecordHead(block, block.SlotOffset(j))};
    };
    RecordPlace place;
    const ChainEnd end = FollowChain(c, run.undoneBy, budget, read, place);
    if (end != ChainEnd::Found) return end;
    // The last entry filed, as a rollback's changes mostly are, goes at once; any other once the
    // block is walked.
    uint32_t table = 0;
    if (run.entries.PopLastIf([&](const OperationEntry& e) {
            table = e.tableIndex;
            return e.blockOffset == pos && e.slotIndex == place.second;
        })) {
        run.undoKeys.pop_back();
        run.undoneTables.push_back(table);
        ++run.stats.undone;
        ++run.stats.undoSteps;
    } else {
        undoneHere_.push_back(place.second);
    }
    return end;
}

void VlfWalker::LeaveOutUndone(VlfRun& run, size_t firstEntry) {
    // Once for the whole block: many compensation records may undo records of it, or one record.
    std::sort(undoneHere_.begin(), undoneHere_.end());
    size_t read = firstEntry, kept = firstEntry;
    run.entries.Filter(
        [&](const OperationEntry& e) {
            const bool undone = std::binary_search(undoneHere_.begin(), undoneHere_.end(), e.slotIndex);
            if (undone) {
                run.undoneTables.push_back(e.tableIndex);
                ++run.stats.undone;
            } else {
                run.undoKeys[kept++] = run.undoKeys[read];
            }
            ++read;
            return !undone;
        },
        firstEntry);
    run.undoKeys.resize(kept);
    run.stats.undoSteps += undoneHere_.size() + (read - firstEntry);
    undoneHere_.clear();
}

void VlfWalker::FileRow(BlockInHand& hand, uint32_t j, LogRecordHeadAt head, const ScanTable& table) {
    VlfRun& run = hand.run;
    if (head.IsCompensation()) {
        const CLogSeqNo& b = hand.block.header().lsn;
        CompensationRecord c;
        c.lsn.Set(b.vlfSequence, b.blockOffset, static_cast<uint16_t>(b.slot + j));
        c.undoNext = head.Previous();
        c.next = head.PagePrevious();
        c.transaction = head.TransactionId();
        ++run.stats.compensations;
        if (UndoInBlock(hand.block, hand.pos, run, c, hand.undoBudget) != ChainEnd::Found) run.compensations.push_back(c);
        return;
    }
    run.undoKeys.push_back(UndoKey(head.TransactionId(), head.Previous()));
    OperationEntry& e = run.entries.Add();
    e.blockOffset = hand.pos;
    e.slotIndex = static_cast<uint16_t>(j);
    e.tableIndex = table.tableIndex;
    e.operation = head.Operation();
    File(run, e, head.TransactionId());
    if (tableRun_[table.tableIndex] != run.serial) {
        tableRun_[table.tableIndex] = run.serial;
        run.tablesUsed.push_back(table.tableIndex);
    }
}

void VlfWalker::BeginTransaction(BlockInHand& hand, const uint16_t* slot, LogRecordHeadAt head) {
    VlfRun& run = hand.run;
    // The record ends where the next one starts (the slot array holds record j + 1 just below j).
    const int64_t end = slot > slots_.data() ? int64_t{slot[-1]} : hand.block.LastRecordEnd();
    ByteView field;
    if (ReadTransactionNameField(hand.block, hand.block.ExtentOf(*slot, end), head.FixedLength(), scratch_, field)) {
        const uint64_t time = head.BeginTime();
        run.nameId = NameIdOf(field);
        run.beginTime = time;
        run.hasTransaction = true;
        if (const uint64_t id = head.TransactionId()) run.transactions.Begin(id, run.nameId, time);
    } else if (const uint64_t id = head.TransactionId()) {
        // Its own operations take no name from it, and none of another transaction.
        run.transactions.Begin(id, 0, head.BeginTime());
    }
}

void VlfWalker::EndTransaction(VlfRun& run, uint64_t id) {
    if (id == 0) return;
    run.transactions.End(id);
    run.ended.push_back(id);
}

void VlfWalker::ExamineBlock(const LogBlockView& block, uint64_t pos, VlfRun& run) {
    ++run.stats.blocks;
    run.lowestBlock = std::min(run.lowestBlock, pos);
    run.highestBlock = std::max(run.highestBlock, pos);
    if (!block.Plain()) return;  // Step hands over whole blocks only
    if (!logfmt::IsReadableLayout(block.Layout())) {
        ++run.stats.otherLayoutBlocks;
        return;
    }
    const uint32_t n = block.RecordCount();
    block.SlotArray(slots_);
    const uint64_t undoBudget = 4 * uint64_t{n} + 64;
    BlockInHand hand{block, pos, run, undoBudget};
    const size_t firstEntry = run.entries.size();
    const uint8_t* const bytes = block.bytes().data();
    const size_t size = block.Size();
    // Record j starts at slots_[n - 1 - j]: the array is walked from its end down.
    const uint16_t* const first = slots_.data();
    const uint16_t* const end = first + n;
    const uint16_t* slot = end;
    while (slot != first) {
        const uint32_t start = slot[-1];
        // The head fields read below lie in the first 192 bytes, inside the block.
        if (size_t{start} + logfmt::kRecordExamined > size) break;
        --slot;
        // The bytes a read brought in have mostly left the nearest caches by the time they are
        // examined: asking for the heads of the next few records (and the bytes after, where a
        // begin record's name lies) lets their loads overlap instead of waiting on each in turn.
        if (slot - first >= kPrefetchAhead) {
            const size_t ahead = slot[-kPrefetchAhead];
            if (ahead + 2 * kCacheLine <= size) {
                __builtin_prefetch(bytes + ahead);
                __builtin_prefetch(bytes + ahead + LogRecordHeadAt::kSize - 1);
                __builtin_prefetch(bytes + ahead + 2 * kCacheLine - 1);
            }
        }
        const LogRecordHeadAt head(bytes + start);
        if (logfmt::IsFiledContext(head.Context())) {
            if (const ScanTable* table = FindTable(head.RowsetId()))
                FileRow(hand, static_cast<uint32_t>(end - 1 - slot), head, *table);
        }
        // Begin (0x80), commit (0x81) and abort (0x82): one test keeps row records off this path.
        static_assert(logfmt::kOpCommitXact == logfmt::kOpBeginXact + 1 && logfmt::kOpAbortXact == logfmt::kOpBeginXact + 2);
        if (const uint8_t op = head.Operation(); op >= logfmt::kOpBeginXact) {
            if (op == logfmt::kOpBeginXact) BeginTransaction(hand, slot, head);
            else if (op <= logfmt::kOpAbortXact) EndTransaction(run, head.TransactionId());
        }
    }
    run.stats.records += static_cast<uint64_t>(end - slot);
    run.stats.undoSteps += undoBudget - hand.undoBudget;
    if (!undoneHere_.empty()) LeaveOutUndone(run, firstEntry);
}

}  // namespace kestrane
