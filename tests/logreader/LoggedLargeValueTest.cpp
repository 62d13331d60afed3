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

// One logged tree of large-value records that hundreds of rows' text pointers share: the rows that come
// before one of its records is deleted get the whole value, the rows after it none, and the log's
// records are read once for all of them, not once a row.
TEST_F(LoggedLargeValueTest, SharedLoggedValueIsReadOnce) {
    constexpr uint16_t kInternals = 10, kFragments = 200;
    constexpr uint32_t kRows = 300;
    std::vector<Bytes> records;
    std::vector<Rid> internals;
    std::wstring whole;
    for (uint16_t i = 0; i < kInternals; ++i) {
        std::vector<Rid> fragments;
        for (uint16_t f = 0; f < kFragments; ++f) {
            const std::string text = std::to_string(i * kFragments + f) + ",";
            records.push_back(LobInsert(kTextUnit, 100u + i, f, OfBlob(DataNode(Text(text)), kMemoBlob)));
            fragments.push_back({100u + i, 1, f});
            whole += std::wstring(text.begin(), text.end());
        }
        records.push_back(LobInsert(kTextUnit, 41, i, OfBlob(InternalNode(fragments), kMemoBlob)));
        internals.push_back({41, 1, i});
    }
    records.push_back(LobInsert(kTextUnit, 40, 0, OfBlob(LargeRootNode(internals), kMemoBlob)));
    const size_t firstRow = records.size();
    for (uint32_t r = 0; r < kRows; ++r) {
        if (r == kRows / 2) records.push_back(Change(3, 105, 7));
        records.push_back(RowInsert(Row(static_cast<int32_t>(r), Pointer(kMemoBlob, 40, 0), RootOf(kBodyBlob, {}))));
    }
    // 100 records a block; where each record lies.
    std::vector<Bytes> blocks;
    std::vector<std::pair<uint64_t, uint32_t>> at;
    uint64_t offset = kBlockAt;
    for (size_t from = 0; from < records.size(); from += 100) {
        const std::vector<Bytes> part(records.begin() + static_cast<std::ptrdiff_t>(from),
                                      records.begin() + static_cast<std::ptrdiff_t>(std::min(from + 100, records.size())));
        blocks.push_back(LogBlock(kVlf, part, 4, 512));
        for (uint32_t j = 0; j < part.size(); ++j) at.emplace_back(offset, j);
        offset += blocks.back().size();
    }
    LogImage image;
    image.AddVlf(0, kVlf, blocks);
    MemoryLogSource source{ByteView(image.bytes)};
    OperationRebuilder rebuilder(holder, catalog, state, source);
    rebuilder.DecodeByRowsetColumns(true);
    size_t wholeRows = 0, unavailableRows = 0;
    for (size_t i = firstRow; i < records.size(); ++i) {
        if (records[i][0x16] != 2 || records[i][0x17] == 3) continue;  // the delete, and no row
        const RowImages images = rebuilder.Rebuild(at[i].first, kRowUnit, layout, at[i].second);
        ASSERT_EQ(images.images.size(), 1u) << i;
        const bool afterDelete = i > firstRow + kRows / 2;
        if (afterDelete) {
            unavailableRows += images.images[0].state(1) == CellState::Unavailable;
        } else {
            wholeRows += Texts(images.images[0])[1] == whole;
        }
    }
    EXPECT_EQ(wholeRows, kRows / 2);
    EXPECT_EQ(unavailableRows, kRows / 2);
    // Once before the delete and once after; each record of the tree read from its block once (a
    // block of fragments is read again after the block of their internal node).
    EXPECT_EQ(rebuilder.LoggedValues().ValueReads(), 2u);
    EXPECT_LE(rebuilder.LoggedValues().BlockReads(), 2 * ((kInternals * (kFragments + 1) + 1) / 100 + 1));
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
