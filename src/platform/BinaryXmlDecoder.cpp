#include "platform/BinaryXmlDecoder.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/OleDate.h"
#include "platform/TextCodec.h"

namespace kestrane {
namespace {

enum Token : uint8_t {
    kSqlSmallInt = 0x01, kSqlInt = 0x02, kSqlReal = 0x03, kSqlFloat = 0x04, kSqlMoney = 0x05,
    kSqlBit = 0x06, kSqlTinyInt = 0x07, kSqlBigInt = 0x08, kSqlUuid = 0x09, kSqlDecimal = 0x0A,
    kSqlNumeric = 0x0B, kSqlBinary = 0x0C, kSqlChar = 0x0D, kSqlNChar = 0x0E, kSqlVarBinary = 0x0F,
    kSqlVarChar = 0x10, kSqlNVarChar = 0x11, kSqlDateTime = 0x12, kSqlSmallDateTime = 0x13,
    kSqlSmallMoney = 0x14, kSqlText = 0x16, kSqlImage = 0x17, kSqlNText = 0x18, kSqlUdt = 0x1B,
    kTimeOffset = 0x7A, kDateTimeOffset = 0x7B, kDateOffset = 0x7C, kTime2 = 0x7D, kDateTime2 = 0x7E,
    kDate = 0x7F,
    kXsdBinHex = 0x84, kXsdBase64 = 0x85, kXsdBoolean = 0x86, kXsdDecimal = 0x87, kXsdByte = 0x88,
    kXsdUnsignedShort = 0x89, kXsdUnsignedInt = 0x8A, kXsdUnsignedLong = 0x8B, kXsdQName = 0x8C,
    kFlushNames = 0xE9, kExtension = 0xEA, kEndNest = 0xEB, kNest = 0xEC, kXmlText = 0xED,
    kQNameDef = 0xEF, kNameDef = 0xF0, kCDataEnd = 0xF1, kCData = 0xF2, kComment = 0xF3, kPi = 0xF4,
    kEndAttributes = 0xF5, kAttribute = 0xF6, kEndElement = 0xF7, kElement = 0xF8, kSubset = 0xF9,
    kPublic = 0xFA, kSystem = 0xFB, kDocType = 0xFC, kEncoding = 0xFD, kXmlDecl = 0xFE,
};

// Limits that keep a hostile value from exhausting memory: output grows only through names that a
// short token can repeat, so it is capped; nested documents keep their own tables on a stack.
constexpr size_t kMaxOutputChars = size_t(1) << 26;
constexpr size_t kMaxNestDepth = 64;
constexpr size_t kMaxOpenElements = 1 << 20;

struct QName {
    uint32_t ns = 0, prefix = 0, local = 0;
};

struct Tables {
    std::vector<std::wstring> names{std::wstring()};  // name 0 is the empty name
    std::vector<QName> qnames{QName()};               // qname 0 is never defined
};

void AppendEscaped(std::wstring& out, const std::wstring& text, bool attribute) {
    for (wchar_t c : text) {
        switch (c) {
        case L'&': out += L"&amp;"; break;
        case L'<': out += L"&lt;"; break;
        case L'>': out += L"&gt;"; break;
        case L'"': if (attribute) out += L"&quot;"; else out += c; break;
        case L'\r': out += L"&#xD;"; break;
        case L'\n': if (attribute) out += L"&#xA;"; else out += c; break;
        case L'\t': if (attribute) out += L"&#x9;"; else out += c; break;
        default: out += c;
        }
    }
}

std::wstring Ascii(const std::string& s) { return std::wstring(s.begin(), s.end()); }

template <typename T>
std::wstring Integer(T v) {
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return Ascii(std::string(buf, r.ptr));
}

std::wstring Padded(int64_t v, int width) {
    std::wstring s = Integer(v < 0 ? -v : v);
    if (s.size() < size_t(width)) s.insert(0, size_t(width) - s.size(), L'0');
    return v < 0 ? L"-" + s : s;
}

std::wstring Floating(double v, bool single) {
    if (std::isnan(v)) return L"NaN";
    if (std::isinf(v)) return v < 0 ? L"-INF" : L"INF";
    char buf[64];
    auto r = single ? std::to_chars(buf, buf + sizeof buf, float(v)) : std::to_chars(buf, buf + sizeof buf, v);
    std::string s(buf, r.ptr);
    for (char& c : s)
        if (c == 'e') c = 'E';
    return Ascii(s);
}

// An unsigned magnitude with `scale` digits after the point; trailing fraction zeros beyond
// minFraction are dropped.
std::wstring ScaledDecimal(bool negative, unsigned __int128 magnitude, int scale, int minFraction) {
    std::string digits;
    do {
        digits.insert(digits.begin(), char('0' + int(magnitude % 10)));
        magnitude /= 10;
    } while (magnitude != 0);
    if (digits.size() <= size_t(scale)) digits.insert(0, size_t(scale) + 1 - digits.size(), '0');
    std::string whole = digits.substr(0, digits.size() - size_t(scale));
    std::string frac = digits.substr(digits.size() - size_t(scale));
    while (frac.size() > size_t(minFraction) && frac.back() == '0') frac.pop_back();
    std::string s = (negative ? "-" : "") + whole + (frac.empty() ? "" : "." + frac);
    return Ascii(s);
}

std::wstring Money(int64_t v) {
    bool negative = v < 0;
    unsigned __int128 m = negative ? (unsigned __int128)(-(v + 1)) + 1 : (unsigned __int128)v;
    return ScaledDecimal(negative, m, 4, 2);
}

std::wstring Base64(ByteView b) {
    static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::wstring out;
    out.reserve((b.size() + 2) / 3 * 4);
    const uint8_t* p = b.data();
    for (size_t i = 0; i < b.size(); i += 3) {
        uint32_t n = uint32_t(p[i]) << 16;
        size_t left = b.size() - i;
        if (left > 1) n |= uint32_t(p[i + 1]) << 8;
        if (left > 2) n |= p[i + 2];
        out += wchar_t(digits[(n >> 18) & 63]);
        out += wchar_t(digits[(n >> 12) & 63]);
        out += left > 1 ? wchar_t(digits[(n >> 6) & 63]) : L'=';
        out += left > 2 ? wchar_t(digits[n & 63]) : L'=';
    }
    return out;
}

std::wstring Guid(ByteView b) {
    static const wchar_t* digits = L"0123456789abcdef";
    static const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    std::wstring out;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += L'-';
        uint8_t v = b.data()[order[i]];
        out += digits[v >> 4];
        out += digits[v & 15];
    }
    return out;
}

std::wstring DateText(int64_t oleDays) {
    int y, m, d;
    CivilFromOleDays(oleDays, y, m, d);
    return Padded(y, 4) + L"-" + Padded(m, 2) + L"-" + Padded(d, 2);
}

// Time of day from a count of 10^-scale seconds; the fraction keeps its significant digits only.
std::wstring TimeText(uint64_t units, int scale) {
    uint64_t perSecond = 1;
    for (int i = 0; i < scale; ++i) perSecond *= 10;
    uint64_t seconds = units / perSecond;
    std::wstring s = Padded(int64_t(seconds / 3600 % 24), 2) + L":" + Padded(int64_t(seconds / 60 % 60), 2) +
                     L":" + Padded(int64_t(seconds % 60), 2);
    if (scale > 0) {
        std::wstring frac = Padded(int64_t(units % perSecond), scale);
        while (!frac.empty() && frac.back() == L'0') frac.pop_back();
        if (!frac.empty()) s += L"." + frac;
    }
    return s;
}

std::wstring OffsetText(int minutes) {
    if (minutes == 0) return L"Z";
    int a = minutes < 0 ? -minutes : minutes;
    return (minutes < 0 ? L"-" : L"+") + Padded(a / 60, 2) + L":" + Padded(a % 60, 2);
}

const int64_t kOleDayOfYearOne = DaysFromOleEpoch(1, 1, 1);
const int64_t kOleDayOf1900 = DaysFromOleEpoch(1900, 1, 1);

class Decoder {
public:
    explicit Decoder(ByteView bytes) : bytes_(bytes), in_(bytes) {}

