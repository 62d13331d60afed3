// Large values of rebuilt log rows that the data file no longer holds as logged: the records the log
// inserted for them give them back whole, or the value stays unavailable.
#include <gtest/gtest.h>

#include "datafile/DataFileFixture.h"
#include "datafile/DbFileHolder.h"
#include "datafile/MetadataCatalog.h"
#include "datafile/RecordFixtures.h"
#include "datafile/TextPageFixture.h"
#include "logreader/LogFixture.h"
#include "logreader/LoggedLargeValues.h"
#include "logreader/OperationRebuild.h"
#include "platform/ProgressSink.h"

namespace kestrane {
namespace {

using namespace test;

constexpr uint64_t kRowUnit = 0x1000, kTextUnit = 0x2000, kOtherTextUnit = 0x3000;
constexpr uint64_t kMemoBlob = 0x12340000, kBodyBlob = 0x56780000, kOtherBlob = 0x99990000, kKeptBlob = 0x77770000;
constexpr uint32_t kVlf = 7;
constexpr uint64_t kBlockAt = 0x2000;

// A large-value record: status A 0x08 (type 4), its length, the node payload.
Bytes LobRecord(const Bytes& payload, uint8_t statusA = 0x08) {
    Bytes r{statusA, 0};
    Put(r, payload.size() + 4, 2);
    r.insert(r.end(), payload.begin(), payload.end());
    return r;
}

Bytes LobInsert(uint64_t unit, uint32_t page, uint16_t slot, const Bytes& payload, uint8_t statusA = 0x08) {
    RowRecordSpec s;
    s.context = 3;
    s.rowsetId = unit;
    s.page = page;
    s.slot = slot;
    s.elements = {LobRecord(payload, statusA)};
    return RowRecord(s);
}

// A delete (3) or modification (4) of the record at (page, slot) of the text unit.
Bytes Change(uint8_t operation, uint32_t page, uint16_t slot) {
    RowRecordSpec s;
    s.operation = operation;
    s.rowsetId = kTextUnit;
    s.page = page;
    s.slot = slot;
    s.elements = {{1, 2}, {3, 4}};
    return RowRecord(s);
}

// A text page of the data file: the payloads as records of slots 0, 1, ...
Bytes TextPage(uint32_t pageId, const std::vector<Bytes>& payloads) {
    Bytes p(kPageSize, 0);
    p[0] = 1;
    p[1] = 3;
    PutU16(p, 22, static_cast<uint16_t>(payloads.size()));
    PutU32(p, 32, pageId);
    PutU16(p, 36, 1);
    size_t offset = 96;
    for (size_t slot = 0; slot < payloads.size(); ++slot) {
        const Bytes record = LobRecord(payloads[slot]);
        std::copy(record.begin(), record.end(), p.begin() + static_cast<std::ptrdiff_t>(offset));
        PutU16(p, kPageSize - 2 - 2 * slot, static_cast<uint16_t>(offset));
        offset += record.size();
    }
    return p;
}

Bytes Pointer(uint64_t blob, uint32_t page, uint16_t slot) {
    Bytes b;
    Put(b, blob, 8);
    PutRid(b, page, 1, slot);
    return b;
}

Bytes RootOf(uint64_t blob, const std::vector<std::pair<uint32_t, Rid>>& links) {
    Bytes r = InRowRoot(links);
    PutU32(r, 8, static_cast<uint32_t>(blob >> 16));
    return r;
}

// id int, memo text (pointer), body varchar(max) (in-row root).
Bytes Row(int32_t id, const Bytes& memo, const Bytes& body) {
    Bytes fixed;
    Put(fixed, static_cast<uint32_t>(id), 4);
    Bytes row = FixedVarRow(fixed, 3, {memo, body}, 0x30, 0x3);
    row[fixed.size() + 6] = 0;
    return row;
}

Bytes RowInsert(const Bytes& row) {
    RowRecordSpec s;
    s.rowsetId = kRowUnit;
    s.page = 10;
    s.slot = 0;
    s.elements = {row};
    return RowRecord(s);
}

Bytes OneBlockLog(const std::vector<Bytes>& records) {
    LogImage image;
    image.AddVlf(0, kVlf, {LogBlock(kVlf, records, 4, 512)});
    return image.bytes;
}

// A data file where page 20 holds a fragment of another value, page 21 and 22 a page of another table,
// and page 23 a value of its own; the catalogue's units of the table and of another one.
class LoggedLargeValueTest : public ::testing::Test {
protected:
    void SetUp() override {
        Bytes file = BuildDataFile(std::vector<FixturePage>(24, FixturePage{7, 1}));
        const Bytes other = TextPage(20, {OfBlob(DataNode(Text("zzzz")), kOtherBlob)});
        std::copy(other.begin(), other.end(), file.begin() + 20 * kPageSize);
        const Bytes kept = TextPage(23, {OfBlob(DataNode(Text("kept")), kKeptBlob)});
        std::copy(kept.begin(), kept.end(), file.begin() + 23 * kPageSize);
        ASSERT_TRUE(holder.Open(dir.Write("t.mdf", file)));
        catalog.allocationUnits = {AllocationUnitRecord{kRowUnit, 1, 0x500}, AllocationUnitRecord{kTextUnit, 2, 0x500},
                                   AllocationUnitRecord{kOtherTextUnit, 2, 0x600}};
        layout.columns = {LayoutColumn(1, L"id", L"int(4)", kTypeInt, 4),
                          LayoutColumn(2, L"memo", L"text(16)", kTypeText, -1, 1),
                          LayoutColumn(3, L"body", L"varchar(-1)", kTypeVarChar, -2, 1)};
    }

