#pragma once
// Names in the T-SQL texts and in the script folder. Table and column names come from a data file and
// are untrusted: every name that is put between brackets, between quotes or into a path goes through
// one of the functions below, so that it cannot close its brackets or quotes, leave its folder, end a
// script line (sqlcmd acts on lines that begin with "GO" or ":") or cut a statement short (NUL).
#include <string>

namespace kestrane {

// Characters no name keeps: U+0000..U+001F, U+007F..U+009F, and the line and paragraph separators.
bool IsNameControlCharacter(wchar_t c);
std::wstring WithoutControlCharacters(std::wstring name);

// Whether the word (any case) is one of the server's reserved keywords.
bool IsReservedWord(const std::wstring& word);

// Removes the control characters above, then ".", "!", "[", "]", "`", " " and "-". The result may be empty.
std::wstring SanitizeSqlIdentifier(std::wstring name);

// The database name of a data file: its last path component (split on "\" and "/") without ".mdf"
// or ".MDF" (exact case), without "-" and " ".
std::wstring DatabaseNameFromFilePath(const std::wstring& path);

// The name as it goes between "[" and "]": control characters removed, every "]" doubled.
std::wstring EscapeBracketedName(const std::wstring& name);
// "[" + EscapeBracketedName(name) + "]": the one way a name from the file is written bracketed.
std::wstring BracketedName(const std::wstring& name);

// A name as it goes between single quotes (PRINT lines, N'..' names): control characters removed, every
// "'" doubled. Values are not names: they are written by ValueLiteral.
std::wstring EscapeQuotedText(const std::wstring& text);

// The table name of a SET IDENTITY_INSERT statement: unchanged when it is a regular identifier that is
// no reserved word, else BracketedName, so that the statement names exactly that table.
std::wstring IdentityInsertTableName(const std::wstring& name);

// One folder or file name component made from a table or database name, valid on Linux and Windows:
// "/", "\", control characters and the characters that Windows refuses in file names ('"' also closes
// the ":r" path of a list file) become "_", and so do trailing dots and blanks (so "", "." and ".."
// become "_", "_" and "__"); a Windows device name (CON, NUL, COM1...) gets "_" before it. The result
// never leaves its parent folder. Applying it twice gives the same as applying it once.
std::wstring SafePathComponent(const std::wstring& name);

}  // namespace kestrane
