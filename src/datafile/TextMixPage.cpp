#include "datafile/TextMixPage.h"

#include "datafile/MdfFile.h"

namespace kestrane {

TextMixPage::TextMixPage(PageBuffer image, CMdfFile* owner, RunState& state)
    : RecordPage(std::move(image), owner, state) {
    const ByteView pageBytes = view();
    records.reserve(slotArray.size());
    for (uint16_t offset : slotArray) {
        if (offset <= kPageSize && !pageBytes.empty())
            records.push_back(std::make_unique<TextRecord>(pageBytes.from(offset), this,
                                                           static_cast<int32_t>(kPageSize - offset)));
        else
            records.push_back(nullptr);
    }
    slotArray.clear();
    slotArray.shrink_to_fit();
}

std::unique_ptr<TextMixPage> CMdfFile::LoadTextMixPage(PageAddress address) {
    // A file whose page numbering is shifted against its page ids is read at the shifted place.
    PageAddress actual = address;
    if (auto header = ReadPageHeader(address)) {
        const int64_t delta = static_cast<int64_t>(header->thisPage.pageId) - static_cast<int64_t>(address.pageId);
        const int64_t page = static_cast<int64_t>(address.pageId) - delta;
        if (page < 0 || page > UINT32_MAX) return nullptr;
        actual.pageId = static_cast<uint32_t>(page);
    }
    PageBuffer image = ReadPage(actual);
    if (!image) return nullptr;
    return std::make_unique<TextMixPage>(std::move(image), this, state_);
}

}  // namespace kestrane
