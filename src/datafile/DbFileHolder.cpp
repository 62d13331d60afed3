#include "datafile/DbFileHolder.h"

#include "datafile/DataPage.h"
#include "datafile/MetadataCatalog.h"

namespace kestrane {

CDbFileHolder::CDbFileHolder(RunState& state, ProgressSink& progress) : state_(state), progress_(progress) {}

CDbFileHolder::CDbFileHolder(std::unique_ptr<CMdfFile> dataFile, RunState& state, ProgressSink& progress)
    : dataFile_(std::move(dataFile)), state_(state), progress_(progress) {}

CDbFileHolder::~CDbFileHolder() { Reset(); }

bool CDbFileHolder::Open(const std::wstring& path) {
    Reset();
    path_ = path;
    dataFile_ = std::make_unique<CMdfFile>(path, advanceSearch_, state_, progress_);
    if (!dataFile_->IsOpen()) return false;
    catalog_ = GetCatalog(secondCatalog_);
    return true;
}

// The holder stands for the main dialog's ownership: the data file and both catalogues go together.
void CDbFileHolder::Reset() {
    if (secondCatalog_ != catalog_) delete secondCatalog_;
    delete catalog_;
    catalog_ = nullptr;
    secondCatalog_ = nullptr;
    dataFile_.reset();
}

std::unique_ptr<CDataPage> CDbFileHolder::LoadDataPage(PageAddress address) {
    return dataFile_ ? dataFile_->LoadDataPage(address) : nullptr;
}

std::unique_ptr<CDataPage> CDbFileHolder::LoadDataPageEx(PageAddress address, ByteView rowBuffer) {
    return dataFile_ ? dataFile_->LoadDataPageEx(address, rowBuffer) : nullptr;
}

}  // namespace kestrane
