#include "datafile/RecordPage.h"

#include <algorithm>

#include "platform/RunState.h"

namespace kestrane {

RecordPage::RecordPage(RunState& state) : state_(state) {}

RecordPage::RecordPage(PageBuffer image, CMdfFile* owner, RunState& state, int forwardDepth)
    : page(std::move(image), owner), state_(state), forwardDepth_(forwardDepth) {
    LoadSlotArray();
}

RecordPage::~RecordPage() = default;

std::pmr::memory_resource* RecordPage::MakeMemory() const {
    // Sized for the page's slots, so that a page of typical rows takes one block; a page of many
    // small rows (or a damaged slot count) grows it as it needs.
    constexpr size_t kBytesPerSlot = 400;
    constexpr size_t kFirstBlockLimit = 64 << 10;
    return &memory_.emplace(std::min(std::max<size_t>(slotArray.size(), 4) * kBytesPerSlot, kFirstBlockLimit));
}

void RecordPage::LoadSlotArray() {
    slotArray.clear();
    const CPage_Header* h = header();
    if (!h) return;
    const int32_t n = static_cast<int16_t>(h->slotCount);
    if (n <= 0 || n > kMaxSlots) return;
    const ByteView image = view();
    slotArray.resize(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) slotArray[i] = image.getOr<uint16_t>(kPageSize - 2 - 2 * static_cast<size_t>(i), 0);
}

}  // namespace kestrane
