#include <gtest/gtest.h>

#include <vector>

#include "datafile/DataPage.h"
#include "datafile/RecordFixtures.h"
#include "datafile/RowValueDecoder.h"
#include "datafile/TextPageFixture.h"
#include "platform/RunState.h"

namespace kestrane {
namespace {

using namespace kestrane::test;

// A FixedVar row: fixed part, column count, the first byte of the NULL bitmap, variable values
// (complex ones flagged).
struct Row {
    uint8_t statusA = 0x30;
    Bytes fixed;
    uint16_t columns = 0;
    uint8_t nulls = 0;
    std::vector<std::pair<Bytes, bool>> variable;

    Bytes Build() const {
        std::vector<Bytes> values;
        uint16_t complexMask = 0;
        for (size_t k = 0; k < variable.size(); ++k) {
            values.push_back(variable[k].first);
            if (variable[k].second) complexMask = static_cast<uint16_t>(complexMask | (1u << k));
        }
        Bytes row = FixedVarRow(fixed, columns, values, statusA, complexMask);
        row[fixed.size() + 6] = nulls;
        return row;
    }
};

std::unique_ptr<CDataPage> MakePage(const std::vector<Bytes>& rows, RunState& state) {
    PageBuilder pb;
    for (const Bytes& row : rows) pb.AddRow(row);
    return std::make_unique<CDataPage>(pb.Buffer(), nullptr, state);
}

// id int, price money, two bits, name varchar(20), data varbinary(10) NULL, note nvarchar(10) NULL
TableLayout SampleLayout() {
    TableLayout layout;
    layout.columns = {LayoutColumn(1, L"id", L"int(4)", kTypeInt, 4),
                      LayoutColumn(2, L"price", L"money(8)", kTypeMoney, 8),
                      LayoutColumn(3, L"a", L"bit(1)", kTypeBit, 16),
                      LayoutColumn(4, L"b", L"bit(1)", kTypeBit, 16),
                      LayoutColumn(5, L"name", L"varchar(20)", kTypeVarChar, -1),
                      LayoutColumn(6, L"data", L"varbinary(10)", kTypeVarBinary, -2, 1),
                      LayoutColumn(7, L"note", L"nvarchar(20)", kTypeNVarChar, -3, 1)};
    return layout;
}

Row SampleRow(int32_t id, Bytes name, Bytes data, Bytes note, uint8_t nulls = 0) {
    Row r;
    Put(r.fixed, static_cast<uint32_t>(id), 4);
    Put(r.fixed, 1234500, 8);
    r.fixed.push_back(0x02);
    r.columns = 7;
    r.nulls = nulls;
    r.variable = {{name, false}, {data, false}, {note, false}};
    return r;
}

TEST(RowValueDecoderTest, FixedVariableAndNullRules) {
    RunState state;
    Row ghost = SampleRow(2, {'g'}, {}, {});
    ghost.statusA = 0x3C;  // type 6: kept only with deleted rows included
    std::vector<Bytes> rows{SampleRow(1, {'a', 'b'}, {0x01, 0xAB}, {'h', 0, 'i', 0}).Build(), ghost.Build(),
                            SampleRow(3, {'c'}, {}, {}, 0x60).Build()};
    {
        auto page = MakePage(rows, state);
        TableLayout layout = SampleLayout();
        const auto& decoded = DecodeRowValuesByRowsetColumns(*page, layout);
        ASSERT_EQ(decoded.size(), 2u);
        EXPECT_EQ(Texts(decoded[0]),
                  (std::vector<std::wstring>{L"1", L"123.4500", L"False", L"True", L"ab", L"0x01AB", L"hi"}));
        EXPECT_EQ(Texts(decoded[1]), (std::vector<std::wstring>{L"3", L"123.4500", L"False", L"True", L"c", L"NULL", L"NULL"}));
        // Values are handed out once; the page keeps its earlier rows.
        const auto& again = DecodeRowValuesByRowsetColumns(*page, layout);
        ASSERT_EQ(again.size(), 4u);
        EXPECT_EQ(again[2].state(4), CellState::Unavailable);
    }
    {
        // The plain decoder: a NULL varbinary is NULL, not an empty binary value.
        auto page = MakePage(rows, state);
        TableLayout layout = SampleLayout();
        layout.columns[1].nullable = 1;
        auto decoded = DecodeRowValues(*page, layout);
        ASSERT_EQ(decoded.size(), 2u);
        EXPECT_EQ(decoded[1].state(5), CellState::Null);
        EXPECT_EQ(decoded[1].state(6), CellState::Null);
        EXPECT_EQ(Texts(decoded[0])[1], L"123.4500");
    }
    {
        // A NULL fixed value reads "NULL", not the bytes it leaves in the fixed part.
        auto page = MakePage({SampleRow(6, {'n'}, {}, {}, 0x02).Build()}, state);
        TableLayout layout = SampleLayout();
        layout.columns[1].nullable = 1;
        EXPECT_EQ(DecodeRowValues(*page, layout)[0].state(1), CellState::Null);
        auto again = MakePage({SampleRow(6, {'n'}, {}, {}, 0x02).Build()}, state);
        EXPECT_EQ(DecodeRowValuesByRowsetColumns(*again, layout)[0].state(1), CellState::Null);
    }
    {
        state.includeDeletedRows = 1;
        auto page = MakePage(rows, state);
        TableLayout layout = SampleLayout();
        EXPECT_EQ(DecodeRowValuesByRowsetColumns(*page, layout).size(), 3u);
        state.includeDeletedRows = 0;
    }
    {
        // Not in the layout: "NULL" whatever the record holds; a computed column is passed over.
        auto page = MakePage(rows, state);
        TableLayout layout = SampleLayout();
        layout.columns[1].inLayout = 0;
        layout.columns[4].ordinal = kOrdinalNotStored;
        auto decoded = DecodeRowValuesByRowsetColumns(*page, layout);
        ASSERT_EQ(decoded.size(), 2u);
        EXPECT_EQ(decoded[0].state(1), CellState::Null);
        EXPECT_EQ(decoded[0].state(4), CellState::Computed);
        EXPECT_EQ(Texts(decoded[0])[5], L"0x01AB");
    }
    {
        // Trailing values left out of the offset array: empty with the NULL bit clear, NULL with it set;
        // nothing when the offset array itself is refused (NULL when nullable, for the plain decoder). A
        // row whose first column gives nothing is dropped by the plain decoder.
        Row shortRow = SampleRow(4, {'x'}, {}, {});
        shortRow.variable.resize(1);
        Row nullTail = SampleRow(7, {'z'}, {}, {}, 0x40);
        nullTail.variable.resize(1);
        Row noId = SampleRow(5, {'y'}, {}, {});
        noId.fixed.clear();
        Bytes refused = shortRow.Build();
        PutU16(refused, shortRow.fixed.size() + 7, 9);  // more variable values than columns
        auto page = MakePage({shortRow.Build(), noId.Build(), nullTail.Build(), refused}, state);
        TableLayout layout = SampleLayout();
        layout.columns[6].nullable = 0;
        auto decoded = DecodeRowValues(*page, layout);
        ASSERT_EQ(decoded.size(), 3u);
        EXPECT_EQ(Texts(decoded[0]), (std::vector<std::wstring>{L"4", L"123.4500", L"False", L"True", L"x", L"0x", L""}));
        EXPECT_EQ(decoded[0].state(6), CellState::Value);
        EXPECT_EQ(decoded[1].state(6), CellState::Null);
        EXPECT_EQ(decoded[2].state(5), CellState::Null);
        EXPECT_EQ(decoded[2].state(6), CellState::Unavailable);
        auto again = MakePage({shortRow.Build()}, state);
        EXPECT_EQ(Texts(DecodeRowValuesByRowsetColumns(*again, layout)[0])[6], L"");
    }
}

// A row holds the columns its table had when it was written. id int, qty int, name varchar(20),
// note nvarchar(10) NULL, then two columns added later: extra int NULL and flag int NOT NULL.
TEST(RowValueDecoderTest, RowsWrittenBeforeAColumnExisted) {
    RunState state;
    TableLayout layout;
    layout.columns = {LayoutColumn(1, L"id", L"int(4)", kTypeInt, 4), LayoutColumn(2, L"qty", L"int(4)", kTypeInt, 8),
                      LayoutColumn(3, L"name", L"varchar(20)", kTypeVarChar, -1),
                      LayoutColumn(4, L"note", L"nvarchar(20)", kTypeNVarChar, -2, 1),
                      LayoutColumn(5, L"extra", L"int(4)", kTypeInt, 12, 1), LayoutColumn(6, L"flag", L"int(4)", kTypeInt, 16)};
    Row old;
    Put(old.fixed, 1, 4);
    Put(old.fixed, 2, 4);
    old.columns = 4;
    old.variable = {{Text("ab"), false}, {Bytes{'h', 0}, false}};
    Row recent = old;
    Put(recent.fixed, 0xFFFF, 4);
    Put(recent.fixed, 9, 4);
    recent.columns = 6;
    recent.nulls = 0x10;
    auto decode = [&](const std::vector<Bytes>& rows) {
        auto page = MakePage(rows, state);
        std::vector<std::vector<std::wstring>> texts;
        for (const RowValues& row : DecodeRowValuesByRowsetColumns(*page, layout)) texts.push_back(Texts(row));
        return texts;
    };
    // Without a kept value: NULL where the column allows it, nothing where it does not.
    auto rows = decode({old.Build(), recent.Build()});
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (std::vector<std::wstring>{L"1", L"2", L"ab", L"h", L"NULL", L""}));
    EXPECT_EQ(rows[1], (std::vector<std::wstring>{L"1", L"2", L"ab", L"h", L"NULL", L"9"}));
    // With one (a sql_variant int 7): the older row holds it, the newer its own value.
    layout.columns[5].hasStoredDefault = 1;
    layout.columns[5].storedDefault = {56, 1, 7, 0, 0, 0};
    rows = decode({old.Build(), recent.Build()});
    EXPECT_EQ(rows[0][5], L"7");
    EXPECT_EQ(rows[1][5], L"9");
    // A kept value of another type than the column's gives nothing; so does a record whose column
    // count cannot be read (not NULL, not the kept value).
    layout.columns[5].storedDefault = {231, 1, 8, 0, 9, 4, 0xD0, 0, '7', 0};
    EXPECT_EQ(decode({old.Build()})[0][5], L"");
    Row countless = old;
    countless.columns = 0;
    layout.columns[5].storedDefault = {56, 1, 7, 0, 0, 0};
    EXPECT_EQ(decode({countless.Build()})[0], std::vector<std::wstring>(6));
    // A row whose bytes run off the page (it ends inside its fixed part) is no row at all.
    const Bytes oldRow = old.Build();
    PageBuilder offEnd;
    offEnd.AddRow(Bytes(oldRow.begin(), oldRow.begin() + 6), kPageSize - 10);
    offEnd.AddRow(oldRow, kPageHeaderSize);
    CDataPage withCut(offEnd.Buffer(), nullptr, state);
    EXPECT_EQ(DecodeRowValuesByRowsetColumns(withCut, layout).size(), 1u);

