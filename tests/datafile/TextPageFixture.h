#pragma once
// Text pages for large-value tests: node payloads placed as records of synthetic page images.
#include <map>
#include <memory>
#include <vector>

#include "datafile/LargeValue.h"
#include "datafile/TextMixPage.h"
#include "platform/RunState.h"

namespace kestrane::test {

using Bytes = std::vector<uint8_t>;

inline void Put(Bytes& b, uint64_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void PutRid(Bytes& b, uint32_t page, uint16_t file, uint16_t slot) {
    Put(b, page, 4);
    Put(b, file, 2);
    Put(b, slot, 2);
}
inline Bytes Head(uint16_t type) {
    Bytes b;
    Put(b, 0x1122334455667788ull, 8);
    Put(b, type, 2);
    return b;
}
// A node payload of another blob id than the fixtures' own.
inline Bytes OfBlob(Bytes node, uint64_t blobId) {
    for (size_t i = 0; i < 8 && i < node.size(); ++i) node[i] = static_cast<uint8_t>(blobId >> (8 * i));
    return node;
}
inline Bytes DataNode(const Bytes& data) {
    Bytes b = Head(3);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}
inline Bytes SmallRootNode(const Bytes& data) {
    Bytes b = Head(0);
    Put(b, data.size(), 2);
    Put(b, 0, 4);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}
struct Rid { uint32_t page; uint16_t file; uint16_t slot; };
inline Bytes InternalNode(const std::vector<Rid>& links) {
    Bytes b = Head(2);
    Put(b, 500, 2);
    Put(b, links.size(), 2);
    Put(b, 0, 2);
    for (const Rid& r : links) {
        Put(b, 0, 8);
        PutRid(b, r.page, r.file, r.slot);
    }
    return b;
}
inline Bytes LargeRootNode(const std::vector<Rid>& links) {
    Bytes b = Head(5);
    Put(b, 5, 2);
    Put(b, links.size(), 2);
    Put(b, 0, 2);
    Put(b, 0, 4);
    for (const Rid& r : links) {
        Put(b, 100, 4);
        PutRid(b, r.page, r.file, r.slot);
    }
    return b;
}
inline Bytes InRowRoot(const std::vector<std::pair<uint32_t, Rid>>& links) {
    Bytes b{2, 0, 0, 0};
    Put(b, 0, 8);
    for (const auto& [size, r] : links) {
        Put(b, size, 4);
        PutRid(b, r.page, r.file, r.slot);
    }
    return b;
}

// Text pages built from node payloads, one record per slot.
class FakeTextPages : public LobPageSource {
public:
    void Add(uint16_t file, uint32_t page, std::vector<Bytes> payloads) { pages_[{file, page}] = std::move(payloads); }
    // A page of one record that `slots` slots all point at.
    void AddAliased(uint16_t file, uint32_t page, Bytes payload, uint16_t slots) {
        pages_[{file, page}] = {std::move(payload)};
        aliased_[{file, page}] = slots;
    }
    // Status byte A of every record of a page (large-value records by default).
    void SetStatus(uint16_t file, uint32_t page, uint8_t statusA) { status_[{file, page}] = statusA; }
    int loads = 0;

    std::unique_ptr<TextMixPage> LoadTextMixPage(PageAddress a) override {
        ++loads;
        auto it = pages_.find({a.fileId, a.pageId});
        if (it == pages_.end()) return nullptr;
        PageBuffer image = AllocatePageBuffer();
        uint8_t* p = image.get();
        std::memset(p, 0, kPageSize);
        p[1] = 3;
        const auto alias = aliased_.find({a.fileId, a.pageId});
        const size_t slotCount = alias == aliased_.end() ? it->second.size() : alias->second;
        p[22] = static_cast<uint8_t>(slotCount);
        p[23] = static_cast<uint8_t>(slotCount >> 8);
        p[32] = static_cast<uint8_t>(a.pageId);
        p[36] = static_cast<uint8_t>(a.fileId);
        size_t offset = 96;
        const auto status = status_.find({a.fileId, a.pageId});
        for (size_t slot = 0; slot < it->second.size(); ++slot) {
            const Bytes& payload = it->second[slot];
            p[offset] = status == status_.end() ? 0x08 : status->second;
            uint16_t length = static_cast<uint16_t>(payload.size() + 4);
            p[offset + 2] = static_cast<uint8_t>(length);
            p[offset + 3] = static_cast<uint8_t>(length >> 8);
            std::copy(payload.begin(), payload.end(), p + offset + 4);
            p[8190 - 2 * slot] = static_cast<uint8_t>(offset);
            p[8191 - 2 * slot] = static_cast<uint8_t>(offset >> 8);
            offset += length;
        }
        for (size_t slot = it->second.size(); slot < slotCount; ++slot) {  // aliases of record 0
            p[8190 - 2 * slot] = 96;
            p[8191 - 2 * slot] = 0;
        }
        return std::make_unique<TextMixPage>(std::move(image), nullptr, state_);
    }

private:
    RunState state_;
    std::map<std::pair<uint16_t, uint32_t>, std::vector<Bytes>> pages_;
    std::map<std::pair<uint16_t, uint32_t>, size_t> aliased_;
    std::map<std::pair<uint16_t, uint32_t>, uint8_t> status_;
};

}  // namespace kestrane::test
