// Row replay throughput: 200,000 synthetic logged inserts of a seven-column table (int, money, two bits,
// varchar, varbinary, nvarchar) are rebuilt from an in-memory log and a synthetic data file, first alone,
// then replayed through the export session, the ODBC driver (FreeTDS) and the test TDS endpoint on
// 127.0.0.1. Prints the replay rate and the time ratio of the replay to the rebuild alone.
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
#include "export/RowParameters.h"
#include "export/SavedRowImages.h"
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
    if (std::string why = test::TdsEndpointUnavailable(); !why.empty()) {
        std::printf("replay bench skipped: %s\n", why.c_str());
        return 0;
    }
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

    // The rebuild alone, with the row turned into parameters.
    OperationRebuilder rebuilder(holder, catalog, state, log);
    std::vector<SqlRowValue> values;
    size_t rebuilt = 0;
    auto start = Clock::now();
    for (const Operation& op : operations) {
        TableLayout layout{columns, {}, {}};
        for (const RowValues& row : SavedRowImages(rebuilder.Rebuild(op.blockOffset, kRowsetId, layout, op.slot)))
            rebuilt += FillRowValues(columns, row, state, values);
    }
    const double rebuildSeconds = Seconds(start);

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

    std::printf("operations: %zu, rebuilt rows: %zu, rows added: %llu\n", operations.size(), rebuilt,
                static_cast<unsigned long long>(replay.addedRows()));
    std::printf("rebuild alone: %.2f s (%.0f rows/s)\n", rebuildSeconds, rebuilt / rebuildSeconds);
    std::printf("replay rows/s: %.0f (%.2f s)\n", replay.addedRows() / replaySeconds, replaySeconds);
    std::printf("replay/rebuild ratio: %.1f\n", replaySeconds / rebuildSeconds);
    return replay.addedRows() == operations.size() ? 0 : 1;
}
