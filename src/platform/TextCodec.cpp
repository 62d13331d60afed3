#include "platform/TextCodec.h"

#include <iconv.h>
#include <cwctype>
#include <cerrno>
#include <mutex>
#include <map>

namespace kestrane {

std::wstring Utf16LeToWide(ByteView bytes) {
    std::wstring out;
    const size_t units = bytes.size() / 2;
    out.reserve(units);
    const uint8_t* p = bytes.data();
    for (size_t i = 0; i < units; ++i) {
        uint32_t u = p[2 * i] | (p[2 * i + 1] << 8);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            uint32_t lo = p[2 * i + 2] | (p[2 * i + 3] << 8);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                out.push_back(static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00)));
                ++i;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;
        out.push_back(static_cast<wchar_t>(u));
    }
    return out;
}

std::vector<uint8_t> WideToUtf16Le(const std::wstring& text) {
    std::vector<uint8_t> out(text.size() * 4);
    out.resize(static_cast<size_t>(PutUtf16Le(text, out.data()) - out.data()));
    return out;
}

uint8_t* PutUtf16Le(std::wstring_view text, uint8_t* out) {
    auto put = [&out](uint32_t u) {
        out[0] = static_cast<uint8_t>(u & 0xFF);
        out[1] = static_cast<uint8_t>((u >> 8) & 0xFF);
        out += 2;
    };
    for (wchar_t wc : text) {
        uint32_t c = static_cast<uint32_t>(wc);
        if (c >= 0x10000 && c <= 0x10FFFF) {
            c -= 0x10000;
            put(0xD800 + (c >> 10));
            put(0xDC00 + (c & 0x3FF));
        } else {
            put(c > 0x10FFFF ? 0xFFFD : c);
        }
    }
    return out;
}

std::string WideToUtf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        uint32_t c = static_cast<uint32_t>(wc);
        if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = 0xFFFD;
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::wstring Utf8ToWide(const std::string& text) {
    std::wstring out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    size_t n = text.size(), i = 0;
    while (i < n) {
        uint32_t c = s[i];
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (len == 0 || i + len > n) { out.push_back(0xFFFD); ++i; continue; }
        uint32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
        bool bad = false;
        for (size_t k = 1; k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) { bad = true; break; }
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        if (bad || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) { out.push_back(0xFFFD); ++i; continue; }
        out.push_back(static_cast<wchar_t>(cp));
        i += len;
    }
    return out;
}

std::wstring HexText(ByteView bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::wstring s;
    s.reserve(bytes.size() * 2);
    for (size_t i = 0; i < bytes.size(); ++i) {
        s.push_back(kHex[bytes.data()[i] >> 4]);
        s.push_back(kHex[bytes.data()[i] & 15]);
    }
    return s;
}

std::wstring LowerCase(std::wstring text) {
    for (auto& c : text) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return text;
}

std::string IconvNameForCodePage(int codePage) {
    switch (codePage) {
        case 932: return "CP932";
        case 936: return "CP936";
        case 949: return "CP949";
        case 950: return "CP950";
        case 65001: return "UTF-8";
        case 20127: return "ASCII";
        case 28591: return "ISO-8859-1";
        default: return "CP" + std::to_string(codePage);
    }
}

namespace {

// iconv descriptors are not thread-safe; one lock over a small cache keeps conversions cheap.
class IconvCache {
public:
    static IconvCache& instance() { static IconvCache c; return c; }

    // Runs fn(cd) with the cached descriptor for from->to, or fn((iconv_t)-1) when unsupported.
    template <typename Fn>
    auto with(const std::string& from, const std::string& to, Fn fn) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto key = from + ">" + to;
        auto it = cds_.find(key);
        if (it == cds_.end()) it = cds_.emplace(key, iconv_open(to.c_str(), from.c_str())).first;
        iconv_t cd = it->second;
        if (cd != reinterpret_cast<iconv_t>(-1)) iconv(cd, nullptr, nullptr, nullptr, nullptr);
        return fn(cd);
    }
    ~IconvCache() {
        for (auto& [k, cd] : cds_)
            if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    }

private:
    std::mutex mutex_;
    std::map<std::string, iconv_t> cds_;
};

bool IsSingleByteCodePage(int cp) { return cp != 932 && cp != 936 && cp != 949 && cp != 950 && cp != 65001; }

}  // namespace

std::wstring CodePageToWide(ByteView bytes, int codePage) {
    if (bytes.empty()) return {};
    std::string name = IconvNameForCodePage(codePage);
    auto convert = [&](iconv_t cd) -> std::wstring {
        std::wstring out;
        if (cd == reinterpret_cast<iconv_t>(-1)) return out;
        out.reserve(bytes.size());
        char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes.data()));
        size_t inLeft = bytes.size();
        std::vector<uint32_t> buf(bytes.size() + 4);
        while (inLeft > 0) {
            char* outp = reinterpret_cast<char*>(buf.data());
            size_t outLeft = buf.size() * 4;
            size_t r = iconv(cd, &in, &inLeft, &outp, &outLeft);
            size_t produced = (buf.size() * 4 - outLeft) / 4;
            for (size_t i = 0; i < produced; ++i) out.push_back(static_cast<wchar_t>(buf[i]));
            if (r == static_cast<size_t>(-1)) {
                if (errno == E2BIG) continue;
                // Invalid or incomplete sequence: one replacement character, then go on.
                out.push_back(0xFFFD);
                if (inLeft == 0) break;
                size_t step = IsSingleByteCodePage(codePage) ? 1 : (inLeft >= 2 && errno == EILSEQ ? 1 : inLeft);
                in += step;
                inLeft -= step;
                iconv(cd, nullptr, nullptr, nullptr, nullptr);
            }
        }
        return out;
    };
    std::wstring out = IconvCache::instance().with(name, "UTF-32LE", convert);
    if (out.empty() && codePage != 1252) out = IconvCache::instance().with("CP1252", "UTF-32LE", convert);
    return out;
}

std::string WideToCodePage(const std::wstring& text, int codePage) {
    if (text.empty()) return {};
    std::string name = IconvNameForCodePage(codePage);
    auto convertOne = [&](iconv_t cd, uint32_t ch, std::string& out) {
        char inbuf[4] = {char(ch & 0xFF), char((ch >> 8) & 0xFF), char((ch >> 16) & 0xFF), char((ch >> 24) & 0xFF)};
        char outbuf[16];
        char* in = inbuf;
        size_t inLeft = 4;
        char* o = outbuf;
        size_t outLeft = sizeof outbuf;
        if (iconv(cd, &in, &inLeft, &o, &outLeft) == static_cast<size_t>(-1)) {
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            out.push_back('?');
        } else {
            out.append(outbuf, sizeof outbuf - outLeft);
        }
    };
    auto convert = [&](iconv_t cd) -> std::string {
        std::string out;
        if (cd == reinterpret_cast<iconv_t>(-1)) return out;
        out.reserve(text.size());
        for (wchar_t wc : text) convertOne(cd, static_cast<uint32_t>(wc), out);
        return out;
    };
    std::string out = IconvCache::instance().with("UTF-32LE", name, convert);
    if (out.empty() && codePage != 1252) out = IconvCache::instance().with("UTF-32LE", "CP1252", convert);
    return out;
}

}  // namespace kestrane
