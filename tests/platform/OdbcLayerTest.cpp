// The ODBC layer through unixODBC and the FreeTDS driver against the test endpoint: what a bound value
// becomes on the wire, and how each kind of failure comes back.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include "platform/OdbcConnection.h"
#include "platform/OdbcConnectionString.h"
#include "platform/OdbcStatement.h"
#include "platform/TextCodec.h"
#include "support/TdsEndpoint.h"

namespace kestrane {
namespace {

using nlohmann::json;
using test::TdsEndpoint;

std::wstring FreeTdsString(const TdsEndpoint& endpoint, const std::wstring& user = L"sa",
                           const std::wstring& password = L"pw", const std::wstring& database = L"") {
    return BuildConnectionString({L"FreeTDS", endpoint.server(), database, user, password});
}

TEST(OdbcLayer, BoundValuesReachTheServerExactly) {
    KESTRANE_REQUIRE_TDS_ENDPOINT();
    TdsEndpoint endpoint;
    ASSERT_TRUE(endpoint.running());

    OdbcGuid guid{0x6F9619FF, 0x8B86, 0xD011, {0xB4, 0x2D, 0x00, 0xC0, 0x4F, 0xC9, 0x64, 0xFF}};
    const std::wstring longText(5000, L'x');
    struct Case { OdbcValue value; json expected; const char* type; };
    const std::vector<Case> cases = {
        {OdbcNull{OdbcKind::Text}, nullptr, "nvarchar"},
        {OdbcNull{OdbcKind::Binary}, nullptr, "varbinary"},
        {OdbcNull{OdbcKind::Timestamp}, nullptr, "datetime2"},
        {true, true, "bit"},
        {uint8_t{255}, 255, "tinyint"},
        {int16_t{-32768}, -32768, "smallint"},
        {int32_t{2147483647}, 2147483647, "int"},
        {int64_t{INT64_MIN}, INT64_MIN, "bigint"},
        {1.5f, 1.5, "real"},
        {0.1, 0.1, "float"},
        {*OdbcDecimal::FromText("-12345678901234567890.123456789"), "-12345678901234567890.123456789", "decimal"},
        {*OdbcDecimal::FromText("0.00"), "0.00", "decimal"},
        {OdbcMoney{INT64_MIN, false}, "-922337203685477.5808", "decimal"},
        {OdbcMoney{-2147483647 - 1, true}, "-214748.3648", "decimal"},
        {OdbcDate{2024, 2, 29}, "2024-02-29", "nvarchar"},
        {OdbcTime{23, 59, 59, 999999900, 7}, "23:59:59.9999999", "nvarchar"},
        {OdbcTime{1, 2, 3, 0, 0}, "01:02:03", "nvarchar"},
        {OdbcTimestamp{{9999, 12, 31}, {23, 59, 59, 999999900, 7}}, "9999-12-31T23:59:59.9999999", "nvarchar"},
        // A datetime goes with its three fraction digits.
        {OdbcTimestamp{{1753, 1, 1}, {0, 0, 0, 3000000, 3}}, "1753-01-01T00:00:00.003", "nvarchar"},
        {OdbcTimestampOffset{{{2024, 1, 2}, {3, 4, 5, 123456700, 7}}, -330}, "2024-01-02 03:04:05.1234567 -05:30",
         "nvarchar"},
        {guid, "6F9619FF-8B86-D011-B42D-00C04FC964FF", "uniqueidentifier"},
        {std::wstring(L"a\U0001F600'];\x01 "), "a\U0001F600'];\x01 ", "nvarchar"},
        {std::wstring(), "", "nvarchar"},
        {longText, std::string(5000, 'x'), "nvarchar"},
        {OdbcBytes{0x00, 0x01, 0xFF}, "0001FF", "varbinary"},
        {OdbcBytes(9000, 0xAB), std::string(18000, 'A'), "varbinary"},
        // Every date and time type goes as ISO text, exact over the whole range 0001-9999.
        {OdbcDate{1, 1, 1}, "0001-01-01", "nvarchar"},
        {OdbcDate{100, 3, 1}, "0100-03-01", "nvarchar"},
        {OdbcDate{1582, 10, 15}, "1582-10-15", "nvarchar"},
        {OdbcDate{9999, 12, 31}, "9999-12-31", "nvarchar"},
        {OdbcTimestamp{{1, 1, 1}, {0, 0, 0, 0, 7}}, "0001-01-01T00:00:00.0000000", "nvarchar"},
        {OdbcTimestamp{{100, 3, 1}, {0, 0, 0, 0, 7}}, "0100-03-01T00:00:00.0000000", "nvarchar"},
        {OdbcTimestamp{{1582, 10, 15}, {0, 0, 0, 0, 7}}, "1582-10-15T00:00:00.0000000", "nvarchar"},
        {OdbcTimestamp{{2, 1, 1}, {1, 2, 3, 0, 0}}, "0002-01-01T01:02:03", "nvarchar"},
        {OdbcTimestampOffset{{{1, 1, 1}, {0, 0, 0, 0, 7}}, 840}, "0001-01-01 00:00:00.0000000 +14:00", "nvarchar"},
        {OdbcTimestampOffset{{{100, 3, 1}, {0, 0, 0, 0, 7}}, -840}, "0100-03-01 00:00:00.0000000 -14:00", "nvarchar"},
        {OdbcTimestampOffset{{{1582, 10, 15}, {0, 0, 0, 0, 7}}, 0}, "1582-10-15 00:00:00.0000000 +00:00", "nvarchar"},
        {OdbcTimestampOffset{{{9999, 12, 31}, {23, 59, 59, 999999900, 7}}, 0}, "9999-12-31 23:59:59.9999999 +00:00",
         "nvarchar"},
    };
    // The long binary's hex is "AB" repeated.
    std::string longHex;
    for (int i = 0; i < 9000; ++i) longHex += "AB";

    OdbcEnvironment env;
    OdbcConnection connection(env);
    connection.Open(FreeTdsString(endpoint), L"FreeTDS");
    OdbcStatement insert(connection);
    insert.Prepare(L"INSERT INTO [t] VALUES (?)");
    for (const auto& c : cases) EXPECT_EQ(insert.Execute({c.value}), 1);
    // A second row through the same handle: the values change, the prepared handle stays.
    insert.Execute({std::wstring(L"again")});

    const auto runs = endpoint.Events("execute");
    ASSERT_EQ(runs.size(), cases.size() + 1);
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        const json& param = runs[i]["params"].at(0);
        EXPECT_EQ(param.value("type", ""), cases[i].type);
        if (std::holds_alternative<OdbcBytes>(cases[i].value) && std::get<OdbcBytes>(cases[i].value).size() == 9000)
            EXPECT_EQ(param["value"], longHex);
        else
            EXPECT_EQ(param["value"], cases[i].expected);
    }
    EXPECT_EQ(runs.back()["params"][0]["value"], "again");

