#include "datafile/LargeValue.h"
#include "datafile/MdfFile.h"
#include "datafile/TextMixPage.h"

namespace kestrane {

std::unique_ptr<TextMixPage> MdfLobPageSource::LoadTextMixPage(PageAddress address) {
    return file_.LoadTextMixPage(address);
}

}  // namespace kestrane
