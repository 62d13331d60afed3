#include "logreader/LogScanner.h"

#include <algorithm>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>
#include <system_error>
#include <unordered_map>

#include "logreader/CompensationMatch.h"
#include "platform/Prompter.h"

namespace kestrane {

namespace {
constexpr uint64_t kProbesPerSlice = 16384;  // 128 MiB of log
constexpr uint64_t kMaxThreads = 4;
// The one-pass scan sweeps a log of 64 MiB or more in slices of at least 32 MiB, each on a thread
// of its own.
constexpr uint64_t kSweepSliceBytes = uint64_t{32} << 20;

// Probes [from, to) every 8192 bytes; the headers found, in file order.
std::vector<VlfEntry> ProbeVlfs(const LogByteSource& source, uint64_t from, uint64_t to) {
    std::vector<VlfEntry> found;
    uint8_t header[logfmt::kVlfHeaderSize];
    for (uint64_t offset = from; offset < to; offset += logfmt::kVlfProbeStep) {
        const size_t n = source.ReadAt(offset, header, sizeof header);
        VlfEntry vlf;
        if (VlfEntry::Probe(ByteView(header, n), vlf)) found.push_back(vlf);
    }
    return found;
}

unsigned ProbeSlices(uint64_t length) {
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

// Settles the runs of a scan, given in sequence order, and hands their entries to the store: the
// transactions that each run leaves to the runs after it, and the operations that compensation
// records undid.
class RunSettler {
public:
    RunSettler(OperationStore& store, std::vector<VlfRun*> runs) : store_(store), runs_(std::move(runs)) {}

    // onEachWalker(count, f) calls f(w) for each walker w < count, possibly at once.
    template <typename OnEachWalker>
    LogScanStats Settle(const LogByteSource& source, const std::map<uint32_t, uint64_t>& vlfOffsets,
                        const std::vector<VlfWalker*>& walkers, OnEachWalker onEachWalker) {
        LogScanStats stats;
        std::vector<CompensationRecord> compensations;
        UndoneBy undoneBy;
        for (VlfRun* run : runs_) {
            AddStats(stats, run->stats);
            compensations.insert(compensations.end(), run->compensations.begin(), run->compensations.end());
            undoneBy.insert(run->undoneBy.begin(), run->undoneBy.end());
        }
        SettleTransactions();
        std::vector<RecordPlace> candidates = Candidates(compensations);
        undone_ = FindUndoneRecords(source, vlfOffsets, std::move(compensations), undoneBy, stats.blocks,
                                    std::move(candidates), stats.undoSteps);
        std::vector<std::vector<VlfRun*>> byWalker(walkers.size());
        for (VlfRun* run : runs_)
            for (size_t w = 0; w < walkers.size(); ++w)
                if (walkers[w] == run->walker) byWalker[w].push_back(run);
        onEachWalker(walkers.size(), [&](size_t w) {
            for (VlfRun* run : byWalker[w]) Rewrite(*run);
        });
        for (VlfRun* run : runs_) {
            stats.undone += run->stats.undone;
            const size_t count = run->entries.size();
            size_t taken = 0;
            for (EntryBlock& block : run->entries.Blocks()) taken += store_.Adopt(std::move(block));
            stats.filed += taken;
            if (taken == count) {
                for (uint32_t table : run->tablesUsed) store_.NoteTable(table);
            } else {
                // The store is full: only the tables of the entries it took.
                for (size_t i = store_.Size() - taken; i < store_.Size(); ++i) store_.NoteTable(store_[i].tableIndex);
            }
        }
        return stats;
    }

    static void AddStats(LogScanStats& to, const LogScanStats& s) {
        to.vlfs += s.vlfs;
        to.blocks += s.blocks;
        to.records += s.records;
        to.otherLayoutBlocks += s.otherLayoutBlocks;
        to.compensations += s.compensations;
        to.undoSteps += s.undoSteps;
    }

private:
    struct Known {
        uint32_t nameId = 0;
        uint64_t beginTime = 0;
    };

    // In sequence order: each pending entry takes the transaction of its id that the runs before
    // left open, else the last begin-transaction record before it.
    void SettleTransactions() {
        Known carry;
        bool hasCarry = false;
        std::unordered_map<uint64_t, Known> open;
        for (VlfRun* run : runs_) {
            std::unordered_map<uint64_t, size_t> firstEnded;  // of the run's ids, built when asked
            auto endedInRun = [&](const PendingTransaction& p) {
                if (firstEnded.empty())
                    for (size_t i = run->ended.size(); i-- > 0;) firstEnded[run->ended[i]] = i;
                auto it = firstEnded.find(p.transaction);
                return it != firstEnded.end() && it->second < p.endedBefore;
            };
            for (PendingTransaction& p : run->pending) {
                auto it = p.transaction && !open.empty() && !endedInRun(p) ? open.find(p.transaction) : open.end();
                if (it != open.end()) {
                    p.nameId = it->second.nameId;
                    p.beginTime = it->second.beginTime;
                } else if (!p.fallbackCarried) {
                    p.nameId = p.fallbackName;
                    p.beginTime = p.fallbackTime;
                } else if (hasCarry) {
                    p.nameId = carry.nameId;
                    p.beginTime = carry.beginTime;
                }
            }
            if (!open.empty())
                for (uint64_t id : run->ended) open.erase(id);
            for (const TransactionTable::Entry& t : run->open) open[t.id] = Known{t.nameId, t.beginTime};
            if (run->hasTransaction) {
                carry = Known{run->nameId, run->beginTime};
                hasCarry = true;
            }
        }
    }

    // The entries whose key one of `compensations` looks for; the runs' keys are not needed after.
    std::vector<RecordPlace> Candidates(const std::vector<CompensationRecord>& compensations) {
        std::vector<RecordPlace> candidates;
        const UndoKeyFilter wanted(compensations);
        for (VlfRun* run : runs_) {
            if (!compensations.empty() && run->undoKeys.size() == run->entries.size()) {
                size_t i = 0;
                run->entries.ForEach([&](const OperationEntry& e) {
                    const uint64_t key = run->undoKeys[i++];
                    if (wanted.MayHold(key)) candidates.emplace_back(e.blockOffset, e.slotIndex);
                });
            }
            std::vector<uint64_t>().swap(run->undoKeys);
        }
        return candidates;
    }

    // Settled transactions into the run's entries, and the undone ones out.
    void Rewrite(VlfRun& run) {
        auto settle = [&](OperationEntry& e) {
            if (e.transactionNameId & VlfRun::kPending) {
                const PendingTransaction& p = run.pending[e.transactionNameId & ~VlfRun::kPending];
                e.transactionNameId = p.nameId;
                e.beginTime = p.beginTime;
            }
        };
        // Only a run whose blocks span a record found undone since the walk is filtered.
        const auto firstUndone = std::lower_bound(undone_.begin(), undone_.end(), RecordPlace{run.lowestBlock, 0});
        if (firstUndone == undone_.end() || firstUndone->first > run.highestBlock) {
            if (!run.pending.empty()) run.entries.ForEach(settle);
        } else {
            const size_t before = run.entries.size();
            run.entries.Filter([&](OperationEntry& e) {
                settle(e);
                if (!std::binary_search(undone_.begin(), undone_.end(), RecordPlace{e.blockOffset, e.slotIndex}))
                    return true;
                run.undoneTables.push_back(e.tableIndex);
                return false;
            });
            run.stats.undone += before - run.entries.size();
        }
        // A table whose every entry in the run was undone is not the run's any more.
        std::sort(run.undoneTables.begin(), run.undoneTables.end());
        run.undoneTables.erase(std::unique(run.undoneTables.begin(), run.undoneTables.end()), run.undoneTables.end());
        for (uint32_t table : run.undoneTables) {
            bool left = false;
            run.entries.ForEachUntil([&](const OperationEntry& e) { return left = e.tableIndex == table; });
            if (!left) run.tablesUsed.erase(std::find(run.tablesUsed.begin(), run.tablesUsed.end(), table));
        }
    }

    OperationStore& store_;
    std::vector<VlfRun*> runs_;
    std::vector<RecordPlace> undone_;
};
}  // namespace

unsigned LogScanner::SliceCount(uint64_t length) {
    return static_cast<unsigned>(std::clamp<uint64_t>(length / kSweepSliceBytes, 1, kMaxThreads));
}

LogScanner::LogScanner(const UserTableMap& tables, OperationStore& store) : store_(store) {
    tables_.reserve(tables.size());
    for (const auto& [rowset, table] : tables)
        tables_.push_back(ScanTable{rowset, store_.AddTable(table.objectId, rowset, table.name)});
    // std::map iterates in key order, so tables_ is sorted already.
}

std::map<uint32_t, VlfEntry> LogScanner::FindVlfs(const LogByteSource& source) {
    // One small read per probe adds up to a system call per 8192 bytes: a large file is probed in
    // slices on several threads, the slices merged in file order.
    const uint64_t length = source.Size();
    const unsigned slices = ProbeSlices(length);
    const uint64_t perSlice = SliceLength(length, slices);
    auto slice = [&](unsigned i) { return ProbeVlfs(source, i * perSlice, std::min(length, (i + 1) * perSlice)); };
    std::map<uint32_t, VlfEntry> vlfs;
    for (const auto& found : OnThreads(slices, slice))
        for (const VlfEntry& vlf : found) vlfs.emplace(vlf.sequence, vlf);  // the lowest offset of a sequence stays
    return vlfs;
}

void LogScanner::Scan(const LogByteSource& source, unsigned slices, size_t windowBytes) {
    // The walks of the slices are independent: what one VLF leaves to the next is settled when the
    // runs are put in sequence order.
    const uint64_t length = source.Size();
    if (slices == 0) slices = SliceCount(length);
    const uint64_t perSlice = SliceLength(length, slices);
    // Names are interned in the store as they are met (seldom: each walker keeps the names it met
    // lately), under a lock when walkers run at once.
    std::mutex namesLock;
    std::vector<std::unique_ptr<VlfWalker>> walkers;
    std::vector<VlfWalker*> walkerList;
    for (unsigned i = 0; i < slices; ++i) {
        walkers.push_back(std::make_unique<VlfWalker>(tables_, source, store_.Names(), slices > 1 ? &namesLock : nullptr,
                                                      windowBytes));
        walkerList.push_back(walkers.back().get());
    }
    auto swept = OnThreads(slices, [&](unsigned i) {
        return walkers[i]->Sweep(i * perSlice, std::min(length, (i + 1) * perSlice));
    });
    std::map<uint32_t, VlfRun*> bySequence;
    for (auto& runs : swept)
        for (VlfRun& run : runs) bySequence.emplace(run.sequence, &run);  // the lowest offset of a sequence stays
    std::vector<VlfRun*> ordered;
    std::map<uint32_t, uint64_t> vlfOffsets;
    for (auto& [sequence, run] : bySequence) {
        ordered.push_back(run);
        vlfOffsets.emplace(sequence, run->vlfOffset);
    }
    RunSettler settler(store_, std::move(ordered));
    AddStats(settler.Settle(source, vlfOffsets, walkerList, [](size_t count, auto work) {
        OnThreads(static_cast<unsigned>(count), [&](unsigned w) {
            work(w);
            return 0;
        });
    }));
}

void LogScanner::ScanTwoPass(const LogByteSource& source) {
    const auto vlfs = FindVlfs(source);
    VlfWalker walker(tables_, source, store_.Names());
    VlfRun run;  // one run through every VLF: transactions carry from each into the next
    std::map<uint32_t, uint64_t> vlfOffsets;
    for (const auto& [sequence, vlf] : vlfs) {
        walker.ParseVlfLogBlocks(run, vlf, sequence);
        vlfOffsets.emplace(sequence, vlf.offset);
    }
    walker.Finish(run);
    RunSettler settler(store_, {&run});
    AddStats(settler.Settle(source, vlfOffsets, {&walker}, [](size_t, auto work) { work(0); }));
}

void LogScanner::AddStats(const LogScanStats& s) {
    RunSettler::AddStats(stats_, s);
    stats_.filed += s.filed;
    stats_.undone += s.undone;
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
