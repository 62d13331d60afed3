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

    // Finds and walks all VLFs of the source.
    void Scan(const LogByteSource& source);
    // The live VLFs of a source by sequence number (a sequence seen twice keeps the lowest offset).
    static std::map<uint32_t, VlfEntry> FindVlfs(const LogByteSource& source);

    const LogScanStats& Stats() const { return stats_; }

private:
    struct TableKey {
        uint64_t rowsetId;
        uint32_t tableIndex;  // in the store
    };
    const TableKey* FindTable(uint64_t rowsetId);
    // Walks the blocks of one VLF.
    void ParseVlfLogBlocks(LogReadWindow& window, const VlfEntry& vlf, uint32_t sequence);
    // Examines the records of one block found at file offset `pos`.
    void ExamineBlock(const LogBlockView& block, uint64_t pos);
    void SetCurrentTransactionName(ByteView rawName);
    void File(const TableKey& table, uint64_t pos, uint32_t slot, uint8_t operation);

    OperationStore& store_;
    std::vector<TableKey> tables_;  // sorted by rowset id
    const TableKey* lastHit_ = nullptr;

    uint64_t currentBeginTime_ = 0;

    std::vector<uint8_t> scratch_;      // a transaction name with a stamp undone in it
    struct RecentName {
        std::vector<uint8_t> raw;
        std::wstring text;
        uint32_t id = 0;
    };
    static constexpr size_t kRecentNames = 16;
    static constexpr uint32_t kNoNameId = UINT32_MAX;
    std::vector<RecentName> recentNames_;
    size_t currentRecent_ = SIZE_MAX;  // the current transaction's name in recentNames_
    size_t nextRecent_ = kRecentNames - 1;

    LogScanStats stats_;
};

// The scan step of the analysis run: opens the log file at `path` into `logFile` (which stays open
// for the re-reads of the rebuild) and scans it. When it cannot be opened, shows "LDF File Cannot be
// open..." and files nothing.
LogScanStats ScanLdfFile(BinaryFile& logFile, const std::string& path, const UserTableMap& tables,
                         OperationStore& store, Prompter& prompter);

}  // namespace kestrane
