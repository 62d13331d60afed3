#include "logreader/LogRecord.h"

namespace kestrane {

LogElementWalk::LogElementWalk(const RowLogRecord& record)
    : record_(record), pos_(record.ElementsStart()), count_(record.ElementCount()) {}

bool LogElementWalk::Next(ByteView& element) {
    if (index_ >= count_) return false;
    const ByteView body = record_.body();
    // Every element begins 4-byte aligned, counted from the record's start.
    pos_ = (pos_ + 3) & ~size_t{3};
    if (pos_ >= body.size()) return false;
    const size_t len = record_.ElementLength(index_);
    if (!body.fits(pos_, len)) return false;
    element = body.sub(pos_, len);
    pos_ += len;
    ++index_;
    return true;
}

namespace {
// Units of UTF-16 text before its first zero unit (all of them when there is none).
size_t Utf16Length(const uint8_t* text, size_t units) {
    size_t i = 0;
    // Four units a time: a word holds a zero unit when one of its 16-bit lanes is zero.
    for (uint64_t w; i + 4 <= units; i += 4) {
        std::memcpy(&w, text + 2 * i, 8);
        if ((w - 0x0001000100010001ULL) & ~w & 0x8000800080008000ULL) break;
    }
    while (i < units && (text[2 * i] | text[2 * i + 1]) != 0) ++i;
    return i;
}
}  // namespace

ByteView TransactionNameIn(ByteView field) { return field.sub(0, 2 * Utf16Length(field.data(), field.size() / 2)); }

bool ReadBeginTransaction(const LogBlockView& block, LogRecordExtent extent, std::vector<uint8_t>& scratch,
                          ByteView& rawName, uint64_t& beginTime) {
    const LogRecordHead head(block, extent.start);
    if (!ReadTransactionNameField(block, extent, head.FixedLength(), scratch, rawName)) return false;
    rawName = TransactionNameIn(rawName);
    beginTime = head.BeginTime();
    return true;
}

void DecodeTransactionName(ByteView rawName, std::wstring& name) {
    name.clear();
    const size_t units = rawName.size() / 2;
    for (size_t i = 0; i < units; ++i) {
        uint32_t c = *rawName.u16(2 * i);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < units) {
            const uint32_t lo = *rawName.u16(2 * i + 2);
            if (lo >= 0xDC00 && lo < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
                ++i;
            } else {
                c = 0xFFFD;
            }
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        name.push_back(static_cast<wchar_t>(c));
    }
}

}  // namespace kestrane