    // The row inserted by the last record of a one-block log holding `records`.
    RowImages Rebuilt(const std::vector<Bytes>& records, bool* readLog = nullptr) {
        const Bytes log = OneBlockLog(records);
        MemoryLogSource source{ByteView(log)};
        OperationRebuilder rebuilder(holder, catalog, state, source);
        rebuilder.DecodeByRowsetColumns(true);
        RowImages images = rebuilder.Rebuild(kBlockAt, kRowUnit, layout, static_cast<uint32_t>(records.size() - 1));
        if (readLog) *readLog = rebuilder.LoggedValues().Built();
        return images;
    }

    // The memo's root (40, 0) and its two fragments (41, 0 and 1); the body's two fragments (22, 0 and 1).
    std::vector<Bytes> ValueRecords() const {
        return {LobInsert(kTextUnit, 41, 0, OfBlob(DataNode(Text("abcd")), kMemoBlob)),
                LobInsert(kTextUnit, 41, 1, OfBlob(DataNode(Text("efgh")), kMemoBlob)),
                LobInsert(kTextUnit, 40, 0, OfBlob(LargeRootNode({{41, 1, 0}, {41, 1, 1}}), kMemoBlob)),
                LobInsert(kTextUnit, 22, 0, OfBlob(DataNode(Text("hello")), kBodyBlob)),
                LobInsert(kTextUnit, 22, 1, OfBlob(DataNode(Text("worldXX")), kBodyBlob))};
    }
    Bytes LoggedRow() const {
        return Row(1, Pointer(kMemoBlob, 40, 0), RootOf(kBodyBlob, {{5, {22, 1, 0}}, {9, {22, 1, 1}}}));
    }

