#include "datafile/ValueText.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "platform/TextCodec.h"

namespace kestrane {

namespace {

std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

void AppendDigits(std::string& out, int64_t value, int width) {
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, value);
    int len = static_cast<int>(r.ptr - buf);
    if (value >= 0)
        for (int i = len; i < width; ++i) out.push_back('0');
    out.append(buf, r.ptr);
}

std::string TwoDigits(int v) {
    std::string s;
    AppendDigits(s, v, 2);
    return s;
}

bool TimeFieldsValid(const CivilDateTime& t) {
    return t.year >= 0 && t.year <= 9999 && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 &&
           t.second >= 0 && t.second <= 59;
}

// "%X": 24-hour HH:MM:SS.
std::string TimeText(const CivilDateTime& t) {
    return TwoDigits(t.hour) + ":" + TwoDigits(t.minute) + ":" + TwoDigits(t.second);
}

std::string DateText(const CivilDateTime& t) {
    std::string s;
    AppendDigits(s, t.year, 4);
    return s + "-" + TwoDigits(t.month) + "-" + TwoDigits(t.day);
}

std::string FractionText(uint64_t fraction, int scale) {
    std::string s;
    AppendDigits(s, static_cast<int64_t>(fraction), scale);
    return s;
}

uint64_t LittleEndianUnsigned(ByteView bytes, size_t offset, int length) {
    uint64_t v = 0;
    for (int i = length - 1; i >= 0; --i) v = (v << 8) | bytes.getOr<uint8_t>(offset + i, 0);
    return v;
}

// Time of day from ticks of 10^-scale seconds; false when the scale cannot be rendered.
bool SplitTicks(uint64_t ticks, int scale, CivilDateTime& t, uint64_t& fraction) {
    if (scale < 0 || scale > 9) return false;
    uint64_t divisor = 1;
    for (int i = 0; i < scale; ++i) divisor *= 10;
    fraction = ticks % divisor;
    uint64_t seconds = (ticks - fraction) / divisor;
    uint64_t hour = seconds / 3600;
    t.hour = hour > 1000 ? 1000 : static_cast<int>(hour);
    t.minute = static_cast<int>((seconds / 60) % 60);
    t.second = static_cast<int>(seconds % 60);
    return true;
}

std::string FixedText(double x, int decimals) {
    // Large enough for any double with the decimals a subnormal needs.
    static thread_local char buf[16384];
    auto r = std::to_chars(buf, buf + sizeof buf - 1, x, std::chars_format::fixed, decimals);
    if (r.ec != std::errc()) return std::string();
    return std::string(buf, r.ptr);
}

int FloatDecimals(double x, int base) {
    if (!(x > 0) || !std::isfinite(x)) return 6;
    double d = base - std::ceil(std::log10(x));
    if (d < 0) return 6;
    return static_cast<int>(d);
}

}  // namespace

bool CivilFromDayNumber(int64_t n, CivilDateTime& out) {
    if (n < 0) return false;
    int64_t q400 = n / 146097;
    n -= 146097 * q400;
    int64_t q100 = n / 36524;
    if (q100 > 3) q100 = 3;
    n -= 36524 * q100;
    int64_t q4 = n / 1461;
    n -= 1461 * q4;
    int64_t q1 = n / 365;
    if (q1 > 3) q1 = 3;
    n -= 365 * q1;
    int64_t year = 1 + 400 * q400 + 100 * q100 + 4 * q4 + q1;
    if (year > 99999) return false;
    bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    static const int kDays[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};
    static const int kLeapDays[13] = {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366};
    const int* cum = leap ? kLeapDays : kDays;
    int month = 1;
    while (month < 12 && cum[month] <= n) ++month;
    out.year = static_cast<int>(year);
    out.month = month;
    out.day = static_cast<int>(n - cum[month - 1] + 1);
    return true;
}

namespace {

// datetime fields; false when the bytes are missing or the value is out of range.
bool DateTimeFields(ByteView b, CivilDateTime& t) {
    auto ticks = b.i32(0);
    auto days = b.i32(4);
    if (!ticks || !days) return false;
    int64_t seconds = static_cast<int64_t>(static_cast<double>(*ticks) * 0.00333333335);
    if (!CivilFromDayNumber(static_cast<int64_t>(*days) + 2 + 693593, t)) return false;
    t.hour = static_cast<int>(std::max<int64_t>(std::min<int64_t>(seconds / 3600, 1000), -1000));
    t.minute = static_cast<int>((seconds / 60) % 60);
    t.second = static_cast<int>(seconds % 60);
    if (!TimeFieldsValid(t)) return false;
    if (t.year <= 1752) t.year = 1753;
    return true;
}

}  // namespace

