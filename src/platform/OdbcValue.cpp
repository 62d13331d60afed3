#include "platform/OdbcValue.h"

#include <algorithm>

namespace kestrane {

std::optional<OdbcDecimal> OdbcDecimal::FromText(std::string_view text) {
    OdbcDecimal d;
    size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) d.negative = text[i++] == '-';
    int digits = 0, scale = 0;
    bool point = false, any = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (c < '0' || c > '9') return std::nullopt;
        any = true;
        if (digits > 0 || c != '0') ++digits;  // leading zeros take no precision
        if (point) ++scale;
        if (digits > 38 || scale > 38) return std::nullopt;
        d.magnitude = d.magnitude * 10 + static_cast<unsigned>(c - '0');
    }
    if (!any) return std::nullopt;
    d.scale = static_cast<uint8_t>(scale);
    d.precision = static_cast<uint8_t>(std::max({digits, scale, 1}));
    if (d.magnitude == 0) d.negative = false;
    return d;
}

std::string OdbcDecimal::ToText() const {
    std::string digits;
    for (unsigned __int128 m = magnitude; m != 0; m /= 10) digits.insert(digits.begin(), char('0' + int(m % 10)));
    if (digits.size() < size_t(scale) + 1) digits.insert(0, size_t(scale) + 1 - digits.size(), '0');
    if (scale) digits.insert(digits.size() - scale, 1, '.');
    return (negative && magnitude != 0 ? "-" : "") + digits;
}

}  // namespace kestrane
