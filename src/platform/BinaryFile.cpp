#include "platform/BinaryFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <utility>

namespace kestrane {

BinaryFile::~BinaryFile() { close(); }

BinaryFile::BinaryFile(BinaryFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), pos_(other.pos_), path_(std::move(other.path_)) {}

BinaryFile& BinaryFile::operator=(BinaryFile&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        pos_ = other.pos_;
        path_ = std::move(other.path_);
    }
    return *this;
}

bool BinaryFile::open(const std::string& path, Mode mode) {
    close();
    int flags = O_CLOEXEC;
    switch (mode) {
        case Mode::Read: flags |= O_RDONLY; break;
        case Mode::CreateWrite: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
        case Mode::Append: flags |= O_WRONLY | O_CREAT | O_APPEND; break;
    }
    fd_ = ::open(path.c_str(), flags, 0644);
    if (fd_ < 0) return false;
    struct stat st{};
    if (fstat(fd_, &st) != 0 || S_ISDIR(st.st_mode)) { close(); return false; }
    if (mode == Mode::Read) posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
    path_ = path;
    pos_ = mode == Mode::Append ? static_cast<uint64_t>(st.st_size) : 0;
    return true;
}

void BinaryFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    pos_ = 0;
}

uint64_t BinaryFile::size() const {
    struct stat st{};
    if (fd_ < 0 || fstat(fd_, &st) != 0) return 0;
    return static_cast<uint64_t>(st.st_size);
}

size_t BinaryFile::readAt(uint64_t offset, void* out, size_t length) const {
    if (fd_ < 0) return 0;
    size_t done = 0;
    auto* p = static_cast<char*>(out);
    while (done < length) {
        ssize_t r = ::pread(fd_, p + done, length - done, static_cast<off_t>(offset + done));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        done += static_cast<size_t>(r);
    }
    return done;
}

size_t BinaryFile::read(void* out, size_t length) {
    size_t n = readAt(pos_, out, length);
    pos_ += n;
    return n;
}

bool BinaryFile::seek(uint64_t offset) {
    if (fd_ < 0) return false;
    pos_ = offset;
    return true;
}

bool BinaryFile::write(const void* data, size_t length) {
    if (fd_ < 0) return false;
    const auto* p = static_cast<const char*>(data);
    size_t done = 0;
    while (done < length) {
        ssize_t r = ::write(fd_, p + done, length - done);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        done += static_cast<size_t>(r);
    }
    pos_ += length;
    return true;
}

bool BinaryFile::flush() { return fd_ >= 0 && ::fsync(fd_) == 0; }

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out) {
    BinaryFile f;
    if (!f.open(path)) return false;
    out.resize(f.size());
    return f.readAt(0, out.data(), out.size()) == out.size();
}

}  // namespace kestrane
