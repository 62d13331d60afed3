#pragma once
// The log scan: finds the VLFs of a log file, walks their blocks in VLF-sequence order and files one
// OperationEntry per logged row operation of a user table. An entry carries the name and begin time
// of its own transaction: the begin-transaction record with the transaction id of its record, met
// before it and not ended by a commit or abort in between. When the log does not hold that record
// (the transaction began before the log) the entry carries no name and begin time 0, which the
// operations list shows empty; a record without an id carries the last begin-transaction record met
// before it in scan order. Compensation records, and the operations they undo, are left
// out: a rolled-back change never reached the table.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "logreader/LogByteSource.h"
#include "logreader/OperationStore.h"
#include "logreader/UserTableMap.h"
#include "logreader/VlfWalker.h"
#include "platform/BinaryFile.h"

namespace kestrane {

class Prompter;
class RunState;

class LogScanner {
public:
    LogScanner(const UserTableMap& tables, OperationStore& store);

    // Finds and walks all VLFs of the source in one sequential pass: each probe is answered from
    // the bytes read for the walk. A large file is swept in slices on several threads; `slices`
    // and `windowBytes` (the read size) override the choice, 0 keeps it.
    void Scan(const LogByteSource& source, unsigned slices = 0, size_t windowBytes = 0);
    // The same result the plain way: probes all offsets first, then walks the VLFs one after the
    // other in sequence order as one run. The reference the one-pass scan is checked against.
    void ScanTwoPass(const LogByteSource& source);
    // The live VLFs of a source by sequence number (a sequence seen twice keeps the lowest offset).
    static std::map<uint32_t, VlfEntry> FindVlfs(const LogByteSource& source);
    // The threads Scan uses for a source of `length` bytes.
    static unsigned SliceCount(uint64_t length);

    const LogScanStats& Stats() const { return stats_; }

private:
    void AddStats(const LogScanStats& s);

    OperationStore& store_;
    std::vector<ScanTable> tables_;  // sorted by rowset id
    LogScanStats stats_;
};

// The scan step of the analysis run: opens the log file at `path` into `logFile` (which stays open
// for the re-reads of the rebuild) and scans it. When it cannot be opened, shows "LDF File Cannot be
// open..." and files nothing. With `stop`, a stop request ends the scan with what it found so far.
LogScanStats ScanLdfFile(BinaryFile& logFile, const std::string& path, const UserTableMap& tables,
                         OperationStore& store, Prompter& prompter, const RunState* stop = nullptr);

}  // namespace kestrane
