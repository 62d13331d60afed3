#pragma once
// The log scan: finds the VLFs of a log file, walks their blocks in VLF-sequence order and files one
// OperationEntry per logged row operation of a user table, with the name and begin time of the last
// begin-transaction record met before it in scan order.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "logreader/LogBlock.h"
#include "logreader/LogByteSource.h"
#include "logreader/LogReadWindow.h"
#include "logreader/OperationStore.h"
#include "logreader/UserTableMap.h"
#include "platform/BinaryFile.h"

namespace kestrane {

class Prompter;
class RunState;

struct VlfEntry {
    uint8_t signature = 0;
    uint8_t parity = 0;
    uint32_t sequence = 0;
    uint64_t offset = 0;  // byte offset of the VLF in the log file
    CLogSeqNo lsn;

    // Parses the 48 header bytes (missing bytes read as zero).
    static VlfEntry Parse(ByteView bytes);
};

// What a scan saw; the scan itself reports nothing.
struct LogScanStats {
    uint64_t vlfs = 0;
    uint64_t blocks = 0;
    uint64_t records = 0;           // records examined
    uint64_t filed = 0;
    uint64_t otherLayoutBlocks = 0;  // blocks of a record layout this reader does not read
};

class LogScanner {
public:
    LogScanner(const UserTableMap& tables, OperationStore& store);

    // Finds and walks all VLFs of the source in one sequential pass: each probe is answered from
    // the bytes read for the walk. A large file is swept in slices on several threads; `slices`
    // and `windowBytes` (the read size) override the choice, 0 keeps it.
    void Scan(const LogByteSource& source, unsigned slices = 0, size_t windowBytes = 0);
    // The same result the plain way: probes all offsets first, then walks the VLFs one after the
    // other in sequence order. The reference the one-pass scan is checked against.
    void ScanTwoPass(const LogByteSource& source);
    // The live VLFs of a source by sequence number (a sequence seen twice keeps the lowest offset).
    static std::map<uint32_t, VlfEntry> FindVlfs(const LogByteSource& source);

    const LogScanStats& Stats() const { return stats_; }

    // The scan's working types, used by its walkers.
    struct TableKey {
        uint64_t rowsetId;
        uint32_t tableIndex;  // in the store
    };
    struct VlfRun;

private:
    void AddStats(const LogScanStats& s);

    OperationStore& store_;
    std::vector<TableKey> tables_;  // sorted by rowset id
    LogScanStats stats_;
};

// The scan step of the analysis run: opens the log file at `path` into `logFile` (which stays open
// for the re-reads of the rebuild) and scans it. When it cannot be opened, shows "LDF File Cannot be
// open..." and files nothing. With `stop`, a stop request ends the scan with what it found so far.
LogScanStats ScanLdfFile(BinaryFile& logFile, const std::string& path, const UserTableMap& tables,
                         OperationStore& store, Prompter& prompter, const RunState* stop = nullptr);

}  // namespace kestrane
