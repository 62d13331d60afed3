#include "sqltext/InsertScript.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>

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
        !WriteScriptText(file, GuardedUseBatch(L"Use " + BracketedName(databaseName) + L"\r\n Go \r\n"))) {
        ++script.failedWrites;
        return false;
    }
    tableFilePath = path;
    if (!WriteScriptText(listFile, L"\r\n:r \"Tables/" + folderName + L"/" + name + L"\"")) ++script.failedWrites;
    return true;
}

// The statement head: "insert into [T] " and, when the table has an identity column, the column list.
std::wstring InsertHead(const std::vector<RowValues>& rows, const ColumnDefList& columns, const RunState& state,
                        const InsertScriptState& script) {
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
    return head;
}

// Sets `text` to the INSERT text of `rows` after `head`; the number of rows in it, 0 when a stop came
// before the first. The stand-ins of the rows in the text count in `standIns` when given.
size_t BuildInsertText(const std::wstring& head, const std::vector<RowValues>& rows, const ColumnDefList& columns,
                       const RunState& state, const InsertScriptState& script, std::wstring& text,
                       StandInTally* standIns = nullptr) {
    text.assign(head);
    size_t complete = 0;  // length of the text up to the last whole row
    for (size_t i = 0; i < rows.size(); ++i) {
        if (state.stopRequested()) {
            // A half-built statement would fail the whole batch of the script, rows before it included.
            if (complete == 0) return 0;
            text.resize(complete);
            text += L"\r\n";
            return i;
        }
        const RowValues& row = rows[i];
        for (size_t j = 0; j < row.size() && j < columns.size(); ++j) {
            if (columns[j].ordinal == kOrdinalNotStored) continue;
            text += ValueLiteral(columns[j], row[j], state, standIns);
            text += L',';
        }
        while (!text.empty() && text.back() == L',') text.pop_back();
        text += L")";
        complete = text.size();
        if (i + 1 == rows.size()) {
            text += L"\r\n";
        } else if (script.queryBackwardCompatibility || state.identityColumnSeen == 1) {
            text += L"\r\n";
            text += head;
        } else {
            text += L",\r\n(";
        }
    }
    return rows.size();
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

    std::wstring text;
    if (BuildInsertText(InsertHead(rows, columns, state, script), rows, columns, state, script, text) == 0) return {};

    std::error_code ec;
    BinaryFile file;
    if (!std::filesystem::is_regular_file(NativePath(tableFilePath), ec) ||
        !file.open(NativePath(tableFilePath), BinaryFile::Mode::Append) || !WriteScriptText(file, text))
        ++script.failedWrites;
    return text;
}

bool InsertScriptWriter::Open() {
    if (opened_) return file_.IsOpen();
    opened_ = true;
    if (file_.Open(tableFilePath_)) return true;
    ++script_.failedWrites;
    return false;
}

const std::wstring& InsertScriptWriter::Head(const std::vector<RowValues>& rows, const ColumnDefList& columns,
                                             const RunState& state) {
    const size_t count = std::min(columns.size(), rows.front().size());
    if (headColumns_ != &columns || headIdentity_ != state.identityColumnSeen || headCount_ != count ||
        headTable_ != script_.currentTableName) {
        head_ = InsertHead(rows, columns, state, script_);
        headColumns_ = &columns;
        headIdentity_ = state.identityColumnSeen;
        headCount_ = count;
        headTable_ = script_.currentTableName;
    }
    return head_;
}

size_t InsertScriptWriter::Write(const std::vector<RowValues>& rows, const ColumnDefList& columns,
                                 const RunState& state) {
    const uint64_t failedBefore = script_.failedWrites;
    const bool open = Open();
    if (open && file_.Length() > script_.rollOverLimit) {
        // The continuation's name holds the table file's length: the file must be whole first.
        const bool flushed = Flush();
        const uint64_t length = file_.Length();
        if (flushed && BeginContinuationFile(length, tableFilePath_, databaseName_, tableName_, listFile_, script_) &&
            !file_.Open(tableFilePath_))
            ++script_.failedWrites;
    }
    if (rows.empty()) return 0;
    StandInTally standIns;
    const size_t written = BuildInsertText(Head(rows, columns, state), rows, columns, state, script_, text_, &standIns);
    if (written == 0) return 0;
    if (!file_.IsOpen() && script_.failedWrites == failedBefore) ++script_.failedWrites;
    // After a continuation that could not be begun the text still goes to the table file, as
    // WriteInsertScripts writes it, but the operation counts as not written.
    if (file_.IsOpen()) file_.Append(text_);
    if (script_.failedWrites != failedBefore) {
        ++settled_.notWritten;
        return written;
    }
    pending_.push_back({file_.Length(), written, std::move(standIns)});
    if (file_.Buffered() >= kBlockBytes) Flush();
    return written;
}

void InsertScriptWriter::Append(const std::wstring& text) {
    if (Open()) file_.Append(text);
}

bool InsertScriptWriter::Flush() {
    const bool ok = file_.Flush();
    if (!ok) ++script_.failedWrites;
    for (const Pending& p : pending_) {
        if (p.end <= file_.Length()) {
            ++settled_.keptOperations;
            settled_.keptRows += p.rows;
            settled_.standIns.Add(p.standIns);
        } else {
            ++settled_.notWritten;
        }
    }
    pending_.clear();
    return ok;
}

InsertScriptSettled InsertScriptWriter::Take() { return std::exchange(settled_, InsertScriptSettled{}); }

}  // namespace kestrane
