#include "datafile/PageHeader.h"

#include <cstdio>
#include <cstring>

namespace kestrane {

namespace {

// The page image the thread gave back last; freed when the thread ends.
struct SparePage {
    uint8_t* page = nullptr;
    ~SparePage() { std::free(page); }
};
thread_local SparePage spare;

}  // namespace

void CFreeDeleter::operator()(uint8_t* p) const noexcept {
    if (!p) return;
    if (spare.page == nullptr) spare.page = p;
    else std::free(p);
}

PageBuffer AllocatePageBuffer() {
    // Not zero-filled: every reader fills the page and zeroes what a short read leaves.
    uint8_t* page = spare.page;
    spare.page = nullptr;
    if (!page) page = static_cast<uint8_t*>(std::malloc(kPageBufferSize));
    PageBuffer buffer(page);
    if (buffer) buffer.get()[kPageSize] = 0;
    return buffer;
}

void RepairTornPage(uint8_t* page, size_t size) {
    if (!page || size < kPageSize) return;
    ByteView view(page, size);
    const uint16_t flags = view.getOr<uint16_t>(kHdrFlagBits, 0);
    if ((flags & kTornBitsPresent) == 0) return;
    const uint32_t torn = view.getOr<uint32_t>(kHdrTornBits, 0);
    for (unsigned i = 1; i < kPageSize / kSectorSize; ++i) {
        uint8_t& last = page[(i + 1) * kSectorSize - 1];
        last = static_cast<uint8_t>((last & 0xFC) | ((torn >> (2 * i)) & 0x03));
    }
}

CPage_Header::CPage_Header(uint8_t* page, size_t size) {
    ByteView v(page, size);
    freeCount = v.getOr<uint16_t>(28, 0);
    freeDataOffset = v.getOr<uint16_t>(30, 0);
    flagBits = v.getOr<int16_t>(4, 0);
    objectId = v.getOr<uint32_t>(24, 0);
    pageType = v.getOr<uint8_t>(1, 0);
    fixedLengthSize = v.getOr<uint16_t>(14, 0);
    indexId = v.getOr<uint16_t>(6, 0);
    typeFlagBits = v.getOr<uint8_t>(2, 0);
    slotCount = v.getOr<uint16_t>(22, 0);
    xactReservedCount = v.getOr<uint16_t>(50, 0);
    reservedCount = v.getOr<uint16_t>(38, 0);
    level = v.getOr<uint8_t>(3, 0);
    headerVersion = v.getOr<uint8_t>(0, 0);
    ghostRecordCount = v.getOr<uint16_t>(58, 0);
    nextPage = PageAddress(v.getOr<uint16_t>(20, 1), v.getOr<uint32_t>(16, 0));
    previousPage = PageAddress(v.getOr<uint16_t>(12, 1), v.getOr<uint32_t>(8, 0));
    thisPage = PageAddress(v.getOr<uint16_t>(36, 1), v.getOr<uint32_t>(32, 0));

    char text[64];
    std::snprintf(text, sizeof text, "( %d : %d : %d )", v.getOr<int32_t>(40, 0), v.getOr<int32_t>(44, 0),
                  static_cast<int>(v.getOr<int16_t>(48, 0)));
    lsnText = text;
    std::snprintf(text, sizeof text, "( %d : %d )", static_cast<int>(v.getOr<int16_t>(56, 0)),
                  v.getOr<int32_t>(52, 0));
    xactDescriptorText = text;

    RepairTornPage(page, size);
}

CPage::CPage(PageBuffer image, CMdfFile* owner) : owner_(owner), buffer_(std::move(image)) {
    if (buffer_) header_ = std::make_unique<CPage_Header>(buffer_.get(), kPageSize);
}

void CPage::Release() {
    header_.reset();
    buffer_.reset();
}

}  // namespace kestrane
