#include "logreader/LogScanner.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <new>
#include <utility>
#include <queue>
#include <system_error>
#include <unordered_set>

#include <sys/mman.h>

#include "logreader/LogRecord.h"
#include "platform/Prompter.h"

namespace kestrane {

namespace {
constexpr size_t kPrefetchBytes = 4096;
constexpr uint64_t kProbesPerSlice = 16384;  // 128 MiB of log
constexpr uint64_t kMaxThreads = 4;
// The one-pass scan sweeps a log of 64 MiB or more in slices of at least 32 MiB, each on a thread
// of its own with windows small enough to stay in the cache while they are examined; one slice
// reads larger windows ahead on a second thread.
constexpr uint64_t kSweepSliceBytes = uint64_t{32} << 20;
constexpr size_t kWindowBytes = size_t{4} << 20;
constexpr size_t kSliceWindowBytes = size_t{512} << 10;

// Probes [from, to) every 8192 bytes; the headers found, in file order.
std::vector<VlfEntry> ProbeVlfs(const LogByteSource& source, uint64_t from, uint64_t to) {
    std::vector<VlfEntry> found;
    uint8_t header[logfmt::kVlfHeaderSize];
    for (uint64_t offset = from; offset < to; offset += logfmt::kVlfProbeStep) {
        uint8_t sig[2] = {0, 0};
        if (source.ReadAt(offset, sig, 2) != 2) continue;
        if (sig[0] != logfmt::kVlfSignature || (sig[1] != 0x40 && sig[1] != 0x80)) continue;
        std::memset(header, 0, sizeof header);
        source.ReadAt(offset, header, sizeof header);
        const VlfEntry vlf = VlfEntry::Parse(ByteView(header, sizeof header));
        if (vlf.sequence != 0) found.push_back(vlf);
    }
    return found;
}

unsigned SliceCount(uint64_t length) {
    const uint64_t probes = (length + logfmt::kVlfProbeStep - 1) / logfmt::kVlfProbeStep;
    return static_cast<unsigned>(std::clamp<uint64_t>(probes / kProbesPerSlice, 1, kMaxThreads));
}

// Slices start at a probe offset.
uint64_t SliceLength(uint64_t length, unsigned slices) {
    const uint64_t probes = (length + logfmt::kVlfProbeStep - 1) / logfmt::kVlfProbeStep;
    return (probes + slices - 1) / slices * logfmt::kVlfProbeStep;
}

// work(0) .. work(count - 1), the first here and the others on threads of their own (or here too
// when no thread can be made); the results in that order.
template <typename Work>
auto OnThreads(unsigned count, Work work) {
    using Result = decltype(work(0u));
    std::vector<std::future<Result>> parts;
    for (unsigned i = 1; i < count; ++i) {
        try {
            parts.push_back(std::async(std::launch::async, work, i));
        } catch (const std::system_error&) {
            parts.push_back(std::async(std::launch::deferred, work, i));
        }
    }
    std::vector<Result> results;
    results.push_back(work(0u));
    for (auto& part : parts) results.push_back(part.get());
    return results;
}
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

// Entries of one walk in chunks (a small first one, then 2 MiB ones): appending never copies the
// ones before, a log of many small VLFs costs little, and each chunk is given back to the system
// as soon as it is copied into the store, so that the entries are not held twice over.
class RunEntries {
public:
    RunEntries() = default;
    RunEntries(RunEntries&& other) noexcept { *this = std::move(other); }
    RunEntries& operator=(RunEntries&& other) noexcept {
        std::swap(chunks_, other.chunks_);
        std::swap(size_, other.size_);
        std::swap(lastUsed_, other.lastUsed_);
        return *this;
    }
    ~RunEntries() {
        for (Chunk& c : chunks_) Release(c);
    }

