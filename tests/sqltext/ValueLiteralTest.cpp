#include <gtest/gtest.h>

#include "SqlTextFixtures.h"
#include "sqltext/ValueLiteral.h"

namespace kestrane {
namespace {

using test::Column;

TEST(ValueLiteral, QuotesAreDoubledBeforeCuttingAndNoHalfQuoteIsLeft) {
    RunState state("");
    auto literal = [&](const wchar_t* type, uint32_t code, const std::wstring& v) {
        return FormatValueLiteral(Column(L"c", type, code), v, state);
    };
    EXPECT_EQ(literal(L"varchar(10)", kTypeVarChar, L"O'Brien"), L"'O''Brien',");
    EXPECT_EQ(literal(L"varchar(5)", kTypeVarChar, L"ab'cd"), L"'ab''c',");
    EXPECT_EQ(literal(L"varchar(4)", kTypeVarChar, L"abc'd"), L"'abc',");
    EXPECT_EQ(literal(L"nvarchar(-1)", kTypeNVarChar, std::wstring(9000, L'x')).size(), 9003u);
    EXPECT_EQ(literal(L"varbinary(4)", kTypeVarBinary, L"0x0102030405"), L"0x01020304,");
    EXPECT_EQ(literal(L"sql_variant(8016)", kTypeSqlVariant, L"x') --"), L"CONVERT(varchar,'x'') --'),");
    // Only decimals are cut: cutting digits before the point would change the value's magnitude.
    EXPECT_EQ(literal(L"float(3)", kTypeFloat, L"1.23456"), L"1.234,");
    EXPECT_EQ(literal(L"float(8)", kTypeFloat, L"1234567890"), L"1234567890,");
    // The raw-length option keeps over-long values whole.
    state.rawLengthOption = 1;
    EXPECT_EQ(literal(L"varchar(5)", kTypeVarChar, L"abcdefg"), L"'abcdefg',");
}

TEST(ValueLiteral, MissingValuesAndLargeValueFiles) {
    RunState state("");
    ColumnDef i = Column(L"c", L"int(4)", kTypeInt);
    EXPECT_EQ(FormatValueLiteral(i, L"", state), L"0,");
    EXPECT_EQ(FormatValueLiteral(i, L"NULL", state), L"NULL,");
    EXPECT_EQ(FormatValueLiteral(Column(L"c", L"binary(4)", kTypeBinary), L"", state), L"CONVERT(binary,' '),");
    EXPECT_EQ(FormatValueLiteral(Column(L"c", L"x(4)", kTypeHierarchyId), L"0x58", state), L"DEFAULT,");
    i.keyFlag = 1;  // a key column gets a value the server accepts
    EXPECT_EQ(FormatValueLiteral(i, L"NULL", state), L"0,");
    ColumnDef when = Column(L"c", L"datetime(8)", kTypeDateTime);
    when.keyFlag = 1;
    const std::wstring today = TodayDateText(), literal = FormatValueLiteral(when, L"NULL", state);
    EXPECT_TRUE(literal == L"'" + today + L"'," || literal == L"'" + TodayDateText() + L"',") << literal.size();
    EXPECT_EQ(today.substr(4, 1) + today.substr(7, 1) + today.substr(10), L"-- 00:00:00");

    const ColumnDef image = Column(L"c", L"image(16)", kTypeImage);
    EXPECT_EQ(FormatValueLiteral(image, L"\\Blob_T\\3_blob", state), L"\\Blob_T\\3_blob,");
    state.blobsToFiles = 1;
    EXPECT_EQ(FormatValueLiteral(image, L"\\Blob_O'K\\1_blob", state),
              L"(Select * from OPENROWSET(BULK N'$(DIR)\\Blob_O''K\\1_blob',SINGLE_BLOB) as Image),");
}

}  // namespace
}  // namespace kestrane
