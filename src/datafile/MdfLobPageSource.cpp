#include "datafile/LargeValue.h"
#include "datafile/MdfFile.h"
#include "datafile/TextMixPage.h"

namespace kestrane {

std::unique_ptr<TextMixPage> MdfLobPageSource::LoadTextMixPage(PageAddress address) {
    // A file whose page numbering is shifted against its page ids is read at the shifted place.
    PageAddress actual = address;
    if (auto header = file_.ReadPageHeader(address)) {
        const int64_t delta = static_cast<int64_t>(header->thisPage.pageId) - static_cast<int64_t>(address.pageId);
        const int64_t page = static_cast<int64_t>(address.pageId) - delta;
        if (page < 0 || page > UINT32_MAX) return nullptr;
        actual.pageId = static_cast<uint32_t>(page);
    }
    PageBuffer image = file_.ReadPage(actual);
    if (!image) return nullptr;
    return std::make_unique<TextMixPage>(std::move(image), &file_, file_.State());
}

}  // namespace kestrane