    std::optional<std::wstring> Run() {
        if (!ReadHeader()) return std::nullopt;
        while (in_.remaining() > 0) {
            if (!Step()) return std::nullopt;
            if (out_.size() > kMaxOutputChars) return std::nullopt;
        }
        if (!open_.empty() || !outer_.empty() || inStartTag_ || inCData_) return std::nullopt;
        return std::move(out_);
    }

private:
    bool ReadHeader() {
        return in_.u8() == 0xDF && in_.u8() == 0xFF && (in_.u8() - 1u) <= 1u && in_.u8() == 0xB0 &&
               in_.u8() == 0x04 && in_.ok();
    }

    // Multi-byte integers: 7 bits a byte, least significant group first, high bit = more follows.
    std::optional<uint64_t> ReadMultiByte(int maxBytes, uint64_t limit) {
        uint64_t v = 0;
        for (int i = 0; i < maxBytes; ++i) {
            uint8_t b = in_.u8();
            if (!in_.ok()) return std::nullopt;
            v |= uint64_t(b & 0x7F) << (7 * i);
            if (!(b & 0x80)) return v <= limit ? std::optional<uint64_t>(v) : std::nullopt;
        }
        return std::nullopt;
    }
    std::optional<uint32_t> Mb32() {
        auto v = ReadMultiByte(5, 0x7FFFFFFF);
        return v ? std::optional<uint32_t>(uint32_t(*v)) : std::nullopt;
    }
    std::optional<uint64_t> Mb64() { return ReadMultiByte(10, 0x7FFFFFFFFFFFFFFFull); }

