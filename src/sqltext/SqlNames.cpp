#include "sqltext/SqlNames.h"

#include <algorithm>
#include <iterator>
#include <string_view>

namespace kestrane {

namespace {

void RemoveAll(std::wstring& text, wchar_t ch) { text.erase(std::remove(text.begin(), text.end(), ch), text.end()); }

void RemoveAll(std::wstring& text, std::wstring_view piece) {
    for (size_t at = text.find(piece); at != std::wstring::npos; at = text.find(piece, at)) text.erase(at, piece.size());
}

std::wstring DoubleEvery(const std::wstring& text, wchar_t ch) {
    std::wstring out;
    out.reserve(text.size() + 2);
    for (wchar_t c : text) {
        out += c;
        if (c == ch) out += c;
    }
    return out;
}

// The server's reserved keywords: a table of such a name must be bracketed.
constexpr std::string_view kReservedWords[] = {
    "ADD", "ALL", "ALTER", "AND", "ANY", "AS", "ASC", "AUTHORIZATION", "BACKUP", "BEGIN", "BETWEEN",
    "BREAK", "BROWSE", "BULK", "BY", "CASCADE", "CASE", "CHECK", "CHECKPOINT", "CLOSE", "CLUSTERED",
    "COALESCE", "COLLATE", "COLUMN", "COMMIT", "COMPUTE", "CONSTRAINT", "CONTAINS", "CONTAINSTABLE",
    "CONTINUE", "CONVERT", "CREATE", "CROSS", "CURRENT", "CURRENT_DATE", "CURRENT_TIME",
    "CURRENT_TIMESTAMP", "CURRENT_USER", "CURSOR", "DATABASE", "DBCC", "DEALLOCATE", "DECLARE",
    "DEFAULT", "DELETE", "DENY", "DESC", "DISK", "DISTINCT", "DISTRIBUTED", "DOUBLE", "DROP", "DUMP",
    "ELSE", "END", "ERRLVL", "ESCAPE", "EXCEPT", "EXEC", "EXECUTE", "EXISTS", "EXIT", "EXTERNAL",
    "FETCH", "FILE", "FILLFACTOR", "FOR", "FOREIGN", "FREETEXT", "FREETEXTTABLE", "FROM", "FULL",
    "FUNCTION", "GOTO", "GRANT", "GROUP", "HAVING", "HOLDLOCK", "IDENTITY", "IDENTITY_INSERT",
    "IDENTITYCOL", "IF", "IN", "INDEX", "INNER", "INSERT", "INTERSECT", "INTO", "IS", "JOIN", "KEY",
    "KILL", "LEFT", "LIKE", "LINENO", "LOAD", "MERGE", "NATIONAL", "NOCHECK", "NONCLUSTERED", "NOT",
    "NULL", "NULLIF", "OF", "OFF", "OFFSETS", "ON", "OPEN", "OPENDATASOURCE", "OPENQUERY",
    "OPENROWSET", "OPENXML", "OPTION", "OR", "ORDER", "OUTER", "OVER", "PERCENT", "PIVOT", "PLAN",
    "PRECISION", "PRIMARY", "PRINT", "PROC", "PROCEDURE", "PUBLIC", "RAISERROR", "READ", "READTEXT",
    "RECONFIGURE", "REFERENCES", "REPLICATION", "RESTORE", "RESTRICT", "RETURN", "REVERT", "REVOKE",
    "RIGHT", "ROLLBACK", "ROWCOUNT", "ROWGUIDCOL", "RULE", "SAVE", "SCHEMA", "SECURITYAUDIT", "SELECT",
    "SEMANTICKEYPHRASETABLE", "SEMANTICSIMILARITYDETAILSTABLE", "SEMANTICSIMILARITYTABLE",
    "SESSION_USER", "SET", "SETUSER", "SHUTDOWN", "SOME", "STATISTICS", "SYSTEM_USER", "TABLE",
    "TABLESAMPLE", "TEXTSIZE", "THEN", "TO", "TOP", "TRAN", "TRANSACTION", "TRIGGER", "TRUNCATE",
    "TRY_CONVERT", "TSEQUAL", "UNION", "UNIQUE", "UNPIVOT", "UPDATE", "UPDATETEXT", "USE", "USER",
    "VALUES", "VARYING", "VIEW", "WAITFOR", "WHEN", "WHERE", "WHILE", "WITH", "WRITETEXT", "GO",
};

// CON, PRN, AUX, NUL, COM1..9 and LPT1..9, alone or before an extension, name devices on Windows.
bool IsDeviceName(const std::wstring& name) {
    std::wstring base = name.substr(0, name.find(L'.'));
    while (!base.empty() && base.back() == L' ') base.pop_back();
    for (wchar_t& c : base) c = c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c;
    if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL") return true;
    return base.size() == 4 && (base.rfind(L"COM", 0) == 0 || base.rfind(L"LPT", 0) == 0) && base[3] >= L'1' && base[3] <= L'9';
}

bool IsAsciiLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }

bool IsPlainIdentifier(const std::wstring& name) {
    if (name.empty() || !(IsAsciiLetter(name[0]) || name[0] == L'_')) return false;
    for (wchar_t c : name)
        if (!(IsAsciiLetter(c) || (c >= L'0' && c <= L'9') || c == L'_' || c == L'@' || c == L'$' || c == L'#'))
            return false;
    return !IsReservedWord(name);
}

}  // namespace

