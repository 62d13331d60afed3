#pragma once
// Hand-built column lists for the T-SQL text tests.
#include <string>

#include "datafile/ColumnDef.h"

namespace kestrane::test {

// A column as the schema loader leaves it: type code set after construction (so that 31/32 survive).
inline ColumnDef Column(const std::wstring& name, const std::wstring& typeText, uint32_t code, uint8_t nullable = 1) {
    ColumnDef c(name, typeText, code);
    c.typeCode = code;
    c.nullable = nullable;
    c.ordinal = 1;
    return c;
}

inline ColumnDef WithValue(ColumnDef c, const std::wstring& value) {
    c.valueText = value;
    return c;
}

// The example table of the export texts: id int identity, name nvarchar(100) NULL, price money NOT NULL.
inline ColumnDefList OrdersColumns() {
    ColumnDef id = Column(L"id", L"int(4)", kTypeInt, 0);
    id.identityText = L"identity(1,1)";
    return {id, Column(L"name", L"nvarchar(100)", kTypeNVarChar), Column(L"price", L"money(8)", kTypeMoney, 0)};
}

}  // namespace kestrane::test