    std::optional<std::wstring> Utf16(uint64_t chars) {
        if (chars > in_.remaining() / 2) return std::nullopt;
        ByteView b = in_.bytes(size_t(chars) * 2);
        if (!in_.ok()) return std::nullopt;
        return Utf16LeToWide(b);
    }
    std::optional<std::wstring> TextData() {
        auto n = Mb32();
        return n ? Utf16(*n) : std::nullopt;
    }
    std::optional<ByteView> Counted() {
        auto n = Mb64();
        if (!n || *n > in_.remaining()) return std::nullopt;
        return in_.bytes(size_t(*n));
    }

    const std::wstring* Name(uint32_t i) const { return i < t_.names.size() ? &t_.names[i] : nullptr; }

    std::optional<std::wstring> QualifiedName(uint32_t i) const {
        if (i == 0 || i >= t_.qnames.size()) return std::nullopt;
        const QName& q = t_.qnames[i];
        const std::wstring* prefix = Name(q.prefix);
        const std::wstring* local = Name(q.local);
        if (!prefix || !local || !Name(q.ns)) return std::nullopt;
        // A namespace declaration is stored as the whole "xmlns:p" (or "xmlns") with no local name.
        if (local->empty()) return prefix->empty() ? std::nullopt : std::optional<std::wstring>(*prefix);
        return prefix->empty() ? *local : *prefix + L":" + *local;
    }

    // Ends a pending start tag before content goes out.
    bool BeginContent() {
        if (inAttribute_) return false;
        if (inStartTag_) {
            out_ += L'>';
            inStartTag_ = false;
        }
        if (inCData_) return false;
        return true;
    }