bool IsReservedWord(const std::wstring& word) {
    std::string upper;
    for (wchar_t c : word) {
        if (c > 127) return false;
        upper += static_cast<char>(c >= L'a' && c <= L'z' ? c - 32 : c);
    }
    return std::find(std::begin(kReservedWords), std::end(kReservedWords), upper) != std::end(kReservedWords);
}

bool IsNameControlCharacter(wchar_t c) {
    return c < 32 || (c >= 127 && c <= 159) || c == 0x2028 || c == 0x2029;
}

std::wstring WithoutControlCharacters(std::wstring name) {
    name.erase(std::remove_if(name.begin(), name.end(), IsNameControlCharacter), name.end());
    return name;
}

std::wstring SanitizeSqlIdentifier(std::wstring name) {
    name = WithoutControlCharacters(std::move(name));
    for (wchar_t c : std::wstring_view(L".![]` -")) RemoveAll(name, c);
    return name;
}

std::wstring DatabaseNameFromFilePath(const std::wstring& path) {
    size_t cut = path.find_last_of(L"\\/");
    std::wstring name = cut == std::wstring::npos ? path : path.substr(cut + 1);
    RemoveAll(name, L".mdf");
    RemoveAll(name, L".MDF");
    RemoveAll(name, L'-');
    RemoveAll(name, L' ');
    return name;
}

std::wstring EscapeBracketedName(const std::wstring& name) { return DoubleEvery(WithoutControlCharacters(name), L']'); }

std::wstring BracketedName(const std::wstring& name) { return L"[" + EscapeBracketedName(name) + L"]"; }

std::wstring EscapeQuotedText(const std::wstring& text) { return DoubleEvery(WithoutControlCharacters(text), L'\''); }

std::wstring IdentityInsertTableName(const std::wstring& name) {
    return IsPlainIdentifier(name) ? name : BracketedName(name);
}

std::wstring SafePathComponent(const std::wstring& name) {
    std::wstring out = name;
    for (wchar_t& c : out)
        if (c < 32 || (c >= 127 && c <= 159) || std::wstring_view(L"/\\\"<>:|?*").find(c) != std::wstring_view::npos)
            c = L'_';
    // Windows drops trailing dots and blanks, so "a." would name the file "a" there (and ".." the parent).
    for (size_t i = out.size(); i > 0 && (out[i - 1] == L'.' || out[i - 1] == L' '); --i) out[i - 1] = L'_';
    if (out.empty()) out = L"_";
    if (IsDeviceName(out)) out.insert(0, 1, L'_');
    return out;
}

}  // namespace kestrane
