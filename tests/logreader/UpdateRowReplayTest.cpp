// Updates as they were: the splice of one logged change (modify-row and modify-columns, every element
// 4-byte aligned from the record's start), and the row of an update rebuilt from its row's history:
// undone from a later delete, found in another slot by its key, redone on a page older than the change.
#include <gtest/gtest.h>

#include <map>

#include "LogFixture.h"
#include "logreader/LogBlock.h"
#include "logreader/LogScanner.h"
#include "logreader/LoggedRowChange.h"
#include "logreader/OperationStore.h"
#include "logreader/RowHistory.h"
#include "logreader/UpdateRowReplay.h"

namespace kestrane {
namespace {

using test::Bytes;
using test::Cat;
using test::Le;
using test::Text;

constexpr uint64_t kRowset = 0x1000;
constexpr uint32_t kPage = 20;
constexpr uint32_t kVlf = 7;
constexpr uint32_t kBlock = 0x2000 / 512;  // the first block's offset from its VLF start, in sectors

// The lock element of a keyed row: ... a key lock with the key's 6-byte hash.
Bytes KeyLock(uint32_t key) {
    Bytes b = {1, 1, 0, 0x0C, 0, 0, 0x4B, 0, 0, 0, 0, 0, 2, 4, 0, 0x0A, 0, 0};
    const Bytes hash = Le(key, 4);
    b.insert(b.end(), hash.begin(), hash.end());
    return b;
}
// The key element of a modify: an index row of one int key column.
Bytes KeyRow(uint32_t key) { return Cat(Cat({0x16}, Le(key, 4)), {1, 0, 0}); }

Bytes Record(uint8_t operation, uint16_t slot, uint16_t offset, std::vector<Bytes> elements) {
    test::RowRecordSpec s;
    s.operation = operation;
    s.rowsetId = kRowset;
    s.page = kPage;
    s.slot = slot;
    s.offsetInRow = offset;
    s.elements = std::move(elements);
    return test::RowRecord(s);
}
Bytes ModifyRow(uint32_t key, uint16_t slot, uint16_t offset, const Bytes& before, const Bytes& after) {
    return Record(4, slot, offset, {before, after, KeyRow(key), KeyLock(key)});
}
struct Piece {
    uint16_t beforeAt, afterAt;
    Bytes before, after;
};
Bytes ModifyColumns(uint32_t key, uint16_t slot, const std::vector<Piece>& pieces) {
    Bytes offsets, lengths;
    for (const Piece& p : pieces) {
        offsets = Cat(Cat(offsets, Le(p.beforeAt, 2)), Le(p.afterAt, 2));
        lengths = Cat(lengths, Le(p.after.size(), 2));
    }
    std::vector<Bytes> elements = {offsets, lengths, KeyRow(key), KeyLock(key)};
    for (const Piece& p : pieces) {
        elements.push_back(p.before);
        elements.push_back(p.after);
    }
    return Record(6, slot, 0, elements);
}
Bytes Insert(uint32_t key, uint16_t slot, const Bytes& row) { return Record(2, slot, 0, {row, {}, KeyLock(key)}); }
Bytes Delete(uint32_t key, uint16_t slot, const Bytes& row) { return Record(3, slot, 0, {row, KeyLock(key)}); }

RowLogRecord View(const Bytes& r) { return RowLogRecord(ByteView(r), LogRecordExtent{0, static_cast<uint32_t>(r.size())}); }

// A row of the test table: key int, amount int, name varchar.
Bytes Row(uint32_t key, uint32_t amount, const std::string& name) {
    return test::FixedVarRow(Cat(Le(key, 4), Le(amount, 4)), 3, {Text(name)});
}
// Offset of the name in such a row: 4 + 8 fixed, 2 + 1 count and bitmap, 2 + 2 variable array.
constexpr uint16_t kNameAt = 19;
constexpr uint16_t kAmountAt = 8;
// A changed name is logged with the variable-array entry that ends it.
constexpr uint16_t kNameEndAt = kNameAt - 2;
Bytes NameTail(const std::string& name) { return Cat(Le(kNameAt + name.size(), 2), Text(name)); }

Bytes Spliced(const Bytes& row, bool undo, const Bytes& record) {
    const auto change = ReadLoggedRowChange(View(record));
    EXPECT_TRUE(change);
    std::vector<uint8_t> out;
    if (!change || !(undo ? UndoRowChange(ByteView(row), *change, out) : RedoRowChange(ByteView(row), *change, out)))
        return {};
    return out;
}

TEST(UpdateRowReplay, SpliceRules) {
    // Modify-row: after bytes shorter, equal and longer than the before bytes ("onHold" <- "onHola...").
    const Bytes head = Text("head:"), tail = Text(":tail");
    for (const std::string after : {"on", "onHo", "onHoldAndMore"}) {
        const Bytes before = Text("onHo"), a = Text(after);
        const Bytes afterRow = Cat(Cat(head, a), tail), beforeRow = Cat(Cat(head, before), tail);
        const Bytes record = ModifyRow(1, 0, 5, before, a);
        EXPECT_EQ(Spliced(afterRow, true, record), beforeRow) << after;
        EXPECT_EQ(Spliced(beforeRow, false, record), afterRow) << after;
        // The after bytes must stand where the record says.
        Bytes wrong = afterRow;
        wrong[5] ^= 0xFF;
        EXPECT_TRUE(Spliced(wrong, true, record).empty()) << after;
        const Bytes moved = Cat(Cat(Text("head"), a), tail);
        if (after != "onHo") {
            EXPECT_TRUE(Spliced(moved, true, record).empty()) << after;
        }
    }

    // Modify-columns with 1-4 pieces of 1-5 bytes (element padding 3, 2, 1, 0 and 3), growing and
    // shrinking; the bytes between pieces are kept.
    const std::vector<std::pair<Bytes, Bytes>> values = {
        {Text("a"), Text("bcdef")}, {Text("gh"), Text("i")}, {Text("jkl"), Text("mnop")}, {Text("qrst"), Text("uv")}};
    for (size_t count = 1; count <= 4; ++count) {
        Bytes beforeRow = Text("<<"), afterRow = Text("<<");
        std::vector<Piece> pieces;
        for (size_t k = 0; k < count; ++k) {
            pieces.push_back({static_cast<uint16_t>(beforeRow.size()), static_cast<uint16_t>(afterRow.size()),
                              values[k].first, values[k].second});
            beforeRow = Cat(Cat(beforeRow, values[k].first), Text("--"));
            afterRow = Cat(Cat(afterRow, values[k].second), Text("--"));
        }
        const Bytes record = ModifyColumns(9, 0, pieces);
        const auto change = ReadLoggedRowChange(View(record));
        ASSERT_TRUE(change);
        ASSERT_EQ(change->pieces.size(), count);
        // The key hash names the row in every kind of record, and tells rows apart.
        EXPECT_EQ(change->keyHash, LoggedKeyHash(View(Delete(9, 3, Row(9, 1, "a")))));
        EXPECT_NE(change->keyHash, LoggedKeyHash(View(Delete(10, 0, Row(10, 1, "a")))));
        for (size_t k = 0; k < count; ++k)
            EXPECT_EQ(Bytes(change->pieces[k].before.data(), change->pieces[k].before.data() + change->pieces[k].before.size()),
                      values[k].first);
        EXPECT_EQ(Spliced(afterRow, true, record), beforeRow) << count;
        EXPECT_EQ(Spliced(beforeRow, false, record), afterRow) << count;
        // A piece whose before offset does not follow from the kept bytes is no change of this row.
        pieces.back().beforeAt = static_cast<uint16_t>(pieces.back().beforeAt + 1);
        EXPECT_TRUE(Spliced(afterRow, true, ModifyColumns(9, 0, pieces)).empty()) << count;
    }
    // Elements that run past the record are no change.
    Bytes cut = ModifyColumns(9, 0, {{2, 2, Text("ab"), Text("cd")}});
    cut.resize(cut.size() - 1);
    EXPECT_FALSE(ReadLoggedRowChange(View(cut)));

    // A row's version tag: the server logs its old bytes as zeros, so they are put back unchecked,
    // also where a piece runs from the columns into the tag; the column bytes are checked.
    const Bytes tagged = Cat(test::FixedVarRow(Cat(Le(73, 4), Le(5, 4)), 3, {Text("ab")}, 0x70), Text("TAG:0123456789"));
    const uint16_t tagAt = static_cast<uint16_t>(tagged.size() - 14);
    const Bytes oldTag(14, 0), untagged(tagged.begin(), tagged.begin() + tagAt);
    EXPECT_EQ(Spliced(tagged, true, ModifyColumns(73, 0, {{tagAt, tagAt, oldTag, Text("TAG:0123456789")}})),
              Cat(untagged, oldTag));
    const Bytes straddling = ModifyRow(73, 0, static_cast<uint16_t>(tagAt - 1), Cat(Text("a"), oldTag),
                                       Cat(Text("b"), Text("TAG:0123456789")));
    EXPECT_EQ(Spliced(tagged, true, straddling), Cat(Bytes(tagged.begin(), tagged.begin() + tagAt - 1), Cat(Text("a"), oldTag)));
    EXPECT_EQ(StoredRowLength(ByteView(tagged)), tagged.size());
    EXPECT_TRUE(Spliced(tagged, true, ModifyRow(73, 0, static_cast<uint16_t>(tagAt - 1), Cat(Text("a"), oldTag),
                                                Cat(Text("c"), Text("TAG:0123456789"))))
                    .empty());

    // The stored length of a data row; bytes after it are not the row's, a cut row has none.
    const Bytes row = Row(73, 5, "onHold");
    EXPECT_EQ(StoredRowLength(ByteView(Cat(row, Text("junk")))), row.size());
    EXPECT_EQ(StoredRowLength(ByteView(row).sub(0, row.size() - 1)), 0u);
    EXPECT_EQ(StoredRowLength(ByteView(Bytes{0x30, 0, 2, 0})), 0u);
}

class FakePages : public DataPageImages {
public:
    bool Read(PageAddress address, std::vector<uint8_t>& image) override {
        const auto it = pages.find(address.pageId);
        if (it == pages.end()) return false;
        image = it->second.image;
        return true;
    }
    // A page holding `rows` in slots 0.., with the LSN of its last change.
    void Put(const std::vector<Bytes>& rows, uint16_t lsnSlot, uint32_t lsnBlock = kBlock) {
        test::PageBuilder page(1, kPage);
        for (const Bytes& row : rows) page.AddRow(row);
        test::PutU32(page.image, kHdrLsn, kVlf);
        test::PutU32(page.image, kHdrLsn + 4, lsnBlock);
        test::PutU16(page.image, kHdrLsn + 8, lsnSlot);
        pages.insert_or_assign(kPage, page);
    }
    std::map<uint32_t, test::PageBuilder> pages;
};

// A log source that counts its reads.
class CountingLog : public LogByteSource {
public:
    explicit CountingLog(ByteView bytes) : bytes_(bytes) {}
    uint64_t Size() const override { return bytes_.Size(); }
    size_t ReadAt(uint64_t offset, void* out, size_t length) const override {
        ++reads;
        return bytes_.ReadAt(offset, out, length);
    }
    mutable uint64_t reads = 0;

private:
    MemoryLogSource bytes_;
};

// The log of `records` (`perBlock` a block), scanned as a listing, with each update's row rebuilt.
struct Replayed {
    explicit Replayed(const std::vector<Bytes>& records, size_t perBlock = SIZE_MAX)
        : bytes(Image(records, perBlock)), log(ByteView(bytes)) {
        const UserTableMap tables = {{kRowset, {77, L"T"}}};
        LogScanner(tables, store).Scan(log);
        history = RowHistory(store, kRowset, log);
        log.reads = 0;
    }
    static Bytes Image(const std::vector<Bytes>& records, size_t perBlock) {
        std::vector<Bytes> blocks;
        for (size_t at = 0; at < records.size(); at += perBlock) {
            const auto from = records.begin() + static_cast<std::ptrdiff_t>(at);
            const auto to = records.size() - at <= perBlock ? records.end() : from + static_cast<std::ptrdiff_t>(perBlock);
            blocks.push_back(test::LogBlock(kVlf, std::vector<Bytes>(from, to)));
        }
        test::LogImage image;
        image.AddVlf(0, kVlf, blocks);
        return image.bytes;
    }
    // Every update of the store, replayed in log order by `replay`.
    std::vector<UpdateRows> EveryUpdate(UpdateRowReplay& replay) {
        std::vector<UpdateRows> rows;
        for (size_t i = 0; i < store.Size(); ++i) {
            const OperationEntry& e = store[i];
            if (e.operation != 4 && e.operation != 6) continue;
            const auto steps = history.StepsOfRow(e.blockOffset, e.slotIndex);
            EXPECT_TRUE(steps);
            if (steps) rows.push_back(replay.Replay(*steps->steps, steps->target));
        }
        return rows;
    }
    // The update that is record `index` of the block (the record's LSN slot is index + 1), replayed
    // afresh or by the replay that keeps its last row.
    UpdateRows Of(uint16_t index, bool fresh = true) {
        const auto steps = history.StepsOfRow(0x2000, index);
        EXPECT_TRUE(steps);
        if (!steps) return {};
        if (fresh) return UpdateRowReplay(pages, log).Replay(*steps->steps, steps->target);
        return kept.Replay(*steps->steps, steps->target);
    }
    Bytes bytes;
    CountingLog log;
    OperationStore store;
    RowHistory history;
    FakePages pages;
    UpdateRowReplay kept{pages, log};
};

void ExpectRows(const UpdateRows& rows, const Bytes& after, const Bytes& before, int line) {
    SCOPED_TRACE(line);
    EXPECT_EQ(rows.failure, RowRebuildFailure::None);
    EXPECT_EQ(rows.after, after);
    EXPECT_EQ(rows.before, before);
}

TEST(UpdateRowReplay, RowHistoryGivesEachUpdateItsRow) {
    const std::vector<Bytes> v = {Row(73, 1, "onHola"), Row(73, 2, "onHola"), Row(73, 2, "onHold"),
                                  Row(73, 3, "onHold and more")};
    const Bytes other = Row(116, 1, "onHola");
    // A chain of three updates to row 73 (amount, then name shorter, then name longer), another
    // row's changes in between, then the delete of row 73. The page no longer holds row 73.
    const std::vector<Bytes> chain = {
        ModifyRow(73, 0, kAmountAt, Le(1, 4), Le(2, 4)),
        ModifyRow(116, 1, kAmountAt, Le(1, 4), Le(5, 4)),
        ModifyColumns(73, 0, {{kNameEndAt, kNameEndAt, NameTail("onHola"), NameTail("onHold")}}),
        ModifyColumns(73, 0, {{kAmountAt, kAmountAt, Le(2, 4), Le(3, 4)},
                              {kNameEndAt, kNameEndAt, NameTail("onHold"), NameTail("onHold and more")}}),
        Delete(73, 0, v[3]),
    };
    Replayed log(chain);
    log.pages.Put({Row(116, 5, "onHola")}, 5);
    ExpectRows(log.Of(0), v[1], v[0], __LINE__);
    ExpectRows(log.Of(2), v[2], v[1], __LINE__);
    ExpectRows(log.Of(3), v[3], v[2], __LINE__);
    // Row 116 is still on the page: undone from there.
    ExpectRows(log.Of(1), Row(116, 5, "onHola"), other, __LINE__);
    // The replay that keeps its last row gives the same rows, walked in log order or back.
    for (uint16_t index : {0, 1, 2, 3, 3, 2, 0, 1}) {
        const UpdateRows fresh = log.Of(index);
        ExpectRows(log.Of(index, false), fresh.after, fresh.before, __LINE__ * 100 + index);
    }

    // A delete whose row does not hold a later change's after bytes: the chain breaks there.
    std::vector<Bytes> broken = chain;
    broken[4] = Delete(73, 0, Row(73, 3, "onHold and less"));
    Replayed bad(broken);
    bad.pages.Put({}, 5);
    EXPECT_EQ(bad.Of(0).failure, RowRebuildFailure::BytesDiffer);
    EXPECT_TRUE(bad.Of(0).after.empty());

    // Inserted in the log: redone from the inserted row.
    Replayed inserted({Insert(73, 0, v[0]), ModifyRow(73, 0, kAmountAt, Le(1, 4), Le(2, 4))});
    ExpectRows(inserted.Of(1), v[1], v[0], __LINE__);
}

// A change logged without a key lock (as when a column is added and every row rewritten) is a step
// of the keyed row at its slot whose keyed change logged the same key, so the keyed changes around it
// chain through it; once that row is deleted, a keyless change at its slot is no step of it.
TEST(UpdateRowReplay, ChangeWithoutKeyLockJoinsTheKeyedRowAtItsSlot) {
    const Bytes tableLock = {1, 1, 0, 0x0C, 0, 0, 0x4B, 0, 0, 0, 0, 0};
    const std::vector<Bytes> v = {Row(73, 1, "onHola"), Row(73, 2, "onHola"), Row(73, 3, "onHola")};
    Replayed log({Insert(73, 0, v[0]), Record(4, 0, kAmountAt, {Le(1, 4), Le(2, 4), KeyRow(73), tableLock}),
                  ModifyRow(73, 0, kAmountAt, Le(2, 4), Le(3, 4)), Delete(73, 0, v[2]),
                  Record(4, 0, kAmountAt, {Le(3, 4), Le(4, 4), KeyRow(73), tableLock})});
    ExpectRows(log.Of(1), v[1], v[0], __LINE__);
    ExpectRows(log.Of(2), v[2], v[1], __LINE__);
    EXPECT_EQ(log.history.RowOf(0x2000, 1), log.history.RowOf(0x2000, 2));
    EXPECT_NE(log.history.RowOf(0x2000, 4), log.history.RowOf(0x2000, 2));

    // A heap logs no key lock at all: its changes stay with the row at their page and slot.
    Replayed heap({Record(2, 0, 0, {v[0], {}, tableLock}), Record(4, 0, kAmountAt, {Le(1, 4), Le(2, 4), KeyRow(73), tableLock})});
    ExpectRows(heap.Of(1), v[1], v[0], __LINE__);
}

// A change of an amount logged without a key lock (a whole-table rewrite), on `page`.
Bytes KeylessAmount(uint32_t key, uint16_t slot, uint32_t from, uint32_t to, uint32_t page = kPage) {
    const Bytes tableLock = {1, 1, 0, 0x0C, 0, 0, 0x4B, 0, 0, 0, 0, 0};
    Bytes record = Record(4, slot, kAmountAt, {Le(from, 4), Le(to, 4), KeyRow(key), tableLock});
    test::PutU32(record, 0x18, page);
    return record;
}

// Rows move up a slot when a lower key is inserted, so the keyed row last logged at a keyless
// change's slot may be another: the change joins the row of the key it logs, by that row's keyed
// changes, or by its insert at the slot when the row holds the key; else it says why it has no row.
TEST(UpdateRowReplay, KeylessChangeJoinsOnlyTheRowOfItsKey) {
    const std::vector<Bytes> rows = {Row(10, 1, "a"), Row(20, 1, "b"), Row(5, 1, "c")};
    // 10 and 20 inserted, 5 inserted at slot 0 (10 and 20 move to 1 and 2); each row then changed.
    Replayed log({Insert(10, 0, rows[0]), Insert(20, 1, rows[1]), Insert(5, 0, rows[2]), KeylessAmount(10, 1, 1, 2),
                  KeylessAmount(20, 2, 1, 2), KeylessAmount(5, 0, 1, 2)});
    ExpectRows(log.Of(5), Row(5, 2, "c"), rows[2], __LINE__);
    for (uint16_t change : {3, 4}) {
        const UpdateRows none = log.Of(change);
        EXPECT_EQ(none.failure, RowRebuildFailure::NoSureRow) << change;
        EXPECT_TRUE(none.after.empty() && none.before.empty()) << change;
    }
    // The page holding them gives each its own row, found by its key.
    log.pages.Put({Row(5, 2, "c"), Row(10, 2, "a"), Row(20, 2, "b")}, 6);
    ExpectRows(log.Of(3), Row(10, 2, "a"), rows[0], __LINE__);
    ExpectRows(log.Of(4), Row(20, 2, "b"), rows[1], __LINE__);

    // A keyed change of 10 logged its key first: 10's keyless change joins 10 wherever it stands.
    Replayed keyed({Insert(10, 0, rows[0]), ModifyRow(10, 0, kAmountAt, Le(1, 4), Le(7, 4)), Insert(5, 0, rows[2]),
                    KeylessAmount(10, 1, 7, 2)});
    ExpectRows(keyed.Of(3), Row(10, 2, "a"), Row(10, 7, "a"), __LINE__);
    EXPECT_EQ(keyed.history.RowOf(0x2000, 3), keyed.history.RowOf(0x2000, 1));

    // Rows moved by what the listing does not hold: 20's change logged at 10's insert slot is no step
    // of 10, whose own change there is redone past it.
    Replayed unseen({Insert(10, 0, rows[0]), KeylessAmount(20, 0, 1, 2), KeylessAmount(10, 0, 1, 3)});
    EXPECT_EQ(unseen.Of(1).failure, RowRebuildFailure::NoSureRow);
    ExpectRows(unseen.Of(2), Row(10, 3, "a"), rows[0], __LINE__);
}

// A split moves the upper rows to a new page, unlisted; inserts then move the rows left behind. A
// keyless change on the new page joins its row by the key its keyed change logged; one left behind
// joins no row whose slot others have moved through.
TEST(UpdateRowReplay, KeylessChangeAfterASplit) {
    constexpr uint32_t kNewPage = kPage + 1;
    Replayed log({Insert(10, 0, Row(10, 1, "a")), Insert(20, 1, Row(20, 1, "b")), Insert(30, 2, Row(30, 1, "c")),
                  Insert(40, 3, Row(40, 1, "d")), ModifyRow(30, 2, kAmountAt, Le(1, 4), Le(5, 4)),
                  Insert(25, 2, Row(25, 1, "e")), Insert(22, 2, Row(22, 1, "f")), KeylessAmount(25, 3, 1, 2),
                  KeylessAmount(30, 0, 5, 6, kNewPage), KeylessAmount(22, 2, 1, 2), KeylessAmount(40, 1, 1, 2, kNewPage)});
    EXPECT_EQ(log.Of(7).failure, RowRebuildFailure::NoSureRow);
    ExpectRows(log.Of(8), Row(30, 6, "c"), Row(30, 5, "c"), __LINE__);
    ExpectRows(log.Of(9), Row(22, 2, "f"), Row(22, 1, "f"), __LINE__);
    EXPECT_EQ(log.Of(10).failure, RowRebuildFailure::NoSureRow);
}

TEST(UpdateRowReplay, RowFoundByKeyAndPageAge) {
    const Bytes was = Row(73, 4, "x"), now = Row(73, 5, "x");
    const std::vector<Bytes> log = {ModifyRow(73, 0, kAmountAt, Le(4, 4), Le(5, 4))};

    // The row moved on to slot 1; slot 0 now holds row 116, whose bytes at the offset match too.
    Replayed moved(log);
    moved.pages.Put({Row(116, 5, "x"), now}, 1);
    ExpectRows(moved.Of(0), now, was, __LINE__);

    // Not on its page, and no logged whole row: nothing to start from.
    moved.pages.Put({Row(116, 5, "x")}, 1);
    EXPECT_EQ(moved.Of(0).failure, RowRebuildFailure::NoStartingRow);
    // Two rows that both could be it: none is taken.
    moved.pages.Put({Row(116, 5, "x"), now, now}, 1);
    EXPECT_EQ(moved.Of(0).failure, RowRebuildFailure::NoStartingRow);

    // A page older than the changes (page LSN before them): they are redone in log order.
    const std::vector<Bytes> two = {ModifyRow(73, 0, kAmountAt, Le(4, 4), Le(5, 4)),
                                    ModifyColumns(73, 0, {{kNameEndAt, kNameEndAt, NameTail("x"), NameTail("yz")}})};
    Replayed older(two);
    older.pages.Put({was}, 0);
    ExpectRows(older.Of(0), now, was, __LINE__);
    ExpectRows(older.Of(1), Row(73, 5, "yz"), now, __LINE__);
    // The page holds the first change only.
    older.pages.Put({now}, 1);
    ExpectRows(older.Of(1), Row(73, 5, "yz"), now, __LINE__);
    ExpectRows(older.Of(0), now, was, __LINE__);
    // A page that holds neither state of the row.
    older.pages.Put({Row(73, 6, "x")}, 0);
    EXPECT_EQ(older.Of(1).failure, RowRebuildFailure::NoStartingRow);
    EXPECT_FALSE(RowRebuildFailureText(RowRebuildFailure::NoStartingRow).empty());
    EXPECT_TRUE(RowRebuildFailureText(RowRebuildFailure::None).empty());
}

// A row changed by `n` updates of its amount (k to k + 1), the middle one logged with before bytes the
// row never held, started from a later delete, from the page, or from an earlier insert. Replayed in
// log order by one replay, every update gives what a replay of its own gives, and the whole walk
// costs steps and block reads in proportion to the chain, not to its square.
TEST(UpdateRowReplay, ChainWithOneBadRecordCostsItsLength) {
    enum class Start { Delete, Page, Insert };
    struct Walked {
        UpdateRowReplay::Cost cost;
        uint64_t logReads = 0;
        size_t failed = 0;
    };
    const auto walk = [](Start start, uint32_t n, bool compareFresh) {
        std::vector<Bytes> records;
        if (start == Start::Insert) records.push_back(Insert(73, 0, Row(73, 0, "x")));
        const uint32_t bad = n / 2;
        for (uint32_t k = 0; k < n; ++k)
            records.push_back(ModifyRow(73, 0, kAmountAt, Le(k == bad ? 999999 : k, 4), Le(k + 1, 4)));
        if (start == Start::Delete) records.push_back(Delete(73, 0, Row(73, n, "x")));
        Replayed log(records, 100);
        if (start == Start::Page) log.pages.Put({Row(73, n, "x")}, 0, 0xFFFFFF);
        UpdateRowReplay replay(log.pages, log.log);
        const std::vector<UpdateRows> kept = log.EveryUpdate(replay);
        Walked walked{replay.Spent(), log.log.reads, 0};
        EXPECT_EQ(kept.size(), n);
        for (const UpdateRows& rows : kept) walked.failed += rows.failure != RowRebuildFailure::None;
        if (compareFresh) {
            size_t i = 0;
            for (size_t e = 0; e < log.store.Size(); ++e) {
                const OperationEntry& entry = log.store[e];
                if (entry.operation != 4) continue;
                const auto steps = log.history.StepsOfRow(entry.blockOffset, entry.slotIndex);
                const UpdateRows fresh = UpdateRowReplay(log.pages, log.log).Replay(*steps->steps, steps->target);
                EXPECT_EQ(kept[i].failure, fresh.failure) << i;
                EXPECT_EQ(kept[i].after, fresh.after) << i;
                EXPECT_EQ(kept[i].before, fresh.before) << i;
                ++i;
            }
            // Clicked again, newest first, the same rows come back.
            UpdateRowReplay back(log.pages, log.log);
            std::vector<UpdateRows> reversed;
            for (size_t e = log.store.Size(); e-- > 0;) {
                const OperationEntry& entry = log.store[e];
                if (entry.operation != 4) continue;
                const auto steps = log.history.StepsOfRow(entry.blockOffset, entry.slotIndex);
                reversed.push_back(back.Replay(*steps->steps, steps->target));
            }
            for (size_t k = 0; k < reversed.size(); ++k) {
                EXPECT_EQ(reversed[k].failure, kept[n - 1 - k].failure) << k;
                EXPECT_EQ(reversed[k].after, kept[n - 1 - k].after) << k;
            }
        }
        return walked;
    };
    for (Start start : {Start::Delete, Start::Page, Start::Insert}) {
        SCOPED_TRACE(static_cast<int>(start));
        const Walked small = walk(start, 400, true);
        // The bad step breaks the chain on one side: undone from a later row the updates before it
        // fail, redone from the insert the updates from it on.
        EXPECT_GE(small.failed, 199u);
        EXPECT_LE(small.failed, 201u);
        const Walked twice = walk(start, 2000, false), four = walk(start, 4000, false);
        EXPECT_LE(four.cost.stepsApplied, 4u * 4000);
        EXPECT_LE(four.cost.stepsApplied, 2 * twice.cost.stepsApplied + 100);
        EXPECT_LE(four.cost.blockReads, 2 * twice.cost.blockReads + 100);
        EXPECT_LE(four.logReads, 2 * twice.logReads + 100);
        EXPECT_LE(four.logReads, 4u * 4000);
    }
}

}  // namespace
}  // namespace kestrane