    bool Step() {
        uint8_t tok = in_.u8();
        if (!in_.ok()) return false;
        switch (tok) {
        case kNameDef: {
            auto s = TextData();
            if (!s) return false;
            t_.names.push_back(std::move(*s));
            return true;
        }
        case kQNameDef: {
            auto ns = Mb32(), prefix = ns ? Mb32() : std::nullopt, local = prefix ? Mb32() : std::nullopt;
            if (!local) return false;
            t_.qnames.push_back(QName{*ns, *prefix, *local});
            return true;
        }
        case kFlushNames:
            t_ = Tables();
            return true;
        case kExtension: {
            auto n = Mb32();
            if (!n || *n > in_.remaining()) return false;
            in_.skip(*n);
            return in_.ok();
        }
        case kNest:
            if (outer_.size() >= kMaxNestDepth || !ReadHeader()) return false;
            outer_.push_back(std::move(t_));
            t_ = Tables();
            return true;
        case kEndNest:
            if (outer_.empty()) return false;
            t_ = std::move(outer_.back());
            outer_.pop_back();
            return true;
        case kElement: {
            auto q = Mb32();
            auto name = q ? QualifiedName(*q) : std::nullopt;
            if (!name || !BeginContent() || open_.size() >= kMaxOpenElements) return false;
            out_ += L'<' + *name;
            open_.push_back(std::move(*name));
            inStartTag_ = true;
            lastWasTyped_ = false;
            return true;
        }
        case kAttribute: {
            auto q = Mb32();
            auto name = q ? QualifiedName(*q) : std::nullopt;
            if (!name || !inStartTag_) return false;
            if (inAttribute_) out_ += L'"';
            out_ += L' ' + *name + L"=\"";
            inAttribute_ = true;
            lastWasTyped_ = false;
            return true;
        }
        case kEndAttributes:
            if (!inStartTag_) return false;
            if (inAttribute_) out_ += L'"';
            inAttribute_ = false;
            return true;
        case kEndElement:
            if (open_.empty() || inAttribute_ || inCData_) return false;
            if (inStartTag_) {
                out_ += L"/>";
                inStartTag_ = false;
            } else {
                out_ += L"</" + open_.back() + L'>';
            }
            open_.pop_back();
            lastWasTyped_ = false;
            return true;
        case kComment: {
            auto s = TextData();
            if (!s || !BeginContent()) return false;
            out_ += L"<!--" + *s + L"-->";
            lastWasTyped_ = false;
            return true;
        }
        case kPi: {
            auto target = Mb32();
            const std::wstring* name = target ? Name(*target) : nullptr;
            auto s = name ? TextData() : std::nullopt;
            if (!s || !BeginContent()) return false;
            out_ += L"<?" + *name + (s->empty() ? L"" : L" " + *s) + L"?>";
            lastWasTyped_ = false;
            return true;
        }
        case kCData: {
            auto s = TextData();  // a section holding "]]>" comes as several pieces
            if (!s || (!inCData_ && !BeginContent())) return false;
            out_ += L"<![CDATA[" + *s + L"]]>";
            inCData_ = true;
            return true;
        }
        case kCDataEnd:
            if (!inCData_) return false;
            inCData_ = false;
            lastWasTyped_ = false;
            return true;
        case kXmlText: {
            auto s = TextData();
            if (!s || !BeginContent()) return false;
            out_ += *s;  // already xml
            lastWasTyped_ = false;
            return true;
        }
        case kXmlDecl: return XmlDeclaration();
        case kDocType: return DocumentType();
        default: return AtomicValue(tok);
        }
    }

    bool XmlDeclaration() {
        auto version = TextData();
        if (!version || !open_.empty()) return false;
        out_ += L"<?xml version=\"" + *version + L'"';
        if (Peek() == kEncoding) {
            in_.u8();
            auto enc = TextData();
            if (!enc) return false;
            out_ += L" encoding=\"" + *enc + L'"';
        }
        uint8_t standalone = in_.u8();
        if (!in_.ok() || standalone > 2) return false;
        if (standalone) out_ += standalone == 1 ? L" standalone=\"yes\"" : L" standalone=\"no\"";
        out_ += L"?>";
        return true;
    }

    bool DocumentType() {
        auto name = TextData();
        if (!name || !open_.empty()) return false;
        std::optional<std::wstring> sys, pub, subset;
        for (uint8_t want : {kSystem, kPublic, kSubset}) {
            if (Peek() != want) continue;
            in_.u8();
            auto s = TextData();
            if (!s) return false;
            (want == kSystem ? sys : want == kPublic ? pub : subset) = std::move(s);
        }
        out_ += L"<!DOCTYPE " + *name;
        if (pub) out_ += L" PUBLIC \"" + *pub + L"\" \"" + sys.value_or(L"") + L'"';
        else if (sys) out_ += L" SYSTEM \"" + *sys + L'"';
        if (subset) out_ += L" [" + *subset + L']';
        out_ += L'>';
        return true;
    }

    // The next token byte without taking it.
    std::optional<uint8_t> Peek() const { return bytes_.u8(in_.pos()); }

