#pragma once
// The block walk of the log scan: one walker reads VLFs through one read window on one thread and
// files each VLF's row operations as a run. What a run cannot settle alone (the transaction of an
// entry whose begin-transaction record lies in an earlier VLF, the operations that a compensation
// record undoes) is settled by the scan once every run is walked.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "logreader/CompensationMatch.h"
#include "logreader/LogBlock.h"
#include "logreader/LogByteSource.h"
#include "logreader/LogFormat.h"
#include "logreader/LogReadWindow.h"
#include "logreader/LogRecord.h"
#include "logreader/NameTable.h"
#include "logreader/OperationStore.h"
#include "logreader/TransactionTable.h"

namespace kestrane {

// The live VLF header at a probe offset.
struct VlfEntry {
    uint8_t signature = 0;
    uint8_t parity = 0;
    uint32_t sequence = 0;
    uint64_t offset = 0;  // byte offset of the VLF in the log file
    CLogSeqNo lsn;

    // Parses the 48 header bytes (missing bytes read as zero).
    static VlfEntry Parse(ByteView bytes);
    // The header at `at` when it is a live one (signature and a sequence number other than 0).
    static bool Probe(ByteView at, VlfEntry& vlf);
};

// What a scan saw; the scan itself reports nothing.
struct LogScanStats {
    uint64_t vlfs = 0;
    uint64_t blocks = 0;
    uint64_t records = 0;            // records examined
    uint64_t filed = 0;
    uint64_t otherLayoutBlocks = 0;  // blocks of a record layout this reader does not read
    uint64_t compensations = 0;      // compensation records of user tables, left out
    uint64_t undone = 0;             // operations a compensation record undid, left out
    uint64_t undoSteps = 0;          // records and entries looked at to find and leave out what they undid
};

// A user table as the walk looks it up.
struct ScanTable {
    uint64_t rowsetId;
    uint32_t tableIndex;  // in the store
};

// The entries of one run, in blocks (a small first one, then large ones) that go to the store whole.
class RunEntries {
public:
    OperationEntry& Add() {
        if (blocks_.empty() || blocks_.back().full()) NewBlock();
        ++size_;
        return blocks_.back().Add();
    }
    size_t size() const { return size_; }
    std::vector<EntryBlock>& Blocks() { return blocks_; }
    template <typename F>
    void ForEach(F f) {
        for (EntryBlock& b : blocks_)
            for (size_t k = 0; k < b.size(); ++k) f(b.data()[k]);
    }
    // Calls f on the entries in order until it returns true.
    template <typename F>
    void ForEachUntil(F f) const {
        for (const EntryBlock& b : blocks_)
            for (size_t k = 0; k < b.size(); ++k)
                if (f(b.data()[k])) return;
    }
    // Removes the last entry when f is true of it.
    template <typename F>
    bool PopLastIf(F f) {
        for (size_t b = blocks_.size(); b-- > 0;) {
            const size_t n = blocks_[b].size();
            if (n == 0) continue;  // left empty by Filter
            if (!f(blocks_[b].data()[n - 1])) return false;
            blocks_[b].Resize(n - 1);
            --size_;
            return true;
        }
        return false;
    }
    // Calls f on each entry from the `from`-th on (which it may change) and keeps, in order, those
    // for which it is true.
    template <typename F>
    void Filter(F f, size_t from = 0) {
        if (from >= size_) return;
        // The block of entry `from`, found from the end: the entries of a log block are the last ones.
        size_t first = blocks_.size(), start = size_;
        while (start > from) start -= blocks_[--first].size();
        // Kept entries only move towards the front, never past the one being read.
        size_t outBlock = first, outPos = from - start;
        size_ = from;
        for (size_t i = first; i < blocks_.size(); ++i) {
            EntryBlock& b = blocks_[i];
            for (size_t k = i == first ? from - start : 0; k < b.size(); ++k) {
                // In place: a copy on the stack costs a stalled load per entry.
                OperationEntry& e = b.data()[k];
                if (!f(e)) continue;
                if (outPos == blocks_[outBlock].capacity()) {
                    ++outBlock;
                    outPos = 0;
                }
                OperationEntry& out = blocks_[outBlock].data()[outPos++];
                if (&out != &e) out = e;
                ++size_;
            }
        }
        for (size_t i = first; i < blocks_.size(); ++i)
            blocks_[i].Resize(i < outBlock ? blocks_[i].capacity() : i == outBlock ? outPos : 0);
    }

private:
    void NewBlock();