std::wstring FormatDateTime(ByteView b) {
    CivilDateTime t;
    if (!DateTimeFields(b, t)) return std::wstring();
    return Widen(DateText(t) + " " + TimeText(t));
}

std::wstring FormatDateTimeMonthFirst(ByteView b) {
    CivilDateTime t;
    if (!DateTimeFields(b, t)) return std::wstring();
    std::string s = TwoDigits(t.month) + "/" + TwoDigits(t.day) + "/";
    AppendDigits(s, t.year, 4);
    return Widen(s + " " + TimeText(t));
}

std::wstring FormatSmallDateTime(ByteView b) {
    auto minutes = b.i16(0);
    auto days = b.u16(2);
    CivilDateTime t;
    if (!minutes || !days || !CivilFromDayNumber(static_cast<int64_t>(*days) + 2 + 693593, t)) return std::wstring();
    t.hour = *minutes / 60;
    t.minute = *minutes % 60;
    t.second = 0;
    if (!TimeFieldsValid(t)) return std::wstring();
    return Widen(DateText(t) + " " + TimeText(t));
}

std::wstring FormatDateValue(ByteView b) {
    if (!b.fits(0, 3)) return std::wstring();
    CivilDateTime t;
    if (!CivilFromDayNumber(static_cast<int64_t>(LittleEndianUnsigned(b, 0, 3)), t) || !TimeFieldsValid(t))
        return std::wstring();
    return Widen(DateText(t));
}

std::wstring FormatTimeValue(ByteView b, int scale, int length) {
    if (length < 1 || length > 8 || !b.fits(0, static_cast<size_t>(length))) return std::wstring();
    CivilDateTime t;
    uint64_t fraction = 0;
    if (!SplitTicks(LittleEndianUnsigned(b, 0, length), scale, t, fraction) || !TimeFieldsValid(t))
        return std::wstring();
    std::string s = TimeText(t);
    if (scale > 0) s += "." + FractionText(fraction, scale);
    return Widen(s);
}

std::wstring FormatDateTime2Value(ByteView b, int scale, int length) {
    uint64_t ticks = 0;
    int64_t days = 0;
    if (length >= 6 && length <= 8) {
        if (!b.fits(0, static_cast<size_t>(length))) return std::wstring();
        ticks = LittleEndianUnsigned(b, 0, length - 3);
        days = static_cast<int64_t>(LittleEndianUnsigned(b, length - 3, 3));
    }
    CivilDateTime t;
    uint64_t fraction = 0;
    if (!CivilFromDayNumber(days, t) || !SplitTicks(ticks, scale, t, fraction) || !TimeFieldsValid(t))
        return std::wstring();
    std::string s = DateText(t) + " " + TimeText(t);
    if (scale > 0) s += "." + FractionText(fraction, scale);
    return Widen(s);
}

std::wstring FormatDateTimeOffsetValue(ByteView b, int scale, int length) {
    if (length < 2 || !b.fits(0, static_cast<size_t>(length))) return std::wstring();
    int offset = *b.i16(static_cast<size_t>(length) - 2);
    uint64_t ticks = 0;
    int64_t days = 0;
    if (length >= 8 && length <= 10) {
        ticks = LittleEndianUnsigned(b, 0, length - 5);
        days = static_cast<int64_t>(LittleEndianUnsigned(b, length - 5, 3));
    }
    CivilDateTime t;
    uint64_t fraction = 0;
    if (!CivilFromDayNumber(days, t) || !SplitTicks(ticks, scale, t, fraction)) return std::wstring();
    // The offset is applied to the time of day only; a carry into the date makes the value invalid.
    int minutes = t.minute + offset;
    t.hour += minutes / 60;
    t.minute = minutes % 60;
    if (!TimeFieldsValid(t)) return std::wstring();
    std::string s = DateText(t) + " " + TimeText(t);
    if (scale > 0) s += "." + FractionText(fraction, scale) + "  ";
    else s += " ";
    s += "+" + std::to_string(offset / 60) + ":" + std::to_string(offset % 60);
    return Widen(s);
}

