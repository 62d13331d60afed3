#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <span>

#include "LogFixture.h"
#include "datafile/CorpusFixture.h"
#include "logreader/LogBlock.h"
#include "logreader/LogReadWindow.h"
#include "logreader/LogRecord.h"
#include "logreader/LogScanner.h"
#include "platform/RunState.h"
#include "platform/TextCodec.h"
#include "support/Corpus.h"
#include "support/RecordingSinks.h"

namespace kestrane {
namespace {

using test::BeginXactRecord;
using test::EndXactRecord;
using test::LogBlock;
using test::LogImage;
using test::RowRecord;
using test::RowRecordSpec;

std::vector<uint8_t> Insert(uint64_t rowset, size_t pad = 0) {
    RowRecordSpec s;
    s.operation = 2;
    s.rowsetId = rowset;
    s.elements = {{0x10, 0x00, 0x08, 0x00, 1, 2, 3, 4}};
    s.padTo = pad;
    return RowRecord(s);
}

struct Scanned {
    OperationStore store;
    LogScanStats stats;
};

std::unique_ptr<Scanned> ScanImage(const std::vector<uint8_t>& bytes, const UserTableMap& tables) {
    auto out = std::make_unique<Scanned>();
    LogScanner scanner(tables, out->store);
    scanner.Scan(MemoryLogSource(ByteView(bytes)));
    out->stats = scanner.Stats();
    return out;
}

const UserTableMap kTables = {{0x1000, {77, L"Orders"}}, {0x2000, {88, L"Items"}}};

// The one-pass scan (in `slices` with reads of `window` bytes) files exactly what the two-pass
// scan files: every field of every entry (the transaction name as text: each scan numbers names in
// its own order), the table map and the counts.
void ExpectSameAsTwoPass(const LogByteSource& source, const UserTableMap& tables, unsigned slices = 0,
                         size_t window = 0) {
    OperationStore one, two;
    LogScanner onePass(tables, one), twoPass(tables, two);
    onePass.Scan(source, slices, window);
    twoPass.ScanTwoPass(source);
    ASSERT_EQ(one.Size(), two.Size());
    for (size_t i = 0; i < one.Size(); ++i) {
        const OperationEntry &a = one[i], &b = two[i];
        ASSERT_TRUE(a.blockOffset == b.blockOffset && a.beginTime == b.beginTime && a.tableIndex == b.tableIndex &&
                    a.slotIndex == b.slotIndex && a.operation == b.operation &&
                    one.TransactionName(a) == two.TransactionName(b))
            << "entry " << i;
    }
    EXPECT_EQ(one.Tables(), two.Tables());
    const LogScanStats &x = onePass.Stats(), &y = twoPass.Stats();
    EXPECT_EQ(std::tie(x.vlfs, x.blocks, x.records, x.filed, x.otherLayoutBlocks, x.compensations, x.undone),
              std::tie(y.vlfs, y.blocks, y.records, y.filed, y.otherLayoutBlocks, y.compensations, y.undone));
}


TEST(LogBlock, StampsAndLyingSlotArrays) {
    auto raw = LogBlock(9, {Insert(0x1000), Insert(0x2000)}, 4, 1536);
    auto header = *LogBlockHeader::Parse(ByteView(raw));
    // The stamped view and the unstamped copy agree.
    LogBlockView stamped(ByteView(raw), header, true);
    UndoSectorStamps(raw.data(), raw.size());
    EXPECT_EQ(raw[0], 4);
    EXPECT_EQ(stamped.Layout(), 4);
    EXPECT_EQ(stamped.Get<uint64_t>(508), *ByteView(raw).u64(508));  // across a sector start
    // Slot positions outside the block read as 0; extents never leave the block.
    LogBlockHeader lying = header;
    lying.slotBase = 0xFFFF;
    lying.recordCount = 3;
    LogBlockView bad(ByteView(raw), lying);
    EXPECT_EQ(bad.SlotOffset(0), 0u);
    EXPECT_EQ(bad.SlotOffset(5000), 0u);
    EXPECT_LE(bad.Extent(2).end, raw.size());
    std::vector<uint16_t> slots;
    bad.SlotArray(slots);
    EXPECT_EQ(slots, (std::vector<uint16_t>{0, 0, 0}));

    // A slot array and record heads across sector starts read the same whole, short or byte by byte.
    const auto many = LogBlock(9, std::vector<std::vector<uint8_t>>(300, Insert(0x1000)), 4, 0);
    const LogBlockView view(ByteView(many), *LogBlockHeader::Parse(ByteView(many)), true);
    view.SlotArray(slots);
    for (uint32_t j = 0; j < 300; ++j) ASSERT_EQ(slots[299 - j], view.SlotOffset(j)) << j;
    for (size_t at = 440; at < 600; ++at) {
        uint8_t small[LogRecordHead::kSize], whole[LogRecordHead::kSize];
        view.CopySmall(at, small);
        view.CopyOut(at, sizeof whole, whole);
        ASSERT_EQ(std::memcmp(small, whole, sizeof small), 0) << at;
    }

    // Only whole sectors are unstamped: a 700-byte block restores byte 0 only.
    std::vector<uint8_t> odd(700, 0);
    odd[512] = 2;
    odd[699] = 9;
    odd[698] = 8;
    UndoSectorStamps(odd.data(), odd.size());
    EXPECT_EQ(odd[0], 9);
    EXPECT_EQ(odd[512], 2);
}

TEST(LogBlock, StampsUndoneInPlaceReadAsTheStampedBlockAndArePutBack) {
    // Blocks of one sector, a few, an odd size and the largest (127 whole sectors).
    for (size_t minSize : {size_t{512}, size_t{0}, size_t{1700}, size_t{65535}}) {
        SCOPED_TRACE(minSize);
        RowRecordSpec s;
        s.operation = 4;
        s.context = 0x13;
        s.flags = 1;
        s.transaction = 0x0000ABCD12345678ULL;
        s.rowsetId = 0x0102030405060708ULL;
        s.previous = {7, 8, 9};
        s.pagePrevious = {10, 11, 12};
        s.elements = {{1, 2, 3}};
        const size_t records = minSize == 512 ? 1 : 200;
        auto block = LogBlock(9, std::vector<std::vector<uint8_t>>(records, RowRecord(s)), 4, minSize);
        if (minSize % 512) {
            // A size no sector count divides, up to the largest a block header can give.
            block.resize(minSize);
            test::PutU16(block, 6, static_cast<uint16_t>(minSize));
        }
        const std::vector<uint8_t> stored = block;
        const auto header = *LogBlockHeader::Parse(ByteView(stored));
        const LogBlockView stamped(ByteView(stored), header, true);
        std::vector<uint8_t> unstamped(stored.size());
        stamped.CopyOut(0, unstamped.size(), unstamped.data());
        {
            const SectorStampsUndone undone{std::span<uint8_t>(block)};
            ASSERT_EQ(block, unstamped);
            const LogBlockView plain(ByteView(block), header);
            ASSERT_TRUE(plain.Plain());
            EXPECT_FALSE(stamped.Plain());
            // Every head, across sector starts or not, reads in place as the copied head does.
            std::vector<uint16_t> slots;
            plain.SlotArray(slots);
            for (uint16_t at : slots) {
                if (at + LogRecordHeadAt::kSize > block.size()) continue;
                const LogRecordHeadAt inPlace(block.data() + at);
                const LogRecordHead copied(stamped, at);
                ASSERT_EQ(inPlace.Operation(), copied.Operation()) << at;
                EXPECT_EQ(inPlace.Context(), copied.Context());
                EXPECT_EQ(inPlace.Flags(), copied.Flags());
                EXPECT_EQ(inPlace.FixedLength(), copied.FixedLength());
                EXPECT_EQ(inPlace.TransactionId(), copied.TransactionId());
                EXPECT_EQ(inPlace.RowsetId(), copied.RowsetId());
                EXPECT_EQ(inPlace.Previous(), copied.Previous());
                EXPECT_EQ(inPlace.PagePrevious(), copied.PagePrevious());
            }
        }
        EXPECT_EQ(block, stored);  // as stored again for whoever reads it next
    }
}

TEST(LogRecord, ElementWalkAndBeginTransaction) {
    RowRecordSpec s;
    s.operation = 4;
    s.elements = {{1, 2, 3}, {4, 5}, {6}};
    auto rec = RowRecord(s);
    auto walkCount = [&rec](size_t cut) {
        RowLogRecord r(ByteView(rec), LogRecordExtent{0, static_cast<uint32_t>(rec.size() - cut)});
        LogElementWalk walk(r);
        ByteView el;
        int n = 0;
        while (walk.Next(el)) {
            if (n == 1) { EXPECT_EQ(el.u8(0), 4); }  // aligned to 4 from element 0's start
            ++n;
        }
        return n;
    };
    EXPECT_EQ(walkCount(0), 3);
    // A record shorter than its element lengths ends the walk where the data run out.
    EXPECT_EQ(walkCount(1), 2);

    // Begin-transaction names, read through a stamped block as the scan reads them.
    auto nameOf = [](const std::vector<uint8_t>& rec, std::wstring& name, uint64_t& time) {
        auto block = LogBlock(1, {rec});
        LogBlockView view(ByteView(block), *LogBlockHeader::Parse(ByteView(block)), true);
        std::vector<uint8_t> scratch;
        ByteView raw;
        uint64_t t = time;
        if (!ReadBeginTransaction(view, view.Extent(0), scratch, raw, t)) return false;
        DecodeTransactionName(raw, name);
        time = t;
        return true;
    };
    std::wstring name;
    uint64_t time = 5;
    EXPECT_TRUE(nameOf(BeginXactRecord(u"user_transaction", 0x1122334455667788ULL, 2), name, time));
    EXPECT_EQ(name, L"user_transaction");
    EXPECT_EQ(time, 0x1122334455667788ULL);
    // One field: the name follows the length array with no padding.
    EXPECT_TRUE(nameOf(BeginXactRecord(u"QName Cleanup", 7, 1), name, time));
    EXPECT_EQ(name, L"QName Cleanup");
    // A zero character cuts the name.
    EXPECT_TRUE(nameOf(BeginXactRecord(std::u16string(u"ab\0cd", 5), 7, 2), name, time));
    EXPECT_EQ(name, L"ab");
    // A name across a sector start is read with the stamp undone.
    EXPECT_TRUE(nameOf(BeginXactRecord(std::u16string(300, u'n'), 7, 2, 0), name, time));
    EXPECT_EQ(name, std::wstring(300, L'n'));
    // Field count 0 and lying lengths leave name and time as they were.
    EXPECT_FALSE(nameOf(BeginXactRecord(u"x", 99, 0), name, time));
    auto lying = BeginXactRecord(u"x", 99, 2);
    test::PutU16(lying, 0x42, 0xFFF0);
    EXPECT_FALSE(nameOf(lying, name, time));
    test::PutU16(lying, 0x40, 0xFFFF);  // a field count whose lengths run out of the record
    EXPECT_FALSE(nameOf(lying, name, time));
    test::PutU16(lying, 0x02, 0xFFF0);  // a fixed part longer than the record
    EXPECT_FALSE(nameOf(lying, name, time));
    EXPECT_EQ(name, std::wstring(300, L'n'));
    EXPECT_EQ(time, 7u);
}

// Records of the transaction tests: a begin of `x`, a row of table 0x1000 in `x`, an end of `x`.
std::vector<uint8_t> Begin(uint64_t x, const char16_t* name, uint64_t time = 0, uint16_t fields = 2) {
    return BeginXactRecord(name, time ? time : x, fields, 200, x);
}
std::vector<uint8_t> Row(uint64_t x, uint64_t rowset = 0x1000) {
    RowRecordSpec s;
    s.rowsetId = rowset;
    s.transaction = x;
    s.elements = {{0x10, 0x00, 0x08, 0x00, 1, 2, 3, 4}};
    return RowRecord(s);
}

// The transaction names the scans give a log, in entry order; every scan must give the same.
std::vector<std::wstring> NamesOf(const std::vector<uint8_t>& bytes, const UserTableMap& tables = kTables) {
    const MemoryLogSource source{ByteView(bytes)};
    std::vector<std::vector<std::wstring>> byScan;
    for (int scan = 0; scan < 3; ++scan) {
        OperationStore store;
        LogScanner scanner(tables, store);
        if (scan == 0) scanner.Scan(source);
        else if (scan == 1) scanner.Scan(source, 3, 1);  // VLFs in other slices than their neighbours
        else scanner.ScanTwoPass(source);
        auto& names = byScan.emplace_back();
        for (size_t i = 0; i < store.Size(); ++i) names.push_back(store.TransactionName(store[i]));
    }
    EXPECT_EQ(byScan[0], byScan[1]);
    EXPECT_EQ(byScan[0], byScan[2]);
    return byScan[0];
}

TEST(LogScan, FilesUserTableRowsWithTheirTransaction) {
    LogImage img;
    RowRecordSpec sys;
    sys.rowsetId = 0x3000;  // no user table owns it
    auto sysRec = RowRecord(sys);
    RowRecordSpec ctx;
    ctx.rowsetId = 0x1000;
    ctx.context = 5;  // not a filed context
    RowRecordSpec ghost;
    ghost.rowsetId = 0x2000;
    ghost.context = 0x13;
    ghost.operation = 5;
    img.AddVlf(0, 1,
               {LogBlock(1, {Insert(0x1000), BeginXactRecord(u"first", 0x0000000100000002ULL), Insert(0x2000),
                             sysRec, RowRecord(ctx), RowRecord(ghost), BeginXactRecord(u"ignored", 3, 0),
                             Insert(0x1000)}),
                LogBlock(1, {BeginXactRecord(u"first", 4, 1), Insert(0x1000)})});
    auto s = ScanImage(img.bytes, kTables);
    const auto& st = s->store;
    ASSERT_EQ(st.Size(), 5u);
    // Before any begin-transaction record: empty name, time 0.
    EXPECT_EQ(st.ObjectId(st[0]), 77u);
    EXPECT_EQ(st.TransactionName(st[0]), L"");
    EXPECT_EQ(st[0].beginTime, 0u);
    EXPECT_EQ(st[0].blockOffset, 0x2000u);
    EXPECT_EQ(st.TableName(st[1]), L"Items");
    EXPECT_EQ(st.TransactionName(st[1]), L"first");
    EXPECT_EQ(st[1].beginTime, 0x0000000100000002ULL);
    EXPECT_EQ(st[1].slotIndex, 2u);
    // Every operation code of a filed context is kept (code 5 under context 0x13).
    EXPECT_EQ(st[2].operation, 5);
    // A field count of 0 keeps the current name and time.
    EXPECT_EQ(st.TransactionName(st[3]), L"first");
    EXPECT_EQ(st[3].beginTime, 0x0000000100000002ULL);
    EXPECT_EQ(st[4].beginTime, 4u);
    EXPECT_EQ(st.EntriesOfTable(77).size(), 3u);
    EXPECT_EQ(st.Tables().size(), 2u);
}

TEST(LogScan, EachEntryTakesItsOwnTransaction) {
    struct Vlf {
        size_t offset;
        uint32_t sequence;
        std::vector<std::vector<uint8_t>> records;
    };
    struct Case {
        const char* what;
        std::vector<Vlf> vlfs;
        std::vector<std::wstring> names;
    };
    const Case cases[] = {
        {"interleaved: a system transaction begun after the user one; an id begun nowhere takes neither",
         {{0, 1, {Begin(1, u"user_transaction"), Begin(2, u"AllocFirstPage"), Row(1), Row(2),
                  Row(0x0000123400000001ULL), EndXactRecord(2), Row(1), EndXactRecord(1)}}},
         {L"user_transaction", L"AllocFirstPage", L"", L"user_transaction"}},
        {"begun in an earlier VLF that lies later in the file",
         {{0, 2, {Row(5), Begin(6, u"six"), Row(5), Row(6)}}, {16384, 1, {Begin(5, u"five")}}},
         {L"five", L"five", L"six"}},
        {"open across VLFs, then ended: later rows of its id take no other transaction's name",
         {{0, 1, {Begin(1, u"one"), Row(1)}},
          {16384, 2, {Row(1), Begin(2, u"two"), Row(1), EndXactRecord(1, 0x82), Row(1)}},
          {32768, 3, {Row(1)}}},
         {L"one", L"one", L"one", L"", L""}},
        {"no begin record of its id in the log (begun before it): no name; no id: the last begin record",
         {{0, 1, {Row(9), Begin(1, u"SplitPage"), Row(9), Row(0)}}, {16384, 2, {Row(8)}}},
         {L"", L"", L"SplitPage", L""}},
        {"a begin record without a name field names nothing, not even the transaction before",
         {{0, 1, {Begin(1, u"one"), Begin(2, u"two", 0, 0), Row(2)}}},
         {L""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LogImage img;
        for (const Vlf& v : c.vlfs) img.AddVlf(v.offset, v.sequence, {LogBlock(v.sequence, v.records)});
        EXPECT_EQ(NamesOf(img.bytes), c.names);
    }
    // The begin time comes with the name; a transaction begun before the log has time 0 in every scan.
    LogImage img;
    img.AddVlf(0, 1, {LogBlock(1, {Begin(1, u"a", 111), Begin(2, u"b", 222), Row(1), Row(3)})});
    img.AddVlf(16384, 2, {LogBlock(2, {Row(4)})});
    for (int scan = 0; scan < 2; ++scan) {
        OperationStore store;
        LogScanner scanner(kTables, store);
        const MemoryLogSource source{ByteView(img.bytes)};
        if (scan == 0) scanner.Scan(source);
        else scanner.ScanTwoPass(source);
        ASSERT_EQ(store.Size(), 3u);
        EXPECT_EQ(store[0].beginTime, 111u);
        EXPECT_EQ(store[1].beginTime, 0u);
        EXPECT_EQ(store[2].beginTime, 0u);
    }
}

TEST(LogScan, NamesAlikeAtBothEndsKeepTheirOwnText) {
    // Names met lately are told apart by their length and ends first: these share both (or are
    // shorter than a word) and differ only inside, at every place a long name is compared.
    const std::u16string longName = u"abcdefghijklmnopqrstuvwxyz0123456789";
    std::vector<std::u16string> names = {u"abcd1wxyz", u"abcd2wxyz", u"ab", u"abc", u"abcd", u"abcde", u""};
    for (size_t at = 4; at + 4 < longName.size(); at += 3) {
        std::u16string changed = longName;
        changed[at] = u'#';
        names.push_back(changed);
    }
    names.push_back(longName);
    // Names of 32 bytes and less are compared in words: each changed inside one word only.
    for (size_t chars : {size_t{9}, size_t{12}, size_t{16}}) {
        for (size_t at = 4; at + 4 < chars; ++at) {
            std::u16string changed = longName.substr(0, chars);
            changed[at] = u'#';
            names.push_back(changed);
        }
    }
    std::vector<std::vector<uint8_t>> records;
    std::vector<std::wstring> expected;
    for (int round = 0; round < 2; ++round) {
        for (size_t i = 0; i < names.size(); ++i) {
            const uint64_t x = round * 100 + i + 1;
            records.push_back(Begin(x, names[i].c_str()));
            records.push_back(Row(x));
            expected.emplace_back(names[i].begin(), names[i].end());
        }
    }
    LogImage img;
    img.AddVlf(0, 1, {LogBlock(1, records)});
    EXPECT_EQ(NamesOf(img.bytes), expected);
}

// A record at slot j of the first block of VLF `vlf` has CLogSeqNo {vlf, 0x2000 / 512, 1 + j}.
test::Lsn At(uint32_t vlf, uint16_t j) { return {vlf, 16, static_cast<uint16_t>(1 + j)}; }

std::vector<uint8_t> Change(uint8_t op, uint64_t x, test::Lsn previous, test::Lsn pagePrevious, bool undo = false) {
    RowRecordSpec s;
    s.operation = op;
    s.context = op == 3 ? 0x13 : 2;
    s.rowsetId = 0x1000;
    s.transaction = x;
    s.previous = previous;
    s.pagePrevious = pagePrevious;
    s.flags = undo ? 1 : 0;
    s.elements = undo && op == 3 ? std::vector<std::vector<uint8_t>>{{}, {}}
                                 : std::vector<std::vector<uint8_t>>{{0x10, 0x00, 0x08, 0x00, 1, 2, 3, 4}};
    return RowRecord(s);
}

TEST(LogScan, CompensationRecordsAndWhatTheyUndoAreLeftOut) {
    struct Case {
        const char* what;
        std::vector<std::vector<std::vector<uint8_t>>> vlfs;  // records of VLF 1, 2, ...
        std::vector<uint16_t> kept;                           // slots of the entries left
        uint64_t compensations, undone;
    };
    const Case cases[] = {
        {"a failed statement in a committed transaction: its insert is undone",
         {{Begin(1, u"user_transaction"), Change(2, 1, At(1, 0), {}), Change(2, 1, At(1, 1), At(1, 1)),
           Change(3, 1, At(1, 1), At(1, 2), true), EndXactRecord(1)}},
         {1}, 1, 1},
        {"a rolled-back transaction of deletes on one page, undone in reverse order",
         {{Begin(2, u"user_transaction"), Change(3, 2, At(1, 0), {}), Change(3, 2, At(1, 1), At(1, 1)),
           Change(2, 2, At(1, 1), At(1, 2), true), Change(2, 2, At(1, 0), At(1, 3), true), EndXactRecord(2, 0x82)}},
         {}, 2, 2},
        {"another transaction changed the page in between",
         {{Begin(1, u"a"), Begin(2, u"b"), Change(2, 1, At(1, 0), {}), Change(2, 2, At(1, 1), At(1, 2)),
           Change(3, 1, At(1, 0), At(1, 3), true)}},
         {3}, 1, 1},
        {"the undone record lies in the VLF before",
         {{Begin(1, u"a"), Change(2, 1, At(1, 0), {})}, {Change(3, 1, At(1, 0), At(1, 1), true)}},
         {}, 1, 1},
        {"the undone record is not in the log",
         {{Change(3, 1, At(7, 0), At(7, 1), true), Change(2, 1, At(1, 0), {})}},
         {1}, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LogImage img;
        for (uint32_t v = 0; v < c.vlfs.size(); ++v) img.AddVlf(v * 16384, v + 1, {LogBlock(v + 1, c.vlfs[v])});
        const MemoryLogSource source{ByteView(img.bytes)};
        for (unsigned slices : {1u, 2u}) {
            OperationStore store;
            LogScanner scanner(kTables, store);
            scanner.Scan(source, slices, 1);
            std::vector<uint16_t> kept;
            for (size_t i = 0; i < store.Size(); ++i) kept.push_back(store[i].slotIndex);
            EXPECT_EQ(kept, c.kept);
            EXPECT_EQ(scanner.Stats().compensations, c.compensations);
            EXPECT_EQ(scanner.Stats().undone, c.undone);
            EXPECT_EQ(scanner.Stats().filed, c.kept.size());
            EXPECT_EQ(store.Tables().size(), c.kept.empty() ? 0u : 1u);  // no table of undone rows only
        }
        ExpectSameAsTwoPass(source, kTables);
    }

    // A rollback of 300 inserts on one page: each compensation record's chain passes what the
    // earlier ones undid. And an undone insert past the first block of a run's entries.
    std::vector<std::vector<uint8_t>> records{Begin(1, u"bulk")};
    for (uint16_t j = 1; j <= 300; ++j) records.push_back(Change(2, 1, At(1, j - 1), j > 1 ? At(1, j - 1) : test::Lsn{}));
    for (uint16_t k = 1; k <= 300; ++k) records.push_back(Change(3, 1, At(1, 300 - k), At(1, 300 + k - 1), true));
    std::vector<std::vector<uint8_t>> blocks{LogBlock(1, records)};
    const uint32_t bulkBlocks = static_cast<uint32_t>(blocks[0].size() / 512);
    const auto hundred = LogBlock(1, std::vector<std::vector<uint8_t>>(100, Change(2, 2, {}, {})));
    for (int b = 0; b < 50; ++b) blocks.push_back(hundred);
    // Undoes record 7 of the 46th block of inserts: entry 4507 once the 300 undone are gone.
    const test::Lsn target{1, 16 + bulkBlocks + 45 * static_cast<uint32_t>(hundred.size() / 512), 8};
    blocks.push_back(LogBlock(1, {Change(3, 2, {}, target, true)}));
    LogImage img;
    img.AddVlf(0, 1, blocks);
    OperationStore store;
    LogScanner scanner(kTables, store);
    scanner.Scan(MemoryLogSource(ByteView(img.bytes)));
    EXPECT_EQ(scanner.Stats().undone, 301u);
    ASSERT_EQ(store.Size(), 4999u);
    EXPECT_EQ(store[4506].slotIndex, 6u);
    EXPECT_EQ(store[4507].slotIndex, 8u);
}

// Transaction 1 inserts row A, transaction 2 changes the same page 300 times, transaction 1 rolls
// back: A is not listed, whether the changes between share A's block or fill blocks of their own, and
// however many changes lie on the page's chain between the compensation record and A.
TEST(LogScan, ARolledBackChangeIsFoundHoweverBusyItsPage) {
    constexpr uint16_t kChanges = 300;
    for (const uint16_t perBlock : {uint16_t{kChanges + 2}, uint16_t{100}}) {
        SCOPED_TRACE(perBlock);
        // Records in log order; record i goes to block i / perBlock. Its CLogSeqNo follows from the
        // sizes of the blocks before, which do not depend on the CLogSeqNos the records hold.
        auto blocksOf = [&](const std::vector<test::Lsn>& lsns) {
            std::vector<std::vector<uint8_t>> records{Begin(1, u"a"), Change(2, 1, lsns[0], {})};
            for (uint16_t k = 0; k < kChanges; ++k)
                records.push_back(Change(4, 2, k ? lsns[2 + k - 1] : test::Lsn{}, lsns[1 + k]));
            records.push_back(Change(3, 1, lsns[0], lsns[1 + kChanges], true));
            std::vector<std::vector<uint8_t>> blocks;
            for (size_t i = 0; i < records.size(); i += perBlock)
                blocks.push_back(LogBlock(1, {records.begin() + static_cast<ptrdiff_t>(i),
                                              records.begin() + static_cast<ptrdiff_t>(std::min(records.size(), i + perBlock))}));
            return blocks;
        };
        std::vector<test::Lsn> lsns(kChanges + 3);
        uint32_t blockAt = 16;
        const auto sized = blocksOf(lsns);
        for (size_t i = 0, b = 0; i < lsns.size(); ++i) {
            if (i && i % perBlock == 0) blockAt += static_cast<uint32_t>(sized[b++].size() / 512);
            lsns[i] = {1, blockAt, static_cast<uint16_t>(1 + i % perBlock)};
        }
        LogImage img;
        img.AddVlf(0, 1, blocksOf(lsns));
        const MemoryLogSource source{ByteView(img.bytes)};
        for (unsigned slices : {1u, 2u}) {
            OperationStore store;
            LogScanner scanner(kTables, store);
            scanner.Scan(source, slices, 1);
            EXPECT_EQ(scanner.Stats().compensations, 1u);
            EXPECT_EQ(scanner.Stats().undone, 1u);
            ASSERT_EQ(store.Size(), kChanges);
            for (size_t i = 0; i < store.Size(); ++i) EXPECT_EQ(store[i].operation, 4) << "entry " << i;
        }
        ExpectSameAsTwoPass(source, kTables);
    }
}

// Crafted logs of many compensation records sharing one key: all undoing one record of their block,
// or all naming one record as the one before the change they undo, their page chains leading
// nowhere, so that each takes the latest change of that key not undone yet. Either costs what the
// log holds, not its square.
TEST(LogScan, RollbacksSharingOneUndoKeyCostTheirLength) {
    // The steps taken; with `firstSlot`, the entries kept are those of the slots from it on.
    auto scan = [](const std::vector<uint8_t>& bytes, size_t kept, uint64_t undone, uint16_t firstSlot = 0) {
        OperationStore store;
        LogScanner scanner(kTables, store);
        scanner.Scan(MemoryLogSource(ByteView(bytes)));
        EXPECT_EQ(scanner.Stats().undone, undone);
        EXPECT_EQ(store.Size(), kept);
        for (size_t i = 0; i < store.Size(); ++i) {
            if (store[i].operation == 2 && (!firstSlot || store[i].slotIndex == firstSlot + i)) continue;
            ADD_FAILURE() << "entry " << i;
            break;
        }
        return scanner.Stats().undoSteps;
    };
    // One block whose slot array names an insert n times (n up to 16000), then n times a compensation
    // record whose page chain leads to the first of them.
    auto oneUndone = [](uint16_t n) {
        const std::vector<std::vector<uint8_t>> two{Change(2, 1, At(7, 0), {}), Change(3, 1, At(7, 0), At(1, 0), true)};
        auto block = LogBlock(1, two, 4, 0xFE00, false);
        const uint16_t base = *ByteView(block).u16(4), change = *ByteView(block).u16(base - 2),
                       compensation = *ByteView(block).u16(base - 4), end = 0xFE00 - 200;  // clear of the stamps
        for (uint16_t j = 0; j < 2 * n; ++j) test::PutU16(block, end - 2 - 2 * j, j < n ? change : compensation);
        test::PutU16(block, 2, static_cast<uint16_t>(2 * n));
        test::PutU16(block, 4, end);
        test::StampBlock(block.data(), block.size());
        LogImage img;
        img.AddVlf(0, 1, {block});
        return img.bytes;
    };
    // Transaction 1: `kept` inserts, `undoing` deletes and `undoing` compensation records, 200 a block.
    auto latestOfKey = [](uint32_t kept, uint32_t undoing) {
        std::vector<std::vector<uint8_t>> records, blocks;
        for (uint32_t k = 0; k < kept + 2 * undoing; ++k)
            records.push_back(Change(k < kept ? 2 : 3, 1, At(1, 0), {}, k >= kept + undoing));
        for (auto from = records.begin(); from != records.end(); from += std::min<ptrdiff_t>(200, records.end() - from))
            blocks.push_back(LogBlock(1, {from, from + std::min<ptrdiff_t>(200, records.end() - from)}));
        LogImage img;
        img.AddVlf(0, 1, blocks);
        return img.bytes;
    };
    for (const auto& bytes : {oneUndone(300), latestOfKey(180, 120)})
        ExpectSameAsTwoPass(MemoryLogSource(ByteView(bytes)), kTables);
    scan(latestOfKey(180, 120), 180, 120);
    for (const bool keyed : {false, true}) {
        SCOPED_TRACE(keyed);
        auto cost = [&](uint16_t n) { return keyed ? scan(latestOfKey(0, n), 0, n) : scan(oneUndone(n), n - 1, 1, 1); };
        // The 6000 entries of the larger block fill more than the first block of the run's entries.
        const uint64_t twice = cost(3000), four = cost(6000);
        EXPECT_LE(four, 4u * 6000);
        EXPECT_LE(four, 2 * twice + 100);
    }
}

TEST(LogScan, OtherLayoutsAndEmptyLogs) {
    // Blocks of the 2000 layout and of an unknown layout file nothing; layout 6 files.
    LogImage img;
    img.AddVlf(0, 1, {LogBlock(1, {BeginXactRecord(u"one", 1), Insert(0x1000)})});
    img.AddVlf(16384, 2, {LogBlock(2, {Insert(0x1000)}, 2), LogBlock(2, {Insert(0x1000)}, 7),
                          LogBlock(2, {Insert(0x1000)}, 6)});
    auto s = ScanImage(img.bytes, kTables);
    ASSERT_EQ(s->store.Size(), 2u);
    EXPECT_EQ(s->store.TransactionName(s->store[1]), L"one");
    EXPECT_EQ(s->stats.otherLayoutBlocks, 2u);
    EXPECT_EQ(s->stats.vlfs, 2u);

    // Empty logs and logs without a signature give nothing.
    EXPECT_EQ(ScanImage({}, kTables)->store.Size(), 0u);
    EXPECT_EQ(ScanImage(std::vector<uint8_t>(81920, 0xAB), kTables)->store.Size(), 0u);
}

TEST(LogScan, RecordsNearTheBlockEndAndDamagedBlocks) {
    // A record whose first 192 bytes pass the block's end ends the walk of that block.
    auto block = LogBlock(1, {Insert(0x1000), Insert(0x1000)});
    const uint16_t base = *ByteView(block).u16(4);
    const uint16_t size = *ByteView(block).u16(6);
    test::PutU16(block, base - 4, static_cast<uint16_t>(size - 100));
    LogImage img;
    img.AddVlf(0, 1, {block});
    EXPECT_EQ(ScanImage(img.bytes, kTables)->store.Size(), 1u);

    auto walkOf = [](std::vector<uint8_t> b) {
        LogImage i;
        i.AddVlf(0, 1, {b, LogBlock(1, {Insert(0x1000)})});
        return ScanImage(i.bytes, kTables)->store.Size();
    };
    // Size 0 or below the header ends the VLF; a size not a multiple of 512 is walked.
    auto zero = LogBlock(1, {Insert(0x1000)});
    test::PutU16(zero, 6, 0);
    EXPECT_EQ(walkOf(zero), 0u);
    test::PutU16(zero, 6, 27);
    EXPECT_EQ(walkOf(zero), 0u);
    // A 1000-byte block: sector 0's true byte sits at 999, and the next block follows at 1000.
    auto odd = LogBlock(1, {Insert(0x1000)}, 4, 1024);
    const uint8_t layout = odd[1023];
    odd.resize(1000);
    odd[999] = layout;
    test::PutU16(odd, 6, 1000);
    EXPECT_EQ(walkOf(odd), 2u);
    // Slot arrays and record counts that point outside the block: only the next block files.
    auto slots = LogBlock(1, {Insert(0x1000)});
    test::PutU16(slots, 4, 0xFFFF);
    test::PutU16(slots, 2, 0xFFFF);
    EXPECT_EQ(walkOf(slots), 1u);

    // A block running past the end of the file reads zeros there: its first sector's true byte
    // (the layout) is lost with the tail, so it is walked and files nothing.
    LogImage tail;
    tail.AddVlf(0, 1, {LogBlock(1, {Insert(0x1000)}, 4, 8192)});
    tail.bytes.resize(0x2000 + 600);
    auto cut = ScanImage(tail.bytes, kTables);
    EXPECT_EQ(cut->stats.blocks, 1u);
    EXPECT_EQ(cut->store.Size(), 0u);

    // A VLF header whose offset lies: past the file, or pointing at another VLF's blocks.
    LogImage lie;
    lie.AddVlf(0, 1, {LogBlock(1, {Insert(0x1000)})});
    lie.AddVlf(16384, 2, {}, 0xFFFFFFFFFFFFFFF0ULL);
    lie.AddVlf(24576, 3, {}, 0);
    EXPECT_EQ(ScanImage(lie.bytes, kTables)->store.Size(), 1u);
}

TEST(LogScan, ReadWindowFileAndShrinkingFile) {
    // Enough blocks that they cross many windows of the smallest size, in two VLFs.
    std::vector<std::vector<uint8_t>> blocks;
    for (int b = 0; b < 40; ++b) {
        std::vector<std::vector<uint8_t>> records;
        records.push_back(BeginXactRecord(b % 2 ? u"odd" : u"even", static_cast<uint64_t>(b)));
        for (int r = 0; r < 8; ++r) records.push_back(Insert(r % 2 ? 0x1000 : 0x2000, 300));
        blocks.push_back(LogBlock(1, records, 5, 40000));
    }
    const size_t bs = blocks[0].size();
    LogImage img;
    const size_t end = img.AddVlf(0, 1, blocks);
    img.AddVlf((end + 8192) / 8192 * 8192, 2, {LogBlock(2, {Insert(0x1000)})});

    const MemoryLogSource memory{ByteView(img.bytes)};
    {
        auto same = [&img](ByteView v, size_t at, size_t n) {
            return v.size() == n && std::memcmp(v.data(), img.bytes.data() + at, n) == 0;
        };
        LogReadWindow window(memory, 0);  // the smallest window: 64 KiB reads
        for (size_t pos = 0x2000; pos < end; pos += bs) ASSERT_TRUE(same(window.Fetch(pos, bs), pos, bs)) << pos;
        // Blocks cut by a window's end are completed from the next read: each byte is read once.
        EXPECT_LE(window.BytesRead(), img.bytes.size() - 0x2000);
        EXPECT_GE(window.BytesRead(), end - 0x2000);
        EXPECT_TRUE(same(window.Fetch(0, 16), 0, 16));  // back to the start
        EXPECT_EQ(window.Fetch(img.bytes.size() - 10, 40000).size(), 10u);
        EXPECT_TRUE(window.Fetch(img.bytes.size(), 28).empty());
    }
    OperationStore inMemory;
    LogScanner(kTables, inMemory).Scan(memory);
    ASSERT_EQ(inMemory.Size(), 40u * 8 + 1);
    EXPECT_EQ(inMemory.TransactionName(inMemory[8]), L"odd");
    EXPECT_EQ(inMemory.EntriesOfTable(88).size(), 160u);

    const std::string path = ::testing::TempDir() + "/kestrane-logscan-test.ldf";
    {
        BinaryFile out;
        ASSERT_TRUE(out.open(path, BinaryFile::Mode::CreateWrite));
        ASSERT_TRUE(out.write(img.bytes.data(), img.bytes.size()));
    }
    test::ScriptedPrompter prompter;
    BinaryFile file;
    OperationStore fromFile;
    ScanLdfFile(file, path, kTables, fromFile, prompter);
    EXPECT_TRUE(file.isOpen());  // kept open for the rebuild
    ASSERT_EQ(fromFile.Size(), inMemory.Size());
    EXPECT_EQ(fromFile[300].blockOffset, inMemory[300].blockOffset);
    // The file shrinks after its size was taken: the reads past the new end come back short and
    // the walk ends there, without a crash.
    {
        const FileLogSource source(file);
        std::filesystem::resize_file(path, 0x2000 + 5 * bs + 100);
        OperationStore shrunk;
        LogScanner(kTables, shrunk).Scan(source);
        EXPECT_EQ(shrunk.Size(), 5u * 8);
    }
    std::remove(path.c_str());

    // A log file that cannot be opened: the message, nothing filed.
    OperationStore none;
    ScanLdfFile(file, "/nonexistent/x.ldf", kTables, none, prompter);
    ASSERT_EQ(prompter.messages.size(), 1u);
    EXPECT_EQ(prompter.messages[0].text, L"LDF File Cannot be open...");
    EXPECT_EQ(none.Size(), 0u);
}

// A plain reading of a log, apart from the scan: every examinable record of every block of every
// VLF, read whole with its stamps undone, with the head fields at their offsets, and the name and
// time of each transaction id's begin-transaction record.
struct PlainLog {
    struct Record {
        uint64_t transaction = 0;
        uint16_t flags = 0;
        uint8_t context = 0;
        uint64_t rowset = 0;
    };
    std::map<std::pair<uint64_t, uint16_t>, Record> records;  // by block offset and slot
    std::map<uint64_t, std::pair<std::wstring, uint64_t>> begins;
    // The name of the last begin-transaction record read before each record: what an entry carried
    // when names were taken in scan order.
    std::map<std::pair<uint64_t, uint16_t>, std::wstring> lastBeginBefore;
};

PlainLog ReadPlain(const LogByteSource& source) {
    PlainLog log;
    std::vector<uint8_t> buffer;
    std::wstring lastBegin;
    for (const auto& [sequence, vlf] : LogScanner::FindVlfs(source)) {
        for (uint64_t pos = vlf.offset + 0x2000; pos < source.Size();) {
            auto block = ReadLogBlock(source, pos, buffer);
            if (!block || block->header().lsn.vlfSequence != sequence) break;
            const ByteView b(buffer);
            for (uint32_t j = 0; buffer[0] >= 3 && buffer[0] <= 6 && j < block->RecordCount() && block->Examinable(j); ++j) {
                const size_t at = block->SlotOffset(j);
                const uint64_t x = b.getOr<uint32_t>(at + 0x10, 0) | uint64_t{b.getOr<uint16_t>(at + 0x14, 0)} << 32;
                log.records[{pos, static_cast<uint16_t>(j)}] = {x, b.getOr<uint16_t>(at + 0x0E, 0),
                                                               b.getOr<uint8_t>(at + 0x17, 0), b.getOr<uint64_t>(at + 0x30, 0)};
                log.lastBeginBefore[{pos, static_cast<uint16_t>(j)}] = lastBegin;
                const size_t var = at + b.getOr<uint16_t>(at + 2, 0);
                const uint16_t fields = b.getOr<uint16_t>(var, 0);
                if (b.getOr<uint8_t>(at + 0x16, 0) != 0x80 || fields == 0) continue;
                std::wstring name;
                const size_t nameAt = var + (2 + 2 * size_t{fields} + 3) / 4 * 4;
                for (size_t c = 0; c < b.getOr<uint16_t>(var + 2, 0) / 2u && b.getOr<uint16_t>(nameAt + 2 * c, 0); ++c)
                    name.push_back(static_cast<wchar_t>(*b.u16(nameAt + 2 * c)));
                lastBegin = name;
                if (x != 0) log.begins[x] = {name, b.getOr<uint64_t>(at + 0x28, 0)};
            }
            pos += block->Size();
        }
    }
    return log;
}

// Every rowset id that a filed-context record of the log carries: a map that files every row
// operation of a log whose data file is missing.
UserTableMap EveryRowsetOf(const PlainLog& log) {
    UserTableMap tables;
    for (const auto& [place, record] : log.records)
        if (logfmt::IsFiledContext(record.context) && !tables.count(record.rowset))
            tables[record.rowset] = {static_cast<uint32_t>(tables.size() % 7 + 1), L"T" + std::to_wstring(tables.size())};
    return tables;
}

// On every corpus log: both scans file the same, and each entry carries the name and time of its own
// transaction's begin record wherever the log holds it (the plain reading finds it by id).
TEST(LogScan, BothScansAgreeAndEachEntryHasItsOwnTransactionOnEveryCorpusLog) {
    KESTRANE_REQUIRE_CORPUS();
    std::set<std::string> checked;
    size_t named = 0, renamed = 0;
    for (const test::CorpusSet& set : test::CorpusSets()) {
        UserTableMap tables;
        if (!set.dataFiles.empty())
            if (test::OpenedDataFile opened(set.dataFiles.front()); opened.catalog) BuildUserTableMap(*opened.catalog, tables);
        for (const auto& log : set.logFiles) {
            SCOPED_TRACE(set.name + "/" + log.filename().string());
            BinaryFile file;
            ASSERT_TRUE(file.open(log.string()));
            const FileLogSource source(file);
            const PlainLog plain = ReadPlain(source);
            const UserTableMap all = EveryRowsetOf(plain);
            ExpectSameAsTwoPass(source, tables.empty() ? all : tables);
            // Every row operation, in slices and through small windows.
            ExpectSameAsTwoPass(source, all, 3, 1);
            checked.insert(set.name + "/" + log.filename().string());

            OperationStore store;
            LogScanner(all, store).Scan(source);
            for (size_t i = 0; i < store.Size(); ++i) {
                const OperationEntry& e = store[i];
                const PlainLog::Record& r = plain.records.at({e.blockOffset, e.slotIndex});
                EXPECT_EQ(r.flags & 1, 0) << "a compensation record filed";
                auto begin = plain.begins.find(r.transaction);
                if (begin == plain.begins.end()) continue;  // the log does not hold it: the last one before
                EXPECT_EQ(store.TransactionName(e), begin->second.first) << "entry " << i;
                EXPECT_EQ(e.beginTime, begin->second.second) << "entry " << i;
                ++named;
                renamed += plain.lastBeginBefore.at({e.blockOffset, e.slotIndex}) != begin->second.first;
            }
        }
    }
    test::ExpectEveryListedChecked(test::CorpusListedFileKeys(test::ListedKind::Log), checked);
    EXPECT_GT(named, 0u);
    std::printf("row operations of every rowset: %zu named by their own transaction's begin record, %zu of "
                "them not by the last one before them\n", named, renamed);
}

// A log of VLFs at random places and in random order: duplicate and zero sequences, headers whose
// offset points elsewhere (back, ahead, past the end), blocks of other sequences, VLFs whose
// blocks run over the next header, false signatures and a cut end. Its records belong to a few
// transaction ids (reused, ended, some rows of none) and include compensation records that undo
// earlier rows, or point at records that are no row or not there.
std::vector<uint8_t> RandomLog(std::mt19937& rng) {
    auto pick = [&rng](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
    LogImage img;
    const uint32_t places = 4 + pick(60);
    img.Ensure(size_t{places} * 8192);
    const char16_t* names[] = {u"a", u"b", u"user_transaction", u""};
    struct Made {
        test::Lsn own, previous;
        uint64_t transaction = 0;
    };
    std::vector<Made> rows;  // the rows made so far
    auto anyLsn = [&]() -> test::Lsn {
        if (rows.empty() || pick(4) == 0) return {pick(8), 16 + pick(4), static_cast<uint16_t>(pick(8))};
        return rows[pick(static_cast<uint32_t>(rows.size()))].own;
    };
    for (uint32_t v = 0, vlfs = 1 + pick(10); v < vlfs; ++v) {
        const size_t at = size_t{pick(places)} * 8192;
        const uint32_t sequence = pick(8);
        uint64_t home = at;  // where its blocks go
        switch (pick(8)) {
            case 0: case 1: home = size_t{pick(places)} * 8192; break;
            case 2: home = uint64_t{pick(places * 8192)}; break;
            case 3: home = UINT64_MAX - pick(9000); break;
            default: break;
        }
        std::vector<std::vector<uint8_t>> blocks;
        size_t blockAt = 0x2000;
        for (uint32_t b = 0, n = pick(7); b < n; ++b) {
            const uint32_t tag = pick(6) == 0 ? pick(8) : sequence;
            std::vector<std::vector<uint8_t>> records;
            for (uint32_t r = 0, m = 1 + pick(6); r < m; ++r) {
                const uint64_t x = pick(6);
                const test::Lsn own{tag, static_cast<uint32_t>(blockAt / 512), static_cast<uint16_t>(1 + r)};
                switch (pick(8)) {
                    case 0: case 1:
                        records.push_back(BeginXactRecord(names[pick(4)], rng(), static_cast<uint16_t>(pick(3)), 200, x));
                        break;
                    case 2: records.push_back(EndXactRecord(x, pick(2) ? 0x81 : 0x82)); break;
                    case 3: {
                        // Undoes a row made before (its transaction and previous record), or not.
                        const Made undone = rows.empty() ? Made{} : rows[pick(static_cast<uint32_t>(rows.size()))];
                        RowRecordSpec s;
                        s.operation = static_cast<uint8_t>(2 + pick(2));
                        s.rowsetId = 0x1000 * (1 + pick(3));
                        s.flags = 1;
                        s.transaction = pick(4) ? undone.transaction : x;
                        s.previous = pick(4) ? undone.previous : anyLsn();
                        s.pagePrevious = pick(4) ? undone.own : anyLsn();
                        records.push_back(RowRecord(s));
                        break;
                    }
                    default: {
                        RowRecordSpec s;
                        s.rowsetId = 0x1000 * (1 + pick(3));
                        s.transaction = x;
                        s.previous = anyLsn();
                        s.pagePrevious = anyLsn();
                        s.elements = {{0x10, 0x00, 0x08, 0x00, 1, 2, 3, 4}};
                        rows.push_back({own, s.previous, x});
                        records.push_back(RowRecord(s));
                    }
                }
            }
            blocks.push_back(LogBlock(tag, records, static_cast<uint8_t>(3 + pick(4)), 512 + pick(30000)));
            blockAt += blocks.back().size();
        }
        img.AddVlf(at, sequence, home == at ? blocks : std::vector<std::vector<uint8_t>>{}, home);
        if (home != at && home < img.bytes.size()) img.PutBlocks(home, home + 0x2000, blocks);
    }
    for (uint32_t k = pick(4); k > 0; --k) {  // a signature in the middle of some block
        const size_t at = size_t{pick(static_cast<uint32_t>(img.bytes.size() / 8192))} * 8192;
        img.bytes[at] = 0xAB;
        img.bytes[at + 1] = pick(2) ? 0x40 : 0x80;
    }
    if (pick(4) == 0) img.bytes.resize(pick(static_cast<uint32_t>(img.bytes.size())));
    return img.bytes;
}

TEST(LogScan, OnePassFilesWhatTwoPassFilesOnAwkwardLogs) {
    // File order 3, 1, 2 and a second header of 2; a block of another sequence ends the walk of 1;
    // 5's blocks run over two headers: 6 points back at 1's blocks, 7 ahead at blocks of its own
    // behind the header of 8; 4 points at 3's blocks.
    auto xact = [](const char16_t* n, uint64_t t) { return BeginXactRecord(n, t); };
    LogImage img;
    img.AddVlf(0, 3, {LogBlock(3, {Insert(0x1000), xact(u"three", 3), Insert(0x1000)})});
    img.AddVlf(16384, 1, {LogBlock(1, {xact(u"one", 1), Insert(0x1000)}), LogBlock(9, {Insert(0x1000)})});
    img.AddVlf(32768, 2, {LogBlock(2, {Insert(0x2000)}), LogBlock(2, {xact(u"two", 2)})});
    img.AddVlf(49152, 2, {LogBlock(2, {xact(u"dup", 9), Insert(0x1000)})});
    img.AddVlf(65536, 5, {LogBlock(5, {Insert(0x1000), xact(u"five", 50), Insert(0x2000)}, 4, 30000),
                          LogBlock(5, {Insert(0x1000), xact(u"five", 51), Insert(0x2000)}, 4, 30000)});
    img.AddVlf(81920, 6, {}, 16384);
    img.AddVlf(90112, 7, {}, 139264);
    img.AddVlf(139264, 8, {LogBlock(7, {Insert(0x2000), xact(u"seven", 7), Insert(0x1000)})});
    img.AddVlf(180224, 4, {}, 0);
    // 10 points back at blocks of its own that no header precedes.
    img.AddVlf(196608, 10, {}, 155648);
    img.PutBlocks(155648, 163840, {LogBlock(10, {Insert(0x1000), xact(u"ten", 10), Insert(0x2000)})});
    {
        OperationStore store;
        LogScanner scanner(kTables, store);
        scanner.Scan(MemoryLogSource(ByteView(img.bytes)));
        std::vector<std::wstring> names;
        for (size_t i = 0; i < store.Size(); ++i) names.push_back(store.TransactionName(store[i]));
        // Leading entries of a VLF carry the transaction the VLF before it in sequence order ends in.
        EXPECT_EQ(names, (std::vector<std::wstring>{L"one", L"one", L"two", L"three", L"three", L"five", L"five",
                                                    L"five", L"five", L"seven", L"seven", L"ten"}));
        EXPECT_EQ(store[1].beginTime, 1u);
        EXPECT_EQ(store[8].beginTime, 51u);
        EXPECT_EQ(store[11].blockOffset, 163840u);
        EXPECT_EQ(scanner.Stats().vlfs, 9u);
    }
    for (unsigned slices = 1; slices <= 5; ++slices) {
        SCOPED_TRACE(slices);
        ExpectSameAsTwoPass(MemoryLogSource(ByteView(img.bytes)), kTables, slices, 1);
    }
    // A VLF of more entries than a first chunk of them holds.
    std::vector<std::vector<uint8_t>> many(45, LogBlock(2, std::vector<std::vector<uint8_t>>(100, Insert(0x2000))));
    many[20] = LogBlock(2, {xact(u"many", 20), Insert(0x1000)});
    LogImage large;
    large.AddVlf(0, 1, {LogBlock(1, {Insert(0x1000), xact(u"one", 1)})});
    large.AddVlf(8192 * 4, 2, many);
    ExpectSameAsTwoPass(MemoryLogSource(ByteView(large.bytes)), kTables, 2, 1);

    std::mt19937 rng(20261206);
    for (int i = 0; i < 250; ++i) {
        const std::vector<uint8_t> bytes = RandomLog(rng);
        SCOPED_TRACE(i);
        ExpectSameAsTwoPass(MemoryLogSource(ByteView(bytes)), kTables, 1 + i % 4, 1);
        if (HasFatalFailure()) return;
    }
}

}  // namespace
}  // namespace kestrane
