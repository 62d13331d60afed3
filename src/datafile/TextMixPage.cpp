#include "datafile/TextMixPage.h"

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

}  // namespace kestrane
