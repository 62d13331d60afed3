#include "datafile/TextMixPage.h"

#include "datafile/MdfFile.h"

namespace kestrane {

TextMixPage::TextMixPage(PageBuffer image, CMdfFile* owner, RunState& state)
    : RecordPage(std::move(image), owner, state) {
    records.resize(slotArray.size());
}

TextRecord* TextMixPage::TextRecordAt(size_t slot) {
    if (slot >= slotArray.size()) return nullptr;
    const uint16_t offset = slotArray[slot];
    const ByteView pageBytes = view();
    if (!records[slot] && offset <= kPageSize && !pageBytes.empty())
        records[slot] = MakeRecord<TextRecord>(pageBytes.from(offset), this, static_cast<int32_t>(kPageSize - offset));
    return static_cast<TextRecord*>(records[slot].get());
}

std::unique_ptr<TextMixPage> CMdfFile::LoadTextMixPage(PageAddress address) {
    PageBuffer image = ReadPage(address);
    if (!image) return nullptr;
    // A file whose page numbering is shifted against its page ids is read at the shifted place.
    const uint32_t storedId = ByteView(image.get(), kPageSize).getOr<uint32_t>(kHdrThisPageId, 0);
    const int64_t delta = static_cast<int64_t>(storedId) - static_cast<int64_t>(address.pageId);
    const int64_t page = static_cast<int64_t>(address.pageId) - delta;
    if (page < 0 || page > UINT32_MAX) return nullptr;
    if (page != address.pageId) {
        image = ReadPage(PageAddress(address.fileId, static_cast<uint32_t>(page)));
        if (!image) return nullptr;
    }
    return std::make_unique<TextMixPage>(std::move(image), this, state_);
}

}  // namespace kestrane