    OperationEntry& Add() {
        if (chunks_.empty() || lastUsed_ == chunks_.back().capacity) {
            const size_t capacity = chunks_.empty() ? kFirstChunk : kLargeChunk;
            chunks_.push_back(Chunk{Allocate(capacity), capacity});
            lastUsed_ = 0;
        }
        ++size_;
        return chunks_.back().entries[lastUsed_++];
    }
    size_t size() const { return size_; }
    // Calls f with each of the first `count` entries in order; with `release`, gives every chunk
    // back once passed.
    template <typename F>
    void Visit(size_t count, bool release, F f) {
        for (size_t c = 0; c < chunks_.size(); ++c) {
            const size_t n = std::min(count, c + 1 < chunks_.size() ? chunks_[c].capacity : lastUsed_);
            for (size_t k = 0; k < n; ++k) f(chunks_[c].entries[k]);
            count -= n;
            if (release) Release(chunks_[c]);
        }
    }

private:
    struct Chunk {
        OperationEntry* entries;
        size_t capacity;
    };
    static constexpr size_t kFirstChunk = 4096;
    static constexpr size_t kLargeChunk = size_t{1} << 16;  // 2 MiB: one large page where offered

    static OperationEntry* Allocate(size_t capacity) {
        const size_t bytes = capacity * sizeof(OperationEntry);
        void* m = capacity < kLargeChunk ? std::malloc(bytes)
                                         : ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (!m || m == MAP_FAILED) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
        if (capacity == kLargeChunk) ::madvise(m, bytes, MADV_HUGEPAGE);
#endif
        return static_cast<OperationEntry*>(m);
    }
    static void Release(Chunk& c) {
        if (!c.entries) return;
        if (c.capacity < kLargeChunk) std::free(c.entries);
        else ::munmap(c.entries, c.capacity * sizeof(OperationEntry));
        c.entries = nullptr;
    }

    std::vector<Chunk> chunks_;
    size_t size_ = 0;
    size_t lastUsed_ = 0;  // entries in the last chunk
};

// The walk of one VLF: its entries and the transaction it ends in. Entries filed before its first
// begin-transaction record carry the transaction the VLF before it (in sequence order) ends in,
// which is known only once every VLF is found: they are given it when the runs are appended.
struct LogScanner::VlfRun {
    uint32_t sequence = 0;
    uint64_t pos = 0;  // the next block
    bool done = false;
    class VlfWalker* walker = nullptr;
    uint32_t serial = 0;  // of the run in its walker
    RunEntries entries;   // transaction names as ids of the walker's names
    size_t carried = 0;   // leading entries filed before the first begin-transaction record
    bool hasTransaction = false;
    uint32_t nameId = 0;
    uint64_t beginTime = 0;
    // The names and tables of the entries, each once, in the order they first come (names of the
    // carried entries aside): what a scan in sequence order would intern and note.
    std::vector<uint32_t> namesUsed, tablesUsed;
    LogScanStats stats;
};

namespace {
using TableKey = LogScanner::TableKey;
using VlfRun = LogScanner::VlfRun;
}  // namespace

// Walks VLFs through one read window, on one thread.
class VlfWalker {
public:
    VlfWalker(const std::vector<TableKey>& tables, const LogByteSource& source, size_t windowBytes = kWindowBytes,
              bool readAhead = true)
        : tables_(tables), window_(source, windowBytes, readAhead) {
        uint32_t most = 0;
        for (const TableKey& t : tables_) most = std::max(most, t.tableIndex + 1);
        tableRun_.assign(most, 0);
    }

    // Points the run at the VLF's first block (done at once when that lies outside the file). The
    // run's entries and transaction stay: a run may span several VLFs.
    void Start(VlfRun& run, const VlfEntry& vlf, uint32_t sequence);
    // Walks the blocks of one VLF into the run.
    void ParseVlfLogBlocks(VlfRun& run, const VlfEntry& vlf, uint32_t sequence) {
        Start(run, vlf, sequence);
        while (!run.done) Step(run);
    }
    // The VLFs whose header lies in [from, to), each walked once (the first header of a sequence),
    // in the order of their headers. One sequential pass: a probe is answered from the window that
    // the walk reads anyway, and blocks are walked in file order; only a VLF whose first block lies
    // before its header is walked afterwards.
    std::vector<VlfRun> Sweep(uint64_t from, uint64_t to);

    // The store's id of one of this walker's names; interned when first asked for.
    uint32_t StoreNameId(uint32_t id, NameTable& storeNames);
    // The same for a name asked for before (safe on several threads).
    uint32_t KnownStoreNameId(uint32_t id) const { return storeIds_[id]; }

private:
    bool Probe(uint64_t offset, VlfEntry& vlf);
    // Walks the block at run.pos; the run is done when the VLF ends there.
    void Step(VlfRun& run);
    void ExamineBlock(const LogBlockView& block, uint64_t pos, VlfRun& run);
    const TableKey* FindTable(uint64_t rowsetId);
    uint32_t NameIdOf(ByteView rawName);

