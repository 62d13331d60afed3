// The CD decompression step, kept apart from the page walks that call it so that it can be replaced
// on its own.
#include "datafile/CdDecompression.h"

#include "datafile/CdRowDecompressor.h"
#include "datafile/PrimaryRecordPage.h"
#include "datafile/Record.h"

namespace kestrane {

CPrimaryRecord* DecompressCdRecord(CPrimaryRecord* record, const PrimaryRecordPage* page) {
    if (!record || (record->recordType != 0 && record->recordType != 3)) return nullptr;
    ResolveCdColumns(*record, page);
    return record;
}

CPrimaryRecord* PrimaryRecordPage::DecompressRecord(CPrimaryRecord* record) { return DecompressCdRecord(record, this); }

}  // namespace kestrane