    TempFolder dir;
    RunState state;
    NullProgressSink sink;
    CDbFileHolder holder{state, sink};
    CMetadataCatalog catalog{nullptr, state};
    TableLayout layout;
};

TEST_F(LoggedLargeValueTest, ValuesTheDataFileLostComeWholeFromTheLog) {
    std::vector<Bytes> records = ValueRecords();
    records.push_back(RowInsert(LoggedRow()));
    bool readLog = false;
    RowImages images = Rebuilt(records, &readLog);
    ASSERT_EQ(images.images.size(), 1u);
    EXPECT_EQ(Texts(images.images[0]), (std::vector<std::wstring>{L"1", L"abcdefgh", L"helloworl"}));
    EXPECT_TRUE(readLog);

    // The large-value records carrying the row's own rowset id, as the server logs them.
    records = ValueRecords();
    for (Bytes& record : records) PutU64(record, 0x30, kRowUnit);
    records.push_back(RowInsert(LoggedRow()));
    images = Rebuilt(records);
    ASSERT_EQ(images.images.size(), 1u);
    EXPECT_EQ(Texts(images.images[0]), (std::vector<std::wstring>{L"1", L"abcdefgh", L"helloworl"}));

    // A value the data file gives is taken from it, and the log is not read for it.
    records = ValueRecords();
    records.push_back(RowInsert(LoggedRow()));
    records.back() = RowInsert(Row(2, Pointer(kKeptBlob, 23, 0), RootOf(kKeptBlob, {{4, {23, 1, 0}}})));
    images = Rebuilt(records, &readLog);
    ASSERT_EQ(images.images.size(), 1u);
    EXPECT_EQ(Texts(images.images[0]), (std::vector<std::wstring>{L"2", L"kept", L"kept"}));
    EXPECT_FALSE(readLog);

    // The log holding only part of a value: it stays unavailable, the other one comes back.
    records = ValueRecords();
    records.erase(records.begin() + 1);
    records.push_back(RowInsert(LoggedRow()));
    images = Rebuilt(records);
    ASSERT_EQ(images.images.size(), 1u);
    EXPECT_EQ(images.images[0].state(1), CellState::Unavailable);
    EXPECT_EQ(Texts(images.images[0])[2], L"helloworl");
    // The body's second fragment shorter than its link's end.
    records = ValueRecords();
    records[4] = LobInsert(kTextUnit, 22, 1, OfBlob(DataNode(Text("wo")), kBodyBlob));
    records.push_back(RowInsert(LoggedRow()));
    images = Rebuilt(records);
    ASSERT_EQ(images.images.size(), 1u);
    EXPECT_EQ(Texts(images.images[0])[1], L"abcdefgh");
    EXPECT_EQ(images.images[0].state(2), CellState::Unavailable);
}

// Logged records that lead in circles, belong to another value or table, come after the row, or are
// no large-value records, give nothing.
TEST_F(LoggedLargeValueTest, HostileLoggedRecordsLeaveTheValueUnavailable) {
    const Bytes memoOnly = Row(1, Pointer(kMemoBlob, 40, 0), RootOf(kBodyBlob, {}));
    auto memoState = [&](std::vector<Bytes> records, bool after = false) {
        if (after) records.insert(records.begin(), RowInsert(memoOnly));
        else records.push_back(RowInsert(memoOnly));
        const Bytes log = OneBlockLog(records);
        MemoryLogSource source{ByteView(log)};
        OperationRebuilder rebuilder(holder, catalog, state, source);
        rebuilder.DecodeByRowsetColumns(true);
        const RowImages images = rebuilder.Rebuild(kBlockAt, kRowUnit, layout, after ? 0 : static_cast<uint32_t>(records.size() - 1));
        return images.images.empty() ? CellState::Null : images.images[0].state(1);
    };
    const Bytes fragment = LobInsert(kTextUnit, 41, 0, OfBlob(DataNode(Text("abcd")), kMemoBlob));
    // The root itself, as the baseline.
    EXPECT_EQ(memoState({fragment, LobInsert(kTextUnit, 40, 0, OfBlob(LargeRootNode({{41, 1, 0}}), kMemoBlob))}),
              CellState::Value);
    const std::vector<std::vector<Bytes>> hostile = {
        // A root that links to itself.
        {fragment, LobInsert(kTextUnit, 40, 0, OfBlob(LargeRootNode({{41, 1, 0}, {40, 1, 0}}), kMemoBlob))},
        // Two internal nodes that link to each other.
        {LobInsert(kTextUnit, 40, 0, OfBlob(InternalNode({{40, 1, 1}}), kMemoBlob)),
         LobInsert(kTextUnit, 40, 1, OfBlob(InternalNode({{40, 1, 0}}), kMemoBlob))},
        // A fragment of another value.
        {LobInsert(kTextUnit, 41, 0, OfBlob(DataNode(Text("abcd")), kOtherBlob)),
         LobInsert(kTextUnit, 40, 0, OfBlob(LargeRootNode({{41, 1, 0}}), kMemoBlob))},
        // A root on another table's unit.
        {fragment, LobInsert(kOtherTextUnit, 40, 0, OfBlob(LargeRootNode({{41, 1, 0}}), kMemoBlob))},
        // A root modified after its insert (links added later): the inserted image is not the root.
        {fragment, LobInsert(kTextUnit, 40, 0, OfBlob(LargeRootNode({{41, 1, 0}}), kMemoBlob)),
         Change(4, 40, 0)},
        // A row of a table, not a large-value record.
        {fragment, LobInsert(kTextUnit, 40, 0, OfBlob(LargeRootNode({{41, 1, 0}}), kMemoBlob), 0x30)},
    };
    for (size_t i = 0; i < hostile.size(); ++i) EXPECT_EQ(memoState(hostile[i]), CellState::Unavailable) << i;
    // Records logged after the row's own.
    EXPECT_EQ(memoState({fragment, LobInsert(kTextUnit, 40, 0, OfBlob(LargeRootNode({{41, 1, 0}}), kMemoBlob))}, true),
              CellState::Unavailable);
    // A record whose element runs past its end.
    Bytes cut = LobInsert(kTextUnit, 40, 0, OfBlob(LargeRootNode({{41, 1, 0}}), kMemoBlob));
    PutU16(cut, 0x40, 0x7000);
    EXPECT_EQ(memoState({fragment, cut}), CellState::Unavailable);
}

// The last insert at a slot before the asking record wins; the index keeps no more records than its limit.
TEST(LoggedLargeValues, LatestInsertBeforeTheRecordAndBoundedIndex) {
    const std::vector<AllocationUnitRecord> units = {AllocationUnitRecord{kRowUnit, 1, 0x500},
                                                     AllocationUnitRecord{kTextUnit, 3, 0x500}};
    const Bytes log = OneBlockLog({LobInsert(kTextUnit, 5, 2, OfBlob(DataNode(Text("old")), kMemoBlob)),
                                   LobInsert(kTextUnit, 5, 2, OfBlob(DataNode(Text("new")), kMemoBlob)),
                                   LobInsert(kTextUnit, 5, 2, OfBlob(DataNode(Text("later")), kMemoBlob)),
                                   Change(3, 5, 2)});
    MemoryLogSource source{ByteView(log)};
    LoggedLargeValues logged(source, units);
    LobRid rid;
    rid.page = PageAddress(1, 5);
    rid.slot = 2;
    LobRecordCopy out;
    CLogSeqNo asOf;
    asOf.Set(kVlf, 16, 2);  // the second record
    ASSERT_TRUE(logged.Find(kRowUnit, asOf, rid, kMemoBlob, out));
    EXPECT_EQ(Bytes(out.data.begin() + 10, out.data.end()), Text("new"));
    EXPECT_EQ(out.blobId, kMemoBlob);
    EXPECT_EQ(out.recordType, 4u);
    EXPECT_EQ(logged.RecordCount(), 3u);
    asOf.Set(kVlf, 16, 0);
    EXPECT_FALSE(logged.Find(kRowUnit, asOf, rid, kMemoBlob, out));
    asOf.Set(kVlf, 16, 3);
    EXPECT_TRUE(logged.Find(kRowUnit, asOf, rid, kMemoBlob, out));
    // Deleted after the insert, before the asking record.
    asOf.Set(kVlf, 16, 9);
    EXPECT_FALSE(logged.Find(kRowUnit, asOf, rid, kMemoBlob, out));
    EXPECT_FALSE(logged.Find(kRowUnit, asOf, rid, kOtherBlob, out));
    EXPECT_FALSE(logged.Find(kTextUnit, asOf, rid, kMemoBlob, out));  // a unit without large-value units

    LoggedLargeValues bounded(source, units, 2);
    asOf.Set(kVlf, 16, 3);
    EXPECT_TRUE(bounded.Find(kRowUnit, asOf, rid, 0, out));
    EXPECT_EQ(bounded.RecordCount(), 2u);
    EXPECT_TRUE(bounded.Truncated());
    // A catalogue without large-value units never reads the log.
    const std::vector<AllocationUnitRecord> none = {AllocationUnitRecord{kRowUnit, 1, 0x500}};
    LoggedLargeValues unread(source, none);
    EXPECT_FALSE(unread.Find(kRowUnit, asOf, rid, 0, out));
    EXPECT_FALSE(unread.Built());
}

}  // namespace
}  // namespace kestrane