    const std::vector<TableKey>& tables_;
    const TableKey* lastHit_ = nullptr;
    LogReadWindow window_;
    std::vector<uint8_t> scratch_;  // a transaction name with a stamp undone in it

    // Transaction names repeat: the last few distinct ones are kept as raw bytes with their id, so
    // that a name seen lately costs one comparison instead of a decode and a hash lookup.
    struct RecentName {
        std::vector<uint8_t> raw;
        uint32_t id = 0;
    };
    static constexpr size_t kRecentNames = 16;
    std::vector<RecentName> recentNames_;
    size_t nextRecent_ = kRecentNames - 1;
    std::wstring text_;
    NameTable names_;
    std::vector<uint32_t> storeIds_;  // per name id; kNoStoreId until asked for
    // Per name id and per table: the serial of the last run that filed an entry under it.
    std::vector<uint32_t> nameRun_, tableRun_;
    uint32_t runs_ = 0;
    static constexpr uint32_t kNoStoreId = UINT32_MAX;
};

void VlfWalker::Start(VlfRun& run, const VlfEntry& vlf, uint32_t sequence) {
    ++run.stats.vlfs;
    if (run.walker != this) run.serial = ++runs_;
    run.walker = this;
    run.sequence = sequence;
    const uint64_t fileLength = window_.Source().Size();
    run.done = vlf.offset >= fileLength || fileLength - vlf.offset <= logfmt::kFirstBlockOffset;
    run.pos = run.done ? 0 : vlf.offset + logfmt::kFirstBlockOffset;
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
    // The block is examined where it lies; its stamps are undone as its bytes are read.
    const ByteView bytes = window_.Fetch(run.pos, header->size);
    ExamineBlock(LogBlockView(bytes, *header, true), run.pos, run);
    run.pos += header->size;
    run.done = run.pos >= window_.Source().Size();
}

bool VlfWalker::Probe(uint64_t offset, VlfEntry& vlf) {
    const ByteView at = window_.Fetch(offset, logfmt::kVlfHeaderSize);
    if (at.size() < 2 || at.data()[0] != logfmt::kVlfSignature || (at.data()[1] != 0x40 && at.data()[1] != 0x80))
        return false;
    uint8_t header[logfmt::kVlfHeaderSize] = {};  // a header cut by the end of the file reads zeros there
    at.copy(0, at.size(), header);
    vlf = VlfEntry::Parse(ByteView(header, sizeof header));
    return vlf.sequence != 0;
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
                if (!run.done && run.pos >= probe) walking.emplace(run.pos, runs.size() - 1);
                else if (!run.done) behind.push_back(runs.size() - 1);
            }
            probe += logfmt::kVlfProbeStep;
            continue;
        }
        if (walking.empty()) break;
        const size_t i = walking.top().second;
        walking.pop();
        Step(runs[i]);
        if (!runs[i].done) walking.emplace(runs[i].pos, i);
    }
    for (size_t i : behind)
        while (!runs[i].done) Step(runs[i]);
    return runs;
}

const TableKey* VlfWalker::FindTable(uint64_t rowsetId) {
    if (lastHit_ && lastHit_->rowsetId == rowsetId) return lastHit_;
    auto it = std::lower_bound(tables_.begin(), tables_.end(), rowsetId,
                               [](const TableKey& k, uint64_t id) { return k.rowsetId < id; });
    if (it == tables_.end() || it->rowsetId != rowsetId) return nullptr;
    lastHit_ = &*it;
    return lastHit_;
}

uint32_t VlfWalker::NameIdOf(ByteView rawName) {
    for (const RecentName& r : recentNames_) {
        if (r.raw.size() == rawName.size() &&
            (rawName.empty() || std::memcmp(r.raw.data(), rawName.data(), rawName.size()) == 0))
            return r.id;
    }
    RecentName* slot;
    if (recentNames_.size() < kRecentNames) {
        slot = &recentNames_.emplace_back();
    } else {
        nextRecent_ = (nextRecent_ + 1) % kRecentNames;
        slot = &recentNames_[nextRecent_];
    }
    slot->raw.assign(rawName.data(), rawName.data() + rawName.size());
    DecodeTransactionName(rawName, text_);
    slot->id = names_.Intern(text_);
    if (nameRun_.size() < names_.Count()) nameRun_.resize(names_.Count(), 0);
    return slot->id;
}