    static constexpr size_t kFirstBlock = 4096;
    std::vector<EntryBlock> blocks_;
    size_t size_ = 0;
};

// An entry (or several in a row) whose transaction the run cannot settle: its transaction is not
// open in the run, or it has none and no begin-transaction record precedes it in the run. Settled in
// sequence order: by the transaction of its id that the runs before left open, unless the run ended
// that id before the entry; else (its transaction began before the log) by no name and time 0. An
// entry without an id takes the last begin-transaction record before it.
struct PendingTransaction {
    uint64_t transaction = 0;      // 0: the runs before are not asked for an id
    size_t endedBefore = 0;        // the run's ids ended before the entry: VlfRun::ended[0, endedBefore)
    size_t endedChecked = 0;       // VlfRun::ended up to here does not end `transaction` after endedBefore
    bool fallbackCarried = false;  // no id, and no begin-transaction record before the entry in its run
    uint32_t fallbackName = 0;     // no id: the run's last one; an id: none (name 0, time 0)
    uint64_t fallbackTime = 0;
    // Settled: the name id and the begin time.
    uint32_t nameId = 0;
    uint64_t beginTime = 0;
};

class VlfWalker;

// The walk of one VLF (of every VLF in sequence order, for the reference scan).
struct VlfRun {
    static constexpr uint32_t kPending = 0x80000000u;  // transactionNameId: kPending | pending index

    uint32_t sequence = 0;
    uint64_t vlfOffset = 0;
    uint64_t pos = 0;  // the next block
    uint64_t lowestBlock = UINT64_MAX, highestBlock = 0;  // offsets of the blocks examined
    bool done = false;
    VlfWalker* walker = nullptr;
    uint32_t serial = 0;  // of the run in its walker
    RunEntries entries;
    std::vector<PendingTransaction> pending;
    std::vector<CompensationRecord> compensations;  // whose undone record the walk did not find
    UndoneBy undoneBy;                              // of those found in their block
    std::vector<uint64_t> undoKeys;                 // of each entry, in order: its UndoKey
    std::vector<uint32_t> undoneTables;             // the tables of the entries these undid
    // The transactions open so far; at the end of the run, the ones it leaves open. The ids of the
    // commit and abort records met, in order.
    TransactionTable transactions;
    std::vector<TransactionTable::Entry> open;
    std::vector<uint64_t> ended;
    // The last begin-transaction record met.
    bool hasTransaction = false;
    uint32_t nameId = 0;
    uint64_t beginTime = 0;
    // The tables of the entries, each once, in the order they first come.
    std::vector<uint32_t> tablesUsed;
    LogScanStats stats;
};

// Walks VLFs through one read window, on one thread. Transaction names are interned into `names`
// (the store's), under `namesLock` when walkers run at once.
class VlfWalker {
public:
    // `windowBytes`: the size of the reads (0: the window's own choice).
    VlfWalker(const std::vector<ScanTable>& tables, const LogByteSource& source, NameTable& names,
              std::mutex* namesLock = nullptr, size_t windowBytes = 0);

    // Points the run at the VLF's first block (done at once when that lies outside the file). The
    // run's entries and transactions stay: a run may span several VLFs.
    void Start(VlfRun& run, const VlfEntry& vlf, uint32_t sequence);
    // Walks the blocks of one VLF into the run.
    void ParseVlfLogBlocks(VlfRun& run, const VlfEntry& vlf, uint32_t sequence) {
        Start(run, vlf, sequence);
        while (!run.done) Step(run);
    }
    // Ends a run: keeps the transactions it leaves open, frees the rest.
    void Finish(VlfRun& run);
    // The VLFs whose header lies in [from, to), each walked once (the first header of a sequence),
    // in the order of their headers, each finished. One sequential pass: a probe is answered from
    // the window that the walk reads anyway, and blocks are walked in file order; only a VLF whose
    // first block lies before its header is walked afterwards.
    std::vector<VlfRun> Sweep(uint64_t from, uint64_t to);

private:
    // A name field met lately: its length, the words that tell it apart (a field of 8 to 32 bytes
    // whole, in four words that overlap when it is shorter; else its first and last 8 bytes), the
    // bytes themselves and the name's id.
    struct RecentName {
        size_t size = SIZE_MAX;  // none yet
        uint64_t words[4] = {};
        std::vector<uint8_t> raw;
        uint32_t id = 0;
    };

