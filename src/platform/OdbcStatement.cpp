#include "platform/OdbcStatement.h"

#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <type_traits>

#include "platform/OdbcCanceller.h"

namespace kestrane {

namespace {

// Declared sizes stay the same from row to row while a value fits, so that one prepared handle serves
// the whole table; longer values go as the long types (nvarchar(max), varbinary(max)).
constexpr uint64_t kTextUnits = 4000;
constexpr uint64_t kBinaryBytes = 8000;

uint64_t TimestampColumnSize(uint8_t scale) { return 19 + (scale ? 1u + scale : 0u); }
uint8_t Scale(uint8_t scale) { return scale > 7 ? 7 : scale; }

std::string TwoDigits(unsigned v) { return {char('0' + v / 10 % 10), char('0' + v % 10)}; }

// "hh:mm:ss[.fffffff]" with the scale's fraction digits.
std::string TimeText(const OdbcTime& t) {
    std::string text = TwoDigits(t.hour) + ":" + TwoDigits(t.minute) + ":" + TwoDigits(t.second);
    const uint8_t scale = Scale(t.scale);
    if (scale) {
        std::string fraction = std::to_string(t.nanoseconds % 1000000000u);
        fraction.insert(0, 9 - fraction.size(), '0');
        text += "." + fraction.substr(0, scale);
    }
    return text;
}

// "yyyy-mm-dd", the year of four digits from 0001 on.
std::string DateText(const OdbcDate& d) {
    std::string year = std::to_string(d.year);
    year.insert(0, year.size() < 4 ? 4 - year.size() : 0, '0');
    return year + "-" + TwoDigits(d.month) + "-" + TwoDigits(d.day);
}

// "yyyy-mm-ddThh:mm:ss[.fffffff]": the ISO 8601 form, which every date and time type of the server
// reads the same whatever the session's language and date format (datetime too, thanks to the "T").
std::string TimestampText(const OdbcTimestamp& v) { return DateText(v.date) + "T" + TimeText(v.time); }

// "yyyy-mm-dd hh:mm:ss[.fffffff] +hh:mm".
std::string OffsetText(const OdbcTimestampOffset& v) {
    const unsigned offset = static_cast<unsigned>(v.offsetMinutes < 0 ? -v.offsetMinutes : v.offsetMinutes);
    return DateText(v.local.date) + " " + TimeText(v.local.time) + (v.offsetMinutes < 0 ? " -" : " +") +
           TwoDigits(offset / 60) + ":" + TwoDigits(offset % 60);
}

}  // namespace

OdbcStatement::OdbcStatement(OdbcConnection& connection) : connection_(connection) {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, connection.handle(), &stmt)))
        throw OdbcError(OdbcError::Stage::Execute, ReadOdbcDiagnostics(SQL_HANDLE_DBC, connection.handle()),
                        connection.driver());
    stmt_ = stmt;
    if (connection.queryTimeoutSeconds() > 0)
        SQLSetStmtAttrW(stmt_, SQL_ATTR_QUERY_TIMEOUT,
                        reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(connection.queryTimeoutSeconds())), 0);
}

// Registers the statement with the connection's canceller while it waits for the server.
class OdbcStatement::Waiting {
public:
    explicit Waiting(OdbcStatement& statement) : canceller_(statement.connection_.canceller()) {
        if (canceller_ && !canceller_->Attach(statement.stmt_))
            throw OdbcError(OdbcError::Stage::Execute, {{"HY008", 0, L"Operation canceled: the save was stopped"}},
                            statement.connection_.driver());
    }
    ~Waiting() {
        if (canceller_) canceller_->Detach();
    }
    Waiting(const Waiting&) = delete;
    Waiting& operator=(const Waiting&) = delete;

private:
    OdbcCanceller* canceller_;
};

OdbcStatement::~OdbcStatement() {
    if (stmt_) SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
}

void OdbcStatement::Fail() {
    auto records = ReadOdbcDiagnostics(SQL_HANDLE_STMT, stmt_);
    SQLFreeStmt(stmt_, SQL_CLOSE);
    throw OdbcError(OdbcError::Stage::Execute, std::move(records), connection_.driver());
}

void OdbcStatement::DrainResults() {
    // Later results of a batch may carry the error of a later statement.
    for (;;) {
        const SQLRETURN rc = SQLMoreResults(stmt_);
        if (rc == SQL_NO_DATA) break;
        if (!SQL_SUCCEEDED(rc)) Fail();
    }
    SQLFreeStmt(stmt_, SQL_CLOSE);
}

