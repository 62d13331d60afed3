#pragma once
// The CD decompression step that every page walk applies to a row-compressed record before the row
// decoders read it.
namespace kestrane {

class CPrimaryRecord;
class PrimaryRecordPage;

// For a CD record of type 0 or 3: resolves each column's stored bytes (page-dictionary symbols and
// anchor prefixes of `page`, which may be null) into the record's fixed-data block and its
// `CdColumnDescriptor` list (see CdRowDecompressor.h); returns the record. Any other type: null, and
// the record is untouched. A second call on the same record changes nothing.
CPrimaryRecord* DecompressCdRecord(CPrimaryRecord* record, const PrimaryRecordPage* page = nullptr);

}  // namespace kestrane
