#include "datafile/LargeValue.h"
#include "datafile/MdfFile.h"
#include "datafile/TextMixPage.h"

namespace kestrane {

std::unique_ptr<TextMixPage> MdfLobPageSource::LoadTextMixPage(PageAddress address) {
    return file_.LoadTextMixPage(address);
}

uint64_t MdfLobPageSource::TotalBytes() const {
    uint64_t total = file_.FileLength();
    for (const auto& [id, entry] : file_.SecondaryFiles())
        if (entry.length > 0) total += static_cast<uint64_t>(entry.length);
    return total;
}

}  // namespace kestrane