void OdbcStatement::ExecuteDirect(const std::wstring& text) {
    Waiting waiting(*this);
    std::u16string sql = WideToSqlText(text);
    const SQLRETURN rc = SQLExecDirectW(stmt_, reinterpret_cast<SQLWCHAR*>(sql.data()), static_cast<SQLINTEGER>(sql.size()));
    if (rc != SQL_NO_DATA && !SQL_SUCCEEDED(rc)) Fail();
    DrainResults();
}

void OdbcStatement::Prepare(const std::wstring& text) {
    Waiting waiting(*this);
    std::u16string sql = WideToSqlText(text);
    if (!SQL_SUCCEEDED(SQLPrepareW(stmt_, reinterpret_cast<SQLWCHAR*>(sql.data()), static_cast<SQLINTEGER>(sql.size()))))
        Fail();
    SQLFreeStmt(stmt_, SQL_RESET_PARAMS);
    slots_.clear();
}

int64_t OdbcStatement::Execute(const std::vector<OdbcValue>& values) {
    if (slots_.size() < values.size()) slots_.resize(values.size());
    for (size_t i = 0; i < values.size(); ++i) Bind(i, values[i]);
    Waiting waiting(*this);
    const SQLRETURN rc = SQLExecute(stmt_);
    if (rc != SQL_NO_DATA && !SQL_SUCCEEDED(rc)) Fail();
    SQLLEN rows = -1;
    if (rc != SQL_NO_DATA) SQLRowCount(stmt_, &rows);
    DrainResults();
    return rows;
}

