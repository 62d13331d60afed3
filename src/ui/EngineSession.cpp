#include "ui/EngineSession.h"

#include <algorithm>

#include "datafile/MetadataCatalog.h"
#include "datafile/SecondaryDataFiles.h"
#include "logreader/LogScanner.h"
#include "logreader/LogByteSource.h"
#include "platform/TextCodec.h"

namespace kestrane {

EngineSession::EngineSession(RunState& state) : state_(state), holder_(state, forward_) {}

EngineSession::~EngineSession() { CloseDataFile(); }

void EngineSession::ResetDatabase() {
    if (CMetadataCatalog* catalog = holder_.Catalog()) catalog->ResetCatalogue();
    holder_.Reset();  // frees the data file and the catalogues
}

void EngineSession::CloseDataFile() {
    ResetDatabase();
    logFile_.close();
    userTables_.clear();
    store_.Clear();
}

bool EngineSession::Open(const std::wstring& path, bool advanceSearch, ProgressSink& sink) {
    ProgressSink* previous = forward_.target;
    forward_.target = &sink;
    holder_.SetAdvanceSearch(advanceSearch ? 1 : 0);
    const bool opened = holder_.Open(path);
    forward_.target = previous;
    return opened;
}

bool EngineSession::CatalogHasObjects() const {
    const CMetadataCatalog* catalog = holder_.Catalog();
    return catalog && !catalog->objects.empty();
}

DataFileFacts EngineSession::DataFile() const {
    DataFileFacts facts;
    const CMdfFile* file = holder_.DataFile();
    if (!file) return facts;
    facts.pageCount = file->PageCount();
    facts.highestNamedPage = file->HighestLinkedPage();
    if (const CMetadataCatalog* catalog = holder_.Catalog()) {
        // The first-page field can stand stale past a shrunk file's end; root and IAM pages cannot.
        for (const AllocationUnitRecord& unit : catalog->allocationUnits) {
            if (unit.rootFileId == 1) facts.highestNamedPage = std::max<uint64_t>(facts.highestNamedPage, unit.rootPageId);
            if (unit.firstIamFileId == 1)
                facts.highestNamedPage = std::max<uint64_t>(facts.highestNamedPage, unit.firstIamPageId);
        }
        facts.folder = DataFileFolder(file->Path());
        for (const DataFileEntry& entry : catalog->files)
            if (entry.fileId > 1 && !IsLogFileEntry(entry)) facts.secondaryFiles.push_back(DataFileName(entry.path));
        for (const DataFileEntry& entry : MissingSecondaryFiles(*file, catalog->files))
            facts.missingSecondaryFiles.push_back(DataFileName(entry.path));
    }
    const PageLsn lsn = file->MaxPageLsn();
    facts.lastChangeVlf = lsn.vlfSequence;
    facts.lastChangeBlock = lsn.block;
    facts.lastChangeSlot = lsn.slot;
    return facts;
}

LogFileFacts EngineSession::ProbeLogFile() {
    LogFileFacts facts;
    BinaryFile file;
    if (!file.open(WideToUtf8(state_.logFilePath), BinaryFile::Mode::Read)) return facts;
    facts.opened = true;
    facts.bytes = file.size();
    const StoppableLogSource source(file, state_);
    const auto vlfs = LogScanner::FindVlfs(source);
    facts.vlfs = vlfs.size();
    if (!vlfs.empty()) {
        facts.firstVlfSequence = vlfs.begin()->first;
        facts.lastVlfSequence = vlfs.rbegin()->first;
    }
    return facts;
}

void EngineSession::BuildUserTableMap() {
    userTables_.clear();
    if (CMetadataCatalog* catalog = holder_.Catalog()) kestrane::BuildUserTableMap(*catalog, userTables_);
}

void EngineSession::ScanLdfFile(Prompter& prompter) {
    kestrane::ScanLdfFile(logFile_, WideToUtf8(state_.logFilePath), userTables_, store_, prompter, &state_);
}

std::map<uint32_t, std::wstring> EngineSession::TakeTableNameMap() {
    std::map<uint32_t, std::wstring> names(store_.Tables().begin(), store_.Tables().end());
    store_.ClearTableNameMap();
    return names;
}

}  // namespace kestrane
