#pragma once
// Pages of a data file: the page address passed around the whole reader, the page-index entry, the
// parsed 96-byte page header (with the torn-page repair applied to the image it is parsed from) and the
// page object that owns one page image.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/ByteReader.h"

namespace kestrane {

class CMdfFile;

constexpr size_t kPageSize = 8192;
constexpr size_t kPageHeaderSize = 96;
// Page images are handed out with one spare zero byte past the page.
constexpr size_t kPageBufferSize = kPageSize + 1;
constexpr size_t kSectorSize = 512;

// Page-header offsets that are read straight from the bytes (indexing, alignment checks).
constexpr size_t kHdrPageType = 1;
constexpr size_t kHdrFlagBits = 4;
constexpr size_t kHdrIndexId = 6;
constexpr size_t kHdrPrevPage = 8;   // u32 page id, u16 file id
constexpr size_t kHdrNextPage = 16;  // u32 page id, u16 file id
constexpr size_t kHdrObjectId = 24;
constexpr size_t kHdrThisPageId = 32;
constexpr size_t kHdrThisFileId = 36;
constexpr size_t kHdrLsn = 40;  // u32 VLF sequence, u32 block, u16 slot
constexpr size_t kHdrTornBits = 60;
constexpr uint16_t kTornBitsPresent = 0x0100;

// A page of the database: file id first, then the page id in that file. Kept naturally aligned so that
// its fields can be bound to references; readers of on-disk addresses convert field by field.
struct PageAddress {
    uint16_t fileId = 1;
    uint32_t pageId = 0;

    PageAddress() = default;
    PageAddress(uint16_t file, uint32_t page) : fileId(file), pageId(page) {}
    bool operator==(const PageAddress&) const = default;
};

// One entry of the page index. In the snapshot file it is written as 10 bytes:
//   offset 0  u16  file id (from the header; a secondary file's catalogue id)
//   offset 2  u32  page INDEX in its file (position after the leading block), not the header's page id
//   offset 6  u32  page type byte of the header, widened
// In memory the fields are reordered into 8 aligned bytes: the index holds one entry per page.
struct PageRef {
    uint16_t fileId = 0;
    uint16_t pageType = 0;
    uint32_t page = 0;

    PageRef() = default;
    PageRef(uint16_t file, uint32_t pageIndex, uint32_t type)
        : fileId(file), pageType(static_cast<uint16_t>(type)), page(pageIndex) {}
    bool operator==(const PageRef&) const = default;
};
static_assert(sizeof(PageRef) == 8);
constexpr size_t kPageRefDiskSize = 10;

// Gives a page image back: the thread keeps one for its next page, so that a scan reading page after
// page does not allocate and free 8 KiB each time; the others go to the C allocator.
struct CFreeDeleter {
    void operator()(uint8_t* p) const noexcept;
};
using PageBuffer = std::unique_ptr<uint8_t, CFreeDeleter>;

// A page image of kPageBufferSize bytes whose last byte is 0; the caller fills the page bytes. Null
// when the allocation fails.
PageBuffer AllocatePageBuffer();

// Puts the torn-page bits back: when the header's flag bits carry 0x0100, the two low bits of the last
// byte of each 512-byte sector 1..15 are replaced by the matching 2-bit field of the u32 at offset 60.
// Sector 0 (the header) is never touched; repairing twice gives the same bytes. Does nothing to an
// image shorter than a page.
void RepairTornPage(uint8_t* page, size_t size);

// Page header on disk (first 96 bytes of a page, little-endian):
//   0 u8 header version      1 u8 page type (1 data, 2 index, 10 IAM)   2 u8 type flag bits (>= 0x80:
//   page-compressed)         3 u8 level       4 u16 flag bits (0x0100 torn bits present)
//   6 u16 index id           8 u32 previous page id   12 u16 previous file id   14 u16 fixed-length size
//  16 u32 next page id      20 u16 next file id       22 u16 slot count         24 u32 object id
//  28 u16 free count        30 u16 free data offset   32 u32 this page id       36 u16 this file id
//  38 u16 reserved count    40 u32/44 u32/48 u16 LSN  50 u16 xact reserved count
//  52 u32 xdes part 2       56 u16 xdes part 1        58 u16 ghost record count 60 u32 torn bits
class CPage_Header {
public:
    CPage_Header() = default;
    // Parses the header of `page` (at least kPageSize bytes) and repairs its torn bits in place.
    CPage_Header(uint8_t* page, size_t size = kPageSize);
    virtual ~CPage_Header() = default;

    uint16_t freeCount = 0;
    uint16_t freeDataOffset = 0;
    int16_t flagBits = 0;
    std::string lsnText;
    uint32_t objectId = 0;
    uint32_t pageType = 0;
    uint16_t fixedLengthSize = 0;
    uint16_t indexId = 0;
    uint8_t typeFlagBits = 0;
    uint16_t slotCount = 0;
    std::string xactDescriptorText;
    uint16_t xactReservedCount = 0;
    uint16_t reservedCount = 0;
    uint8_t level = 0;
    uint8_t headerVersion = 0;
    uint16_t ghostRecordCount = 0;
    PageAddress nextPage;
    PageAddress previousPage;
    PageAddress thisPage;
};

// Owns one page image and its parsed header. Record pages hold one as their first member.
class CPage {
public:
    CPage() = default;
    // Takes `image` over (kPageBufferSize bytes) and parses its header, repairing torn bits.
    CPage(PageBuffer image, CMdfFile* owner);
    CPage(CPage&&) noexcept = default;
    CPage& operator=(CPage&&) noexcept = default;

    // Frees the header and the image.
    void Release();

    CPage_Header* header() const { return header_.get(); }
    CMdfFile* owner() const { return owner_; }
    uint8_t* buffer() const { return buffer_.get(); }
    ByteView view() const { return buffer_ ? ByteView(buffer_.get(), kPageSize) : ByteView(); }

private:
    std::unique_ptr<CPage_Header> header_;
    CMdfFile* owner_ = nullptr;
    PageBuffer buffer_;
};

}  // namespace kestrane
