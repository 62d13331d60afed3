#pragma once
// The main dialog's handle on the open database: creates the data file, hands catalogue creation to
// it and forwards page loads and the snapshot command.
#include <cstdint>
#include <memory>
#include <string>

#include "datafile/MdfFile.h"
#include "platform/ProgressSink.h"
#include "platform/RunState.h"

namespace kestrane {

class CMetadataCatalog;

class CDbFileHolder {
public:
    CDbFileHolder(RunState& state, ProgressSink& progress);
    CDbFileHolder(std::unique_ptr<CMdfFile> dataFile, RunState& state, ProgressSink& progress);
    ~CDbFileHolder();
    CDbFileHolder(const CDbFileHolder&) = delete;
    CDbFileHolder& operator=(const CDbFileHolder&) = delete;

    // Creates the data file with the holder's advance-search flag and keeps it; false when it did not
    // open. The catalogue step follows the indexing.
    bool Open(const std::wstring& path);
    // Frees the data file and both catalogues.
    void Reset();

    // Returns the catalogue, creating it through the data file when the holder has none.
    CMetadataCatalog* GetCatalog(CMetadataCatalog* fallback);

    // Forward to the data file's loaders; null without a data file.
    std::unique_ptr<CDataPage> LoadDataPage(PageAddress address);
    std::unique_ptr<CDataPage> LoadDataPageEx(PageAddress address, ByteView rowBuffer);
    bool SaveSnapshot(const std::wstring& dataFilePath, const std::wstring& snapshotPath) {
        return dataFile_ && dataFile_->SaveSnapshot(dataFilePath, advanceSearch_, snapshotPath);
    }

    CMdfFile* DataFile() const { return dataFile_.get(); }
    CMetadataCatalog* Catalog() const { return catalog_; }
    // The holder takes ownership of catalogues set here.
    void SetCatalog(CMetadataCatalog* catalog) { catalog_ = catalog; }
    CMetadataCatalog* SecondCatalog() const { return secondCatalog_; }
    void SetSecondCatalog(CMetadataCatalog* catalog) { secondCatalog_ = catalog; }
    uint8_t AdvanceSearch() const { return advanceSearch_; }
    void SetAdvanceSearch(uint8_t flag) { advanceSearch_ = flag; }
    const std::wstring& Path() const { return path_; }

private:
    std::unique_ptr<CMdfFile> dataFile_;
    CMetadataCatalog* catalog_ = nullptr;
    CMetadataCatalog* secondCatalog_ = nullptr;
    uint8_t advanceSearch_ = 0;
    std::wstring path_;
    RunState& state_;
    ProgressSink& progress_;
};

}  // namespace kestrane
