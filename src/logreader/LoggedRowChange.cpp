#include "logreader/LoggedRowChange.h"

#include <algorithm>
#include <cstring>

namespace kestrane {

namespace {
constexpr size_t kMaxRow = 8192;
constexpr uint8_t kHasNullBitmap = 0x10, kHasVariable = 0x20, kHasVersionTag = 0x40;
constexpr size_t kVersionTagSize = 14;
constexpr uint8_t kKeyLockTag[3] = {0x04, 0x00, 0x0A};  // a key lock: type, then 6 bytes of key hash

size_t Aligned4(size_t at) { return (at + 3) & ~size_t{3}; }

uint32_t LockElementIndex(uint8_t operation) {
    switch (operation) {
        case logfmt::kOpInsertRow: return 2;
        case logfmt::kOpDeleteRow: return 1;
        default: return 3;
    }
}

std::optional<uint64_t> KeyHashOf(ByteView lock) {
    if (lock.size() < 10) return std::nullopt;
    const size_t tag = lock.size() - 9;
    if (std::memcmp(lock.data() + tag, kKeyLockTag, sizeof kKeyLockTag) != 0) return std::nullopt;
    uint64_t hash = 0;
    for (size_t i = lock.size() - 6; i < lock.size(); ++i) hash = hash << 8 | lock.data()[i];
    return hash;
}

// Where the row's version tag begins (its last 14 bytes, when the status says it has one); the row's
// length when it has none. The server logs a tag's old bytes as zeros, so they are not compared.
size_t VersionTagStart(ByteView row) {
    const size_t length = StoredRowLength(row);
    if (!(row.getOr<uint8_t>(0, 0) & kHasVersionTag) || length != row.size()) return row.size();
    return length - kVersionTagSize;
}

// Moves `row` across pieces: the `from` bytes of each piece must stand at their `from` offset; the
// result holds the `to` bytes at their `to` offsets and the bytes between pieces as they were.
template <typename FromAt, typename ToAt, typename FromBytes, typename ToBytes>
bool Splice(ByteView row, const std::vector<ChangedPiece>& pieces, std::vector<uint8_t>& out, FromAt fromAt, ToAt toAt,
            FromBytes fromBytes, ToBytes toBytes) {
    out.clear();
    size_t kept = 0;  // bytes of `row` consumed
    const size_t tag = VersionTagStart(row);
    for (const ChangedPiece& piece : pieces) {
        const size_t at = fromAt(piece);
        const ByteView from = fromBytes(piece), to = toBytes(piece);
        if (at < kept || !row.fits(at, from.size())) return false;
        const size_t compared = at < tag ? std::min(from.size(), tag - at) : 0;
        if (compared && std::memcmp(row.data() + at, from.data(), compared) != 0) return false;
        out.insert(out.end(), row.data() + kept, row.data() + at);
        if (out.size() != toAt(piece)) return false;
        out.insert(out.end(), to.data(), to.data() + to.size());
        kept = at + from.size();
    }
    out.insert(out.end(), row.data() + kept, row.data() + row.size());
    return out.size() <= kMaxRow;
}
}  // namespace

ByteView RecordElement(const RowLogRecord& record, uint32_t e) {
    const uint32_t count = record.ElementCount();
    if (e >= count) return {};
    size_t at = logfmt::kOffElementLengths + 2 * size_t{count};
    for (uint32_t i = 0;; ++i) {
        at = Aligned4(at);
        const size_t length = record.ElementLength(i);
        if (!record.body().fits(at, length)) return {};
        if (i == e) return record.body().sub(at, length);
        at += length;
    }
}

std::optional<uint64_t> LoggedKeyHash(const RowLogRecord& record) {
    return KeyHashOf(RecordElement(record, LockElementIndex(record.Operation())));
}

ByteView LoggedChangeKey(const RowLogRecord& record) {
    constexpr uint32_t kKeyElement = 2;
    const uint8_t op = record.Operation();
    return op == logfmt::kOpModifyRow || op == logfmt::kOpModifyColumns ? RecordElement(record, kKeyElement) : ByteView();
}

std::optional<LoggedRowChange> ReadLoggedRowChange(const RowLogRecord& record) {
    LoggedRowChange change;
    change.operation = record.Operation();
    change.keyHash = LoggedKeyHash(record);
    const uint32_t count = record.ElementCount();
    switch (change.operation) {
        case logfmt::kOpInsertRow:
        case logfmt::kOpDeleteRow:
            if (count < 1 || record.ElementLength(0) == 0) return std::nullopt;
            change.row = RecordElement(record, 0);
            if (change.row.empty() || change.row.size() > kMaxRow) return std::nullopt;
            return change;
        case logfmt::kOpModifyRow: {
            if (count < 2) return std::nullopt;
            const ByteView before = RecordElement(record, 0), after = RecordElement(record, 1);
            if (before.size() != record.ElementLength(0) || after.size() != record.ElementLength(1)) return std::nullopt;
            change.pieces.push_back({record.OffsetInRow(), record.OffsetInRow(), before, after});
            return change;
        }
        case logfmt::kOpModifyColumns: {
            const ByteView offsets = RecordElement(record, 0);
            const size_t pieces = offsets.size() / 4;
            if (pieces == 0 || count < 4 + 2 * pieces) return std::nullopt;
            for (size_t k = 0; k < pieces; ++k) {
                const auto e = static_cast<uint32_t>(4 + 2 * k);
                const ByteView before = RecordElement(record, e), after = RecordElement(record, e + 1);
                if (before.size() != record.ElementLength(e) || after.size() != record.ElementLength(e + 1))
                    return std::nullopt;
                change.pieces.push_back({*offsets.u16(4 * k), *offsets.u16(4 * k + 2), before, after});
            }
            return change;
        }
        default:
            return std::nullopt;
    }
}

bool UndoRowChange(ByteView after, const LoggedRowChange& change, std::vector<uint8_t>& before) {
    return Splice(
        after, change.pieces, before, [](const ChangedPiece& p) { return p.afterAt; },
        [](const ChangedPiece& p) { return p.beforeAt; }, [](const ChangedPiece& p) { return p.after; },
        [](const ChangedPiece& p) { return p.before; });
}

bool RedoRowChange(ByteView before, const LoggedRowChange& change, std::vector<uint8_t>& after) {
    return Splice(
        before, change.pieces, after, [](const ChangedPiece& p) { return p.beforeAt; },
        [](const ChangedPiece& p) { return p.afterAt; }, [](const ChangedPiece& p) { return p.before; },
        [](const ChangedPiece& p) { return p.after; });
}

size_t StoredRowLength(ByteView bytes) {
    const uint8_t status = bytes.getOr<uint8_t>(0, 0);
    const auto fixedEnd = bytes.u16(2);
    if (!fixedEnd || *fixedEnd < 4) return 0;
    size_t at = *fixedEnd;
    if (status & kHasNullBitmap) {
        const auto columns = bytes.u16(at);
        if (!columns) return 0;
        at += 2 + (size_t{*columns} + 7) / 8;
    }
    if (status & kHasVariable) {
        const auto variable = bytes.u16(at);
        if (!variable) return 0;
        const size_t dataStart = at + 2 + 2 * size_t{*variable};
        at = *variable == 0 ? at + 2 : size_t{bytes.getOr<uint16_t>(dataStart - 2, 0) & 0x7FFFu};
        if (at < dataStart) return 0;
    }
    if (status & kHasVersionTag) at += kVersionTagSize;
    return at <= bytes.size() && at <= kMaxRow ? at : 0;
}

}  // namespace kestrane
