#include "sqltext/BufferedScriptFile.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/TextCodec.h"
#include "sqltext/ScriptFiles.h"

namespace kestrane {

bool BufferedScriptFile::Open(const std::wstring& path) {
    used_ = 0;
    flushed_ = 0;
    file_.close();
    const std::string native = NativePath(path);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(native, ec) || !file_.open(native, BinaryFile::Mode::Append)) return false;
    flushed_ = file_.position();
    return true;
}

void BufferedScriptFile::Append(std::wstring_view text) {
    // The buffer only grows, so that its bytes are not cleared again for every text.
    if (buffer_.size() < used_ + text.size() * 4) buffer_.resize(std::max(buffer_.size() * 2, used_ + text.size() * 4));
    used_ = static_cast<size_t>(PutUtf16Le(text, buffer_.data() + used_) - buffer_.data());
}

bool BufferedScriptFile::Flush() {
    if (used_ == 0) return true;
    const bool ok = file_.write(buffer_.data(), used_);
    // After a short write the file itself says how much of the buffer landed.
    flushed_ = ok ? flushed_ + used_ : file_.size();
    used_ = 0;
    return ok;
}

}  // namespace kestrane