    // The driver's own date structure does not carry the first day: the endpoint refuses what arrives,
    // as the server does, and the connection stays usable.
    SQLHSTMT raw = SQL_NULL_HSTMT;
    ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, connection.handle(), &raw)));
    SQL_DATE_STRUCT first{1, 1, 1};
    SQLLEN size = sizeof first;
    SQLBindParameter(raw, 1, SQL_PARAM_INPUT, SQL_C_TYPE_DATE, SQL_TYPE_DATE, 10, 0, &first, sizeof first, &size);
    SQLCHAR text[] = "INSERT INTO [t] VALUES (?)";
    if (SQL_SUCCEEDED(SQLExecDirect(raw, text, SQL_NTS))) {  // a driver that carries it must carry it exactly
        EXPECT_EQ(endpoint.Events("execute").back()["params"][0]["value"], "0001-01-01");
    } else {
        ASSERT_FALSE(endpoint.Events("error").empty());
        EXPECT_EQ(endpoint.Events("error").back()["number"], 8023);
    }
    SQLFreeHandle(SQL_HANDLE_STMT, raw);
    EXPECT_EQ(insert.Execute({OdbcDate{1, 1, 1}}), 1);
}

TEST(OdbcLayer, FailuresCarryTheirClassAndEveryRecord) {
    KESTRANE_REQUIRE_TDS_ENDPOINT();
    TdsEndpoint endpoint(json::array({
        {{"match", "^create database"}, {"error", 1801}},
        {{"match", "^create table"}, {"error", 2714}},
        {{"match", "^select"}, {"error", 208}},
        {{"match", "^INSERT"}, {"error", 2627}, {"severity", 14}, {"skip", 1}, {"times", 1}},
        {{"match", "^drop"}, {"close", true}},
        {{"on", "login"}, {"match", "^refused$"}},
    }));
    ASSERT_TRUE(endpoint.running());
    OdbcEnvironment env;

    struct Case { std::wstring statement; int native; bool rejected, integrity; };
    const std::vector<Case> cases = {
        {L"create database [d]", 1801, true, false},
        {L"create table [t] (a int)", 2714, true, false},
        {L"select * from [missing]", 208, true, false},
    };
    OdbcConnection connection(env);
    connection.Open(FreeTdsString(endpoint), L"FreeTDS");
    for (const auto& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.statement));
        try {
            connection.Execute(c.statement);
            ADD_FAILURE() << "no error";
        } catch (const OdbcError& e) {
            EXPECT_EQ(e.stage(), OdbcError::Stage::Execute);
            EXPECT_EQ(e.nativeError(), c.native);
            EXPECT_EQ(e.Rejected(), c.rejected);
            EXPECT_EQ(e.IntegrityViolation(), c.integrity);
            EXPECT_NE(e.Description().find(L"[SQL Server]"), std::wstring::npos);
        }
    }
    // A refused row leaves the prepared statement usable for the next one.
    OdbcStatement insert(connection);
    insert.Prepare(L"INSERT INTO [t] VALUES (?)");
    EXPECT_EQ(insert.Execute({int32_t{1}}), 1);
    try {
        insert.Execute({int32_t{1}});
        ADD_FAILURE() << "duplicate key accepted";
    } catch (const OdbcError& e) {
        EXPECT_TRUE(e.IntegrityViolation());
        EXPECT_EQ(e.sqlState(), "23000");
    }
    EXPECT_EQ(insert.Execute({int32_t{2}}), 1);

    // The server going away mid-way is a failure of its own class, not a refused statement.
    try {
        connection.Execute(L"drop table [t]");
        ADD_FAILURE() << "no error";
    } catch (const OdbcError& e) {
        EXPECT_FALSE(e.Rejected());
        EXPECT_FALSE(e.IntegrityViolation());
    }

    // A refused login fails the connection: never a refused statement, whatever its SQLSTATE.
    OdbcConnection refused(env);
    try {
        refused.Open(FreeTdsString(endpoint, L"refused", L"pw"), L"FreeTDS");
        ADD_FAILURE() << "login accepted";
    } catch (const OdbcError& e) {
        EXPECT_EQ(e.stage(), OdbcError::Stage::Connect);
        EXPECT_EQ(e.nativeError(), 18456);
        EXPECT_FALSE(e.Rejected());
        EXPECT_FALSE(e.DriverMissing());
    }
    EXPECT_FALSE(refused.IsOpen());
}

