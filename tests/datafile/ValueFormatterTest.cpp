#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "datafile/BitReader.h"
#include "datafile/RecordFixtures.h"
#include "datafile/ValueFormatter.h"
#include "datafile/CellText.h"
#include "datafile/ValueText.h"

namespace kestrane {
namespace {

using test::Le;

std::vector<uint8_t> DateTimeBytes(int32_t ticks, int32_t days) {
    return test::Cat(Le(static_cast<uint32_t>(ticks), 4), Le(static_cast<uint32_t>(days), 4));
}

// The text of a value captured from `bytes` as a fixed-part value of a column typed `typeText`.
std::wstring Shown(ColumnDescriptor& d, ByteView bytes, const ColumnDef& def, int32_t codePage = 1252) {
    const std::optional<ByteView> value = CaptureColumnValue(d, bytes, def);
    if (!value) return L"";
    RowValues row(1, codePage);
    row.SetValue(0, def, *value);
    return CellDisplayText(row[0]);
}

std::wstring Format(uint32_t code, const std::wstring& typeText, const std::vector<uint8_t>& bytes,
                    uint8_t precision = 0, uint8_t scale = 0, int32_t codePage = 1252) {
    ColumnDef def(L"c", typeText, code);
    def.precision = precision;
    def.scale = scale;
    ColumnDescriptor d(def.typeCode, def, nullptr);
    d.valueLength = static_cast<int16_t>(bytes.size());
    d.availableLength = static_cast<int64_t>(bytes.size());
    return Shown(d, ByteView(bytes), def, codePage);
}

TEST(ValueFormatterTest, DatesAndTimes) {
    EXPECT_EQ(FormatDateTime(ByteView(DateTimeBytes(0, 0))), L"1900-01-01 00:00:00");
    EXPECT_EQ(FormatDateTime(ByteView(DateTimeBytes(300, 0))), L"1900-01-01 00:00:01");
    EXPECT_EQ(FormatDateTime(ByteView(DateTimeBytes(25920000, 0))), L"");
    EXPECT_EQ(FormatDateTime(ByteView(DateTimeBytes(-300, 0))), L"");
    // 1700-03-01 is clamped to 1753, the day kept; smalldatetime is not clamped.
    int32_t days1700 = -72989;
    EXPECT_EQ(FormatDateTime(ByteView(DateTimeBytes(0, days1700))), L"1753-03-01 00:00:00");
    EXPECT_EQ(FormatDateTimeMonthFirst(ByteView(DateTimeBytes(300 * 3723, 40176))), L"12/31/2009 01:02:03");
    EXPECT_EQ(FormatSmallDateTime(ByteView(std::vector<uint8_t>{61, 0, 1, 0})), L"1900-01-02 01:01:00");
    EXPECT_EQ(FormatSmallDateTime(ByteView(std::vector<uint8_t>{0xA0, 0x05, 0, 0})), L"");  // 1440 minutes
    EXPECT_EQ(FormatDateValue(ByteView(std::vector<uint8_t>{0, 0, 0})), L"0001-01-01");
    EXPECT_EQ(FormatDateValue(ByteView(Le(730119, 3))), L"2000-01-01");
    EXPECT_EQ(FormatDateValue(ByteView(Le(730119 + 59, 3))), L"2000-02-29");
    EXPECT_EQ(FormatTimeValue(ByteView(Le(123, 5)), 7, 5), L"00:00:00.0000123");
    EXPECT_EQ(FormatTimeValue(ByteView(Le(3723, 3)), 0, 3), L"01:02:03");
    EXPECT_EQ(FormatTimeValue(ByteView(Le(86400ull * 10000000, 5)), 7, 5), L"");
    const auto dt2 = test::Cat(Le(36000 * 10 + 5, 4), Le(1, 3));  // datetime2(1): 10:00:00.5 on 0001-01-02
    EXPECT_EQ(FormatDateTime2Value(ByteView(dt2), 1, 7), L"0001-01-02 10:00:00.5");
    EXPECT_EQ(FormatDateTime2Value(ByteView(dt2), 1, 4), L"0001-01-01 00:00:00.0");
    // datetimeoffset(0): 10:00:00 on 2000-01-01, offset +330 minutes.
    const auto d2000 = Le(730119, 3), off = Le(330, 2);
    const auto dto = test::Cat(test::Cat(Le(36000, 3), d2000), off);
    EXPECT_EQ(FormatDateTimeOffsetValue(ByteView(dto), 0, 8), L"2000-01-01 15:30:00 +5:30");
    const auto late = test::Cat(test::Cat(Le(20 * 3600, 3), d2000), off);
    EXPECT_EQ(FormatDateTimeOffsetValue(ByteView(late), 0, 8), L"");
    const auto frac = test::Cat(test::Cat(Le(36000 * 100, 4), d2000), off);
    EXPECT_EQ(FormatDateTimeOffsetValue(ByteView(frac), 2, 9), L"2000-01-01 15:30:00.00  +5:30");
    // A decoded value shows its stored precision: datetime's 1/300 s as milliseconds, datetimeoffset
    // as the local time of its offset (the day carried) with +hh:mm.
    EXPECT_EQ(Format(kTypeDateTime, L"datetime(8)", DateTimeBytes(0, 0)), L"1900-01-01 00:00:00.000");
    EXPECT_EQ(Format(kTypeDateTime, L"datetime(8)", DateTimeBytes(300 * 1656 + 251, 43417)), L"2018-11-15 00:27:36.837");
    EXPECT_EQ(Format(kTypeSmallDateTime, L"smalldatetime(4)", {61, 0, 1, 0}), L"1900-01-02 01:01:00");
    EXPECT_EQ(Format(kTypeTime, L"time(5)", Le(123, 5), 16, 7), L"00:00:00.0000123");
    EXPECT_EQ(Format(kTypeDateTimeOffset, L"datetimeoffset(8)", dto), L"2000-01-01 15:30:00 +05:30");
    EXPECT_EQ(Format(kTypeDateTimeOffset, L"datetimeoffset(8)", late), L"2000-01-02 01:30:00 +05:30");
    const auto milli = test::Cat(test::Cat(Le(36000 * 1000, 4), d2000), off);  // scale 3 stores 4 tick bytes
    EXPECT_EQ(Format(kTypeDateTimeOffset, L"datetimeoffset(9)", milli, 0, 3), L"2000-01-01 15:30:00.000 +05:30");
}

TEST(ValueFormatterTest, NumbersAndMoney) {
    auto dec = [](uint8_t sign, uint32_t magnitude) { return test::Cat({sign}, Le(magnitude, 4)); };
    EXPECT_EQ(FormatDecimalValue(5, 2, ByteView(dec(1, 123))), L"1.23");
    EXPECT_EQ(FormatDecimalValue(5, 2, ByteView(dec(1, 5))), L"0.05");
    EXPECT_EQ(FormatDecimalValue(5, 2, ByteView(dec(1, 55))), L".55");
    EXPECT_EQ(FormatDecimalValue(5, 2, ByteView(dec(0, 5))), L"-0.05");
    EXPECT_EQ(FormatDecimalValue(5, 2, ByteView(dec(1, 0))), L"0.00");
    EXPECT_EQ(FormatDecimalValue(5, 3, ByteView(dec(1, 5))), L"0.005");
    EXPECT_EQ(FormatDecimalValue(5, 2, ByteView(dec(1, 1234567))), L"12345");
    EXPECT_EQ(FormatDecimalValue(5, 0, ByteView(dec(1, 1234567))), L"");
    std::vector<uint8_t> big{1};
    for (int i = 0; i < 16; ++i) big.push_back(0xFF);  // 2^128 - 1, 39 digits
    EXPECT_EQ(FormatDecimalValue(38, 0, ByteView(big)), L"");
    EXPECT_EQ(FormatDecimalValue(39, 0, ByteView(big)), L"340282366920938463463374607431768211455");
    EXPECT_EQ(Format(kTypeDecimal, L"decimal(9)", {1, 0x39, 0x30, 0, 0, 0, 0, 0, 0}, 18, 2), L"123.45");

    EXPECT_EQ(FormatMoneyValue(ByteView(Le(123, 8))), L"0.0123");
    EXPECT_EQ(FormatMoneyValue(ByteView(Le(static_cast<uint64_t>(-50), 8))), L"-0.0050");
    EXPECT_EQ(FormatMoneyValue(ByteView(Le(0x8000000000000000ull, 8))), L"-922337203685477.5808");
    EXPECT_EQ(FormatSmallMoneyValue(ByteView(Le(125000, 4))), L"12.5000");
    EXPECT_EQ(Format(kTypeMoney, L"money(8)", Le(199900, 8)), L"19.9900");

    auto dbl = [](double x) { std::vector<uint8_t> b(8); std::memcpy(b.data(), &x, 8); return b; };
    auto flt = [](float x) { std::vector<uint8_t> b(4); std::memcpy(b.data(), &x, 4); return b; };
    EXPECT_EQ(Format(kTypeFloat, L"float(8)", dbl(0.1)), L"0.1");
    EXPECT_EQ(Format(kTypeFloat, L"float(8)", dbl(5e14)), L"500000000000000");
    EXPECT_EQ(Format(kTypeFloat, L"float(8)", dbl(0)), L"0");
    EXPECT_EQ(Format(kTypeFloat, L"float(8)", dbl(-2.5)), L"-2.5");
    // A negative value keeps the digits of its positive twin.
    for (double x : {1e-7, 1.23456789012345, 123456.789, 5e14}) {
        EXPECT_EQ(Format(kTypeFloat, L"float(8)", dbl(-x)), L"-" + Format(kTypeFloat, L"float(8)", dbl(x))) << x;
    }
    EXPECT_EQ(Format(kTypeFloat, L"float(8)", dbl(-1e-7)), L"-0.0000001");
    EXPECT_EQ(Format(kTypeFloat, L"float(8)", dbl(std::numeric_limits<double>::infinity())), L"0");
    EXPECT_EQ(Format(kTypeReal, L"real(4)", flt(0.00001f)), L"1e-05");
    EXPECT_EQ(Format(kTypeReal, L"real(4)", flt(1.5f)), L"1.5");
    EXPECT_EQ(Format(kTypeReal, L"real(4)", flt(1234567.0f)), L"1.23457e+06");

    EXPECT_EQ(Format(kTypeBigInt, L"bigint(8)", Le(static_cast<uint64_t>(-5), 8)), L"-5");
    EXPECT_EQ(Format(kTypeInt, L"int(4)", Le(static_cast<uint32_t>(-7), 4)), L"-7");
    EXPECT_EQ(Format(kTypeSmallInt, L"smallint(2)", Le(0x8000, 2)), L"-32768");
    EXPECT_EQ(Format(kTypeTinyInt, L"tinyint(1)", {255}), L"255");
}

TEST(ValueFormatterTest, BytesTextsAndBits) {
    std::vector<uint8_t> guid(16);
    for (int i = 0; i < 16; ++i) guid[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(Format(kTypeUniqueIdentifier, L"uniqueidentifier(16)", guid), L"03020100-0504-0706-0809-0A0B0C0D0E0F");
    EXPECT_EQ(Format(kTypeBinary, L"binary(2)", {0x01, 0xAB}), L"0x01AB");
    EXPECT_EQ(Format(kTypeVarBinary, L"varbinary(2)", {0x01, 0xAB}), L"0x01AB");
    EXPECT_EQ(Format(kTypeTimestamp, L"timestamp(8)", Le(0x0102, 8)), L"0x0201000000000000");
    EXPECT_EQ(Format(kTypeChar, L"char(4)", {'a', 'b', 0, 'c'}), std::wstring(L"ab\0c", 4));  // every byte
    // 8-bit texts follow the database's code page.
    EXPECT_EQ(Format(kTypeVarChar, L"varchar(3)", {0xC0, 0xE1, 0xE2}, 0, 0, 1251), L"\u0410\u0431\u0432");
    EXPECT_EQ(Format(kTypeVarChar, L"varchar(1)", {0xE9}), L"\u00E9");
    EXPECT_EQ(Format(kTypeNVarChar, L"nvarchar(8)", {'h', 0, 'i', 0, 0x3A, 0x04}), L"hi\u043A");
    EXPECT_EQ(Format(kTypeNText, L"ntext(16)", {'h', 0, 'i', 0}), L"hi");
    EXPECT_EQ(Format(kTypeNText, L"ntext(16)", {'h', 'i', 'j', 0}), L"\u6968j");  // always UTF-16
    // A value longer than what the caller holds is refused, not read past.
    ColumnDef def(L"c", L"int(4)", kTypeInt);
    ColumnDescriptor d(kTypeInt, def, nullptr);
    std::vector<uint8_t> two{1, 2};
    d.valueLength = 4;
    d.availableLength = 4;
    EXPECT_EQ(CaptureColumnValue(d, ByteView(two), def), std::nullopt);

    // Nine bit columns: the first and the ninth load a byte.
    BitReader reader;
    std::vector<uint8_t> bits{0x05, 0x01};
    ColumnDef bitDef(L"b", L"bit(1)", kTypeBit);
    std::wstring texts;
    int loads = 0;
    for (int i = 0; i < 9; ++i) {
        ColumnDescriptor bd(kTypeBit, bitDef, &reader);
        bd.valueLength = 1;
        bd.availableLength = 1;
        bool willLoad = reader.bitIndex == 8;
        std::wstring t = Shown(bd, ByteView(bits.data() + (i < 8 ? 0 : 1), 1), bitDef);
        loads += willLoad;
        EXPECT_EQ(ConsumedLength(bd), willLoad ? 1 : 0);
        texts += t.substr(0, 1);
    }
    EXPECT_EQ(loads, 2);
    EXPECT_EQ(texts, L"TFTFFFFFT");
}

TEST(ValueFormatterTest, SqlVariantValues) {
    auto variant = [](std::vector<uint8_t> head, std::vector<uint8_t> value) {
        head.insert(head.end(), value.begin(), value.end());
        return head;
    };
    auto fmt = [](const std::vector<uint8_t>& v, int64_t total) {
        ColumnDef def(L"v", L"sql_variant(8016)", kTypeSqlVariant);
        ColumnDescriptor d(kTypeSqlVariant, def, nullptr);
        d.variable = 1;
        d.valueLength = static_cast<int16_t>(total);
        return Shown(d, ByteView(v), def);
    };
    auto intValue = variant({56, 1}, Le(7, 4));
    EXPECT_EQ(fmt(intValue, 6), L"7");
    EXPECT_EQ(fmt(intValue, 5), L"");
    EXPECT_EQ(fmt(variant({127, 1}, Le(static_cast<uint64_t>(-9), 8)), 10), L"-9");
    EXPECT_EQ(fmt(variant({106, 1, 5, 2, 1}, Le(123, 4)), 9), L"1.23");
    auto text = variant({167, 1, 0x09, 0x04, 0xD0, 0x00, 3, 0}, {'a', 'b', 'c'});
    EXPECT_EQ(fmt(text, static_cast<int64_t>(text.size())), L"abc");
    auto wide = variant({231, 1, 0x09, 0x04, 0xD0, 0x00, 4, 0}, {'h', 0, 'i', 0});
    EXPECT_EQ(fmt(wide, static_cast<int64_t>(wide.size())), L"hi");
    EXPECT_EQ(fmt(variant({99, 1}, {1, 2, 3}), 5), L"");
    // A total length beyond the bytes held reads only the bytes held.
    EXPECT_EQ(fmt(intValue, 600), L"7");
}

}  // namespace
}  // namespace kestrane
