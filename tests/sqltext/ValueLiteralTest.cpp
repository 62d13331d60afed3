#include <gtest/gtest.h>

#include "SqlTextFixtures.h"
#include "support/CellRows.h"
#include "sqltext/ValueLiteral.h"

namespace kestrane {
namespace {

using test::Column;

// One value of `column` with `bytes`, as a literal.
std::wstring Literal(const ColumnDef& column, const std::vector<uint8_t>& bytes, const RunState& state,
                     uint8_t flags = 0) {
    RowValues row(1, 1252);
    row.SetValue(0, column, ByteView(bytes), flags);
    return FormatValueLiteral(column, row[0], state);
}

std::wstring LiteralOf(const ColumnDef& column, const std::wstring& text, const RunState& state) {
    return Literal(column, test::StoredBytes(column, text), state);
}

std::vector<uint8_t> Le(uint64_t v, size_t n) {
    std::vector<uint8_t> out;
    test::AppendLe(out, v, n);
    return out;
}

TEST(ValueLiteral, TextsAreWholeQuotedOnceAndCutOnlyWhenTooLong) {
    RunState state("");
    const struct {
        const wchar_t* type;
        uint32_t code;
        std::wstring value, literal;
    } cases[] = {
        {L"varchar(10)", kTypeVarChar, L"O'Brien", L"'O''Brien',"},
        {L"varchar(5)", kTypeVarChar, L"ab'cd", L"'ab''cd',"},          // fits: nothing cut
        {L"varchar(4)", kTypeVarChar, L"abc'd", L"'abc''',"},           // cut, then quoted
        {L"varchar(20)", kTypeVarChar, L"   three blanks  ", L"'   three blanks  ',"},
        {L"varchar(10)", kTypeVarChar, L"NULL", L"'NULL',"},             // the letters, not SQL NULL
        {L"varchar(10)", kTypeVarChar, L"", L"'',"},
        {L"nvarchar(8)", kTypeNVarChar, L"abcdef", L"N'abcd',"},         // 8 bytes: four characters
        {L"nvarchar(20)", kTypeNVarChar, L"\u0416\U0001F600", L"N'\u0416\U0001F600',"},
        {L"nvarchar(6)", kTypeNVarChar, L"ab\U0001F600", L"N'ab',"},     // no half of a surrogate pair
        {L"ntext(16)", kTypeNText, L"\u0100\u0101", L"N'\u0100\u0101',"},
        {L"nvarchar(40)", kTypeNVarChar, L"a$(DIR)b", L"N'a$'+N'(DIR)b',"},  // not a sqlcmd variable
        {L"varbinary(4)", kTypeVarBinary, L"0x0102030405", L"0x01020304,"},
        {L"varbinary(10)", kTypeVarBinary, L"0x", L"0x,"},                // empty, not one blank byte
        {L"binary(2)", kTypeBinary, L"0x01AB", L"0x01AB,"},
        {L"geography(-1)", kTypeGeography, L"0xE610", L"CAST(0xE610 AS geography),"},
        {L"x(8)", kTypeHierarchyId, L"0x58", L"CAST(0x58 AS hierarchyid),"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LiteralOf(Column(L"c", c.type, c.code), c.value, state), c.literal) << WideToUtf8(c.value);
    EXPECT_EQ(LiteralOf(Column(L"c", L"nvarchar(-1)", kTypeNVarChar), std::wstring(9000, L'x'), state).size(), 9004u);
    // The raw-length option keeps over-long values whole.
    state.rawLengthOption = 1;
    EXPECT_EQ(LiteralOf(Column(L"c", L"varchar(5)", kTypeVarChar), L"abcdefg", state), L"'abcdefg',");
}

TEST(ValueLiteral, LineBreaksAndNulAreJoinedInSoNoScriptLineStartsInsideALiteral) {
    RunState state("");
    const ColumnDef unicode = Column(L"c", L"nvarchar(-1)", kTypeNVarChar);
    const ColumnDef narrow = Column(L"c", L"varchar(-1)", kTypeVarChar);
    EXPECT_EQ(LiteralOf(unicode, L"a\r\nGO\r\n:!!id", state),
              L"N'a'+NCHAR(13)+NCHAR(10)+N'GO'+NCHAR(13)+NCHAR(10)+N':!!id',");
    EXPECT_EQ(LiteralOf(narrow, L"x\n:r c:\\y\n", state), L"'x'+CHAR(10)+':r c:\\y'+CHAR(10),");
    EXPECT_EQ(LiteralOf(unicode, std::wstring(L"a\0b", 3), state), L"N'a'+NCHAR(0)+N'b',");
    EXPECT_EQ(LiteralOf(unicode, L"\u2028'$(x)\x85", state), L"NCHAR(8232)+N'''$'+N'(x)'+NCHAR(133),");
    EXPECT_EQ(LiteralOf(narrow, L"\xE9\r", state), L"'\xE9'+CHAR(13),");
    // Joined pieces of a shorter type would be cut at 4000 characters: a long split text starts as max.
    const std::wstring longText = std::wstring(3000, L'a') + L"\r" + std::wstring(3000, L'b');
    EXPECT_EQ(LiteralOf(unicode, longText, state), L"CAST(N'' AS nvarchar(max))+N'" + std::wstring(3000, L'a') +
                                                       L"'+NCHAR(13)+N'" + std::wstring(3000, L'b') + L"',");
    EXPECT_EQ(LiteralOf(narrow, longText, state).substr(0, 29), L"CAST('' AS varchar(max))+'aaa");
    EXPECT_EQ(LiteralOf(unicode, std::wstring(5000, L'a'), state).substr(0, 3), L"N'a");  // one piece: no cast
}

TEST(ValueLiteral, NumbersAndDatesReadBackAsTheStoredValue) {
    RunState state("");
    ColumnDef dto = Column(L"c", L"datetimeoffset(8)", kTypeDateTimeOffset);
    const std::vector<uint8_t> d2000 = Le(730119, 3);
    auto offsetValue = [&](uint64_t seconds, int16_t offset) {
        std::vector<uint8_t> b = Le(seconds, 3);
        b.insert(b.end(), d2000.begin(), d2000.end());
        const std::vector<uint8_t> o = Le(static_cast<uint16_t>(offset), 2);
        b.insert(b.end(), o.begin(), o.end());
        return b;
    };
    ColumnDef dec = Column(L"c", L"decimal(9)", kTypeDecimal);
    dec.precision = 18;
    dec.scale = 2;
    const struct {
        ColumnDef column;
        std::vector<uint8_t> bytes;
        std::wstring literal;
    } cases[] = {
        {Column(L"c", L"float(8)", kTypeFloat), test::StoredBytes(Column(L"c", L"", kTypeFloat), L"0.1"), L"1e-01,"},
        {Column(L"c", L"float(8)", kTypeFloat), test::StoredBytes(Column(L"c", L"", kTypeFloat), L"1.23456789012345678"),
         L"1.2345678901234567e+00,"},
        {Column(L"c", L"real(4)", kTypeReal), test::StoredBytes(Column(L"c", L"", kTypeReal), L"0.1"),
         L"1.0000000149011612e-01,"},
        {Column(L"c", L"real(4)", kTypeReal), test::StoredBytes(Column(L"c", L"", kTypeReal), L"0.00001"),
         L"9.999999747378752e-06,"},
        {Column(L"c", L"money(8)", kTypeMoney), Le(static_cast<uint64_t>(-123400), 8), L"-12.3400,"},
        {Column(L"c", L"smallmoney(4)", kTypeSmallMoney), Le(1234567, 4), L"123.4567,"},
        {dec, {1, 0x39, 0x30, 0, 0, 0, 0, 0, 0}, L"123.45,"},
        {Column(L"c", L"datetime(8)", kTypeDateTime),
         test::StoredBytes(Column(L"c", L"", kTypeDateTime), L"2018-11-15 00:27:36.837"), L"'2018-11-15T00:27:36.837',"},
        {Column(L"c", L"datetime(8)", kTypeDateTime), Le(uint64_t{299} | (uint64_t{0} << 32), 8),
         L"'1900-01-01T00:00:00.997',"},
        {Column(L"c", L"smalldatetime(4)", kTypeSmallDateTime), {61, 0, 1, 0}, L"'1900-01-02T01:01:00',"},
        {dto, offsetValue(36000, 330), L"'2000-01-01 15:30:00 +05:30',"},
        {dto, offsetValue(20 * 3600, 330), L"'2000-01-02 01:30:00 +05:30',"},  // the day carried, not lost
        {dto, offsetValue(2 * 3600, -480), L"'1999-12-31 18:00:00 -08:00',"},
        {Column(L"c", L"bit(1)", kTypeBit), {1}, L"'True',"},
        {Column(L"c", L"sql_variant(8016)", kTypeSqlVariant), {56, 1, 7, 0, 0, 0}, L"CAST(7 AS int),"},
        {Column(L"c", L"sql_variant(8016)", kTypeSqlVariant), {231, 1, 8, 0, 9, 4, 0xD0, 0, 'h', 0, 'i', 0},
         L"CAST(N'hi' AS nvarchar(2)),"},
    };
    for (const auto& c : cases) EXPECT_EQ(Literal(c.column, c.bytes, state), c.literal) << WideToUtf8(c.literal);
    // Every datetime tick comes back from its milliseconds.
    for (int tick = 0; tick < 300; ++tick) {
        const std::wstring text = Literal(Column(L"c", L"datetime(8)", kTypeDateTime), Le(uint64_t(tick), 8), state);
        const int ms = std::stoi(text.substr(21, 3));
        EXPECT_EQ((ms * 3 + 5) / 10, tick) << WideToUtf8(text);
    }
}

TEST(ValueLiteral, NullsStandInsAndLargeValueFiles) {
    RunState state("");
    ColumnDef i = Column(L"c", L"int(4)", kTypeInt);
    RowValues row(1, 1252);
    auto literal = [&](const ColumnDef& column, CellState cellState) {
        row.SetState(0, column, cellState);
        return FormatValueLiteral(column, row[0], state);
    };
    EXPECT_EQ(literal(i, CellState::Null), L"NULL,");
    EXPECT_EQ(literal(i, CellState::Default), L"DEFAULT,");
    // A value the files do not give: NULL where the column allows it, else the column's default when the
    // save creates it, else the type's zero; a key column is no exception.
    EXPECT_EQ(literal(i, CellState::Unavailable), L"NULL,");
    i.nullable = 0;
    i.keyFlag = 1;
    EXPECT_EQ(literal(i, CellState::Unavailable), L"0,");
    i.hasDefault = 1;
    EXPECT_EQ(literal(i, CellState::Unavailable), L"0,");
    state.saveConstraints = 1;
    EXPECT_EQ(literal(i, CellState::Unavailable), L"DEFAULT,");
    state.saveConstraints = 0;
    const struct {
        const wchar_t* type;
        uint32_t code;
        const wchar_t* zero;
    } zeros[] = {
        {L"binary(4)", kTypeBinary, L"0x,"},
        {L"bit(1)", kTypeBit, L"0,"},
        {L"decimal(9)", kTypeDecimal, L"0,"},
        {L"nvarchar(10)", kTypeNVarChar, L"N'',"},
        {L"char(3)", kTypeChar, L"'',"},
        {L"datetime(8)", kTypeDateTime, L"'1900-01-01T00:00:00',"},
        {L"date(3)", kTypeDate, L"'1900-01-01',"},
        {L"datetime2(8)", kTypeDateTime2, L"'1900-01-01 00:00:00',"},
        {L"time(5)", kTypeTime, L"'00:00:00',"},
        {L"datetimeoffset(10)", kTypeDateTimeOffset, L"'1900-01-01 00:00:00 +00:00',"},
        {L"uniqueidentifier(16)", kTypeUniqueIdentifier, L"'00000000-0000-0000-0000-000000000000',"},
        {L"geography(-1)", kTypeGeography, L"NULL,"},  // no zero: the server refuses the row
    };
    for (const auto& z : zeros)
        EXPECT_EQ(literal(Column(L"c", z.type, z.code, 0), CellState::Unavailable), z.zero) << WideToUtf8(z.type);

    const ColumnDef image = Column(L"c", L"varbinary(-1)", kTypeVarBinary);
    const std::vector<uint8_t> reference = WideToUtf16Le(L"/Blob_O'K/1_blob");
    state.blobsToFiles = 1;
    EXPECT_EQ(Literal(image, reference, state, kCellSideFile),
              L"(Select * from OPENROWSET(BULK N'$(DIR)/Blob_O''K/1_blob',SINGLE_BLOB) as Image),");
}

}  // namespace
}  // namespace kestrane
