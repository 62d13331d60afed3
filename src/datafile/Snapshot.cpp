#include "datafile/Snapshot.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "datafile/MdfFile.h"
#include "platform/BinaryFile.h"
#include "platform/ByteReader.h"
#include "platform/TextCodec.h"

namespace kestrane {

namespace {

// Sequential reads that never go past the file's length, whatever a count in the file says.
class SnapshotReader {
public:
    bool Open(const std::wstring& path) {
        if (!file_.open(WideToUtf8(path), BinaryFile::Mode::Read)) return false;
        size_ = file_.size();
        return true;
    }
    uint64_t Remaining() const { return size_ - pos_; }
    bool Read(void* out, size_t n) {
        if (Remaining() < n || file_.read(out, n) != n) return false;
        pos_ += n;
        return true;
    }
    template <typename T>
    bool Get(T& value) { return Read(&value, sizeof value); }
    bool Skip(uint64_t n) {
        if (Remaining() < n || !file_.seek(pos_ + n)) return false;
        pos_ += n;
        return true;
    }

private:
    BinaryFile file_;
    uint64_t size_ = 0;
    uint64_t pos_ = 0;
};

bool ReadHeader(SnapshotReader& in, SnapshotHeader* header) {
    uint32_t pathBytes = 0;
    if (!in.Get(pathBytes) || in.Remaining() < pathBytes) return false;
    if (header) {
        std::vector<uint8_t> path(pathBytes);
        if (!in.Read(path.data(), pathBytes)) return false;
        header->dataFilePath = Utf16LeToWide(ByteView(path));
    } else if (!in.Skip(pathBytes)) {
        return false;
    }
    SnapshotHeader h;
    if (!in.Get(h.advanceSearch) || !in.Get(h.collationAutoDetect)) return false;
    if (h.collationAutoDetect == 0 && !in.Get(h.manualCollationId)) return false;
    if (!in.Get(h.legacyCatalog) || !in.Get(h.includeDeletedRows) || !in.Get(h.deletedRecordScan)) return false;
    if (header) {
        h.dataFilePath = std::move(header->dataFilePath);
        *header = std::move(h);
    }
    return true;
}

// Appends one section to `map`; false when the file ended inside it.
bool ReadSection(SnapshotReader& in, PageMap& map) {
    uint64_t count = 0;
    if (!in.Get(count)) return false;
    std::vector<uint8_t> chunk;
    for (uint64_t e = 0; e < count; ++e) {
        uint32_t objectId = 0, n = 0;
        if (!in.Get(objectId) || !in.Get(n)) return false;
        const uint64_t take = std::min<uint64_t>(n, in.Remaining() / kPageRefDiskSize);
        if (take > 0) {
            chunk.resize(take * kPageRefDiskSize);
            if (!in.Read(chunk.data(), chunk.size())) return false;
            std::vector<PageRef>& refs = map[objectId];
            refs.reserve(refs.size() + take);
            ByteCursor cursor{ByteView(chunk)};
            for (uint64_t r = 0; r < take; ++r) {
                const uint16_t fileId = cursor.u16();
                const uint32_t page = cursor.u32();
                refs.emplace_back(fileId, page, cursor.u32());
            }
        }
        if (take < n) return false;
    }
    return true;
}

class SnapshotWriter {
public:
    explicit SnapshotWriter(BinaryFile& file) : file_(file) {}
    void Put(const void* data, size_t n) {
        const auto* p = static_cast<const uint8_t*>(data);
        buffer_.insert(buffer_.end(), p, p + n);
        if (buffer_.size() >= (1u << 20)) Flush();
    }
    template <typename T>
    void Put(const T& value) { Put(&value, sizeof value); }
    bool Flush() {
        ok_ = ok_ && (buffer_.empty() || file_.write(buffer_.data(), buffer_.size()));
        buffer_.clear();
        return ok_;
    }

private:
    BinaryFile& file_;
    std::vector<uint8_t> buffer_;
    bool ok_ = true;
};

void WriteSection(SnapshotWriter& out, const PageMap& map) {
    out.Put(static_cast<uint64_t>(map.size()));
    for (const auto& [objectId, refs] : map) {
        out.Put(objectId);
        out.Put(static_cast<uint32_t>(refs.size()));
        for (const PageRef ref : refs) {
            out.Put(ref.fileId);
            out.Put(ref.page);
            out.Put(static_cast<uint32_t>(ref.pageType));
        }
    }
}

}  // namespace

std::optional<SnapshotHeader> ReadSnapshotHeader(const std::wstring& path) {
    SnapshotReader in;
    SnapshotHeader header;
    if (!in.Open(path) || !ReadHeader(in, &header)) return std::nullopt;
    return header;
}

bool CMdfFile::SaveSnapshot(const std::wstring& dataFilePath, uint8_t advanceSearch, const std::wstring& snapshotPath) {
    BinaryFile file;
    if (!file.open(WideToUtf8(snapshotPath), BinaryFile::Mode::CreateWrite)) return false;
    SnapshotWriter out(file);
    const std::vector<uint8_t> path = WideToUtf16Le(dataFilePath);
    out.Put(static_cast<uint32_t>(path.size()));
    out.Put(path.data(), path.size());
    out.Put(advanceSearch);
    out.Put(state_.collationAutoDetect);
    if (state_.collationAutoDetect == 0) out.Put(state_.manualCollationId);
    out.Put(state_.legacyCatalog);
    out.Put(state_.includeDeletedRows);
    out.Put(state_.deletedRecordScan);
    WriteSection(out, systemPages_);
    WriteSection(out, dataPages_);
    WriteSection(out, iamPages_);
    return out.Flush();
}

bool CMdfFile::LoadSnapshot(const std::wstring& snapshotPath) {
    progress_.StatusText(kTextLoadingSnapshot);
    SnapshotReader in;
    if (!in.Open(snapshotPath)) return false;
    // A short or lying file keeps whatever was read before it ended.
    if (ReadHeader(in, nullptr) && ReadSection(in, systemPages_) && ReadSection(in, dataPages_))
        ReadSection(in, iamPages_);
    return true;
}

}  // namespace kestrane
