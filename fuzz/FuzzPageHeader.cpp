// The page header parse and the torn-page repair on arbitrary bytes: whole pages, short images, and
// the repair applied twice.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "datafile/PageHeader.h"
#include "datafile/PageScan.h"

using namespace kestrane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> page(kPageSize, 0);
    std::memcpy(page.data(), data, std::min(size, kPageSize));
    const std::vector<uint8_t> original = page;

    CPage_Header header(page.data());
    for (size_t i = 0; i < kPageSize; ++i) {
        const bool sectorEnd = i >= kSectorSize && (i + 1) % kSectorSize == 0;
        if (page[i] != original[i] && (!sectorEnd || (page[i] & 0xFC) != (original[i] & 0xFC))) std::abort();
    }
    const std::vector<uint8_t> repaired = page;
    RepairTornPage(page.data(), page.size());
    if (page != repaired) std::abort();
    if (header.thisPage.pageId != ByteView(page).u32(kHdrThisPageId)) std::abort();
    const PageIndexFields fields = ReadIndexFields(ByteView(page));
    if (static_cast<uint32_t>(fields.objectId) != header.objectId || fields.pageType != header.pageType) std::abort();

    // An image of exactly the input's length: parsed within its bounds, repaired only when whole.
    std::vector<uint8_t> exact(data, data + size);
    CPage_Header shortHeader(exact.data(), exact.size());
    RepairTornPage(exact.data(), exact.size());
    return 0;
}
