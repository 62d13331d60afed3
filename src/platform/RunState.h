#pragma once
// The shared state of one run of the program: the fields that the application object carries and that
// every subsystem reads (option bytes, paths, stop flag, collation, export options). One object is
// passed by reference to whoever needs it; fields that one thread writes while another reads are atomic.
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/BinaryFile.h"
#include "platform/ByteReader.h"
#include "platform/OleDate.h"

namespace kestrane {

struct CollationEntry {
    std::wstring name;
    int32_t codePage = 0;
};

// A date range of the save options' date filter.
struct DateRange {
    COleDateTime from;
    COleDateTime to;
};

// The log-replay request that tells the next data-page load which slot to rebuild from a logged change,
// and how. It is set by the log analysis just before one page load and cleared right after it
// (RowSpliceScope); only the record page reads it. The byte views point into the caller's log buffer.
struct RowSpliceRequest {
    uint8_t rowSpliceMode = 0;     // 1 = rebuild a modified row (MODIFY_ROW)
    uint8_t columnSpliceMode = 0;  // 1 = rebuild from modified pieces (MODIFY_COLUMNS)
    uint16_t slot = 0;
    ByteView element0;             // row splice: bytes to put back; column splice: piece data
    uint32_t element0Length = 0;
    uint32_t element1Length = 0;
    ByteView element1;
    uint32_t offsetInRow = 0;
    ByteView pieceEntries;         // column splice: {u16 start; u16 end} per piece
    ByteView pieceLengths;         // column splice: u16 per piece
    uint16_t pieceCount = 0;
    uint8_t overrun = 0;           // set by the column splice when a piece does not fit
    int32_t variableDataStart = 0; // written by every FixedVar parse

    bool active() const { return rowSpliceMode != 0 || columnSpliceMode != 0; }
    void clear() { *this = RowSpliceRequest{}; }
};

class RunState {
public:
    RunState();
    // Reads the collation list from `path` (default "collation.txt" in the current directory).
    explicit RunState(const std::string& collationPath);

    // Loads "name TAB id TAB codepage" lines into the collation map; a missing file leaves it empty.
    void LoadCollations(const std::string& path);

    // Converts 8-bit text of the database's code page.
    int32_t AnsiCodePage() const { return codePage; }

    uint32_t saveLogRow = 0;
    uint32_t testLogRow = 0;
    std::atomic<uint8_t> stopFlag{0};
    uint8_t legacyCatalog = 0;
    uint8_t includeDeletedRows = 0;
    uint8_t deletedRecordScan = 0;
    uint8_t rawLengthOption = 0;
    BinaryFile activityLog;
    void* progressDialog = nullptr;  // the running save's progress view (owned by the UI)
    uint32_t blobFileCounter = 0;
    uint8_t blobsToFiles = 0;
    std::wstring blobFolder;
    std::wstring serverVersionText;
    std::wstring provider;
    std::wstring userName;
    std::wstring password;
    std::wstring serverName;
    std::wstring databaseName;
    uint8_t identityColumnSeen = 0;
    std::map<int64_t, CollationEntry> collationMap;
    uint8_t collationFound = 0;
    int64_t collationId = -1;
    int32_t codePage = 1252;
    uint8_t columnCollationOption = 0;
    std::wstring collationName;
    uint8_t collationAutoDetect = 1;
    int64_t manualCollationId = 0;
    uint8_t saveIntoExistingDatabase = 0;
    std::wstring dataFilePath;
    std::wstring logFilePath;
    uint8_t snapshotAdvanceSearch = 0;
    uint8_t snapshotMode = 0;
    std::wstring snapshotPath;
    RowSpliceRequest rowSplice;
    std::vector<DateRange> dateFilter;
    uint8_t saveInsert = 0;
    uint8_t saveDelete = 0;
    uint8_t saveUpdate = 0;
    uint8_t saveAsScript = 0;
    uint8_t saveConstraints = 0;
    std::wstring scriptFolder;

    bool stopRequested() const { return stopFlag.load(std::memory_order_relaxed) != 0; }

    // Forgets what the last opened database left: its version text, collation, code page and catalogue
    // kind. Each analysis starts from these, so a database that does not set them shows them unknown.
    void ResetDatabaseFields();
};

// Sets a row-splice request for exactly one page load and clears it when the scope ends.
class RowSpliceScope {
public:
    RowSpliceScope(RunState& state, const RowSpliceRequest& request) : state_(state) { state_.rowSplice = request; }
    ~RowSpliceScope() { state_.rowSplice.clear(); }
    RowSpliceScope(const RowSpliceScope&) = delete;
    RowSpliceScope& operator=(const RowSpliceScope&) = delete;

private:
    RunState& state_;
};

// Reads a 32-bit signed decimal as the C runtime's atoi does: leading blanks, optional sign, digits
// up to the first non-digit, 0 when there are none.
int32_t ParseLeadingInt32(const std::string& text);

}  // namespace kestrane
