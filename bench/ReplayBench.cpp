// Row replay and script throughput: 200,000 synthetic logged inserts of a seven-column table (int, money,
// two bits, varchar, varbinary, nvarchar) are rebuilt from an in-memory log and a synthetic data file,
// first alone, then written as INSERT scripts into a table script file as the script save writes them,
// then replayed through the export session, the ODBC driver (FreeTDS) and the test TDS endpoint on
// 127.0.0.1. Prints the script and replay rates and their time ratios to the rebuild alone.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "../tests/datafile/DataFileFixture.h"
#include "../tests/logreader/LogFixture.h"
#include "datafile/DbFileHolder.h"
#include "datafile/MetadataCatalog.h"
#include "export/OperationRowReplay.h"
#include "export/OperationRowScript.h"
#include "export/RowParameters.h"
#include "export/SavedRowImages.h"
#include "logreader/LogFormat.h"
#include "sqltext/ScriptFiles.h"
#include "support/TdsEndpoint.h"

using namespace kestrane;
using Clock = std::chrono::steady_clock;

namespace {

constexpr size_t kOperations = 200000;
constexpr uint64_t kRowsetId = 0x0100000000110000ULL;
constexpr uint32_t kPage = 2;

ColumnDefList Columns() {
    return {test::LayoutColumn(1, L"id", L"int(4)", kTypeInt, 4),
            test::LayoutColumn(2, L"price", L"money(8)", kTypeMoney, 8),
            test::LayoutColumn(3, L"a", L"bit(1)", kTypeBit, 16),
            test::LayoutColumn(4, L"b", L"bit(1)", kTypeBit, 16),
            test::LayoutColumn(5, L"name", L"varchar(20)", kTypeVarChar, -1),
            test::LayoutColumn(6, L"data", L"varbinary(10)", kTypeVarBinary, -2, 1),
            test::LayoutColumn(7, L"note", L"nvarchar(40)", kTypeNVarChar, -3, 1)};
}

// The stored row: id, price and the two bits in the fixed part, then name, data and note.
std::vector<uint8_t> Row(uint32_t n) {
    test::Bytes fixed = test::Cat(test::Le(n, 4), test::Le(uint64_t{1234500} + n, 8));
    fixed.push_back(static_cast<uint8_t>(n & 3));
    test::Bytes note;
    for (char16_t c : u"note \x00E9\x4E2D " + std::u16string(n % 7, u'x')) note = test::Cat(note, test::Le(c, 2));
    return test::FixedVarRow(fixed, 7, {test::Text("customer " + std::to_string(n)), test::Le(n, 4), note});
}

struct Operation {
    uint64_t blockOffset;
    uint32_t slot;
};

// Blocks of inserts laid one after the other, as the log holds them.
std::vector<uint8_t> BuildLog(std::vector<Operation>& operations) {
    std::vector<uint8_t> log;
    uint32_t n = 0;
    while (operations.size() < kOperations) {
        std::vector<std::vector<uint8_t>> records;
        size_t bytes = 0;
        while (bytes < 56000 && operations.size() + records.size() < kOperations) {
            test::RowRecordSpec spec;
            spec.rowsetId = kRowsetId;
            spec.page = kPage;
            spec.slot = static_cast<uint16_t>(records.size());
            spec.elements = {Row(n++)};
            records.push_back(test::RowRecord(spec));
            bytes += records.back().size() + 6;
        }
        for (uint32_t slot = 0; slot < records.size(); ++slot) operations.push_back({log.size(), slot});
        const std::vector<uint8_t> block = test::LogBlock(1, records);
        log.insert(log.end(), block.begin(), block.end());
    }
    return log;
}

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

}  // namespace

