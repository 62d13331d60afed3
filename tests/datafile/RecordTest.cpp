#include <gtest/gtest.h>

#include "datafile/PrimaryRecordPage.h"
#include "datafile/Record.h"
#include "platform/RunState.h"
#include "RecordFixtures.h"

namespace kestrane {
namespace {

using test::Bytes;
using test::Cat;
using test::FixedVarRow;
using test::Text;

struct RecordTest : ::testing::Test {
    RunState state{"/nonexistent/collation.txt"};
    PrimaryRecordPage owner{state};

    CPrimaryRecord Parse(const Bytes& row, uint16_t room = 0, RecordForm form = RecordForm::SlotWalk) {
        return CPrimaryRecord(ByteView(row), &owner, room ? room : static_cast<uint16_t>(row.size()), form);
    }
};

TEST_F(RecordTest, FixedVarRowKeepsFixedPartBitmapAndVariableValues) {
    const Bytes row = FixedVarRow({1, 2, 3, 4}, 3, {Text("ab"), Text("xyz")});
    CPrimaryRecord r = Parse(row);
    EXPECT_EQ(r.invalid, 0);
    EXPECT_EQ(r.recordType, 0u);
    EXPECT_EQ(r.fixedLength, 4);
    EXPECT_EQ(r.fixedData.toVector(), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(r.columnCount, 3);
    EXPECT_EQ(r.nullBitmap.size(), 1u);
    ASSERT_EQ(r.columnValues.size(), 2u);
    EXPECT_EQ(r.columnValues[0].length, 2u);
    EXPECT_EQ(Bytes(r.columnValues[0].bytes(), r.columnValues[0].bytes() + 2), Text("ab"));
    EXPECT_EQ(r.columnValues[0].data.size(), 2u);
    // The values lie in the record's own row copy.
    EXPECT_EQ(r.columnValues[0].bytes(), r.rowCopy.data() + row.size() - 5);
    EXPECT_EQ(r.columnValues[1].length, 3u);
    EXPECT_EQ(r.cursor, static_cast<int32_t>(row.size()));
    EXPECT_EQ(r.rowCopy, row);
    // variable data begins after 4 + 4 fixed + 2 count + 1 bitmap + 2 var count + 4 offsets
    EXPECT_EQ(state.rowSplice.variableDataStart, 17);

    // A room shorter than the row: the last value ends past the room and is kept empty.
    CPrimaryRecord cut = Parse(row, static_cast<uint16_t>(row.size() - 1));
    ASSERT_EQ(cut.columnValues.size(), 2u);
    EXPECT_TRUE(cut.columnValues[0].hasData());
    EXPECT_FALSE(cut.columnValues[1].hasData());
    EXPECT_EQ(cut.cursor, static_cast<int32_t>(row.size() - 3));
}

TEST_F(RecordTest, FixedVarBoundsAndEdgeRows) {
    // Fixed-end word 4: no fixed data, column count read at 4.
    CPrimaryRecord noFixed = Parse(FixedVarRow({}, 2, {Text("q")}));
    EXPECT_FALSE(noFixed.hasFixedData());
    EXPECT_EQ(noFixed.columnCount, 2);
    EXPECT_EQ(noFixed.columnValues.size(), 1u);

    // Column counts 0 and 1024 stop before the variable part; 1023 is accepted.
    for (uint16_t count : {0, 1024, 0xFFFF}) {
        CPrimaryRecord r = Parse(FixedVarRow({9}, count, {}, 0x10));
        EXPECT_FALSE(r.hasRowCopy()) << count;
        EXPECT_TRUE(r.nullBitmap.empty()) << count;
    }
    CPrimaryRecord wide = Parse(FixedVarRow({9}, 1023, {}, 0x10));
    EXPECT_TRUE(wide.hasRowCopy());
    EXPECT_EQ(wide.nullBitmap.size(), 128u);

    // An end offset equal to the start of the variable data gives an empty value; later ones parse.
    Bytes row = FixedVarRow({7}, 3, {Bytes{}, Text("abc")});
    CPrimaryRecord empty = Parse(row);
    ASSERT_EQ(empty.columnValues.size(), 2u);
    EXPECT_FALSE(empty.columnValues[0].hasData());
    EXPECT_EQ(empty.columnValues[1].length, 3u);

    // Offsets that point past the room or backwards give empty values and never read outside.
    Bytes lying = FixedVarRow({7}, 3, {Text("a"), Text("b")});
    test::PutU16(lying, lying.size() - 6, 0x7FF0);
    CPrimaryRecord r = Parse(lying);
    ASSERT_EQ(r.columnValues.size(), 2u);
    EXPECT_FALSE(r.columnValues[0].hasData());
    EXPECT_EQ(r.columnValues[1].length, 2u);  // from the unmoved cursor to its end

    // More variable columns than columns: count and cursor drop to 0, no row copy.
    Bytes tooMany = FixedVarRow({7}, 1, {Text("a"), Text("b")});
    CPrimaryRecord t = Parse(tooMany);
    EXPECT_EQ(t.variableCount, 0);
    EXPECT_FALSE(t.hasRowCopy());

    // A fixed part longer than the room is not copied.
    Bytes longFixed = FixedVarRow(Bytes(40, 1), 1, {}, 0x10);
    CPrimaryRecord lf = Parse(longFixed, 20);
    EXPECT_FALSE(lf.hasFixedData());

    // Bytes that end inside the header, fixed part, column count, NULL bitmap, offset array or variable
    // data are cut: no whole row. CD: inside the codes or the short data.
    const Bytes whole = FixedVarRow({1, 2, 3, 4}, 3, {Text("ab"), Text("xyz")});
    const Bytes cd{0x01, 3, 0x23, 0x00, 0xAA, 0xBB, 0xCC};
    for (size_t n = 1; n <= whole.size(); ++n) {
        const Bytes head(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_EQ(Parse(head).cut, n < whole.size()) << n;
        EXPECT_EQ(Parse(head, 0, RecordForm::RawRow).cut, n < whole.size()) << n;
    }
    for (size_t n = 2; n <= cd.size(); ++n)
        EXPECT_EQ(Parse(Bytes(cd.begin(), cd.begin() + static_cast<std::ptrdiff_t>(n))).cut, n < cd.size()) << n;
    EXPECT_EQ(Parse(Cat(whole, Text("more"))).cut, 0);

    // Rows of zero and one byte.
    EXPECT_EQ(Parse(Bytes{0x30}, 1).hasRowCopy(), false);
    CPrimaryRecord none(ByteView(), &owner, 100);
    EXPECT_EQ(none.invalid, 1);
}

TEST_F(RecordTest, StatusBitsGhostsAndAcceptance) {
    const Bytes base = FixedVarRow({1}, 1, {}, 0x10);
    auto withType = [&](uint8_t type) {
        Bytes row = base;
        row[0] = static_cast<uint8_t>(0x10 | (type << 1));
        return row;
    };
    CPrimaryRecord deleted = Parse(withType(6));
    EXPECT_EQ(deleted.invalid, 1);
    EXPECT_EQ(deleted.ghost, 1);
    EXPECT_FALSE(deleted.hasFixedData());
    EXPECT_EQ(Parse(withType(3)).invalid, 1);
    EXPECT_EQ(Parse(withType(1)).invalid, 0);

    state.includeDeletedRows = 1;
    CPrimaryRecord shown = Parse(withType(6));
    EXPECT_EQ(shown.invalid, 0);
    EXPECT_EQ(shown.ghost, 0);
    EXPECT_TRUE(shown.hasRowCopy());
    state.includeDeletedRows = 0;

    Bytes b = base;
    b[0] = 0x10 | 0x40;
    b[1] = 1;
    CPrimaryRecord tagged = Parse(b);
    EXPECT_EQ(tagged.versionTag, 1);
    EXPECT_EQ(tagged.statusBFlag, 1);

    // Page checks: a page type above 17 or a negative own page id refuses every record.
    test::PageBuilder pb(18);
    RecordPage oddPage(pb.Buffer(), nullptr, state);
    EXPECT_EQ(CPrimaryRecord(ByteView(base), &oddPage, 100).invalid, 1);
    test::PageBuilder neg(1, 0x80000000u);
    RecordPage negPage(neg.Buffer(), nullptr, state);
    EXPECT_EQ(CPrimaryRecord(ByteView(base), &negPage, 100).invalid, 1);
    EXPECT_EQ(CPrimaryRecord(ByteView(base), &negPage, 100, RecordForm::RawRow).invalid, 0);
}

TEST_F(RecordTest, ForwardingStubWithoutReadablePageHasNoData) {
    // No data file behind the page: the stub cannot be followed.
    const Bytes stub{0x04, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00};
    CPrimaryRecord r = Parse(stub);
    EXPECT_EQ(r.recordType, 2u);
    EXPECT_EQ(r.fixedLength, kBrokenForwardLength);
    EXPECT_FALSE(r.hasRowCopy());
}

TEST_F(RecordTest, CdRowCountsCodesShortDataAndLongRegion) {
    // 3 columns: code 3 (2 bytes), code 10 (long), code 2 (1 byte); long region with one offset.
    Bytes row{0x21, 3, 0xA3, 0x02, 0xAA, 0xBB, 0xCC, 0x01};
    test::AppendU16(row, 1);
    test::AppendU16(row, 4);
    for (uint8_t c : Text("LONG")) row.push_back(c);
    CPrimaryRecord r = Parse(row);
    EXPECT_EQ(r.invalid, 0);
    EXPECT_EQ(r.compressed, 1);
    EXPECT_EQ(r.cdCodes, (std::vector<int>{3, 10, 2}));
    EXPECT_EQ(r.columnCount, 3);
    EXPECT_EQ(r.fixedData.toVector(), (Bytes{0xAA, 0xBB, 0xCC}));
    EXPECT_EQ(r.fixedLength, 3);
    ASSERT_EQ(r.columnValues.size(), 1u);
    EXPECT_EQ(r.columnValues[0].length, 4u);
    EXPECT_EQ(r.longRegionStart, 7);

    // The CD form parses it even when status A lacks the CD bit.
    Bytes unflagged = row;
    unflagged[0] = 0x20;
    CPrimaryRecord cd = Parse(unflagged, 0, RecordForm::Cd);
    EXPECT_EQ(cd.compressed, 1);
    EXPECT_EQ(cd.fixedData.toVector(), (Bytes{0xAA, 0xBB, 0xCC}));

    // Counts 1..1024 are accepted, 0 and above 1024 refused; 0x85 0x01 reads as 389.
    auto countRow = [](uint8_t b1, uint8_t b2) {
        Bytes r(700, 0);
        r[0] = 0x01;
        r[1] = b1;
        r[2] = b2;
        return r;
    };
    EXPECT_EQ(Parse(countRow(1, 0)).invalid, 0);
    EXPECT_EQ(Parse(countRow(0, 0)).invalid, 1);
    CPrimaryRecord c389 = Parse(countRow(0x85, 0x01));
    EXPECT_EQ(c389.columnCount, 389);
    EXPECT_EQ(c389.cdCodes.size(), 389u);
    EXPECT_EQ(Parse(countRow(0x01, 0x84)).invalid, 0);  // count 1: the next byte is a code byte
    EXPECT_EQ(Parse(countRow(0x85, 0x03)).columnCount, 901);  // 0x0385
    EXPECT_EQ(Parse(countRow(0x80, 0x04)).invalid, 1);        // 0x0480: past 1024

    // Codes stop at the room; a long-region count above the column count is ignored.
    Bytes shortRoom{0x21, 40, 0x99, 0x99};
    CPrimaryRecord sr = Parse(shortRoom);
    EXPECT_EQ(sr.cdCodes.size(), 4u);
    EXPECT_FALSE(sr.hasFixedData() && sr.fixedData.size() != 4096u);
    Bytes lyingLong{0x21, 1, 0x0A, 0x01};
    test::AppendU16(lyingLong, 5);
    test::AppendU16(lyingLong, 0x7FFF);
    CPrimaryRecord ll = Parse(lyingLong);
    EXPECT_TRUE(ll.columnValues.empty());
}

TEST_F(RecordTest, SparseVectorsAndComplexValues) {
    // Sparse vector: type 5, two columns (ids 7, 9), data "hi" and "abc".
    Bytes vec;
    test::AppendU16(vec, 5);
    test::AppendU16(vec, 2);
    test::AppendU16(vec, 7);
    test::AppendU16(vec, 9);
    test::AppendU16(vec, 14);
    test::AppendU16(vec, 17);
    for (uint8_t c : Text("hiabc")) vec.push_back(c);
    CPrimaryRecord r = Parse(FixedVarRow({1}, 2, {vec}, 0x30, 1));
    ASSERT_TRUE(r.sparseVector);
    ASSERT_EQ(r.sparseVector->values.size(), 2u);
    EXPECT_EQ(r.sparseVector->values[0].columnId, 7);
    EXPECT_EQ(r.sparseVector->values[0].length, 2u);
    EXPECT_EQ(r.sparseVector->values[1].columnId, 9);
    EXPECT_EQ(r.sparseVector->values[1].data.getOr<uint8_t>(2, 0), 'c');
    r.sparseVector->Clear();
    EXPECT_TRUE(r.sparseVector->values.empty());

    // A complex value of exactly 16 bytes is never a sparse vector, whatever its type word.
    Bytes pointer(16, 0);
    pointer[0] = 5;
    EXPECT_FALSE(Parse(FixedVarRow({1}, 2, {pointer}, 0x30, 1)).sparseVector);

    // A vector whose count runs past the value is not read; one with a lying end keeps no data.
    SparseVector bad;
    Bytes huge{5, 0, 0xFF, 0x7F, 1, 2};
    bad.Parse(ByteView(huge));
    EXPECT_TRUE(bad.values.empty());
    Bytes lying = vec;
    test::PutU16(lying, 10, 0x7000);
    SparseVector lie;
    lie.Parse(ByteView(lying));
    ASSERT_EQ(lie.values.size(), 2u);
    EXPECT_FALSE(lie.values[1].hasData());
}

TEST_F(RecordTest, ScanRawRowAndTextForms) {
    const Bytes row = FixedVarRow({1, 2}, 2, {Text("abc")});
    int32_t length = 0;
    CPrimaryRecord scanned(ByteView(row), &owner, length);
    EXPECT_EQ(length, static_cast<int32_t>(row.size()));
    EXPECT_FALSE(scanned.hasFixedData());
    EXPECT_FALSE(scanned.hasRowCopy());
    Bytes cd{0x21, 1, 0x02, 0x55};
    CPrimaryRecord cdScan(ByteView(cd), &owner, length);
    EXPECT_EQ(length, -1);
    Bytes stub{0x04, 1, 0, 0, 0, 1, 0, 0, 0};
    CPrimaryRecord stubScan(ByteView(stub), &owner, length);
    EXPECT_EQ(length, -1);

    // Raw-row form: no type check, and a fixed part past the room stops the parse early.
    Bytes index = row;
    index[0] = 0x36;  // type 3
    CPrimaryRecord raw = Parse(index, 0, RecordForm::RawRow);
    EXPECT_EQ(raw.invalid, 0);
    EXPECT_TRUE(raw.hasRowCopy());
    CPrimaryRecord stopped = Parse(row, 5, RecordForm::RawRow);
    EXPECT_EQ(stopped.columnCount, 0);

    Bytes text{0x08, 0};
    test::AppendU16(text, 4 + 14);
    for (uint8_t b : Bytes{1, 2, 3, 4, 5, 6, 7, 8, 3, 0, 'd', 'a', 't', 'a'}) text.push_back(b);
    TextRecord t(ByteView(text), &owner, 8000);
    EXPECT_EQ(t.recordType, 4u);
    EXPECT_EQ(t.blobId, 0x0807060504030201ull);
    EXPECT_EQ(t.largeValueType, 3);
    EXPECT_EQ(t.dataLength, 4);
    TextRecord shortText(ByteView(text), &owner, 10);
    EXPECT_TRUE(shortText.dataCopy.empty());
    EXPECT_EQ(shortText.largeValueType, 8);
}

}  // namespace
}  // namespace kestrane
