#include "logreader/LogReadWindow.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace kestrane {

namespace {
// Windows overlap by the largest block (sizes are u16), so a block cut by the end of one window
// lies whole in the next.
constexpr size_t kMaxFetch = size_t{1} << 16;
}  // namespace

LogReadWindow::LogReadWindow(const LogByteSource& source, size_t windowSize, bool readAhead)
    // A window need not be larger than the source.
    : source_(source), windowSize_(std::max<size_t>(std::min<uint64_t>(windowSize, source.Size()), 2 * kMaxFetch)) {
    current_.bytes.resize(windowSize_);
    next_.bytes.resize(windowSize_);
    if (!readAhead) return;
    try {
        reader_ = std::thread([this] { ReaderLoop(); });
    } catch (const std::system_error&) {
        // No thread to spare: every window is read when it is needed.
    }
}

LogReadWindow::~LogReadWindow() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    if (reader_.joinable()) reader_.join();
}

void LogReadWindow::ReaderLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return quit_ || pending_; });
        if (quit_) return;
        const uint64_t start = next_.start;
        lock.unlock();
        const size_t n = source_.ReadAt(start, next_.bytes.data(), next_.bytes.size());
        lock.lock();
        next_.length = n;
        pending_ = false;
        wake_.notify_all();
    }
}

void LogReadWindow::WaitReadAhead() {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait(lock, [this] { return !pending_; });
}

void LogReadWindow::StartReadAhead() {
    const uint64_t start = current_.start + windowSize_ - kMaxFetch;
    // A short window ends at the end of the source (or at a failed read): nothing follows it.
    if (!reader_.joinable() || current_.length < windowSize_ || start >= source_.Size()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        next_.start = start;
        next_.length = 0;
        pending_ = true;
    }
    wake_.notify_all();
}

ByteView LogReadWindow::Fetch(uint64_t pos, size_t length) {
    length = std::min(length, kMaxFetch);
    if (!current_.Holds(pos, length)) {
        WaitReadAhead();
        if (next_.Holds(pos, length)) {
            std::swap(current_, next_);
        } else {
            current_.start = pos;
            current_.length = source_.ReadAt(pos, current_.bytes.data(), current_.bytes.size());
        }
        next_.length = 0;
        StartReadAhead();
    }
    // pos lies in current_ now (or current_ is empty); past a short window's end the range is clipped.
    return ByteView(current_.bytes.data(), current_.length).clip(static_cast<size_t>(pos - current_.start), length);
}

}  // namespace kestrane
