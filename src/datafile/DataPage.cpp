#include "datafile/DataPage.h"

namespace kestrane {

CDataPage::CDataPage(PageBuffer image, CMdfFile* owner, RunState& state)
    : PrimaryRecordPage(std::move(image), owner, state) {}

CDataPage::CDataPage(PageBuffer image, ByteView row, CMdfFile* owner, RunState& state)
    : PrimaryRecordPage(std::move(image), row, owner, state) {}

CDataPage::~CDataPage() = default;

}  // namespace kestrane
