#pragma once
// The open primary data file: checks that it is a run of 8192-byte pages, finds the leading block,
// reads every page header once and sorts the pages into three maps keyed by the header's object id
// (system-table pages, data pages, IAM pages), then serves single pages by address from the primary
// file or from a secondary file.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "datafile/DataFileEntry.h"
#include "datafile/PageHeader.h"
#include "platform/BinaryFile.h"
#include "platform/ByteReader.h"
#include "platform/ProgressSink.h"
#include "platform/RunState.h"

namespace kestrane {

class CDataPage;
class CBootPage;
class TextMixPage;
class CMetadataCatalog;

using PageMap = std::map<uint32_t, std::vector<PageRef>>;

// A page's last change as the log numbers it: VLF sequence, block, slot.
struct PageLsn {
    uint32_t vlfSequence = 0;
    uint32_t block = 0;
    uint16_t slot = 0;
    auto operator<=>(const PageLsn&) const = default;
    bool IsZero() const { return vlfSequence == 0 && block == 0 && slot == 0; }
};

// Status and fatal texts of opening and indexing a data file.
inline constexpr const char* kTextFileCannotBeOpen = "File cannot be open...........";
inline constexpr const char* kTextNotValidMdf =
    "Wheteher File is not valid mdf file or file is highly corrupted...........";
inline constexpr const char* kTextCheckingCorruption = "Checking for file corruption ...........";
inline constexpr const char* kTextCheckingCorruptionDone = "Checking for file corruption is done...........";
inline constexpr const char* kTextMappingObjects = "Mapping Database Objects...........";
inline constexpr const char* kTextMappingDone = "Mapping of Database Objects has been done ......................";
inline constexpr const char* kTextLoadSnapshotFinished =
    "Load snapshot finished..processing tables ......................";
inline constexpr const char* kTextProcessingMetadata = "Processing Metadata Information...........";

class CMdfFile {
public:
    // Opens `path`, checks the alignment and indexes the pages (or loads the snapshot in snapshot
    // mode). Failures are reported through `progress` and leave IsOpen() false.
    CMdfFile(const std::wstring& path, uint8_t advanceSearch, RunState& state, ProgressSink& progress);
    ~CMdfFile();
    CMdfFile(const CMdfFile&) = delete;
    CMdfFile& operator=(const CMdfFile&) = delete;

    // The alignment check; 1 when no page lined up in either pass. May set the leading offset to 0.
    uint8_t CheckFileCorruption();
    // Page classification, or the snapshot load in snapshot mode; false when no system-table page.
    bool MapDatabaseObjects();

    // One page image of kPageBufferSize zeroed bytes, kPageSize of them read; null when refused.
    PageBuffer ReadPage(PageAddress address);
    // ReadPage and parse its header; null when the page cannot be read.
    std::unique_ptr<CPage_Header> ReadPageHeader(PageAddress address);

    // Page loaders building the record-page classes (defined with those classes).
    void LoadBootPage();
    std::unique_ptr<CDataPage> LoadDataPageEx(PageAddress address, ByteView rowBuffer);
    std::unique_ptr<CDataPage> LoadDataPage(PageAddress address);
    std::unique_ptr<CDataPage> LoadSystemPage(PageAddress address);
    std::unique_ptr<TextMixPage> LoadTextMixPage(PageAddress address);

    // Creates the catalogue once when `existing` is null (defined with the catalogue).
    CMetadataCatalog* GetMetadata(CMetadataCatalog* existing);

    // Snapshot of the three page maps.
    bool SaveSnapshot(const std::wstring& dataFilePath, uint8_t advanceSearch, const std::wstring& snapshotPath);
    bool LoadSnapshot(const std::wstring& snapshotPath);

    bool IsOpen() const { return openFlag_ != 0; }
    uint64_t FileLength() const { return fileLength_; }
    uint64_t PageCount() const { return pageCount_; }
    uint64_t LeadingOffset() const { return leadingOffset_; }
    const std::wstring& Path() const { return path_; }
    uint8_t AdvanceSearch() const { return advanceSearch_; }
    const std::wstring& DatabaseName() const { return databaseName_; }
    void SetDatabaseName(const std::wstring& name) { databaseName_ = name; }
    uint8_t* LastPageBuffer() const { return lastPageBuffer_; }
    // Of the pages that stand at their own place (header page id = index): the highest page LSN, and
    // the highest page of this file that their previous/next links name. Zero before indexing and
    // for a snapshot.
    PageLsn MaxPageLsn() const { return maxPageLsn_; }
    uint64_t HighestLinkedPage() const { return highestLinkedPage_; }

    PageMap& SystemPages() { return systemPages_; }
    PageMap& DataPages() { return dataPages_; }
    PageMap& IamPages() { return iamPages_; }
    const PageMap& SystemPages() const { return systemPages_; }
    const PageMap& DataPages() const { return dataPages_; }
    const PageMap& IamPages() const { return iamPages_; }
    std::map<int, DataFileEntry>& SecondaryFiles() { return secondaryFiles_; }
    const std::map<int, DataFileEntry>& SecondaryFiles() const { return secondaryFiles_; }

    CMetadataCatalog* Catalog() const { return catalog_; }
    RunState& State() const { return state_; }
    ProgressSink& Progress() const { return progress_; }

private:
    // Reads the page at `address` into a new buffer as the data-page loaders do and remembers it as
    // the last page buffer; null when refused. `refusePageZero` refuses page id 0 (the system-page
    // loader accepts it).
    PageBuffer ReadLoaderPage(PageAddress address, bool refusePageZero);
    // The page of the primary or of a secondary file; null for file id 0, a page past the file's
    // pages, an unknown secondary file, or page id 0 unless `allowPageZero`.
    PageBuffer ReadPageImage(PageAddress address, bool allowPageZero);
    void NoteLinksAndLsn(ByteView page);
    // Reads kPageSize bytes at `position` of the primary file into a zeroed page buffer.
    PageBuffer ReadPrimaryAt(uint64_t position);
    // Reads page `pageId` of a secondary file into a zeroed page buffer. The file stays open for the
    // next page: large values and tables read a secondary file page by page.
    PageBuffer ReadSecondary(const DataFileEntry& entry, uint32_t pageId);

    uint64_t fileLength_ = 0;
    uint64_t pageCount_ = 0;
    uint64_t leadingOffset_ = 0;
    BinaryFile primaryFile_;
    std::wstring path_;
    uint8_t* lastPageBuffer_ = nullptr;  // not owned: the page object built on it owns it
    std::wstring databaseName_;
    PageMap systemPages_;
    PageMap dataPages_;
    PageMap iamPages_;
    std::map<int, DataFileEntry> secondaryFiles_;
    std::map<std::wstring, BinaryFile> openSecondaryFiles_;  // by path
    CMetadataCatalog* catalog_ = nullptr;  // created by GetMetadata; freed by the holder's owner
    PageLsn maxPageLsn_;
    uint64_t highestLinkedPage_ = 0;
    uint8_t openFlag_ = 1;
    uint8_t advanceSearch_ = 0;
    RunState& state_;
    ProgressSink& progress_;
};

}  // namespace kestrane