    std::optional<ByteView> Fixed(size_t n) {
        ByteView b = in_.bytes(n);
        return in_.ok() ? std::optional<ByteView>(b) : std::nullopt;
    }

    // A decimal: precision, scale, sign (1 = positive), then 4 to 16 bytes of magnitude. An xs:decimal
    // is written in its canonical form (no trailing fraction zeros, no point when integral), as the
    // server serialises it; the sql decimal types keep their scale.
    static std::optional<std::wstring> DecimalText(ByteView b, bool canonical) {
        if (b.size() < 7 || b.size() > 19 || (b.size() - 3) % 4 != 0) return std::nullopt;
        int scale = b.data()[1];
        if (scale > 38 || b.data()[2] > 1) return std::nullopt;
        unsigned __int128 m = 0;
        for (size_t i = b.size(); i > 3; --i) m = (m << 8) | b.data()[i - 1];
        return ScaledDecimal(b.data()[2] == 0 && m != 0, m, scale, canonical ? 0 : scale);
    }

    // Time of a date/time type of the newer kind: 3 to 5 bytes by scale, in 10^-scale seconds.
    std::optional<std::pair<uint64_t, int>> ScaledTime() {
        uint8_t scale = in_.u8();
        if (!in_.ok() || scale > 7) return std::nullopt;
        size_t n = scale <= 2 ? 3 : scale <= 4 ? 4 : 5;
        auto b = Fixed(n);
        if (!b) return std::nullopt;
        uint64_t v = 0;
        for (size_t i = n; i > 0; --i) v = (v << 8) | b->data()[i - 1];
        uint64_t perDay = 86400;
        for (int i = 0; i < scale; ++i) perDay *= 10;
        if (v >= perDay) return std::nullopt;
        return std::make_pair(v, int(scale));
    }
    std::optional<int64_t> Days3() {
        auto b = Fixed(3);
        if (!b) return std::nullopt;
        return int64_t(b->data()[0] | b->data()[1] << 8 | b->data()[2] << 16);
    }
    std::optional<int> Offset() {
        int16_t m = in_.i16();
        if (!in_.ok() || m < -840 || m > 840) return std::nullopt;
        return int(m);
    }

    // The newer date/time types; values that carry an offset are stored in UTC.
    std::optional<std::wstring> NewDateTime(uint8_t tok) {
        std::optional<std::pair<uint64_t, int>> time;
        if (tok != kDate && tok != kDateOffset && !(time = ScaledTime())) return std::nullopt;
        auto days = Days3();
        if (!days) return std::nullopt;
        std::optional<int> offset;
        if ((tok == kTimeOffset || tok == kDateTimeOffset || tok == kDateOffset) && !(offset = Offset()))
            return std::nullopt;
        int64_t day = *days;
        uint64_t units = time ? time->first : 0;
        int scale = time ? time->second : 0;
        if (offset && time) {
            uint64_t perMinute = 60;
            for (int i = 0; i < scale; ++i) perMinute *= 10;
            int64_t perDay = int64_t(perMinute) * 1440;
            int64_t local = int64_t(units) + int64_t(*offset) * int64_t(perMinute);
            while (local < 0) { local += perDay; --day; }
            while (local >= perDay) { local -= perDay; ++day; }
            units = uint64_t(local);
        }
        std::wstring s;
        if (tok != kTime2 && tok != kTimeOffset) s = DateText(kOleDayOfYearOne + day);
        if (time) s += (s.empty() ? L"" : L"T") + TimeText(units, scale);
        if (offset) s += OffsetText(*offset);
        return s;
    }

