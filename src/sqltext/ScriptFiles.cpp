#include "sqltext/ScriptFiles.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/TextCodec.h"
#include "sqltext/SqlNames.h"

namespace kestrane {

std::string NativePath(const std::wstring& path) { return WideToUtf8(path); }

bool WriteByteOrderMark(BinaryFile& file) {
    const uint8_t ff = 0xFF, fe = 0xFE;
    return file.write(&ff, 1) && file.write(&fe, 1);
}

bool WriteScriptText(BinaryFile& file, const std::wstring& text) {
    const std::vector<uint8_t> bytes = WideToUtf16Le(text);
    return file.write(bytes.data(), bytes.size());
}

std::wstring ScriptFilePath(const std::wstring& name, const std::wstring& folder) {
    return folder + L"/" + SafePathComponent(name) + L".sql";
}

std::wstring CreateScriptFile(const std::wstring& name, const std::wstring& folder) {
    const std::wstring path = ScriptFilePath(name, folder);
    BinaryFile file;
    if (!file.open(NativePath(path), BinaryFile::Mode::CreateWrite)) return {};
    return path;
}

std::wstring WriteCreateDatabaseScript(const std::wstring& path, const std::wstring& databaseName) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(NativePath(path), ec)) return {};
    BinaryFile file;
    if (!file.open(NativePath(path), BinaryFile::Mode::CreateWrite)) return {};
    const std::wstring q = EscapeQuotedText(databaseName);   // between quotes
    const std::wstring b = EscapeBracketedName(databaseName);  // between brackets
    // A drop or create that fails ends sqlcmd with an error, so that the batch files run no table
    // script; the file sizes after it may fail harmlessly (a larger model database).
    const std::wstring text =
        L":on error exit\r\nPRINT  ' Creating DataBase:" + q + L"' \r\n" +
        L"use [master] \r\n Go \r\n  IF  EXISTS (SELECT name FROM sys.databases WHERE name = N'" + q +
        L"')\r\n DROP DATABASE [" + b + L"] \r\n Go \r\n  USE [master] \r\n Go \r\n  " + L"CREATE DATABASE [" + b +
        L"]\r\n GO \r\n:on error ignore\r\n ALTER DATABASE [" + b + L"] MODIFY FILE \r\n ( NAME = N'" + q +
        L"', SIZE = 3048KB , MAXSIZE = UNLIMITED, FILEGROWTH = 1024KB )\r\n GO \r\n ALTER DATABASE [" + b +
        L"] MODIFY FILE \r\n( NAME = N'" + q + L"_log', SIZE = 1024KB , MAXSIZE = 2048GB , FILEGROWTH = 10%) \r\n GO";
    if (!WriteByteOrderMark(file) || !WriteScriptText(file, text)) return {};
    return path;
}

std::wstring EnsureOutputFolder(const std::wstring& path, const std::wstring& name) {
    const size_t cut = path.find_last_of(L"\\/");
    const std::wstring safe = SafePathComponent(name);
    const std::wstring folder = cut == std::wstring::npos ? safe : path.substr(0, cut) + L"/" + safe;
    std::error_code ec;
    std::filesystem::create_directory(NativePath(folder), ec);
    return folder;
}

std::wstring WriteTableScriptHeader(const std::wstring& text, const std::wstring& folder, const std::wstring& tableName,
                                    const std::wstring& databaseName) {
    const std::wstring component = SafePathComponent(tableName);
    const std::wstring tableFolder = folder + L"/" + component;
    std::error_code ec;
    std::filesystem::create_directory(NativePath(tableFolder), ec);
    const std::wstring path = tableFolder + L"/" + component + L".sql";
    BinaryFile file;
    if (!file.open(NativePath(path), BinaryFile::Mode::CreateWrite)) return {};
    const bool ok = WriteByteOrderMark(file) &&
                    WriteScriptText(file, L"PRINT  ' Processing Table :" + EscapeQuotedText(tableName) + L"' \r\n") &&
                    WriteScriptText(file, GuardedUseBatch(L"use " + BracketedName(databaseName) + L"\r\n go \r\n") + text);
    return ok ? path : std::wstring();
}

std::wstring GuardedUseBatch(const std::wstring& useBatch) {
    return L":on error exit\r\n" + useBatch + L":on error ignore\r\n";
}

std::optional<std::string> CStringToAnsi(const std::wstring& text, int codePage) {
    std::string bytes = WideToCodePage(text, codePage);
    bytes.resize(std::min(bytes.size(), bytes.find('\0')));  // the buffer is read up to its zero
    if (bytes.empty()) return std::nullopt;
    return bytes;
}

bool WriteAnsiText(BinaryFile& file, const std::wstring& text, int codePage) {
    const std::optional<std::string> bytes = CStringToAnsi(text, codePage);
    if (!bytes) return false;
    return file.write(bytes->data(), bytes->size());
}

}  // namespace kestrane
