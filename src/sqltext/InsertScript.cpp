#include "sqltext/InsertScript.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "sqltext/CreateTableText.h"
#include "sqltext/ScriptFiles.h"
#include "sqltext/SqlNames.h"
#include "sqltext/ValueLiteral.h"

namespace kestrane {

namespace {

uint64_t FileLength(const std::wstring& path) {
    BinaryFile file;
    return file.open(NativePath(path)) ? file.size() : 0;
}

// Begins the next continuation file beside the table file; false (path kept) when it cannot be created.
bool BeginContinuationFile(uint64_t length, std::wstring& tableFilePath, const std::wstring& databaseName,
                           const std::wstring& tableName, BinaryFile& listFile, InsertScriptState& script) {
    ++script.rollOverCounter;
    const std::wstring folderName = SafePathComponent(tableName);
    const std::wstring name = folderName + std::to_wstring(length) + std::to_wstring(script.rollOverCounter) + L".sql";
    const size_t cut = tableFilePath.find_last_of(L"\\/");
    const std::wstring path = (cut == std::wstring::npos ? std::wstring(L".") : tableFilePath.substr(0, cut)) + L"/" + name;
    BinaryFile file;
    if (!file.open(NativePath(path), BinaryFile::Mode::CreateWrite) || !WriteByteOrderMark(file) ||
        !WriteScriptText(file, L"PRINT  ' Inserting in  Table :" + EscapeQuotedText(tableName) + L"' \r\n") ||
        !WriteScriptText(file, L"Use " + BracketedName(databaseName) + L"\r\n Go \r\n")) {
        ++script.failedWrites;
        return false;
    }
    tableFilePath = path;
    if (!WriteScriptText(listFile, L"\r\n:r \"Tables/" + folderName + L"/" + name + L"\"")) ++script.failedWrites;
    return true;
}

}  // namespace

std::wstring WriteInsertScripts(const std::vector<RowValues>& rows, const ColumnDefList& columns,
                                std::wstring& tableFilePath, const std::wstring& databaseName,
                                const std::wstring& tableName, BinaryFile& listFile, const RunState& state,
                                InsertScriptState& script) {
    const uint64_t length = FileLength(tableFilePath);
    if (length > script.rollOverLimit)
        BeginContinuationFile(length, tableFilePath, databaseName, tableName, listFile, script);
    if (rows.empty()) return {};

    std::wstring head = L"\r\n insert into " + BracketedName(script.currentTableName) + L" ";
    if (state.identityColumnSeen == 1) {
        // The names that the CREATE TABLE text gave the columns, so that the list matches the table.
        const std::vector<std::wstring> names = ScriptColumnNames(columns);
        const size_t count = std::min(columns.size(), rows.front().size());
        std::wstring list;
        for (size_t k = 0; k < count; ++k) {
            if (columns[k].ordinal == kOrdinalNotStored) continue;
            if (!list.empty()) list += L",";
            list += BracketedName(names[k]);
        }
        head += L"(" + list + L")" + L" values( ";
    } else {
        head += L"values( ";
    }

    std::wstring text = head;
    size_t complete = 0;  // length of the text up to the last whole row
    bool stopped = false;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (state.stopRequested()) {
            stopped = true;
            break;
        }
        const RowValues& row = rows[i];
        for (size_t j = 0; j < row.size() && j < columns.size(); ++j) {
            if (columns[j].ordinal == kOrdinalNotStored) continue;
            text += FormatValueLiteral(columns[j], row[j], state);
        }
        while (!text.empty() && text.back() == L',') text.pop_back();
        text += L")";
        complete = text.size();
        if (i + 1 == rows.size())
            text += L"\r\n";
        else if (script.queryBackwardCompatibility || state.identityColumnSeen == 1)
            text += L"\r\n" + head;
        else
            text += L",\r\n(";
    }
    // A half-built statement would fail the whole batch of the script, rows before it included.
    if (stopped) {
        if (complete == 0) return {};
        text.resize(complete);
        text += L"\r\n";
    }

    std::error_code ec;
    BinaryFile file;
    if (!std::filesystem::is_regular_file(NativePath(tableFilePath), ec) ||
        !file.open(NativePath(tableFilePath), BinaryFile::Mode::Append) || !WriteScriptText(file, text))
        ++script.failedWrites;
    return text;
}

}  // namespace kestrane