std::wstring FormatDecimalValue(int precision, int scale, ByteView b) {
    auto sign = b.u8(0);
    if (!sign) return std::wstring();
    int width = precision < 10 ? 4 : precision < 20 ? 8 : precision < 29 ? 12 : 16;
    // The magnitude as eight 16-bit words, most significant first.
    uint32_t words[8] = {};
    for (int w = 0; w < 8; ++w) {
        int lowByte = 2 * (7 - w);
        uint32_t lo = lowByte < width ? b.getOr<uint8_t>(1 + lowByte, 0) : 0;
        uint32_t hi = lowByte + 1 < width ? b.getOr<uint8_t>(2 + lowByte, 0) : 0;
        words[w] = lo | (hi << 8);
    }
    std::string digits;  // least significant first
    bool nonZero = true;
    while (nonZero && digits.size() < 39) {
        uint32_t rem = 0;
        nonZero = false;
        for (uint32_t& word : words) {
            uint32_t cur = (rem << 16) | word;
            word = cur / 10;
            rem = cur % 10;
            if (word) nonZero = true;
        }
        digits.push_back(static_cast<char>('0' + rem));
    }
    std::string msd(digits.rbegin(), digits.rend());
    if (scale < 0) scale = 0;
    // Too many digits for the precision: give up fraction digits while there are any.
    while (static_cast<int>(msd.size()) > precision && scale > 0) {
        msd.pop_back();
        --scale;
    }
    if (msd.empty() || static_cast<int>(msd.size()) > precision) return std::wstring();
    std::string text;
    int n = static_cast<int>(msd.size());
    if (scale == 0) text = msd;
    else if (n < scale) text = "0." + std::string(scale - n, '0') + msd;
    else if (n == scale) text = "." + msd;
    else text = msd.substr(0, n - scale) + "." + msd.substr(n - scale);
    if (!text.empty() && text.back() == '.') text.pop_back();
    if (*sign == 0) text = "-" + text;
    return Widen(text);
}

std::wstring FormatMoneyValue(ByteView b) {
    auto v = b.i64(0);
    if (!v) return std::wstring();
    bool negative = *v < 0;
    uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(*v) : static_cast<uint64_t>(*v);
    std::string s = negative ? "-" : "";
    s += std::to_string(magnitude / 10000) + ".";
    AppendDigits(s, static_cast<int64_t>(magnitude % 10000), 4);
    return Widen(s);
}

std::wstring FormatSmallMoneyValue(ByteView b) {
    auto v = b.i32(0);
    if (!v) return std::wstring();
    double x = *v * 0.0001;
    std::string s = FixedText(x, FloatDecimals(x, 10));
    size_t point = s.find('.');
    if (point != std::string::npos && s.size() > point + 5) s.resize(point + 5);
    return Widen(s);
}

void TrimTrailingZeros(std::string& s) {
    if (s.find('.') == std::string::npos) return;
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
}

namespace {

std::wstring NonFiniteText(double x, bool asZero) {
    if (asZero) return L"0";
    return std::isnan(x) ? L"nan" : (x < 0 ? L"-inf" : L"inf");
}

}  // namespace

std::wstring FormatFloatText(double x, bool zeroForNonFinite) {
    if (!std::isfinite(x)) return NonFiniteText(x, zeroForNonFinite);
    // The digits follow the magnitude: a negative value keeps as many as its positive twin.
    std::string s = FixedText(x, FloatDecimals(std::fabs(x), 15));
    TrimTrailingZeros(s);
    return Widen(s);
}

std::wstring FormatRealText(float f, bool zeroForTinyOrNonFinite) {
    double x = f;
    if (!std::isfinite(x)) return NonFiniteText(x, zeroForTinyOrNonFinite);
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::general, 6);
    std::string s(buf, r.ptr);
    if (zeroForTinyOrNonFinite && s.find("e-") != std::string::npos) return L"0";
    return Widen(s);
}

std::wstring FormatGuidText(ByteView b) {
    if (!b.fits(0, 16)) return std::wstring();
    static const char kHex[] = "0123456789ABCDEF";
    static const int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    std::wstring s;
    for (int i = 0; i < 16; ++i) {
        uint8_t v = b.data()[kOrder[i]];
        s.push_back(kHex[v >> 4]);
        s.push_back(kHex[v & 15]);
        if (i == 3 || i == 5 || i == 7 || i == 9) s.push_back(L'-');
    }
    return s;
}

bool LooksLikeUtf16(ByteView b) {
    size_t zeros = 0;
    for (size_t i = 0; i < b.size(); ++i) zeros += b.data()[i] == 0;
    return zeros == b.size() / 2;
}

std::wstring AnsiTextToFirstZero(ByteView b, int codePage) {
    const void* z = b.empty() ? nullptr : std::memchr(b.data(), 0, b.size());
    size_t n = z ? static_cast<size_t>(static_cast<const uint8_t*>(z) - b.data()) : b.size();
    return CodePageToWide(b.sub(0, n), codePage);
}

std::wstring Utf16TextToFirstZero(ByteView b) {
    size_t n = 0;
    while (n + 1 < b.size() && (b.data()[n] | b.data()[n + 1]) != 0) n += 2;
    if (n + 1 >= b.size()) n = b.size();
    return Utf16LeToWide(b.sub(0, n));
}

}  // namespace kestrane