    bool Probe(uint64_t offset, VlfEntry& vlf);
    // Walks the block at run.pos; the run is done when the VLF ends there.
    void Step(VlfRun& run);
    // Files the records of a block held whole with its stamps undone (a block of another layout, or
    // not held so, files nothing).
    void ExamineBlock(const LogBlockView& block, uint64_t pos, VlfRun& run);
    void File(VlfRun& run, OperationEntry& e, uint64_t transaction) {
        // The entry's own transaction when it is open in this run; the last begin record met when
        // the entry has no transaction id; settled later otherwise.
        const TransactionTable::Entry* t = transaction ? run.transactions.Find(transaction) : nullptr;
        if (t) {
            e.transactionNameId = t->nameId;
            e.beginTime = t->beginTime;
        } else if (run.hasTransaction && transaction == 0) {
            e.transactionNameId = run.nameId;
            e.beginTime = run.beginTime;
        } else {
            e.transactionNameId = Pending(run, transaction);
            e.beginTime = 0;
        }
    }
    // The block being examined.
    struct BlockInHand {
        const LogBlockView& block;
        uint64_t pos;
        VlfRun& run;
        uint64_t undoBudget;  // steps of the compensation chains in this block
    };
    // A row record of a user table, record j of the block: filed, or as a compensation record
    // looked at for the record it undid.
    void FileRow(BlockInHand& hand, uint32_t j, LogRecordHeadAt head, const ScanTable& table);
    // A begin-transaction record at `slot`: its transaction is open, and the last one met.
    void BeginTransaction(BlockInHand& hand, const uint16_t* slot, LogRecordHeadAt head);
    // A commit or abort record of transaction `id`.
    void EndTransaction(VlfRun& run, uint64_t id);
    // Follows a compensation record's chain while it stays in `block`; the undone record found there
    // has its entry, if filed, removed (now, or with the others in undoneHere_).
    ChainEnd UndoInBlock(const LogBlockView& block, uint64_t pos, VlfRun& run, CompensationRecord& c, uint64_t& budget);
    // Removes the entries of the block in hand, filed from the `firstEntry`-th on, whose records
    // undoneHere_ holds.
    void LeaveOutUndone(VlfRun& run, size_t firstEntry);
    uint32_t Pending(VlfRun& run, uint64_t transaction);
    const ScanTable* FindTable(uint64_t rowsetId) {
        // A log changes few rowsets at a time, user tables' and the system's alike.
        const KnownRowset& k = known_[RowsetSlot(rowsetId)];
        return k.rowsetId == rowsetId ? k.table : LookUpTable(rowsetId);
    }
    const ScanTable* LookUpTable(uint64_t rowsetId);
    static size_t RowsetSlot(uint64_t rowsetId) { return static_cast<size_t>((rowsetId * 0x9E3779B97F4A7C15ULL) >> 58); }
    // The name id of a begin-transaction record's name field.
    uint32_t NameIdOf(ByteView field) {
        // Transaction names repeat: the name fields met lately are kept as raw bytes with their id,
        // by a hash of their length and ends, so that a name seen lately costs a few word
        // comparisons instead of a decode and a lookup by text.
        const size_t n = field.size();
        const uint8_t* p = field.data();
        uint64_t w[4] = {};
        const bool inWords = n >= 8 && n <= 32;
        if (inWords) {
            w[0] = Word(p);
            w[1] = Word(p + std::min<size_t>(8, n - 8));
            w[2] = Word(p + std::max<size_t>(n, 16) - 16);
            w[3] = Word(p + n - 8);
        } else {
            for (size_t i = 0; i < n && i < 8; ++i) w[0] |= uint64_t{p[i]} << (8 * i);
            if (n > 8) w[3] = Word(p + n - 8);
        }
        RecentName& r = recentNames_[((w[0] ^ (w[3] * 31) ^ n) * 0x9E3779B97F4A7C15ULL) >> 60];
        const uint64_t differ = (r.size ^ n) | (r.words[0] ^ w[0]) | (r.words[1] ^ w[1]) | (r.words[2] ^ w[2]) |
                                (r.words[3] ^ w[3]);
        if (differ == 0 && (inWords || std::equal(p, p + n, r.raw.begin()))) return r.id;
        return NewNameId(r, field, w);
    }
    // Decodes and interns a name field not met lately, and keeps it in `r`.
    uint32_t NewNameId(RecentName& r, ByteView field, const uint64_t (&words)[4]);
    static uint64_t Word(const uint8_t* p) {
        uint64_t w;
        std::memcpy(&w, p, sizeof w);
        return w;
    }

    const std::vector<ScanTable>& tables_;
    // The tables of the rowset ids met lately (null: no user table), by a hash of the id.
    // A slot not filled yet holds an id of another slot, which no lookup in it can match.
    struct KnownRowset {
        uint64_t rowsetId = 0;
        const ScanTable* table = nullptr;
    };
    static constexpr size_t kKnownRowsets = 64;
    KnownRowset known_[kKnownRowsets];
    std::vector<uint16_t> slots_;  // the slot array of the block examined
    std::vector<uint16_t> undoneHere_;  // records of the block examined that compensation records undid
    LogReadWindow window_;
    std::vector<uint8_t> scratch_;  // a transaction name with a stamp undone in it
    std::vector<uint8_t> cutBlock_;  // a block cut short by the end of the file, completed with zeros
    TransactionTable spare_;        // the room of a finished run's table, for the next run
    size_t endedLately_ = 0;        // transactions the run finished last ended

    RecentName recentNames_[16];
    std::wstring text_;
    NameTable& names_;
    std::mutex* namesLock_;
    std::vector<uint32_t> tableRun_;  // per table: the serial of the last run that filed an entry of it
    uint32_t runs_ = 0;
};

}  // namespace kestrane
