// Row- and page-compressed rows, built byte by byte from the format's rules, must decode to the same
// texts as their uncompressed twins.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "datafile/CdRowDecompressor.h"
#include "datafile/CdValueExpansion.h"
#include "datafile/DataPage.h"
#include "datafile/RecordFixtures.h"
#include "datafile/RowValueDecoder.h"
#include "datafile/ScsuDecoder.h"
#include "platform/RunState.h"

namespace kestrane {
namespace {

using namespace kestrane::test;

Bytes Utf16(const std::u16string& s) {
    Bytes b;
    for (char16_t c : s) {
        b.push_back(static_cast<uint8_t>(c));
        b.push_back(static_cast<uint8_t>(c >> 8));
    }
    return b;
}
template <typename T>
Bytes Raw(T x) {
    Bytes b(sizeof(T));
    std::memcpy(b.data(), &x, sizeof(T));
    return b;
}

// --- the compressed forms, written from the format's rules ---------------------------------------

// An integer (or date/time) of the given little-endian bytes: big-endian, fewest bytes, top bit flipped.
Bytes PackInteger(const Bytes& le) {
    Bytes be(le.rbegin(), le.rend());
    while (be.size() > 1 && ((be[0] == 0x00 && !(be[1] & 0x80)) || (be[0] == 0xFF && (be[1] & 0x80))))
        be.erase(be.begin());
    if (be.size() == 1 && be[0] == 0) return {};
    be[0] ^= 0x80;
    return be;
}
// float/real: big-endian, trailing zero bytes dropped.
Bytes PackFloat(const Bytes& le) {
    Bytes be(le.rbegin(), le.rend());
    while (!be.empty() && be.back() == 0) be.pop_back();
    return be;
}
// vardecimal of (digits x 10^-scale): exponent base 1000 biased by 64, 10-bit groups of 3 digits.
Bytes PackVarDecimal(std::string digits, int scale, bool negative) {
    while (digits.size() <= static_cast<size_t>(scale)) digits.insert(digits.begin(), '0');
    std::string ip = digits.substr(0, digits.size() - scale);
    std::string fp = digits.substr(digits.size() - scale);
    while (ip.size() % 3) ip.insert(ip.begin(), '0');
    while (fp.size() % 3) fp.push_back('0');
    int exponent = static_cast<int>(ip.size() / 3);
    std::string all = ip + fp;
    while (all.size() >= 3 && all.compare(0, 3, "000") == 0) {
        all.erase(0, 3);
        --exponent;
    }
    while (all.size() >= 3 && all.compare(all.size() - 3, 3, "000") == 0) all.erase(all.size() - 3);
    Bytes out{static_cast<uint8_t>(0x80 | (exponent + 64))};
    std::vector<int> bits;
    for (size_t g = 0; g < all.size(); g += 3) {
        const int v = std::stoi(all.substr(g, 3));
        for (int b = 9; b >= 0; --b) bits.push_back((v >> b) & 1);
    }
    for (size_t i = 0; i < bits.size(); i += 8) {
        uint8_t byte = 0;
        for (size_t j = 0; j < 8; ++j) byte = static_cast<uint8_t>(byte << 1 | (i + j < bits.size() ? bits[i + j] : 0));
        out.push_back(byte);
    }
    if (negative)
        for (uint8_t& b : out) b = static_cast<uint8_t>(~b);
    return out;
}
int CodeFor(const Bytes& packed) { return packed.empty() ? 1 : packed.size() <= 8 ? static_cast<int>(packed.size()) + 1 : 10; }

// A CD row: status A, count, codes (low nibble first), short-data cluster bytes, short data, then the
// long region (flags, offsets, long cluster bytes, data) when a column is long. `symbols` holds the
// page-symbol index of each code-12 column.
Bytes CdRow(const std::vector<std::pair<int, Bytes>>& columns, uint8_t statusA = 0x01) {
    const size_t n = columns.size();
    Bytes shortData, longData;
    std::vector<uint16_t> longEnds;
    std::vector<uint8_t> shortClusters((n - 1) / 30, 0), longClusters((n - 1) / 30, 0);
    Bytes row{static_cast<uint8_t>(statusA | 0x01), static_cast<uint8_t>(n)};
    for (size_t k = 0; k < n; k += 2)
        row.push_back(static_cast<uint8_t>(columns[k].first | (k + 1 < n ? columns[k + 1].first << 4 : 0)));
    for (size_t k = 0; k < n; ++k) {
        const auto& [code, bytes] = columns[k];
        const size_t cluster = k / 30;
        if ((code >= 2 && code <= 9) || code == 12) {
            shortData.insert(shortData.end(), bytes.begin(), bytes.end());
            if (cluster < shortClusters.size()) shortClusters[cluster] = static_cast<uint8_t>(shortClusters[cluster] + bytes.size());
        } else if (code == 10) {
            longData.insert(longData.end(), bytes.begin(), bytes.end());
            longEnds.push_back(static_cast<uint16_t>(longData.size()));
            if (cluster < longClusters.size()) ++longClusters[cluster];
        }
    }
    row.insert(row.end(), shortClusters.begin(), shortClusters.end());
    row.insert(row.end(), shortData.begin(), shortData.end());
    if (!longEnds.empty()) {
        row[0] |= 0x20;
        row.push_back(0x01);
        AppendU16(row, static_cast<uint16_t>(longEnds.size()));
        for (uint16_t end : longEnds) AppendU16(row, end);
        row.insert(row.end(), longClusters.begin(), longClusters.end());
        row.insert(row.end(), longData.begin(), longData.end());
    }
    return row;
}

// --- twins -----------------------------------------------------------------------------------------

struct TwinColumn {
    std::wstring name;
    std::wstring typeText;
    uint32_t code;
    Bytes plain;   // uncompressed bytes (zeros of the width for a NULL fixed column)
    int cd;        // CD code
    Bytes packed;  // the compressed bytes (short or long data, or the page-compressed form)
    uint8_t precision = 0;
    uint8_t scale = 0;
};
TwinColumn Value(std::wstring name, std::wstring type, uint32_t code, Bytes plain, Bytes packed, uint8_t p = 0, uint8_t s = 0) {
    const int cd = CodeFor(packed);
    return TwinColumn{std::move(name), std::move(type), code, std::move(plain), cd, std::move(packed), p, s};
}
TwinColumn Null(std::wstring name, std::wstring type, uint32_t code, size_t width) {
    return TwinColumn{std::move(name), std::move(type), code, Bytes(width, 0), 0, {}};
}
TwinColumn Bit(std::wstring name, bool one) { return TwinColumn{std::move(name), L"bit", kTypeBit, {static_cast<uint8_t>(one)}, one ? 11 : 1, {}}; }

// The uncompressed layout: fixed columns one after another from offset 4 (eight bits to a byte),
// variable columns by index; every column nullable.
TableLayout LayoutOf(const std::vector<TwinColumn>& twins) {
    TableLayout layout;
    int16_t fixedAt = 4, bitAt = 0;
    int bits = 0, variables = 0;
    for (size_t i = 0; i < twins.size(); ++i) {
        ColumnDef def(twins[i].name, twins[i].typeText, twins[i].code);
        def.columnId = static_cast<uint32_t>(i + 1);
        def.ordinal = static_cast<int32_t>(i + 1);
        def.nullable = 1;
        def.inLayout = 1;
        def.nullBitmapIndex = static_cast<int32_t>(i + 1);
        def.precision = twins[i].precision;
        def.scale = twins[i].scale;
        if (def.typeCode == kTypeBit) {
            if (bits++ % 8 == 0) bitAt = fixedAt++;
            def.leafOffset = bitAt;
        } else if (!ColumnDescriptor(def.typeCode, def, nullptr).variable) {
            def.leafOffset = fixedAt;
            fixedAt = static_cast<int16_t>(fixedAt + twins[i].plain.size());
        } else {
            def.leafOffset = static_cast<int16_t>(-++variables);
        }
        layout.columns.push_back(def);
    }
    return layout;
}

Bytes PlainRow(const std::vector<TwinColumn>& twins, const TableLayout& layout) {
    Bytes fixed;
    std::vector<Bytes> variable;
    Bytes bitmap((twins.size() + 7) / 8, 0);
    int bits = 0;
    for (size_t i = 0; i < twins.size(); ++i) {
        const ColumnDef& def = layout.columns[i];
        if (twins[i].cd == 0) bitmap[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
        if (def.leafOffset < 0) {
            variable.push_back(twins[i].cd == 0 ? Bytes{} : twins[i].plain);
            continue;
        }
        const size_t at = static_cast<size_t>(def.leafOffset - 4);
        if (def.typeCode == kTypeBit) {
            if (fixed.size() <= at) fixed.resize(at + 1, 0);
            if (twins[i].plain[0]) fixed[at] |= static_cast<uint8_t>(1u << (bits % 8));
            ++bits;
            continue;
        }
        if (fixed.size() < at + twins[i].plain.size()) fixed.resize(at + twins[i].plain.size(), 0);
        std::copy(twins[i].plain.begin(), twins[i].plain.end(), fixed.begin() + static_cast<std::ptrdiff_t>(at));
    }
    Bytes row = FixedVarRow(fixed, static_cast<uint16_t>(twins.size()), variable, 0x30);
    std::copy(bitmap.begin(), bitmap.end(), row.begin() + static_cast<std::ptrdiff_t>(4 + fixed.size() + 2));
    return row;
}

Bytes CompressedRow(const std::vector<TwinColumn>& twins) {
    std::vector<std::pair<int, Bytes>> columns;
    for (const TwinColumn& s : twins) columns.emplace_back(s.cd, s.packed);
    return CdRow(columns);
}

// Decodes every row of the page image.
std::vector<std::vector<std::wstring>> DecodePage(const PageBuilder& pb, TableLayout layout, RunState& state) {
    CDataPage page(pb.Buffer(), nullptr, state);
    std::vector<std::vector<std::wstring>> rows;
    for (const RowValues& row : DecodeRowValuesByRowsetColumns(page, layout)) rows.push_back(Texts(row));
    return rows;
}

// The plain twin and the compressed row of `twins`, decoded from one page.
std::vector<std::vector<std::wstring>> DecodeTwins(const std::vector<TwinColumn>& twins, RunState& state) {
    const TableLayout layout = LayoutOf(twins);
    PageBuilder pb;
    pb.AddRow(PlainRow(twins, layout));
    pb.AddRow(CompressedRow(twins));
    return DecodePage(pb, layout, state);
}

// 32 columns: every type the row format compresses, NULL and empty values, short and long values,
// and (past 30 columns) the cluster bytes of both regions.
std::vector<TwinColumn> AllTypes() {
    const Bytes dt = Cat(Le(300 * 3725, 4), Le(43830, 4));   // datetime: ticks, days
    const Bytes sdt = Cat(Le(125, 2), Le(43000, 2));         // smalldatetime: minutes, days
    const Bytes date = Le(737425, 3);
    const Bytes time = Le(123456789012ull, 5);               // time(7)
    const Bytes dt2 = Cat(Le(987654321ull, 5), Le(737425, 3));
    const Bytes dto = Cat(Cat(Le(36000ull * 10000000, 5), Le(730119, 3)), Le(330, 2));
    const Bytes guid{0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    const std::string longText = "a varchar value longer than eight bytes";
    return {
        Value(L"id", L"int", kTypeInt, Le(1, 4), PackInteger(Le(1, 4))),
        Value(L"neg", L"int", kTypeInt, Le(static_cast<uint64_t>(-2), 4), PackInteger(Le(static_cast<uint64_t>(-2), 4))),
        Value(L"big", L"bigint", kTypeBigInt, Le(300000, 8), PackInteger(Le(300000, 8))),
        Value(L"huge", L"bigint", kTypeBigInt, Le(0x8000000000000000ull, 8), PackInteger(Le(0x8000000000000000ull, 8))),
        Value(L"small", L"smallint", kTypeSmallInt, Le(static_cast<uint64_t>(-300), 2), PackInteger(Le(static_cast<uint64_t>(-300), 2))),
        Value(L"tiny", L"tinyint", kTypeTinyInt, {200}, {200}),
        Value(L"zero", L"int", kTypeInt, Le(0, 4), {}),
        Value(L"price", L"money(8)", kTypeMoney, Le(1234500, 8), PackInteger(Le(1234500, 8))),
        Value(L"sm", L"smallmoney(4)", kTypeSmallMoney, Le(static_cast<uint64_t>(-15000), 4), PackInteger(Le(static_cast<uint64_t>(-15000), 4))),
        Bit(L"b1", true),
        Bit(L"b2", false),
        Bit(L"b3", true),
        Value(L"code", L"char(10)", kTypeChar, Text("ab        "), Text("ab")),
        Value(L"blank", L"char(4)", kTypeChar, Text("    "), {}),
        Value(L"bin", L"binary(6)", kTypeBinary, {1, 2, 0, 0, 0, 0}, {1, 2}),
        Value(L"name", L"varchar(20)", kTypeVarChar, Text("hello"), Text("hello")),
        Value(L"data", L"varbinary(10)", kTypeVarBinary, {}, {}),
        Value(L"note", L"nvarchar(20)", kTypeNVarChar, Utf16(u"h\u00e9llo"), {0x68, 0xE9, 0x6C, 0x6C, 0x6F}),
        Value(L"raw", L"nvarchar(20)", kTypeNVarChar, Utf16(u"ab"), Utf16(u"ab")),
        Value(L"fixed", L"nchar(8)", kTypeNChar, Utf16(u"abc "), Text("abc")),
        Value(L"f", L"float(8)", kTypeFloat, Raw(1.5), PackFloat(Raw(1.5))),
        Value(L"r", L"real(4)", kTypeReal, Raw(-2.25f), PackFloat(Raw(-2.25f))),
        Value(L"d", L"decimal(9)", kTypeDecimal, Cat({1}, Le(1234567, 8)), PackVarDecimal("1234567", 2, false), 10, 2),
        Value(L"n", L"numeric(5)", kTypeNumeric, Cat({0}, Le(42, 4)), PackVarDecimal("42", 0, true), 5, 0),
        Value(L"dt", L"datetime(8)", kTypeDateTime, dt, PackInteger(dt)),
        Value(L"sdt", L"smalldatetime(4)", kTypeSmallDateTime, sdt, PackInteger(sdt)),
        Value(L"day", L"date(3)", kTypeDate, date, PackInteger(date)),
        Value(L"t", L"time(5)", kTypeTime, time, PackInteger(time), 16, 7),
        Value(L"dt2", L"datetime2(8)", kTypeDateTime2, dt2, PackInteger(dt2), 27, 7),
        Value(L"dto", L"datetimeoffset(10)", kTypeDateTimeOffset, dto, PackInteger(dto), 34, 7),
        Value(L"guid", L"uniqueidentifier", kTypeUniqueIdentifier, guid, guid),
        Value(L"long", L"varchar(60)", kTypeVarChar, Text(longText), Text(longText)),
        Value(L"wide", L"char(20)", kTypeChar, Text("abcdefghij          "), Text("abcdefghij")),
        Null(L"gone", L"int", kTypeInt, 4),
        Null(L"absent", L"nvarchar(20)", kTypeNVarChar, 0),
    };
}

TEST(CompressionTest, RowCompressedRowDecodesLikeItsUncompressedTwin) {
    RunState state;
    const std::vector<TwinColumn> twins = AllTypes();
    ASSERT_GT(twins.size(), 30u);
    const TableLayout layout = LayoutOf(twins);
    const auto rows = DecodeTwins(twins, state);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1], rows[0]);
    // The twin itself reads as intended, so the comparison means something.
    const auto& t = rows[0];
    EXPECT_EQ(t[0], L"1");
    EXPECT_EQ(t[1], L"-2");
    EXPECT_EQ(t[3], L"-9223372036854775808");
    EXPECT_EQ(t[4], L"-300");
    EXPECT_EQ(t[7], L"123.4500");
    EXPECT_EQ(t[8], L"-1.5000");
    EXPECT_EQ(t[9] + t[10] + t[11], L"TrueFalseTrue");
    EXPECT_EQ(t[12], L"ab        ");
    EXPECT_EQ(t[16], L"0x");
    EXPECT_EQ(t[17], L"h\u00e9llo");
    EXPECT_EQ(t[22], L"12345.67");
    EXPECT_EQ(t[23], L"-42");
    EXPECT_EQ(t[33], L"NULL");
    for (size_t c = 0; c < t.size(); ++c) EXPECT_FALSE(t[c].empty()) << "column " << c;

    // The same row handed over on its own (a logged row image) reads the same.
    Bytes single(kPageSize, 0);
    const Bytes cdRow = CompressedRow(twins);
    std::copy(cdRow.begin(), cdRow.end(), single.begin());
    PutU16(single, kPageSize - 2, static_cast<uint16_t>(cdRow.size()));
    CDataPage one(PageBuilder().Buffer(), ByteView(single), nullptr, state);
    TableLayout oneLayout = layout;
    const auto oneRows = DecodeRowValuesByRowsetColumns(one, oneLayout);
    ASSERT_EQ(oneRows.size(), 1u);
    EXPECT_EQ(Texts(oneRows[0]), rows[0]);

    // A CD row cut short loses values; nothing is read out of place.
    Bytes damaged = CompressedRow(twins);
    damaged.resize(damaged.size() / 2);
    PageBuilder broken;
    broken.AddRow(damaged);
    const auto partial = DecodePage(broken, layout, state);
    ASSERT_LE(partial.size(), 1u);
}

TEST(CompressionTest, ANullBitKeepsItsPlaceInACompressedRow) {
    RunState state;
    // The first bit of a byte NULL: the bits after it keep their own places, as in the twin.
    const TwinColumn nullBit{L"b0", L"bit", kTypeBit, {0}, 0, {}};
    const std::vector<TwinColumn> twins{Value(L"id", L"int", kTypeInt, Le(1, 4), PackInteger(Le(1, 4))), nullBit,
                                        Bit(L"b1", true), Bit(L"b2", false), Bit(L"b3", true)};
    const auto rows = DecodeTwins(twins, state);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (std::vector<std::wstring>{L"1", L"NULL", L"True", L"False", L"True"}));
    EXPECT_EQ(rows[1], rows[0]);
}

TEST(CompressionTest, PageCompressedRowsUseAnchorPrefixesAndDictionary) {
    RunState state;
    // name varchar(20), code char(10), qty int, city varchar(20).
    const std::vector<TwinColumn> shape{Value(L"name", L"varchar(20)", kTypeVarChar, {}, {}),
                                  Value(L"code", L"char(10)", kTypeChar, Bytes(10, ' '), {}),
                                  Value(L"qty", L"int", kTypeInt, Le(0, 4), {}),
                                  Value(L"city", L"varchar(20)", kTypeVarChar, {}, {})};
    const TableLayout layout = LayoutOf(shape);
    auto twin = [&](const std::string& name, const std::string& code, int qty, const std::string& city) {
        std::vector<TwinColumn> s = shape;
        s[0].plain = Text(name);
        s[1].plain = Text(code + std::string(10 - code.size(), ' '));
        s[2].plain = Le(static_cast<uint64_t>(qty), 4);
        s[3].plain = Text(city);
        for (TwinColumn& x : s) x.cd = 2;
        return PlainRow(s, layout);
    };
    std::vector<TwinColumn> nullName = shape;
    nullName[0].cd = 0;
    nullName[2].cd = 0;
    for (size_t i : {1, 3}) nullName[i].cd = 2;
    nullName[1].plain = Text("ABCDEFGHIJ");
    nullName[3].plain = Text("Berlin");

    // Anchor: name "Antoni", code none (NULL), qty 300, city "Berlin"; dictionary: "Berne" and
    // "Antonia", both in their prefixed form.
    PageBuilder pb;
    pb.image[2] = 0x80;
    pb.image[96] = 0x06;
    PutU16(pb.image, 99, 30);
    PutU16(pb.image, 101, 60);
    const Bytes anchor = CdRow({{7, Text("Antoni")}, {0, {}}, {3, PackInteger(Le(300, 4))}, {7, Text("Berlin")}});
    std::copy(anchor.begin(), anchor.end(), pb.image.begin() + 103);
    const Bytes dictionary = Cat(Cat({2, 0, 9, 0, 11, 0}, Cat({3}, Text("ne"))), Cat({6}, Text("a")));
    std::copy(dictionary.begin(), dictionary.end(), pb.image.begin() + 96 + 30);
    auto prefixed = [](uint8_t shared, const Bytes& own) { return Cat({shared}, own); };
    const Bytes qty301 = PackInteger(Le(301, 4));
    const std::vector<Bytes> compressed{
        // "Antonio", "X1", 301 (shares the first byte), dictionary 0 ("Berne").
        CdRow({{3, prefixed(6, Text("o"))}, {3, Text("X1")}, {3, prefixed(1, {qty301[1]})}, {12, {0}}}),
        // dictionary 1 ("Antonia"), empty code, exactly the anchor's 300, "Paris" (shares nothing).
        CdRow({{12, {1}}, {1, {}}, {2, {2}}, {7, prefixed(0, Text("Paris"))}}),
        // a long value with a prefix: "Antoni de la Cruz"; a long char with no anchor; qty NULL.
        CdRow({{10, prefixed(6, Text(" de la Cruz"))}, {10, Text("ABCDEFGHIJ")}, {0, {}}, {2, prefixed(3, {})}}),
        CdRow({{0, {}}, {10, Text("ABCDEFGHIJ")}, {0, {}}, {2, prefixed(6, {})}}),
    };
    size_t at = 200;
    for (const Bytes& row : compressed) at = pb.AddRow(row, at) + row.size() + 8;
    const auto rows = DecodePage(pb, layout, state);

    PageBuilder plain;
    plain.AddRow(twin("Antonio", "X1", 301, "Berne"));
    plain.AddRow(twin("Antonia", "", 300, "Paris"));
    plain.AddRow(PlainRow(nullName, layout));
    const auto expected = DecodePage(plain, layout, state);
    ASSERT_EQ(rows.size(), 4u);
    ASSERT_EQ(expected.size(), 3u);
    EXPECT_EQ(rows[0], expected[0]);
    EXPECT_EQ(rows[1], expected[1]);
    EXPECT_EQ(rows[0], (std::vector<std::wstring>{L"Antonio", L"X1        ", L"301", L"Berne"}));
    EXPECT_EQ(rows[2], (std::vector<std::wstring>{L"Antoni de la Cruz", L"ABCDEFGHIJ", L"NULL", L"Ber"}));
    EXPECT_EQ(rows[3], expected[2]);
}

TEST(CompressionTest, DecompressionStepKeepsOtherRecordsAndRunsOnce) {
    RunState state;
    PrimaryRecordPage owner(state);
    const Bytes cd = CdRow({{3, Text("ab")}, {2, Text("c")}, {0, {}}});
    CPrimaryRecord r(ByteView(cd), &owner, static_cast<uint16_t>(cd.size()), RecordForm::Cd);
    r.cdDescriptors.push_back({});  // left from before: replaced, not added to
    ASSERT_EQ(owner.DecompressRecord(&r), &r);
    const Bytes image = r.fixedData.toVector();
    ASSERT_EQ(image.size(), 4096u);
    EXPECT_EQ(r.fixedLength, 3);
    EXPECT_EQ(Bytes(image.begin(), image.begin() + 3), Text("abc"));
    EXPECT_EQ(image[3], 0);
    ASSERT_EQ(r.cdDescriptors.size(), 3u);
    EXPECT_EQ(r.cdDescriptors[0].length, 2);
    EXPECT_EQ(r.cdDescriptors[2].isNull, 1);
    EXPECT_EQ(r.cdCodes, (std::vector<int>{3, 2, 0}));
    ASSERT_EQ(owner.DecompressRecord(&r), &r);  // a second run changes nothing
    EXPECT_EQ(r.fixedData.toVector(), image);

    Bytes ghostRow = cd;
    ghostRow[0] = 0x03;  // type 1
    CPrimaryRecord other(ByteView(ghostRow), &owner, static_cast<uint16_t>(ghostRow.size()), RecordForm::Cd);
    const Bytes shortData = other.fixedData.toVector();
    EXPECT_EQ(owner.DecompressRecord(&other), nullptr);
    EXPECT_EQ(other.fixedData.toVector(), shortData);
    EXPECT_TRUE(other.cdDescriptors.empty());

    // The expansion needs a resolved CD record and runs once.
    ColumnDefList columns{ColumnDef(L"a", L"char(2)", kTypeChar), ColumnDef(L"b", L"char(1)", kTypeChar)};
    EXPECT_TRUE(ExpandCdRecord(r, columns));
    EXPECT_FALSE(ExpandCdRecord(r, columns));
    EXPECT_FALSE(ExpandCdRecord(other, columns));
}

TEST(CompressionTest, ValueExpansionRefusesImpossibleBytes) {
    Bytes out;
    ColumnDef smallint(L"s", L"smallint", kTypeSmallInt);
    EXPECT_FALSE(ExpandCdValue(smallint, 4, ByteView(Bytes{1, 2, 3}), out));
    EXPECT_EQ(out, Bytes(2, 0));
    EXPECT_TRUE(ExpandCdValue(smallint, 2, ByteView(Bytes{0x7F}), out));
    EXPECT_EQ(out, Le(static_cast<uint64_t>(-1), 2));
    // vardecimal: a group above 999, and a value beyond 38 digits, are refused (as zero).
    EXPECT_FALSE(VarDecimalToDecimal(ByteView(Bytes{0xC1, 0xFF, 0xC0}), 5, 0, out));
    EXPECT_FALSE(VarDecimalToDecimal(ByteView(PackVarDecimal("1" + std::string(39, '0'), 0, false)), 38, 0, out));
    EXPECT_TRUE(VarDecimalToDecimal(ByteView(PackVarDecimal("99999999999999999999999999999999999999", 0, false)), 38, 0, out));
    EXPECT_EQ(out.size(), 17u);
    EXPECT_EQ(out[16], 0x4B);  // 10^38 - 1 = 0x4B3B4CA85A86C47A098A223FFFFFFFFF
    EXPECT_TRUE(VarDecimalToDecimal(ByteView(PackVarDecimal("5", 3, false)), 5, 3, out));  // 0.005
    EXPECT_EQ(out, Cat({1}, Le(5, 4)));
    EXPECT_TRUE(VarDecimalToDecimal(ByteView(PackVarDecimal("125", 3, false)), 5, 2, out));  // scale cut
    EXPECT_EQ(out, Cat({1}, Le(12, 4)));
    ColumnDef nchar(L"n", L"nchar(4)", kTypeNChar);
    EXPECT_FALSE(ExpandCdValue(nchar, 10, ByteView(Text("abcde")), out));  // 5 chars in 2
    EXPECT_EQ(out, Bytes(4, 0));
}

TEST(CompressionTest, ScsuDecoderFollowsTheStandard) {
    auto decode = [](const Bytes& in, bool expectOk = true) {
        Bytes out;
        EXPECT_EQ(DecodeScsu(ByteView(in), out), expectOk);
        std::u16string s;
        for (size_t i = 0; i + 1 < out.size(); i += 2) s.push_back(static_cast<char16_t>(out[i] | out[i + 1] << 8));
        return s;
    };
    EXPECT_EQ(decode({0x68, 0xE9, 0x6C}), u"h\u00e9l");                                  // window 0 = U+0080
    EXPECT_EQ(decode({0x18, 0x07, 0xA9, 0xBC, 0xAD}), u"\u03a9\u03bc\u03ad");          // SD0: window U+0380
    EXPECT_EQ(decode({0x0F, 0x65, 0xE5, 0x67, 0x2C, 0xE0, 0x42}), u"\u65e5\u672cB");   // SCU, then UC0
    EXPECT_EQ(decode({0x0B, 0x21, 0xEC, 0x80, 0x21}), u"\U0001F600!");                 // SDX window 1
    EXPECT_EQ(decode({0x0E, 0x20, 0xAC, 0x02, 0x41, 0x06, 0x81}), u"\u20ac\u00c1\u3041");  // SQU, SQ1, SQ5
    EXPECT_EQ(decode({0x11, 0x80, 0x1A, 0xFD, 0x81}), u"\u00c0\u3041");                // SC1; SD2 0xFD = U+3040
    EXPECT_EQ(decode({0x0F, 0xF0, 0xE0, 0x01, 0xE9, 0x02, 0x84, 0xC1}), u"\ue001\u0104\u0141");  // UQU; UD1
    decode({0x41, 0x0C}, false);        // reserved tag
    EXPECT_EQ(decode({0x41, 0x18}, false), u"A");  // cut inside a tag
    decode({0x0F, 0x41}, false);        // half a UTF-16 unit
}

}  // namespace
}  // namespace kestrane
