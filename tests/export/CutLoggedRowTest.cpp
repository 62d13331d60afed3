// Logged rows whose bytes are cut short, in a log built in code: the click says their bytes do not
// decode, neither save writes them and each save's table line counts them; the whole row beside them
// is shown and saved as ever.
#include <gtest/gtest.h>

#include "CodeBuiltSet.h"
#include "logreader/TableSchemaCache.h"
#include "sqltext/SqlTextFixtures.h"

namespace kestrane {
namespace {

using namespace test;

constexpr uint32_t kT = 500;
constexpr uint64_t kRowset = 0x7000;
constexpr wchar_t kDoesNotDecode[] = L"The row cannot be rebuilt: its logged bytes do not decode as a row of this table.";
constexpr wchar_t kTableLine[] =
    L"Table T : 5 operations, 1 kept, left out 3 gave no row (its row cannot be decoded), 1 gave no row (the "
    L"updated row cannot be rebuilt: its logged bytes do not decode as a row of this table) .";

// T (id int NULL, b0 .. b7 bit NOT NULL): a whole insert; inserts cut to 1 and to 7 bytes; an update
// whose row the log holds only in its later delete, cut inside the NULL bitmap.
struct CutRowsSet : CodeBuiltSet {
    CutRowsSet() : CodeBuiltSet({{0, 13}, {7, 1}, {int32_t{kT}, 1}}) {
        catalog->objects = {Object(kT, L"T", L"U ")};
        catalog->types = {Type(56, L"int"), Type(104, L"bit")};
        catalog->columns = {Column(kT, 1, L"id", 56, 4)};
        catalog->rowsets = {Rowset(kRowset, kT, 0)};
        catalog->rowsetColumns = {Placed(kRowset, 1, 4)};
        for (uint16_t k = 0; k < 8; ++k) {
            catalog->columns.push_back(Column(kT, 2u + k, L"b" + std::to_wstring(k), 104, 1, 0x01));
            catalog->rowsetColumns.push_back(Placed(kRowset, 2u + k, 8, k));
        }
        const Bytes whole = Row(5), deleted = Row(7);
        ScanLog({RowOperation(2, kRowset, 2, 0, {whole}), RowOperation(2, kRowset, 2, 1, {Cut(whole, 1)}),
                 RowOperation(2, kRowset, 2, 2, {Cut(whole, 7)}),
                 RowOperation(4, kRowset, 2, 3, {Le(6, 4), Le(7, 4)}, 4),
                 RowOperation(3, kRowset, 2, 3, {Cut(deleted, 11)})});
    }
    // 13 bytes: header, id, the byte of b0 .. b7 (1 0 1 0 0 1 0 1), column count, NULL bitmap.
    static Bytes Row(uint32_t id) { return FixedVarRow(Cat(Le(id, 4), {0xA5}), 9, {}, 0x10); }
    static Bytes Cut(const Bytes& row, size_t n) { return Bytes(row.begin(), row.begin() + static_cast<std::ptrdiff_t>(n)); }
    std::vector<TickedTable> Tick() const { return {{kT, store.EntriesOfTable(kT).size()}}; }
};

TEST(CutLoggedRow, TheClickSaysItsBytesDoNotDecode) {
    CutRowsSet set;
    ASSERT_EQ(set.store.Size(), 5u);
    RecordingDetail detail;
    TableSchemaCache schemas;
    OperationDetailView view(set.store, set.holder, *set.catalog, set.state, *set.log, detail, detail, &schemas);
    view.OnOperationClicked(0);
    EXPECT_EQ(detail.status, L"insert into [T] values( 5,'True','False','True','False','False','True','False','True')");
    for (uint64_t i = 1; i < set.store.Size(); ++i) {
        view.OnOperationClicked(i);
        EXPECT_EQ(detail.status, kDoesNotDecode) << i;
        EXPECT_TRUE(detail.rows.empty()) << i;
    }
}

TEST(CutLoggedRow, TheScriptSaveLeavesItOutAndCountsIt) {
    CutRowsSet set;
    const std::filesystem::path dir = ExportScratch("cut-logged-row");
    RecordingSaveView view;
    const ScriptSaveResult result = set.SaveScripts(set.Tick(), dir, view);
    EXPECT_EQ(result.rowsWritten, 1u);
    EXPECT_TRUE(view.Logged(kTableLine));
    const std::wstring table = ReadScript(Utf8ToWide((dir / "Shop/Tables/T/T.sql").string()));
    EXPECT_NE(table.find(L"5,"), std::wstring::npos) << WideToUtf8(table);
    EXPECT_EQ(table.find(L"NULL"), std::wstring::npos);
}

TEST(CutLoggedRow, TheDatabaseSaveLeavesItOutAndCountsIt) {
    KESTRANE_REQUIRE_TDS_ENDPOINT();
    CutRowsSet set;
    TdsEndpoint endpoint;
    ASSERT_TRUE(endpoint.running());
    RecordingSaveView view;
    const DatabaseSaveResult result = set.SaveToDatabase(set.Tick(), endpoint, view);
    EXPECT_EQ(result.rowsAdded, 1u);
    EXPECT_TRUE(view.Logged(kTableLine));
}

}  // namespace
}  // namespace kestrane
