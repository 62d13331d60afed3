#include <gtest/gtest.h>

#include "datafile/BitReader.h"
#include "datafile/ColumnDef.h"

namespace kestrane {
namespace {

TEST(ColumnTypes, SystemTypeMappingAndNames) {
    EXPECT_EQ(InternalTypeFromSystemType(127), 0u);
    EXPECT_EQ(InternalTypeFromSystemType(36), 15u);
    EXPECT_EQ(InternalTypeFromSystemType(34), 26u);  // image: split off by the schema loader
    EXPECT_EQ(InternalTypeFromSystemType(35), 26u);
    EXPECT_EQ(InternalTypeFromSystemType(240), 33u);
    EXPECT_EQ(InternalTypeFromSystemType(241), 34u);
    EXPECT_EQ(InternalTypeFromSystemType(232), 18u);
    EXPECT_EQ(InternalTypeFromSystemType(200), 3u);  // unknown ids read as char
    EXPECT_EQ(InternalTypeFromSystemType(0), 3u);

    EXPECT_EQ(TypeNameFromSystemType(36), L"Uniquifier");
    EXPECT_EQ(TypeNameFromSystemType(189), L"timstamp");
    EXPECT_EQ(TypeNameFromSystemType(231), L"NVarchar");
    EXPECT_EQ(TypeNameFromSystemType(34), L"text");
    EXPECT_EQ(TypeNameFromSystemType(35), L"text");
    EXPECT_EQ(TypeNameFromSystemType(200), L"");
    EXPECT_EQ(ColumnDescriptor::TypeNameFromSystemType(122), L"smallmoney");
}

TEST(ColumnTypes, TypeTextParsingSetsLengthAndVariableFlag) {
    ColumnDef plain(L"c", L"int", kTypeDecimal);
    EXPECT_EQ(plain.declaredLength, 0);
    EXPECT_EQ(ColumnDef(L"c", L"decimal(9)", kTypeDecimal).declaredLength, 9);
    EXPECT_EQ(ColumnDef(L"c", L"decimal(18,2)", kTypeDecimal).declaredLength, 18);
    EXPECT_EQ(ColumnDef(L"c", L"char()", kTypeChar).declaredLength, 0);
    EXPECT_EQ(ColumnDef(L"c", L"char(99999999)", kTypeChar).declaredLength, 0xFFFF);  // saturates, no wrap

    ColumnDef varchar(L"c", L"varchar(50)", kTypeVarChar);
    EXPECT_EQ(varchar.declaredLength, 0);
    EXPECT_EQ(varchar.variable, 1);
    ColumnDef nvarchar(L"c", L"nvarchar(100)", kTypeNVarChar);
    EXPECT_EQ(nvarchar.declaredLength, 100);
    EXPECT_EQ(nvarchar.variable, 1);
    ColumnDef max(L"c", L"nvarchar(-1)", kTypeNVarChar);
    EXPECT_EQ(max.declaredLength, 0);  // "-" stops the digits

    EXPECT_EQ(ColumnDef(L"c", L"sysname(256)", kTypeSysName).typeCode, uint32_t(kTypeNVarChar));
    EXPECT_EQ(ColumnDef(L"c", L"sysname(256)", kTypeSysName).declaredLength, 256);
    for (uint32_t code : {31u, 32u, 40u}) {
        ColumnDef def(L"c", L"x(8)", code);
        EXPECT_EQ(def.typeCode, uint32_t(kTypeVarChar)) << code;
        EXPECT_EQ(def.variable, 1);
    }
    ColumnDef ntext(L"c", L"ntext(16)", kTypeNText);
    EXPECT_EQ(ntext.declaredLength, 0);
    EXPECT_EQ(ntext.variable, 1);

    // Construction leaves a clean, copyable record.
    ColumnDef def(L"name", L"int(4)", kTypeInt);
    EXPECT_EQ(def.nullBitmapIndex, -1);
    EXPECT_EQ(def.collationId, -1);
    EXPECT_EQ(def.nullable, 0);
    EXPECT_EQ(def.variable, 0);
    ColumnDef copy = def;
    copy.valueText = L"42";
    EXPECT_EQ(def.valueText, L"");
    EXPECT_EQ(ColumnDef().nullBitmapIndex, 0);
}

TEST(ColumnTypes, DescriptorSizesColumnsByCode) {
    ColumnDef decimal(L"c", L"decimal(9)", kTypeDecimal);
    ColumnDescriptor d(kTypeDecimal, decimal, nullptr);
    EXPECT_EQ(d.fixedLength, 9);
    EXPECT_EQ(d.valueLength, 9);
    ColumnDescriptor numeric(kTypeNumeric, ColumnDef(L"c", L"numeric(9)", kTypeNumeric), nullptr);
    EXPECT_EQ(numeric.fixedLength, 19);
    ColumnDescriptor date(kTypeDateTimeOffset, ColumnDef(), nullptr);
    EXPECT_EQ(date.fixedLength, 10);
    EXPECT_EQ(date.variable, 0);

    ColumnDescriptor varbinary(kTypeVarBinary, ColumnDef(L"c", L"varbinary(10)", kTypeVarBinary), nullptr);
    EXPECT_EQ(varbinary.variable, 1);
    EXPECT_EQ(varbinary.fixedLength, 0);
    ColumnDef nchar(L"c", L"nchar(20)", kTypeNChar);
    ColumnDescriptor n(kTypeNChar, nchar, nullptr);
    EXPECT_EQ(n.fixedLength, 20);
    EXPECT_EQ(n.variable, 0);
    ColumnDescriptor nv(kTypeNVarChar, ColumnDef(L"c", L"nvarchar(20)", kTypeNVarChar), nullptr);
    EXPECT_EQ(nv.variable, 1);
    EXPECT_EQ(nv.fixedLength, 20);
    ColumnDescriptor sysname(kTypeSysName, ColumnDef(), nullptr);  // never arrives: stays zero
    EXPECT_EQ(sysname.fixedLength, 0);
    EXPECT_EQ(sysname.valueLength, 0);
    EXPECT_EQ(sysname.typeCode, uint32_t(kTypeSysName));
}

TEST(ColumnTypes, NineBitColumnsTakeTwoBytes) {
    BitReader reader;
    ColumnDef bit(L"b", L"bit(1)", kTypeBit);
    std::vector<int> fixed;
    for (int i = 0; i < 9; ++i) {
        ColumnDescriptor d(kTypeBit, bit, &reader);
        EXPECT_EQ(d.valueLength, 1);
        EXPECT_EQ(d.bitReader, &reader);
        fixed.push_back(d.fixedLength);
        if (d.fixedLength == 1) reader.SetByte(0xFF);  // what the formatter does with a new byte
        reader.NextBit();
    }
    EXPECT_EQ(fixed, (std::vector<int>{1, 0, 0, 0, 0, 0, 0, 0, 1}));
    ColumnDescriptor noReader(kTypeBit, bit, nullptr);
    EXPECT_EQ(noReader.fixedLength, 0);
}

}  // namespace
}  // namespace kestrane