    // A dropped column's bytes stay in older rows; a column added later at its offset is not them.
    TableLayout reused;
    reused.columns = {LayoutColumn(1, L"id", L"int(4)", kTypeInt, 4), LayoutColumn(3, L"cnt", L"int(4)", kTypeInt, 8)};
    reused.columns[1].hasStoredDefault = 1;
    reused.columns[1].storedDefault = {56, 1, 0, 0, 0, 0};
    Row before;
    Put(before.fixed, 5, 4);
    Put(before.fixed, 24, 4);  // the dropped column's value
    before.columns = 2;
    before.statusA = 0x10;
    Row after = before;
    after.fixed.resize(4);
    Put(after.fixed, 3, 4);
    after.columns = 3;
    auto page = MakePage({before.Build(), after.Build()}, state);
    const auto& decoded = DecodeRowValuesByRowsetColumns(*page, reused);
    ASSERT_EQ(decoded.size(), 2u);
    EXPECT_EQ(Texts(decoded[0]), (std::vector<std::wstring>{L"5", L"0"}));
    EXPECT_EQ(Texts(decoded[1]), (std::vector<std::wstring>{L"5", L"3"}));

    // A computed column is listed but not stored: the stored columns after it are still read.
    TableLayout computed = SampleLayout();
    ColumnDef total(L"total", L"money(8)", kTypeMoney);
    total.ordinal = kOrdinalNotStored;
    computed.columns.insert(computed.columns.begin() + 2, total);
    auto withComputed = MakePage({SampleRow(1, {'a'}, {0x01}, {'h', 0}).Build()}, state);
    EXPECT_EQ(Texts(DecodeRowValuesByRowsetColumns(*withComputed, computed)[0]),
              (std::vector<std::wstring>{L"1", L"123.4500", L"", L"False", L"True", L"a", L"0x01", L"h"}));
    auto plain = MakePage({SampleRow(1, {'a'}, {0x01}, {'h', 0}).Build()}, state);
    EXPECT_EQ(Texts(DecodeRowValues(*plain, computed)[0])[7], L"h");
}

// id int, ten NULL-able bits a..j (a..h share one byte, i and j the next), name varchar(20).
TableLayout BitLayout() {
    TableLayout layout;
    layout.columns = {LayoutColumn(1, L"id", L"int(4)", kTypeInt, 4)};
    for (uint32_t b = 0; b < 10; ++b)
        layout.columns.push_back(LayoutColumn(2 + b, std::wstring(1, static_cast<wchar_t>(L'a' + b)), L"bit(1)", kTypeBit,
                                              static_cast<int16_t>(b < 8 ? 8 : 9), 1));
    layout.columns.push_back(LayoutColumn(12, L"name", L"varchar(20)", kTypeVarChar, -1));
    return layout;
}

// A row of BitLayout: the two bit bytes and the NULL bitmap (bit k: column id k + 1).
Bytes BitRow(uint8_t first, uint8_t second, uint16_t nulls) {
    Bytes row = FixedVarRow(Cat(Le(7, 4), Bytes{first, second}), 12, {Text("n")});
    PutU16(row, 4 + 6 + 2, nulls);
    return row;
}

TEST(RowValueDecoderTest, BitColumnsKeepTheirPlaceWhateverTheNullsBeforeThem) {
    RunState state;
    // a NULL, b..g = 1 0 1 0 1 0, h NULL, i NULL, j = 1: the stored bits of a NULL column are 0.
    const Bytes withNulls = BitRow(0x2A, 0x02, (1u << 1) | (1u << 8) | (1u << 9));
    const Bytes noNulls = BitRow(0x81, 0x01, 0);
    const std::vector<std::wstring> expectNulls{L"7",     L"NULL", L"True", L"False", L"True", L"False",
                                                L"True",  L"False", L"NULL", L"NULL", L"True", L"n"};
    const std::vector<std::wstring> expectNone{L"7",     L"True",  L"False", L"False", L"False", L"False",
                                               L"False", L"False", L"True",  L"True",  L"False", L"n"};
    auto decode = [&](TableLayout layout, bool plain) {
        auto page = MakePage({withNulls, noNulls}, state);
        std::vector<std::vector<std::wstring>> rows;
        for (const RowValues& row : plain ? DecodeRowValues(*page, layout) : DecodeRowValuesByRowsetColumns(*page, layout)) {
            std::vector<std::wstring> texts;  // without the column added after the rows
            for (size_t c = 0; c < row.size(); ++c)
                if (layout.columns[c].name != L"late") texts.push_back(Texts(row)[c]);
            rows.push_back(texts);
        }
        return rows;
    };
    const std::vector<std::vector<std::wstring>> expected{expectNulls, expectNone};
    // The column plan, and the general decoder (a column added after the rows keeps the plan away).
    EXPECT_EQ(decode(BitLayout(), false), expected);
    TableLayout general = BitLayout();
    general.columns.push_back(LayoutColumn(60, L"late", L"int(4)", kTypeInt, 2, 1));
    EXPECT_EQ(decode(general, false), expected);
    // Without rowset columns: no leaf offsets, no NULL-bit indexes; the bits follow the column order.
    TableLayout plain = BitLayout();
    for (ColumnDef& def : plain.columns) {
        def.leafOffset = 0;
        def.nullBitmapIndex = -1;
    }
    EXPECT_EQ(decode(plain, true), expected);

    // The rowset-column records give each bit its place: a dropped bit column (c) leaves its bit unused.
    for (TableLayout dropped : {BitLayout(), general}) {
        for (size_t c = 1; c <= 10; ++c) dropped.columns[c].bitPosition = static_cast<int8_t>((c - 1) % 8);
        dropped.columns.erase(dropped.columns.begin() + 3);
        auto rows = decode(dropped, false);
        ASSERT_EQ(rows.size(), 2u);
        std::vector<std::wstring> want = expectNulls;
        want.erase(want.begin() + 3);
        EXPECT_EQ(rows[0], want);
    }
}

// id int, img image NULL, doc xml NULL: values kept inside the row.
TEST(RowValueDecoderTest, InRowImageAndUnreadableXmlInEitherDecoder) {
    RunState state;
    TableLayout layout;
    layout.columns = {LayoutColumn(1, L"id", L"int(4)", kTypeInt, 4),
                      LayoutColumn(2, L"img", L"image(16)", kTypeImage, -1, 1),
                      LayoutColumn(3, L"doc", L"xml(-1)", kTypeXml, -2, 1)};
    // <v/>: the name table, one qualified name, the element and its end.
    const Bytes xml{0xDF, 0xFF, 0x01, 0xB0, 0x04, 0xF0, 0x01, 'v', 0, 0xEF, 0, 0, 1, 0xF8, 1, 0xF7};
    const Bytes broken{0xDF, 0xFF, 0x01, 0xB0, 0x04, 0xF8, 0x05};  // an element of a name never given
    const Bytes good = FixedVarRow(Le(7, 4), 3, {{0x01, 0xAB}, xml});
    const Bytes bad = FixedVarRow(Le(8, 4), 3, {{0xCA, 0xFE}, broken});
    for (bool plain : {false, true}) {
        SCOPED_TRACE(plain ? "plain" : "by rowset columns");
        auto page = MakePage({good, bad}, state);
        TableLayout copy = layout;
        const auto& rows = plain ? DecodeRowValues(*page, copy) : DecodeRowValuesByRowsetColumns(*page, copy);
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(Texts(rows[0]), (std::vector<std::wstring>{L"7", L"0x01AB", L"<v/>"}));
        EXPECT_EQ(rows[0].state(1), CellState::Value);
        EXPECT_EQ(Texts(rows[1])[1], L"0xCAFE");
        // Unreadable xml is no empty document, nor NULL: the file holds a value we cannot give.
        EXPECT_EQ(rows[1].state(2), CellState::Unavailable);
    }
}

TEST(RowValueDecoderTest, LargeSparseVariantAndDamagedValues) {
    RunState state;
    FakeTextPages pages;
    pages.Add(1, 50, {DataNode({'l', 0, 'o', 0, 'n', 0, 'g', 0}), DataNode({0xCA, 0xFE}), SmallRootNode({'t', 'x', 't', 0x20}),
                      SmallRootNode({}), DataNode({0x00, 0x01, 'a', 0, 'b', 0})});
    TableLayout layout;
    layout.columns = {LayoutColumn(1, L"id", L"int(4)", kTypeInt, 4),
                      LayoutColumn(2, L"body", L"nvarchar(-1)", kTypeNVarChar, -1, 1),
                      LayoutColumn(3, L"blob", L"varbinary(-1)", kTypeVarBinary, -2, 1),
                      LayoutColumn(4, L"memo", L"text(16)", kTypeText, -3, 1),
                      LayoutColumn(5, L"v", L"sql_variant(8016)", kTypeSqlVariant, -4, 1),
                      LayoutColumn(6, L"s", L"int(4)", kTypeInt, 0, 1)};
    layout.columns[5].sparse = 1;
    Bytes pointer{0, 0, 0, 0, 0, 0, 0, 0};
    PutRid(pointer, 50, 1, 2);
    Bytes sparse;
    Put(sparse, 5, 2);
    Put(sparse, 1, 2);
    Put(sparse, 6, 2);
    Put(sparse, 12, 2);
    Put(sparse, 42, 4);
    Row r;
    Put(r.fixed, 9, 4);
    r.columns = 6;
    r.variable = {{InRowRoot({{8, {50, 1, 0}}}), true},
                  {InRowRoot({{2, {50, 1, 1}}}), true},
                  {pointer, true},
                  {Bytes{56, 1, 7, 0, 0, 0}, false},
                  {sparse, true}};
    // A second row whose links lead nowhere.
    Row broken = r;
    broken.variable[0].first = InRowRoot({{8, {51, 1, 0}}});
    broken.variable[1].first = InRowRoot({{8, {50, 1, 40}}});
    broken.variable[2].first = Bytes(pointer.begin(), pointer.begin() + 12);
    // A third row: UTF-16 above U+00FF out of row, an empty text value, no sparse value (NULL).
    Row exact = r;
    exact.variable[0].first = InRowRoot({{6, {50, 1, 4}}});
    pointer[8 + 6] = 3;
    exact.variable[2].first = pointer;
    exact.variable[4].first = Bytes{5, 0, 0, 0, 0};
    auto page = MakePage({r.Build(), broken.Build(), exact.Build()}, state);
    const auto& decoded = DecodeRowValuesByRowsetColumns(*page, layout, &pages);
    ASSERT_EQ(decoded.size(), 3u);
    EXPECT_EQ(Texts(decoded[0]), (std::vector<std::wstring>{L"9", L"long", L"0xCAFE", L"txt ", L"7", L"42"}));
    EXPECT_EQ(Texts(decoded[1]), (std::vector<std::wstring>{L"9", L"", L"", L"", L"7", L"42"}));
    for (size_t c : {1, 2, 3}) EXPECT_EQ(decoded[1].state(c), CellState::Unavailable);
    EXPECT_EQ(Texts(decoded[2]), (std::vector<std::wstring>{L"9", L"\u0100ab", L"0xCAFE", L"", L"7", L"NULL"}));
    EXPECT_EQ(decoded[2].state(3), CellState::Value);
    EXPECT_EQ(decoded[2][4].VariantValue()->Integer(), 7);

    EXPECT_TRUE(IsNullBitSet(ByteView(Bytes{0x00, 0x04}), 10));
    EXPECT_FALSE(IsNullBitSet(ByteView(Bytes{0xFF}), 8));
    EXPECT_FALSE(IsNullBitSet(ByteView(), 0));
}

TEST(RowValueDecoderTest, XmlValuesInRowAndInPieces) {
    // <e>hi</e> in the server's binary form, split over two text records for the large value.
    const Bytes xml{0xDF, 0xFF, 0x01, 0xB0, 0x04, 0xF0, 0x01, 'e', 0, 0xEF, 0, 0, 1, 0xF8, 1,
                    0x11, 2, 'h', 0, 'i', 0, 0xF7};
    RunState state;
    FakeTextPages pages;
    pages.Add(1, 60, {DataNode(Bytes(xml.begin(), xml.begin() + 9)), DataNode(Bytes(xml.begin() + 9, xml.end()))});
    TableLayout layout;
    layout.columns = {LayoutColumn(1, L"id", L"int(4)", kTypeInt, 4), LayoutColumn(2, L"doc", L"xml(-1)", kTypeXml, -1, 1),
                      LayoutColumn(3, L"big", L"xml(-1)", kTypeXml, -2, 1), LayoutColumn(4, L"bad", L"xml(-1)", kTypeXml, -3, 1)};
    Row r;
    Put(r.fixed, 1, 4);
    r.columns = 4;
    r.variable = {{xml, false}, {InRowRoot({{9, {60, 1, 0}}, {22, {60, 1, 1}}}), true}, {Bytes{0xDF, 0xFF, 7}, false}};
    auto page = MakePage({r.Build()}, state);
    auto decoded = DecodeRowValuesByRowsetColumns(*page, layout, &pages);
    ASSERT_EQ(decoded.size(), 1u);
    EXPECT_EQ(Texts(decoded[0]), (std::vector<std::wstring>{L"1", L"<e>hi</e>", L"<e>hi</e>", L""}));
}

}  // namespace
}  // namespace kestrane