void OdbcStatement::Bind(size_t index, const OdbcValue& value) {
    Slot& slot = slots_[index];
    Binding want;
    size_t length = 0;
    auto store = [&](const void* data, size_t size) {
        if (slot.buffer.size() < size || slot.buffer.empty()) slot.buffer.resize(std::max<size_t>(size, 16));
        if (size) std::memcpy(slot.buffer.data(), data, size);
        length = size;
    };
    auto scalar = [&](short cType, short sqlType, const auto& v, uint64_t columnSize = 0, short digits = 0) {
        want.cType = cType;
        want.sqlType = sqlType;
        want.columnSize = columnSize;
        want.digits = digits;
        store(&v, sizeof v);
    };
    bool isNull = false;

    std::visit([&](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, OdbcNull>) {
            isNull = true;
            // A NULL keeps the binding of the values before it when it has one of its kind.
            static const struct { OdbcKind kind; short c, sql; uint64_t size; short digits; } kNull[] = {
                {OdbcKind::Text, SQL_C_WCHAR, SQL_WVARCHAR, kTextUnits, 0},
                {OdbcKind::Binary, SQL_C_BINARY, SQL_VARBINARY, kBinaryBytes, 0},
                {OdbcKind::Bit, SQL_C_BIT, SQL_BIT, 0, 0},
                {OdbcKind::Integer, SQL_C_SBIGINT, SQL_BIGINT, 0, 0},
                {OdbcKind::Float, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0},
                {OdbcKind::Decimal, SQL_C_CHAR, SQL_DECIMAL, 38, 0},
                {OdbcKind::Date, SQL_C_TYPE_DATE, SQL_TYPE_DATE, 10, 0},
                {OdbcKind::Time, SQL_C_WCHAR, SQL_WVARCHAR, kTextUnits, 0},
                {OdbcKind::Timestamp, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, TimestampColumnSize(7), 7},
                {OdbcKind::TimestampOffset, SQL_C_WCHAR, SQL_WVARCHAR, kTextUnits, 0},
                {OdbcKind::Guid, SQL_C_GUID, SQL_GUID, 36, 0},
            };
            for (const auto& n : kNull)
                if (n.kind == v.kind) want = {n.c, n.sql, n.size, n.digits, nullptr, 0};
            if (slot.hasBinding && slot.bound.cType == want.cType) want = slot.bound;
            if (slot.buffer.empty()) slot.buffer.resize(16);
        } else if constexpr (std::is_same_v<T, bool>) {
            const unsigned char bit = v ? 1 : 0;
            scalar(SQL_C_BIT, SQL_BIT, bit);
        } else if constexpr (std::is_same_v<T, uint8_t>) {
            scalar(SQL_C_UTINYINT, SQL_TINYINT, v);
        } else if constexpr (std::is_same_v<T, int16_t>) {
            scalar(SQL_C_SSHORT, SQL_SMALLINT, v);
        } else if constexpr (std::is_same_v<T, int32_t>) {
            scalar(SQL_C_SLONG, SQL_INTEGER, v);
        } else if constexpr (std::is_same_v<T, int64_t>) {
            scalar(SQL_C_SBIGINT, SQL_BIGINT, v);
        } else if constexpr (std::is_same_v<T, float>) {
            scalar(SQL_C_FLOAT, SQL_REAL, v);
        } else if constexpr (std::is_same_v<T, double>) {
            scalar(SQL_C_DOUBLE, SQL_DOUBLE, v);
        } else if constexpr (std::is_same_v<T, OdbcDecimal> || std::is_same_v<T, OdbcMoney>) {
            // Exact decimal text, which the driver turns into the declared decimal(p,s) digit for digit.
            OdbcDecimal d;
            if constexpr (std::is_same_v<T, OdbcMoney>) {
                d.negative = v.tenThousandths < 0;
                d.magnitude = v.tenThousandths < 0 ? -static_cast<unsigned __int128>(v.tenThousandths)
                                                   : static_cast<unsigned __int128>(v.tenThousandths);
                d.precision = v.small ? 10 : 19;
                d.scale = 4;
            } else {
                d = v;
            }
            const std::string text = d.ToText();
            want = {SQL_C_CHAR, SQL_DECIMAL, d.precision, d.scale, nullptr, 0};
            store(text.data(), text.size());
        } else if constexpr (std::is_same_v<T, OdbcDate> || std::is_same_v<T, OdbcTime> ||
                             std::is_same_v<T, OdbcTimestamp> || std::is_same_v<T, OdbcTimestampOffset>) {
            // As exact ISO text, which the server converts into the column: FreeTDS knows neither the
            // server's time2 nor its datetimeoffset C types, and its own date arithmetic shifts days
            // before 1600 (0001-01-01 does not survive it at all).
            std::string ascii;
            if constexpr (std::is_same_v<T, OdbcDate>) ascii = DateText(v);
            else if constexpr (std::is_same_v<T, OdbcTime>) ascii = TimeText(v);
            else if constexpr (std::is_same_v<T, OdbcTimestamp>) ascii = TimestampText(v);
            else ascii = OffsetText(v);
            const std::u16string text(ascii.begin(), ascii.end());
            want = {SQL_C_WCHAR, SQL_WVARCHAR, kTextUnits, 0, nullptr, 0};
            store(text.data(), text.size() * sizeof(char16_t));
        } else if constexpr (std::is_same_v<T, OdbcGuid>) {
            SQLGUID g{};
            g.Data1 = v.data1;
            g.Data2 = v.data2;
            g.Data3 = v.data3;
            std::memcpy(g.Data4, v.data4, 8);
            scalar(SQL_C_GUID, SQL_GUID, g, 36);
        } else if constexpr (std::is_same_v<T, std::wstring>) {
            const std::u16string text = WideToSqlText(v);
            const bool fits = text.size() <= kTextUnits;
            want = {SQL_C_WCHAR, short(fits ? SQL_WVARCHAR : SQL_WLONGVARCHAR), fits ? kTextUnits : text.size(), 0, nullptr, 0};
            store(text.data(), text.size() * sizeof(char16_t));
        } else if constexpr (std::is_same_v<T, OdbcBytes>) {
            const bool fits = v.size() <= kBinaryBytes;
            want = {SQL_C_BINARY, short(fits ? SQL_VARBINARY : SQL_LONGVARBINARY), fits ? kBinaryBytes : v.size(), 0, nullptr, 0};
            store(v.data(), v.size());
        }
    }, value);

    if (!isNull || want.buffer == nullptr) {
        want.buffer = slot.buffer.data();
        want.bufferLength = static_cast<int64_t>(slot.buffer.size());
    }
    slot.indicator = isNull ? SQL_NULL_DATA : static_cast<int64_t>(length);
    if (slot.hasBinding && slot.bound == want) return;
    static_assert(sizeof(SQLLEN) == sizeof(int64_t), "indicator width");
    const SQLRETURN rc = SQLBindParameter(stmt_, static_cast<SQLUSMALLINT>(index + 1), SQL_PARAM_INPUT, want.cType,
                                          want.sqlType, static_cast<SQLULEN>(want.columnSize), want.digits,
                                          const_cast<void*>(want.buffer), static_cast<SQLLEN>(want.bufferLength),
                                          reinterpret_cast<SQLLEN*>(&slot.indicator));
    if (!SQL_SUCCEEDED(rc)) Fail();
    slot.bound = want;
    slot.hasBinding = true;
}

}  // namespace kestrane
