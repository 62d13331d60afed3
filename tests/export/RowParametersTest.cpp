// A decoded row through FillRowValues, the prepared INSERT, the FreeTDS driver and the test endpoint:
// what each kind of cell becomes on the wire, and that no value becomes statement text.
#include <gtest/gtest.h>

#include "export/RowParameters.h"
#include "platform/TextCodec.h"
#include "support/CellRows.h"
#include "support/RecordingSinks.h"
#include "support/TdsEndpoint.h"

namespace kestrane {
namespace {

using nlohmann::json;

std::vector<uint8_t> Le(uint64_t v, size_t n) {
    std::vector<uint8_t> out;
    test::AppendLe(out, v, n);
    return out;
}

std::vector<uint8_t> Cat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Column {
    const wchar_t* name;
    const wchar_t* typeText;
    uint32_t code;
    uint8_t nullable = 1, key = 0, precision = 0, scale = 0;
};

// One cell: a text for the test row builder, raw stored bytes, or a state without a value.
struct Value {
    std::optional<std::wstring> text;
    std::vector<uint8_t> bytes;
    CellState state = CellState::Value;
};
Value Text(const std::wstring& t) { return {t, {}, CellState::Value}; }
Value Raw(std::vector<uint8_t> b) { return {std::nullopt, std::move(b), CellState::Value}; }
Value State(CellState s) { return {std::nullopt, {}, s}; }

TEST(RowParameters, EachCellReachesTheServerAsItsExactValue) {
    KESTRANE_REQUIRE_TDS_ENDPOINT();
    const std::wstring longUnicode(4000, L'\x00E9');
    const std::vector<uint8_t> variantText =
        Cat({231, 1, 0x40, 0x1F, 0x09, 0x04, 0xD0, 0x00}, WideToUtf16Le(longUnicode));
    const std::vector<uint8_t> guid = {0xFF, 0x19, 0x96, 0x6F, 0x86, 0x8B, 0x11, 0xD0,
                                       0xB4, 0x2D, 0x00, 0xC0, 0x4F, 0xC9, 0x64, 0xFF};
    struct Case {
        Column column;
        Value value;
        json expected;  // {type, value} as the endpoint decodes it; null: the column is left to DEFAULT
    };
    const std::vector<Case> cases = {
        {{L"id", L"bigint", kTypeBigInt, 0, 1}, Text(L"-9000000000"), {{"type", "bigint"}, {"value", -9000000000LL}}},
        {{L"i", L"int", kTypeInt}, Text(L"-5"), {{"type", "int"}, {"value", -5}}},
        {{L"s", L"smallint", kTypeSmallInt}, Text(L"7"), {{"type", "smallint"}, {"value", 7}}},
        {{L"t", L"tinyint", kTypeTinyInt}, Text(L"255"), {{"type", "tinyint"}, {"value", 255}}},
        {{L"b", L"bit", kTypeBit}, Text(L"True"), {{"type", "bit"}, {"value", true}}},
        {{L"m", L"money", kTypeMoney}, Text(L"-12.3456"), {{"type", "decimal"}, {"value", "-12.3456"}}},
        {{L"sm", L"smallmoney", kTypeSmallMoney}, Text(L"1.5"), {{"type", "decimal"}, {"value", "1.5000"}}},
        {{L"d", L"decimal", kTypeDecimal, 1, 0, 18, 4}, Text(L"123.45"), {{"type", "decimal"}, {"value", "123.4500"}}},
        {{L"f", L"float", kTypeFloat}, Text(L"0.1"), {{"type", "float"}, {"value", 0.1}}},
        {{L"r", L"real", kTypeReal}, Text(L"1.5"), {{"type", "real"}, {"value", 1.5}}},
        {{L"dt", L"datetime", kTypeDateTime}, Text(L"2020-01-31 00:00:00.003"),
         {{"type", "nvarchar"}, {"value", "2020-01-31T00:00:00.003"}}},
        {{L"dd", L"date", kTypeDate}, Raw(Le(738944, 3)), {{"type", "nvarchar"}, {"value", "2024-02-29"}}},
        {{L"tm", L"time", kTypeTime, 1, 0, 16, 7}, Raw(Le(863991234567, 5)),
         {{"type", "nvarchar"}, {"value", "23:59:59.1234567"}}},
        {{L"d2", L"datetime2", kTypeDateTime2, 1, 0, 23, 3}, Raw(Cat(Le(45000005, 4), Le(737454, 3))),
         {{"type", "nvarchar"}, {"value", "2020-01-31T12:30:00.005"}}},
        {{L"dto", L"datetimeoffset", kTypeDateTimeOffset, 1, 0, 34, 7},
         Raw(Cat(Cat(Le(308451234567, 5), Le(738886, 3)), Le(static_cast<uint16_t>(-330), 2))),
         {{"type", "nvarchar"}, {"value", "2024-01-02 03:04:05.1234567 -05:30"}}},
        {{L"g", L"uniqueidentifier", kTypeUniqueIdentifier}, Raw(guid),
         {{"type", "uniqueidentifier"}, {"value", "6F9619FF-8B86-D011-B42D-00C04FC964FF"}}},
        // Blanks kept, the letters NULL stay text, a value longer than its column is cut to it.
        {{L"c", L"char(6)", kTypeChar}, Text(L" ab   "), {{"type", "nvarchar"}, {"value", " ab   "}}},
        {{L"v", L"varchar(10)", kTypeVarChar}, Text(L"NULL"), {{"type", "nvarchar"}, {"value", "NULL"}}},
        {{L"v4", L"varchar(4)", kTypeVarChar}, Text(L"abcdefg"), {{"type", "nvarchar"}, {"value", "abcd"}}},
        {{L"tx", L"text", kTypeText}, Text(L"caf\x00E9"), {{"type", "nvarchar"}, {"value", "caf\u00e9"}}},
        {{L"n", L"nvarchar(40)", kTypeNVarChar}, Text(L"x\U0001F600'];--"),
         {{"type", "nvarchar"}, {"value", "x\U0001F600'];--"}}},
        {{L"vb", L"varbinary(8)", kTypeVarBinary}, Text(L"0xDEAD"), {{"type", "varbinary"}, {"value", "DEAD"}}},
        {{L"vb2", L"varbinary(2)", kTypeVarBinary}, Text(L"0x010203"), {{"type", "varbinary"}, {"value", "0102"}}},
        {{L"img", L"image", kTypeImage}, Text(L"0x00FF"), {{"type", "varbinary"}, {"value", "00FF"}}},
        {{L"ts", L"timestamp", kTypeTimestamp}, Text(L"0x0000000000000FA1"),
         {{"type", "nvarchar"}, {"value", "0x0000000000000FA1"}}},
        // A sql_variant goes as the value inside it, with its own type, long texts like short ones.
        {{L"sv", L"sql_variant", kTypeSqlVariant}, Raw(Cat({56, 1}, Le(42, 4))), {{"type", "int"}, {"value", 42}}},
        {{L"sv2", L"sql_variant", kTypeSqlVariant}, Raw(variantText),
         {{"type", "nvarchar"}, {"value", WideToUtf8(longUnicode)}}},
        // NULL only where the file says NULL, typed as its column.
        {{L"nn", L"nvarchar(10)", kTypeNVarChar}, State(CellState::Null), {{"type", "nvarchar"}, {"value", nullptr}}},
        {{L"ni", L"int", kTypeInt}, State(CellState::Null), {{"type", "bigint"}, {"value", nullptr}}},
        {{L"nb", L"varbinary(4)", kTypeVarBinary}, State(CellState::Null), {{"type", "varbinary"}, {"value", nullptr}}},
        // Values the files do not give: NULL where the column allows it, else the column's default when
        // the save creates it, else the type's zero, as the script save writes them.
        {{L"ui", L"int", kTypeInt, 0}, State(CellState::Unavailable), {{"type", "int"}, {"value", 0}}},
        {{L"ud", L"datetime", kTypeDateTime, 0}, State(CellState::Unavailable),
         {{"type", "nvarchar"}, {"value", "1900-01-01T00:00:00"}}},
        {{L"uv", L"varchar(5)", kTypeVarChar}, State(CellState::Unavailable), {{"type", "nvarchar"}, {"value", nullptr}}},
        {{L"uz", L"varchar(5)", kTypeVarChar, 0}, State(CellState::Unavailable), {{"type", "nvarchar"}, {"value", ""}}},
        {{L"ub", L"varbinary(5)", kTypeVarBinary}, State(CellState::Unavailable),
         {{"type", "varbinary"}, {"value", nullptr}}},
        {{L"ug", L"uniqueidentifier", kTypeUniqueIdentifier, 0, 1}, State(CellState::Unavailable),
         {{"type", "uniqueidentifier"}, {"value", "00000000-0000-0000-0000-000000000000"}}},
        {{L"ux", L"varbinary(5)", kTypeVarBinary, 0}, State(CellState::Unavailable), {{"type", "varbinary"}, {"value", ""}}},
        {{L"udf", L"int", kTypeInt, 0}, State(CellState::Unavailable), nullptr},
        {{L"df", L"int", kTypeInt}, State(CellState::Default), nullptr},
    };
    ColumnDefList columns;
    for (const auto& c : cases) {
        ColumnDef def(c.column.name, c.column.typeText, c.column.code);
        def.nullable = c.column.nullable;
        def.keyFlag = c.column.key;
        def.precision = c.column.precision;
        def.scale = c.column.scale;
        def.hasDefault = std::wstring(c.column.name) == L"udf" ? 1 : 0;
        columns.push_back(def);
    }
    ColumnDef computed(L"calc", L"int", kTypeInt);
    computed.ordinal = kOrdinalNotStored;
    computed.definitionText = L"([i]+(1))";
    columns.push_back(computed);
    RowValues row(columns.size(), 1252);
    for (size_t i = 0; i < cases.size(); ++i) {
        const Value& v = cases[i].value;
        if (v.state != CellState::Value) row.SetState(i, columns[i], v.state);
        else if (v.text) row.SetValue(i, columns[i], ByteView(test::StoredBytes(columns[i], *v.text)));
        else row.SetValue(i, columns[i], ByteView(v.bytes));
    }
    row.SetState(cases.size(), computed, CellState::Computed);

    RunState state("/nonexistent");
    state.saveConstraints = 1;  // the default constraints exist on the target
    std::vector<SqlRowValue> values;
    ASSERT_TRUE(FillRowValues(columns, row, state, values));
    const std::vector<std::wstring> fields = BuildFieldList(columns);
    ASSERT_EQ(fields.size(), cases.size());  // the computed column is not exported
    ASSERT_EQ(values.size(), cases.size());

    test::TdsEndpoint endpoint;
    ASSERT_TRUE(endpoint.running());
    test::RecordingProgressSink progress;
    CSqlExportSession session(state, progress);
    const SqlConnectionFields login{L"db", L"sa", L"pw", endpoint.server(), L"FreeTDS"};
    ASSERT_TRUE(session.OpenTableForInsert(L"t", fields, login));
    session.InsertRow(values);
    const auto runs = endpoint.Events("execute");
    ASSERT_EQ(runs.size(), 1u);
    const std::string text = runs[0]["text"];
    const json& params = runs[0]["params"];
    size_t p = 0;
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(WideToUtf8(cases[i].column.name));
        if (cases[i].expected.is_null()) {
            EXPECT_NE(text.find("[" + WideToUtf8(fields[i]) + "]"), std::string::npos);
            continue;
        }
        ASSERT_LT(p, params.size());
        EXPECT_EQ(params[p]["type"], cases[i].expected["type"]);
        EXPECT_EQ(params[p]["value"], cases[i].expected["value"]);
        ++p;
    }
    EXPECT_EQ(p, params.size());
    EXPECT_EQ(text.find("DROP"), std::string::npos);
    EXPECT_EQ(text.find("'"), std::string::npos);  // no value in the statement text
    EXPECT_NE(text.find("DEFAULT"), std::string::npos);
}

TEST(RowParameters, ATableOf1024ColumnsGoesInOneRow) {
    KESTRANE_REQUIRE_TDS_ENDPOINT();
    ColumnDefList columns;
    for (int i = 0; i < 1024; ++i) columns.emplace_back(L"c" + std::to_wstring(i), L"int", kTypeInt);
    std::vector<std::optional<std::wstring>> texts;
    for (int i = 0; i < 1024; ++i) texts.push_back(std::to_wstring(i));
    texts[7] = std::nullopt;
    RunState state("/nonexistent");
    std::vector<SqlRowValue> values;
    ASSERT_TRUE(FillRowValues(columns, test::RowOf(columns, texts), state, values));
    test::TdsEndpoint endpoint;
    ASSERT_TRUE(endpoint.running());
    test::RecordingProgressSink progress;
    CSqlExportSession session(state, progress);
    ASSERT_TRUE(session.OpenTableForInsert(L"wide", BuildFieldList(columns),
                                           {L"db", L"sa", L"pw", endpoint.server(), L"FreeTDS"}));
    session.InsertRow(values);
    const auto runs = endpoint.Events("execute");
    ASSERT_EQ(runs.size(), 1u);
    ASSERT_EQ(runs[0]["params"].size(), 1024u);
    EXPECT_EQ(runs[0]["params"][1023]["value"], 1023);
    EXPECT_EQ(runs[0]["params"][7]["value"], nullptr);
}

TEST(RowParameters, FieldNamesAreTheCreateTableNames) {
    struct Case { std::vector<std::wstring> names; std::vector<std::wstring> fields; };
    const std::vector<Case> cases = {
        {{L"a", L"a", L"a"}, {L"a", L"a_", L"a__"}},
        {{L"- -", L"ok"}, {L"Repaircln0", L"ok"}},
        {{L"x]y", L"se;l'ect\x01"}, {L"xy", L"se;l'ect"}},
    };
    for (const auto& c : cases) {
        ColumnDefList columns;
        for (const auto& n : c.names) columns.emplace_back(n, L"int", kTypeInt);
        EXPECT_EQ(BuildFieldList(columns), c.fields);
    }
    // A table of computed columns only has nothing to insert.
    ColumnDef computed(L"c", L"int", kTypeInt);
    computed.ordinal = kOrdinalNotStored;
    std::vector<SqlRowValue> values{std::nullopt};
    RunState state("/nonexistent");
    EXPECT_TRUE(BuildFieldList({computed}).empty());
    EXPECT_FALSE(FillRowValues({computed}, RowValues(1, 1252), state, values));
    EXPECT_TRUE(values.empty());
}

}  // namespace
}  // namespace kestrane
