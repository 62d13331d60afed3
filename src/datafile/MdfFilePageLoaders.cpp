// The page loaders of the data file that build the record-page classes.
#include "datafile/BootPage.h"
#include "datafile/DataPage.h"
#include "datafile/MdfFile.h"

namespace kestrane {

namespace {
// The boot page sits at page 9 of the primary file.
constexpr int64_t kBootPageIndex = 9;
}  // namespace

std::unique_ptr<CDataPage> CMdfFile::LoadDataPageEx(PageAddress address, ByteView rowBuffer) {
    PageBuffer image = ReadLoaderPage(address, true);
    if (!image) return nullptr;
    return std::make_unique<CDataPage>(std::move(image), rowBuffer, this, state_);
}

std::unique_ptr<CDataPage> CMdfFile::LoadDataPage(PageAddress address) {
    PageBuffer image = ReadLoaderPage(address, true);
    if (!image) return nullptr;
    return std::make_unique<CDataPage>(std::move(image), this, state_);
}

std::unique_ptr<CDataPage> CMdfFile::LoadSystemPage(PageAddress address) {
    PageBuffer image = ReadLoaderPage(address, false);
    if (!image) return nullptr;
    return std::make_unique<CDataPage>(std::move(image), this, state_);
}

void CMdfFile::LoadBootPage() {
    // Where the pages of object 7 (or 41) stand against their own page ids tells how far the file's
    // page numbering is shifted; the boot page is page 9 of that numbering.
    int64_t delta = 0;
    const PageRef* first = nullptr;
    for (uint32_t objectId : {7u, 41u}) {
        auto it = systemPages_.find(objectId);
        if (it != systemPages_.end() && !it->second.empty()) {
            first = &it->second.front();
            break;
        }
    }
    if (first) {
        if (auto header = ReadPageHeader(PageAddress(first->fileId, first->page)))
            delta = static_cast<int64_t>(header->thisPage.pageId) - static_cast<int64_t>(first->page);
    }
    const int64_t bootIndex = kBootPageIndex - delta;
    if (bootIndex <= 0 || static_cast<uint64_t>(bootIndex) >= pageCount_) return;
    PageBuffer image = ReadPrimaryAt(static_cast<uint64_t>(bootIndex) * kPageSize + leadingOffset_);
    if (!image) return;
    CBootPage boot(ByteView(image.get(), kPageSize), this, state_);
    databaseName_ = boot.databaseName;
}

}  // namespace kestrane
