#include <gtest/gtest.h>

#include "datafile/ColumnDef.h"

namespace kestrane {
namespace {

TEST(ColumnTypes, TypeTextParsingSetsLengthAndVariableFlag) {
    EXPECT_EQ(InternalTypeFromSystemType(200), uint32_t(kTypeChar)) << "unknown ids read as char";
    EXPECT_EQ(TypeNameFromSystemType(200), L"");

    EXPECT_EQ(ColumnDef(L"c", L"int", kTypeDecimal).declaredLength, 0);
    EXPECT_EQ(ColumnDef(L"c", L"decimal(18,2)", kTypeDecimal).declaredLength, 18);
    EXPECT_EQ(ColumnDef(L"c", L"char()", kTypeChar).declaredLength, 0);
    EXPECT_EQ(ColumnDef(L"c", L"char(99999999)", kTypeChar).declaredLength, 0xFFFF);  // saturates, no wrap
    EXPECT_EQ(ColumnDef(L"c", L"char(12", kTypeChar).declaredLength, 0);               // no closing parenthesis
    EXPECT_EQ(ColumnDef(L"c", L"nvarchar(-1)", kTypeNVarChar).declaredLength, 0);      // "-" stops the digits

    ColumnDef sysname(L"c", L"sysname(256)", kTypeSysName);
    EXPECT_EQ(sysname.typeCode, uint32_t(kTypeNVarChar));
    EXPECT_EQ(sysname.declaredLength, 256);
    EXPECT_EQ(sysname.variable, 1);
    for (uint32_t code : {31u, 32u, 40u}) {
        ColumnDef def(L"c", L"x(8)", code);
        EXPECT_EQ(def.typeCode, uint32_t(kTypeVarChar)) << code;
        EXPECT_EQ(def.variable, 1);
    }

    // A bit column claims a byte of the fixed part only when its reader has used the last one up.
    ColumnDef bit(L"b", L"bit(1)", kTypeBit);
    EXPECT_EQ(ColumnDescriptor(kTypeBit, bit, nullptr).fixedLength, 0);
    ColumnDescriptor nvarchar(kTypeNVarChar, ColumnDef(L"c", L"nvarchar(20)", kTypeNVarChar), nullptr);
    EXPECT_EQ(nvarchar.variable, 1);
    EXPECT_EQ(nvarchar.fixedLength, 20);
}

}  // namespace
}  // namespace kestrane