int main() {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("kestrane-replay-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::filesystem::path dataPath = folder / "Bench.mdf";
    {
        const auto data = test::BuildDataFile({{0, 13}, {7, 1}, {500, 1}, {500, 1}});
        std::ofstream(dataPath, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), data.size());
    }
    RunState state("");
    NullProgressSink progress;
    CDbFileHolder holder(std::make_unique<CMdfFile>(dataPath.wstring(), 0, state, progress), state, progress);
    CMetadataCatalog catalog(holder.DataFile(), state);
    std::vector<Operation> operations;
    const std::vector<uint8_t> logBytes = BuildLog(operations);
    const MemoryLogSource log{ByteView(logBytes)};
    const ColumnDefList columns = Columns();

    // The rebuild alone: the rows a save keeps, and then also turned into parameters.
    OperationRebuilder rebuilder(holder, catalog, state, log);
    size_t rowsKept = 0;
    auto start = Clock::now();
    for (const Operation& op : operations) {
        TableLayout layout{columns, {}, {}};
        rowsKept += SavedRowImages(rebuilder.Rebuild(op.blockOffset, kRowsetId, layout, op.slot)).size();
    }
    const double rowsSeconds = Seconds(start);
    std::vector<SqlRowValue> values;
    size_t rebuilt = 0;
    start = Clock::now();
    for (const Operation& op : operations) {
        TableLayout layout{columns, {}, {}};
        for (const RowValues& row : SavedRowImages(rebuilder.Rebuild(op.blockOffset, kRowsetId, layout, op.slot)))
            rebuilt += FillRowValues(columns, row, state, values);
    }
    const double rebuildSeconds = Seconds(start);
    std::printf("operations: %zu, rebuilt rows: %zu\n", operations.size(), rebuilt);
    std::printf("rebuild alone: %.2f s (%.0f rows/s); with the rows as parameters %.2f s (%.0f rows/s)\n", rowsSeconds,
                rowsKept / rowsSeconds, rebuildSeconds, rebuilt / rebuildSeconds);

    // The same operations as INSERT scripts, one call a logged operation as the script save makes it.
    std::filesystem::create_directories(folder / "Scripts");
    const std::wstring scriptFolder = (folder / "Scripts").wstring();
    std::wstring tableFile = WriteTableScriptHeader(L"", scriptFolder, L"Orders", L"Bench");
    BinaryFile listFile;
    if (tableFile.empty() || !listFile.open(NativePath(scriptFolder + L"/Orders/maintablescript.sql"),
                                            BinaryFile::Mode::CreateWrite)) {
        std::printf("script bench: the table script file was not created\n");
        return 1;
    }
    InsertScriptState script;
    script.currentTableName = L"Orders";
    const std::wstring databaseName = L"Bench", tableFolderName = L"Orders";
    InsertScriptWriter writer(tableFile, databaseName, tableFolderName, listFile, script);
    TableScriptTarget target{columns, writer};
    OperationRebuilder scriptRebuilder(holder, catalog, state, log);
    std::wstring noRow;
    start = Clock::now();
    for (const Operation& op : operations) {
        TableLayout layout{columns, {}, {}};
        WriteOperationRowScript(scriptRebuilder, op.blockOffset, kRowsetId, layout, op.slot, target, state,
                                logfmt::kOpInsertRow, noRow);
    }
    writer.Flush();
    const uint64_t scripted = writer.Take().keptRows;  // the rows that reached the file
    const double scriptSeconds = Seconds(start);
    std::printf("rows scripted: %llu, script bytes: %llu, failed writes: %llu\n",
                static_cast<unsigned long long>(scripted),
                static_cast<unsigned long long>(std::filesystem::file_size(NativePath(tableFile))),
                static_cast<unsigned long long>(script.failedWrites));
    std::printf("script rows/s: %.0f (%.2f s)\n", scripted / scriptSeconds, scriptSeconds);
    std::printf("script/rebuild ratio: %.2f\n", scriptSeconds / rowsSeconds);
    if (scripted != operations.size()) {
        std::filesystem::remove_all(folder);
        return 1;
    }

    if (std::string why = test::TdsEndpointUnavailable(); !why.empty()) {
        std::printf("replay bench skipped: %s\n", why.c_str());
        std::filesystem::remove_all(folder);
        return 0;
    }
    test::TdsEndpoint endpoint;
    if (!endpoint.running()) {
        std::printf("replay bench: the test endpoint did not start\n");
        return 1;
    }
    CSqlExportSession session(state, progress);
    const SqlConnectionFields login{L"Bench", L"sa", L"pw", endpoint.server(), L"FreeTDS"};
    if (!session.OpenTableForInsert(L"Orders", BuildFieldList(columns), login)) {
        std::printf("replay bench: the table did not open\n");
        return 1;
    }
    OperationRowReplay replay(holder, catalog, state, log);
    start = Clock::now();
    for (const Operation& op : operations) {
        TableLayout layout{columns, {}, {}};
        replay.ReplayOperationRow(op.blockOffset, kRowsetId, layout, op.slot, session, 2);
    }
    const double replaySeconds = Seconds(start);
    session.CloseConnection();
    std::filesystem::remove_all(folder);

    std::printf("rows added: %llu\n", static_cast<unsigned long long>(replay.addedRows()));
    std::printf("replay rows/s: %.0f (%.2f s)\n", replay.addedRows() / replaySeconds, replaySeconds);
    std::printf("replay/rebuild ratio: %.1f\n", replaySeconds / rebuildSeconds);
    return replay.addedRows() == operations.size() ? 0 : 1;
}
