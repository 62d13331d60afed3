#include "datafile/ColumnDef.h"

#include "datafile/BitReader.h"

namespace kestrane {

uint32_t InternalTypeFromSystemType(uint32_t systemTypeId) {
    switch (systemTypeId) {
        case 127: return kTypeBigInt;
        case 173: return kTypeBinary;
        case 104: return kTypeBit;
        case 175: return kTypeChar;
        case 61: return kTypeDateTime;
        case 40: return kTypeDate;
        case 41: return kTypeTime;
        case 42: return kTypeDateTime2;
        case 43: return kTypeDateTimeOffset;
        case 56: return kTypeInt;
        case 239: return kTypeNChar;
        case 231: return kTypeNVarChar;
        case 52: return kTypeSmallInt;
        case 48: return kTypeTinyInt;
        case 36: return kTypeUniqueIdentifier;
        case 165: return kTypeVarBinary;
        case 167: return kTypeVarChar;
        case 232: return kTypeSysName;
        case 99: return kTypeNText;
        case 98: return kTypeSqlVariant;
        case 60: return kTypeMoney;
        case 62: return kTypeFloat;
        case 108: return kTypeNumeric;
        case 106: return kTypeDecimal;
        case 34:  // image: the schema loader turns it into kTypeImage
        case 35: return kTypeText;
        case 58: return kTypeSmallDateTime;
        case 59: return kTypeReal;
        case 122: return kTypeSmallMoney;
        case 189: return kTypeTimestamp;
        case 240: return kTypeGeography;  // CLR types; the schema loader splits them by user type id
        case 241: return kTypeXml;
        default: return kTypeChar;
    }
}

std::wstring TypeNameFromSystemType(uint32_t systemTypeId) {
    switch (systemTypeId) {
        case 127: return L"BigInt";
        case 173: return L"Binary";
        case 104: return L"Bit";
        case 175: return L"Char";
        case 61: return L"DateTime";
        case 40: return L"Date";
        case 41: return L"Time";
        case 42: return L"DateTime2";
        case 43: return L"DateTimeOffset";
        case 56: return L"Int";
        case 239: return L"NChar";
        case 231: return L"NVarchar";
        case 52: return L"SmallInt";
        case 48: return L"TinyInt";
        case 36: return L"Uniquifier";
        case 165: return L"VarBinary";
        case 167: return L"Varchar";
        case 232: return L"SysName";
        case 99: return L"Ntext";
        case 98: return L"Sql_Variant";
        case 60: return L"Money";
        case 62: return L"Float";
        case 108: return L"Numeric";
        case 106: return L"Decimal";
        case 34:
        case 35: return L"text";
        case 58: return L"smalldatetime";
        case 59: return L"Real";
        case 122: return L"smallmoney";
        case 189: return L"timstamp";
        case 240: return L"geography";
        case 241: return L"xml";
        default: return L"";
    }
}

uint16_t ParenthesisedNumber(const std::wstring& typeText) {
    size_t open = typeText.find(L'(');
    if (open == std::wstring::npos) return 0;
    size_t close = typeText.find(L')');
    if (close == std::wstring::npos || close < open) return 0;
    uint32_t value = 0;
    for (size_t i = open + 1; i < close; ++i) {
        wchar_t c = typeText[i];
        if (c < L'0' || c > L'9') break;
        value = value * 10 + static_cast<uint32_t>(c - L'0');
        if (value > 0xFFFF) value = 0xFFFF;  // the field is 16 bits; longer digit runs saturate
    }
    return static_cast<uint16_t>(value);
}

ColumnDef::ColumnDef(const std::wstring& name, const std::wstring& typeText, uint32_t code) {
    ParseTypeText(name, typeText, 0, code);
}

void ColumnDef::ParseTypeText(const std::wstring& newName, const std::wstring& newTypeText, uint8_t newNullable,
                              uint32_t code) {
    name = newName;
    typeText = newTypeText;
    nullable = newNullable;
    typeCode = code;
    declaredLength = 0;
    columnId = 0;
    flag2 = 0;
    sparse = 0;
    ordinal = 0;
    leafOffset = 0;
    leafOffset2 = 0;
    inLayout = 0;
    keyFlag = indexFlag08 = indexFlag40 = foreignKeyFlag = status08Flag = 0;
    keyPosition = 0;
    nullBitmapIndex = -1;
    bitPosition = -1;
    definitionText.clear();
    referencedTable.clear();
    referencedColumn.clear();
    identityText.clear();

    const uint16_t number = ParenthesisedNumber(newTypeText);
    switch (code) {
        case 0: case 2: case 4: case 5: case 6: case 7: case 8: case 9: case 12:
        case 13: case 14: case 21: case 22: case 27: case 28: case 29: case 30:
            variable = 0;
            break;
        case 1: case 3: case 10: case 23: case 24:
            declaredLength = number;
            break;
        case 11: case 26: case 33: case 34:
            variable = 1;
            declaredLength = number;
            break;
        case 15: case 16: case 17: case 25:
            variable = 1;
            break;
        case 18:
            typeCode = kTypeNVarChar;
            variable = 1;
            declaredLength = number;
            break;
        case 19: case 20:
            variable = 1;
            declaredLength = 0;
            break;
        default:  // 31, 32 and anything above 34
            typeCode = kTypeVarChar;
            variable = 1;
            break;
    }
}

ColumnDescriptor::ColumnDescriptor(uint32_t code, const ColumnDef& def, BitReader* reader) : typeCode(code) {
    auto fixed = [this](uint16_t n) {
        fixedLength = n;
        valueLength = static_cast<int16_t>(n);
    };
    switch (code) {
        case 0: case 4: case 7: case 21: case 22: case 30: fixed(8); break;
        case 9: case 27: case 28: case 29: fixed(4); break;
        case 13: fixed(2); break;
        case 14: fixed(1); break;
        case 5: fixed(3); break;
        case 6: fixed(5); break;
        case 8: fixed(10); break;
        case 15: fixed(16); break;
        case 23: fixed(19); break;
        case 1: case 3: case 24: fixed(def.declaredLength); break;
        case 10: case 11: case 19: case 20: case 26: case 31: case 32: case 33:
            variable = def.variable;
            fixed(def.declaredLength);
            break;
        case 12:
            variable = def.variable;
            fixed(8);
            break;
        case 16: case 25: case 34:
            variable = 1;
            valueLength = static_cast<int16_t>(def.declaredLength);
            break;
        case 17:
            variable = def.variable;
            valueLength = static_cast<int16_t>(def.declaredLength);
            break;
        case 2:
            // Eight bit columns share one byte of the fixed part; a used-up reader means a new byte.
            bitReader = reader;
            valueLength = 1;
            if (reader && reader->bitIndex >= 8) fixedLength = 1;
            break;
        default:
            break;
    }
}

}  // namespace kestrane