TEST(OdbcLayer, MissingDriverIsToldApartAndNamed) {
    OdbcEnvironment env;
    OdbcConnection connection(env);
    const std::wstring driver = L"ODBC Driver 99 for SQL Server";
    try {
        connection.Open(BuildConnectionString({driver, L"127.0.0.1,1", L"", L"u", L"p"}), driver);
        ADD_FAILURE() << "connected without a driver";
    } catch (const OdbcError& e) {
        EXPECT_TRUE(e.DriverMissing());
        EXPECT_EQ(e.Description().rfind(L"ODBC driver \"" + driver + L"\": ", 0), 0u) << WideToUtf8(e.Description());
    }
}

TEST(OdbcLayer, ConnectionValuesCannotAddKeywords) {
    EXPECT_EQ(BraceConnectionValue(L"a}b;c{"), L"{a}}b;c{}");
    EXPECT_EQ(BuildConnectionString({L"ODBC Driver 18 for SQL Server", L"h\\i", L"", L"", L""}),
              L"Driver={ODBC Driver 18 for SQL Server};Server={h\\i};Database={};Trusted_Connection=Yes;");
    EXPECT_EQ(BuildConnectionString({L"ODBC Driver 17 for SQL Server", L"s", L"d}b", L"u", L"p}w;UID=x"}),
              L"Driver={ODBC Driver 17 for SQL Server};Server={s};Database={d}}b};UID={u};PWD={p}}w;UID=x};");
    // FreeTDS ends a braced value at the first "};" and keeps "}}" as it is: such a value is refused.
    EXPECT_THROW(BuildConnectionString({L"FreeTDS", L"s", L"", L"u", L"x};UID=evil"}), OdbcError);
    EXPECT_THROW(BuildConnectionString({L"ODBC Driver 18 for SQL Server", L"s", L"", L"u", std::wstring(L"a\0b", 3)}),
                 OdbcError);

    KESTRANE_REQUIRE_TDS_ENDPOINT();
    TdsEndpoint endpoint;
    ASSERT_TRUE(endpoint.running());
    OdbcEnvironment env;
    OdbcConnection connection(env);
    connection.Open(FreeTdsString(endpoint, L"us;er=1", L"p;w=x{", L"db;Server=evil"), L"FreeTDS");
    const auto logins = endpoint.Events("login");
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(logins[0]["user"], "us;er=1");
    EXPECT_EQ(logins[0]["password"], "p;w=x{");
    EXPECT_EQ(logins[0]["database"], "db;Server=evil");
}

}  // namespace
}  // namespace kestrane