uint32_t VlfWalker::StoreNameId(uint32_t id, NameTable& storeNames) {
    if (id >= storeIds_.size()) storeIds_.resize(names_.Count(), kNoStoreId);
    if (storeIds_[id] == kNoStoreId) storeIds_[id] = storeNames.Intern(names_.Text(id));
    return storeIds_[id];
}

void VlfWalker::ExamineBlock(const LogBlockView& block, uint64_t pos, VlfRun& run) {
    ++run.stats.blocks;
    if (!logfmt::IsReadableLayout(block.Layout())) {
        ++run.stats.otherLayoutBlocks;
        return;
    }
    const uint32_t n = block.RecordCount();
    const ByteView raw = block.bytes();
    size_t prefetched = 0;
    for (uint32_t j = 0; j < n; ++j) {
        const uint32_t start = block.SlotOffset(j);
        if (uint64_t{start} + logfmt::kRecordExamined > block.Size()) break;
        // Records lie in file order but are reached through the slot array: asking for the bytes a
        // little ahead lets their loads overlap instead of waiting on each record in turn.
        const size_t ahead = std::min<size_t>(raw.size(), start + kPrefetchBytes);
        for (; prefetched < ahead; prefetched += 64) __builtin_prefetch(raw.data() + prefetched);
        ++run.stats.records;
        const uint8_t op = block.Byte(start + logfmt::kOffOperation);
        const uint8_t context = block.Byte(start + logfmt::kOffContext);
        if (logfmt::IsFiledContext(context)) {
            const uint64_t rowset = block.Get<uint64_t>(start + logfmt::kOffRowsetId);
            if (const TableKey* table = FindTable(rowset)) {
                OperationEntry& e = run.entries.Add();
                e.blockOffset = pos;
                e.slotIndex = static_cast<uint16_t>(j);
                e.beginTime = run.beginTime;
                e.tableIndex = table->tableIndex;
                e.transactionNameId = run.nameId;
                e.operation = op;
                if (!run.hasTransaction) run.carried = run.entries.size();
                else if (nameRun_[run.nameId] != run.serial) {
                    nameRun_[run.nameId] = run.serial;
                    run.namesUsed.push_back(run.nameId);
                }
                if (tableRun_[table->tableIndex] != run.serial) {
                    tableRun_[table->tableIndex] = run.serial;
                    run.tablesUsed.push_back(table->tableIndex);
                }
            }
        }
        if (op == logfmt::kOpBeginXact) {
            ByteView rawName;
            if (ReadBeginTransaction(block, block.Extent(j), scratch_, rawName, run.beginTime)) {
                run.nameId = NameIdOf(rawName);
                run.hasTransaction = true;
            }
        }
    }
}

LogScanner::LogScanner(const UserTableMap& tables, OperationStore& store) : store_(store) {
    tables_.reserve(tables.size());
    for (const auto& [rowset, table] : tables)
        tables_.push_back(TableKey{rowset, store_.AddTable(table.objectId, rowset, table.name)});
    // std::map iterates in key order, so tables_ is sorted already.
}

std::map<uint32_t, VlfEntry> LogScanner::FindVlfs(const LogByteSource& source) {
    // One small read per probe adds up to a system call per 8192 bytes: a large file is probed in
    // slices on several threads, the slices merged in file order.
    const uint64_t length = source.Size();
    const unsigned slices = SliceCount(length);
    const uint64_t perSlice = SliceLength(length, slices);
    auto slice = [&](unsigned i) { return ProbeVlfs(source, i * perSlice, std::min(length, (i + 1) * perSlice)); };
    std::map<uint32_t, VlfEntry> vlfs;
    for (const auto& found : OnThreads(slices, slice))
        for (const VlfEntry& vlf : found) vlfs.emplace(vlf.sequence, vlf);  // the lowest offset of a sequence stays
    return vlfs;
}

