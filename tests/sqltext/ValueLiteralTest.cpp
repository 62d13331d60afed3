#include <gtest/gtest.h>

#include "SqlTextFixtures.h"
#include "sqltext/ValueLiteral.h"

namespace kestrane {
namespace {

using test::Column;

TEST(ValueLiteral, QuotesAreDoubledBeforeCuttingAndNoHalfQuoteIsLeft) {
    RunState state("");
    EXPECT_EQ(FormatValueLiteral(Column(L"c", L"varchar(10)", kTypeVarChar), L"O'Brien", state), L"'O''Brien',");
    EXPECT_EQ(FormatValueLiteral(Column(L"c", L"varchar(5)", kTypeVarChar), L"ab'cd", state), L"'ab''c',");
    EXPECT_EQ(FormatValueLiteral(Column(L"c", L"varchar(4)", kTypeVarChar), L"abc'd", state), L"'abc',");
    EXPECT_EQ(FormatValueLiteral(Column(L"c", L"varchar(3)", kTypeVarChar), L"  ab  ", state), L"'ab',");
    EXPECT_EQ(FormatValueLiteral(Column(L"c", L"nvarchar(-1)", kTypeNVarChar), std::wstring(9000, L'x'), state),
              L"'" + std::wstring(9000, L'x') + L"',");
    EXPECT_EQ(FormatValueLiteral(Column(L"c", L"varbinary(4)", kTypeVarBinary), L"0x0102030405", state), L"0x01020304,");
    EXPECT_EQ(FormatValueLiteral(Column(L"c", L"timestamp(8)", kTypeTimestamp), L"0x0000000000000FA1", state),
              L"0x0000000000000FA1,");
    // The raw-length option keeps over-long values whole.
    state.rawLengthOption = 1;
    EXPECT_EQ(FormatValueLiteral(Column(L"c", L"varchar(5)", kTypeVarChar), L"abcdefg", state), L"'abcdefg',");
}

TEST(ValueLiteral, FloatDecimalsAreCutButNeverItsIntegerDigits) {
    RunState state("");
    EXPECT_EQ(FormatValueLiteral(Column(L"c", L"float(3)", kTypeFloat), L"1.23456", state), L"1.234,");
    // Cutting "1234567890" to eight digits would store a value a hundred times smaller.
    EXPECT_EQ(FormatValueLiteral(Column(L"c", L"float(8)", kTypeFloat), L"1234567890", state), L"1234567890,");
    EXPECT_EQ(FormatValueLiteral(Column(L"c", L"float", kTypeFloat), L"1.23456789012", state), L"1.23456789012,");
}

TEST(ValueLiteral, MissingValuesByKeyFlagAndType) {
    RunState state("");
    ColumnDef i = Column(L"c", L"int(4)", kTypeInt);
    EXPECT_EQ(FormatValueLiteral(i, L"", state), L"0,");
    EXPECT_EQ(FormatValueLiteral(i, L"NULL", state), L"NULL,");
    EXPECT_EQ(FormatValueLiteral(Column(L"c", L"binary(4)", kTypeBinary), L"", state), L"CONVERT(binary,' '),");
    EXPECT_EQ(FormatValueLiteral(Column(L"c", L"varbinary(4)", kTypeVarBinary), L"", state), L"CONVERT(varbinary,' '),");
    EXPECT_EQ(FormatValueLiteral(Column(L"c", L"char(4)", kTypeChar), L"", state), L"'',");
    EXPECT_EQ(FormatValueLiteral(Column(L"c", L"x(4)", kTypeHierarchyId), L"", state), L"'',");
    EXPECT_EQ(FormatValueLiteral(Column(L"c", L"x(4)", kTypeHierarchyId), L"0x58", state), L"DEFAULT,");
    EXPECT_EQ(FormatValueLiteral(Column(L"c", L"x(4)", kTypeUnused12), L"1", state), L"DEFAULT,");
    EXPECT_EQ(FormatValueLiteral(Column(L"c", L"x(4)", kTypeGeography), L"0xE6", state), L"NULL,");
    EXPECT_EQ(FormatValueLiteral(Column(L"c", L"x(4)", kTypeGeometry), L"NULL", state), L"NULL,");

    auto key = [](ColumnDef c) { c.keyFlag = 1; return c; };
    EXPECT_EQ(FormatValueLiteral(key(i), L"NULL", state), L"0,");
    EXPECT_EQ(FormatValueLiteral(key(Column(L"c", L"sql_variant(8016)", kTypeSqlVariant)), L"", state), L"CONVERT(varchar,''),");
    EXPECT_EQ(FormatValueLiteral(key(Column(L"c", L"uniqueidentifier(16)", kTypeUniqueIdentifier)), L"NULL", state),
              L"'00000000-0000-0000-0000-000000000000',");
    const std::wstring before = TodayDateText();
    const std::wstring literal = FormatValueLiteral(key(Column(L"c", L"datetime(8)", kTypeDateTime)), L"NULL", state);
    const std::wstring after = TodayDateText();
    EXPECT_TRUE(literal == L"'" + before + L"'," || literal == L"'" + after + L"',") << literal.size();
    ASSERT_EQ(before.size(), 19u);
    EXPECT_EQ(before.substr(4, 1) + before.substr(7, 1) + before.substr(10), L"-- 00:00:00");
    EXPECT_EQ(FormatValueLiteral(key(Column(L"c", L"nvarchar(20)", kTypeNVarChar)), L"NULL", state), L"'',");
}

TEST(ValueLiteral, LargeValueFilesAndOtherTypes) {
    RunState state("");
    ColumnDef bin = Column(L"c", L"binary(-1)", kTypeBinary);
    EXPECT_EQ(FormatValueLiteral(bin, L"\\Blob_T\\3_blob", state), L"\\Blob_T\\3_blob,");
    state.blobsToFiles = 1;
    EXPECT_EQ(FormatValueLiteral(bin, L"\\Blob_T\\3_blob", state),
              L"(Select * from OPENROWSET(BULK N'$(DIR)\\Blob_T\\3_blob',SINGLE_BLOB) as Image),");
    EXPECT_EQ(FormatValueLiteral(Column(L"c", L"image(16)", kTypeImage), L"\\Blob_O'K\\1_blob", state),
              L"(Select * from OPENROWSET(BULK N'$(DIR)\\Blob_O''K\\1_blob',SINGLE_BLOB) as Image),");
    EXPECT_EQ(FormatValueLiteral(Column(L"c", L"sql_variant(8016)", kTypeSqlVariant), L"abc", state),
              L"CONVERT(varchar,'abc'),");
    EXPECT_EQ(FormatValueLiteral(Column(L"c", L"nvarchar(20)", kTypeNVarChar), L"\x4E2D", state), L"'\x4E2D',");
    EXPECT_EQ(FormatValueLiteral(Column(L"c", L"bit(1)", kTypeBit), L"True", state), L"'True',");
    EXPECT_EQ(FormatValueLiteral(Column(L"c", L"money(8)", kTypeMoney), L"-12.5000", state), L"-12.5000,");
}

}  // namespace
}  // namespace kestrane