    bool AtomicValue(uint8_t tok) {
        std::optional<std::wstring> text;
        bool typed = true;
        switch (tok) {
        case kSqlSmallInt: { int16_t v = in_.i16(); text = Integer(v); break; }
        case kSqlInt: { int32_t v = in_.i32(); text = Integer(v); break; }
        case kSqlBigInt: { int64_t v = in_.i64(); text = Integer(v); break; }
        case kSqlTinyInt: { uint8_t v = in_.u8(); text = Integer(unsigned(v)); break; }
        case kXsdByte: { int8_t v = int8_t(in_.u8()); text = Integer(int(v)); break; }
        case kXsdUnsignedShort: { uint16_t v = in_.u16(); text = Integer(v); break; }
        case kXsdUnsignedInt: { uint32_t v = in_.u32(); text = Integer(v); break; }
        case kXsdUnsignedLong: { uint64_t v = in_.u64(); text = Integer(v); break; }
        case kSqlBit: text = in_.u8() ? L"1" : L"0"; break;
        case kXsdBoolean: text = in_.u8() ? L"true" : L"false"; break;
        case kSqlReal: { float f; uint32_t v = in_.u32(); std::memcpy(&f, &v, 4); text = Floating(f, true); break; }
        case kSqlFloat: { double d; uint64_t v = in_.u64(); std::memcpy(&d, &v, 8); text = Floating(d, false); break; }
        case kSqlMoney: {
            int64_t high = in_.i32();
            uint32_t low = in_.u32();
            text = Money(int64_t(uint64_t(high) << 32 | low));
            break;
        }
        case kSqlSmallMoney: { int32_t v = in_.i32(); text = Money(v); break; }
        case kSqlUuid: { auto b = Fixed(16); if (b) text = Guid(*b); break; }
        case kSqlDateTime: {
            int32_t days = in_.i32();
            uint32_t ticks = in_.u32();  // 1/300 second
            if (ticks >= 300u * 86400u) return false;
            uint64_t ms = (uint64_t(ticks) * 10 + 1) / 3;
            text = DateText(kOleDayOf1900 + days) + L"T" + TimeText(ms, 3);
            break;
        }
        case kSqlSmallDateTime: {
            uint16_t days = in_.u16(), minutes = in_.u16();
            if (minutes >= 1440) return false;
            text = DateText(kOleDayOf1900 + days) + L"T" + TimeText(uint64_t(minutes) * 60, 0);
            break;
        }
        case kSqlDecimal: case kSqlNumeric: case kXsdDecimal: {
            auto b = Counted();
            if (b) text = DecimalText(*b, tok == kXsdDecimal);
            break;
        }
        case kSqlBinary: case kSqlVarBinary: case kSqlImage: case kSqlUdt: case kXsdBase64: {
            auto b = Counted();
            if (b) text = Base64(*b);
            break;
        }
        case kXsdBinHex: { auto b = Counted(); if (b) text = HexText(*b); break; }
        case kSqlChar: case kSqlVarChar: case kSqlText: {
            auto b = Counted();  // a 4-byte code page, then the 8-bit text
            if (b && b->size() >= 4) text = CodePageToWide(b->from(4), int(*b->u32(0)));
            typed = false;
            break;
        }
        case kSqlNChar: case kSqlNVarChar: case kSqlNText: {
            auto n = Mb64();
            if (n) text = Utf16(*n);
            typed = false;
            break;
        }
        case kXsdQName: { auto q = Mb32(); if (q) text = QualifiedName(*q); break; }
        case kTimeOffset: case kDateTimeOffset: case kDateOffset: case kTime2: case kDateTime2: case kDate:
            text = NewDateTime(tok);
            break;
        default:
            return false;  // unknown token, or the date/time tokens of the first version we do not read
        }
        if (!text || !in_.ok()) return false;
        if (!inAttribute_ && !BeginContent()) return false;
        // Typed values of a list are separated by a blank; string values run on as one text.
        if (typed && lastWasTyped_) out_ += L' ';
        AppendEscaped(out_, *text, inAttribute_);
        lastWasTyped_ = typed;
        return true;
    }

    ByteView bytes_;
    ByteCursor in_;
    std::wstring out_;
    Tables t_;
    std::vector<Tables> outer_;
    std::vector<std::wstring> open_;
    bool inStartTag_ = false, inAttribute_ = false, inCData_ = false, lastWasTyped_ = false;
};

}  // namespace

std::optional<std::wstring> ReadBinaryXml(ByteView bytes) {
    try {
        return Decoder(bytes).Run();
    } catch (const std::exception&) {
        return std::nullopt;  // allocation failure on a huge value
    }
}

std::wstring DecodeBinaryXml(ByteView bytes) { return ReadBinaryXml(bytes).value_or(std::wstring()); }

}  // namespace kestrane