void LogScanner::Scan(const LogByteSource& source, unsigned slices, size_t windowBytes) {
    // The walks of the slices are independent: what one VLF carries over to the next is settled
    // when the runs are appended in sequence order.
    const uint64_t length = source.Size();
    if (slices == 0) slices = static_cast<unsigned>(std::clamp<uint64_t>(length / kSweepSliceBytes, 1, kMaxThreads));
    if (windowBytes == 0) windowBytes = slices > 1 ? kSliceWindowBytes : kWindowBytes;
    const uint64_t perSlice = SliceLength(length, slices);
    std::vector<std::unique_ptr<VlfWalker>> walkers;
    for (unsigned i = 0; i < slices; ++i)
        walkers.push_back(std::make_unique<VlfWalker>(tables_, source, windowBytes, slices == 1));
    auto swept = OnThreads(slices, [&](unsigned i) {
        return walkers[i]->Sweep(i * perSlice, std::min(length, (i + 1) * perSlice));
    });
    std::map<uint32_t, VlfRun*> bySequence;
    for (auto& runs : swept)
        for (VlfRun& run : runs) bySequence.emplace(run.sequence, &run);  // the lowest offset of a sequence stays

    // In sequence order: the store's room, names and tables for each run, and the transaction its
    // leading entries carry; then the entries are copied in on the threads of the slices.
    struct Placed {
        VlfRun* run;
        size_t at, count;
        uint32_t carriedName;
        uint64_t carriedTime;
    };
    std::vector<std::vector<Placed>> placed(slices);
    const VlfRun* carry = nullptr;
    NameTable& names = store_.Names();
    for (auto& [sequence, run] : bySequence) {
        AddStats(run->stats);
        Placed p{run, store_.Size(), 0, 0, carry ? carry->beginTime : 0};
        if (run->carried && carry) p.carriedName = carry->walker->StoreNameId(carry->nameId, names);
        for (uint32_t id : run->namesUsed) run->walker->StoreNameId(id, names);
        p.count = store_.Grow(run->entries.size());
        stats_.filed += p.count;
        if (p.count == run->entries.size()) {
            for (uint32_t table : run->tablesUsed) store_.NoteTable(table);
        } else {
            run->entries.Visit(p.count, false, [this](const OperationEntry& e) { store_.NoteTable(e.tableIndex); });
        }
        for (unsigned w = 0; w < slices; ++w)
            if (walkers[w].get() == run->walker) placed[w].push_back(p);
        if (run->hasTransaction) carry = run;
    }
    OnThreads(slices, [&](unsigned w) {
        for (const Placed& p : placed[w]) {
            size_t i = 0;
            p.run->entries.Visit(p.count, true, [&](OperationEntry e) {
                if (i < p.run->carried) {
                    e.transactionNameId = p.carriedName;
                    e.beginTime = p.carriedTime;
                } else {
                    e.transactionNameId = p.run->walker->KnownStoreNameId(e.transactionNameId);
                }
                store_.At(p.at + i++) = e;
            });
        }
        return 0;
    });
}

void LogScanner::ScanTwoPass(const LogByteSource& source) {
    const auto vlfs = FindVlfs(source);
    VlfWalker walker(tables_, source);
    VlfRun run;  // one run through every VLF: the transaction carries from each into the next
    for (const auto& [sequence, vlf] : vlfs) walker.ParseVlfLogBlocks(run, vlf, sequence);
    AddStats(run.stats);
    size_t i = 0;
    run.entries.Visit(run.entries.size(), true, [&](OperationEntry e) {
        // Before the first begin-transaction record of the scan: the empty name and time 0.
        const bool before = i++ < run.carried;
        e.transactionNameId = before ? 0 : walker.StoreNameId(e.transactionNameId, store_.Names());
        if (before) e.beginTime = 0;
        if (store_.Append(e)) ++stats_.filed;
    });
}

void LogScanner::AddStats(const LogScanStats& s) {
    stats_.vlfs += s.vlfs;
    stats_.blocks += s.blocks;
    stats_.records += s.records;
    stats_.otherLayoutBlocks += s.otherLayoutBlocks;
}

LogScanStats ScanLdfFile(BinaryFile& logFile, const std::string& path, const UserTableMap& tables,
                         OperationStore& store, Prompter& prompter, const RunState* stop) {
    logFile.close();
    if (!logFile.open(path, BinaryFile::Mode::Read)) {
        prompter.ShowMessage(L"LDF File Cannot be open...", MessageIcon::Information);
        return {};
    }
    LogScanner scanner(tables, store);
    if (stop) {
        scanner.Scan(StoppableLogSource(logFile, *stop));
    } else {
        scanner.Scan(FileLogSource(logFile));
    }
    return scanner.Stats();
}

}  // namespace kestrane
