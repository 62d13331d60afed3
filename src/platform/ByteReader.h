#pragma once
// Bounds-checked little-endian access to a byte buffer. Every offset and length handed to these
// functions may come from a corrupt file: a read that does not fit returns nullopt / false / an empty
// view, never touches memory outside the buffer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <algorithm>
#include <type_traits>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kestrane {

class ByteView {
public:
    ByteView() = default;
    ByteView(const uint8_t* data, size_t size) : data_(data), size_(data ? size : 0) {}
    ByteView(std::span<const uint8_t> s) : data_(s.data()), size_(s.size()) {}
    ByteView(const std::vector<uint8_t>& v) : data_(v.data()), size_(v.size()) {}

    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    // True when [offset, offset+length) lies inside the view (overflow-safe).
    bool fits(size_t offset, size_t length) const { return offset <= size_ && length <= size_ - offset; }

    // The sub-view [offset, offset+length), or an empty view when it does not fit.
    ByteView sub(size_t offset, size_t length) const {
        return fits(offset, length) ? ByteView(data_ + offset, length) : ByteView();
    }
    // The sub-view [offset, offset+length) clipped to the view.
    ByteView clip(size_t offset, size_t length) const {
        if (offset >= size_) return ByteView();
        return ByteView(data_ + offset, std::min(length, size_ - offset));
    }
    ByteView from(size_t offset) const { return offset <= size_ ? ByteView(data_ + offset, size_ - offset) : ByteView(); }

    template <typename T>
    std::optional<T> get(size_t offset) const {
        static_assert(std::is_trivially_copyable_v<T>);
        if (!fits(offset, sizeof(T))) return std::nullopt;
        T v;
        std::memcpy(&v, data_ + offset, sizeof(T));  // hosts are little-endian, as the formats are
        return v;
    }
    std::optional<uint8_t> u8(size_t o) const { return get<uint8_t>(o); }
    std::optional<uint16_t> u16(size_t o) const { return get<uint16_t>(o); }
    std::optional<uint32_t> u32(size_t o) const { return get<uint32_t>(o); }
    std::optional<uint64_t> u64(size_t o) const { return get<uint64_t>(o); }
    std::optional<int8_t> i8(size_t o) const { return get<int8_t>(o); }
    std::optional<int16_t> i16(size_t o) const { return get<int16_t>(o); }
    std::optional<int32_t> i32(size_t o) const { return get<int32_t>(o); }
    std::optional<int64_t> i64(size_t o) const { return get<int64_t>(o); }

    // Value or a default when out of range: for fields whose absence has a natural zero.
    template <typename T>
    T getOr(size_t offset, T fallback) const { return get<T>(offset).value_or(fallback); }

    // Copy length bytes from offset into out; false (and out untouched) when it does not fit.
    bool copy(size_t offset, size_t length, void* out) const {
        if (!fits(offset, length)) return false;
        if (length) std::memcpy(out, data_ + offset, length);
        return true;
    }
    std::vector<uint8_t> toVector() const { return std::vector<uint8_t>(data_, data_ + size_); }

private:
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

// Sequential reader over a ByteView. A read past the end sets a sticky failure flag and yields zero,
// so a parser can read a whole structure and check ok() once.
class ByteCursor {
public:
    explicit ByteCursor(ByteView view, size_t pos = 0) : view_(view), pos_(pos), ok_(pos <= view.size()) {}

    bool ok() const { return ok_; }
    size_t pos() const { return pos_; }
    size_t remaining() const { return ok_ && pos_ <= view_.size() ? view_.size() - pos_ : 0; }
    void seek(size_t pos) { if (pos > view_.size()) ok_ = false; else pos_ = pos; }
    void skip(size_t n) { if (!view_.fits(pos_, n)) ok_ = false; else pos_ += n; }

    template <typename T>
    T read() {
        auto v = ok_ ? view_.get<T>(pos_) : std::nullopt;
        if (!v) { ok_ = false; return T{}; }
        pos_ += sizeof(T);
        return *v;
    }
    uint8_t u8() { return read<uint8_t>(); }
    uint16_t u16() { return read<uint16_t>(); }
    uint32_t u32() { return read<uint32_t>(); }
    uint64_t u64() { return read<uint64_t>(); }
    int16_t i16() { return read<int16_t>(); }
    int32_t i32() { return read<int32_t>(); }
    int64_t i64() { return read<int64_t>(); }
    ByteView bytes(size_t n) {
        if (!ok_ || !view_.fits(pos_, n)) { ok_ = false; return ByteView(); }
        ByteView v = view_.sub(pos_, n);
        pos_ += n;
        return v;
    }

private:
    ByteView view_;
    size_t pos_;
    bool ok_;
};

}  // namespace kestrane
