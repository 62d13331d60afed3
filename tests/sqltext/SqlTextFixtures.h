#pragma once
// Hand-built column lists and script-file helpers for the T-SQL text tests.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "datafile/ColumnDef.h"
#include "platform/BinaryFile.h"
#include "platform/TextCodec.h"

namespace kestrane::test {

// A fresh folder under the build tree for one test.
inline std::filesystem::path Scratch(const std::string& name) {
    std::filesystem::path dir = std::filesystem::path(KESTRANE_BINARY_DIR) / "sqltext-scratch" / name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

// A script file as text, after checking that it is UTF-16LE with FF FE.
inline std::wstring ReadScript(const std::wstring& path) {
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(ReadWholeFile(WideToUtf8(path), bytes)) << WideToUtf8(path);
    if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE) {
        ADD_FAILURE() << "no byte-order mark in " << WideToUtf8(path);
        return {};
    }
    return Utf16LeToWide(ByteView(bytes).from(2));
}

// A column as the schema loader leaves it: type code set after construction (so that 31/32 survive).
inline ColumnDef Column(const std::wstring& name, const std::wstring& typeText, uint32_t code, uint8_t nullable = 1) {
    ColumnDef c(name, typeText, code);
    c.typeCode = code;
    c.nullable = nullable;
    c.ordinal = 1;
    return c;
}

// The example table of the export texts: id int identity, name nvarchar(100) NULL, price money NOT NULL.
inline ColumnDefList OrdersColumns() {
    ColumnDef id = Column(L"id", L"int(4)", kTypeInt, 0);
    id.identityText = L"identity(1,1)";
    return {id, Column(L"name", L"nvarchar(100)", kTypeNVarChar), Column(L"price", L"money(8)", kTypeMoney, 0)};
}

}  // namespace kestrane::test
