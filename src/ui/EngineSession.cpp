#include "ui/EngineSession.h"

#include "datafile/MetadataCatalog.h"
#include "logreader/LogScanner.h"
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

void EngineSession::BuildUserTableMap() {
    userTables_.clear();
    if (CMetadataCatalog* catalog = holder_.Catalog()) kestrane::BuildUserTableMap(*catalog, userTables_);
}

void EngineSession::ScanLdfFile(Prompter& prompter) {
    kestrane::ScanLdfFile(logFile_, WideToUtf8(state_.logFilePath), userTables_, store_, prompter);
}

std::map<uint32_t, std::wstring> EngineSession::TakeTableNameMap() {
    std::map<uint32_t, std::wstring> names(store_.Tables().begin(), store_.Tables().end());
    store_.ClearTableNameMap();
    return names;
}

}  // namespace kestrane
