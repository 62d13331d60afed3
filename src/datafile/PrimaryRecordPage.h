#pragma once
// The record page of data and system-table pages: page compression (anchor record and dictionary),
// the deleted-record scan, the walk of all slots, and the two-record answer to a row-splice request.
//
// Page-compression header, page offset 96 (present when the type flag bits have 0x80):
//   96 u8 flags (0x02 anchor record, 0x04 dictionary)   97 u16 unused
//   99 u16 dictionary offset (from page offset 96)      101 u16 length of the information; 0 = none
// Anchor record: a CD row at page offset 101 (anchor only) or 103 (anchor and dictionary), room =
// that length. Dictionary at 96 + offset: u16 n | n u16 end offsets (from the dictionary start) |
// entries, the first one starting at 2 + 2n.
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "datafile/RecordPage.h"

namespace kestrane {

#pragma pack(push, 1)
struct CompressionInfoHeader {
    uint8_t flags = 0;
    uint16_t unused = 0;
    uint16_t dictionaryOffset = 0;
    uint16_t length = 0;
};
#pragma pack(pop)
static_assert(sizeof(CompressionInfoHeader) == 7);

// Page offset of the compression header and the bound of what it may describe.
constexpr size_t kCompressionInfoOffset = 96;
constexpr int32_t kCompressionInfoLimit = 4096;
// The two u32 patterns that start a typical row; the deleted-record scan resynchronises on them.
constexpr uint32_t kRowSignatureNullBitmapVar = 0x00840030;
constexpr uint32_t kRowSignatureVersioned = 0x0084003C;

// Selects the forwarded-slot form of the constructor.
struct ForwardedSlot {
    int32_t slot = 0;
};

class PrimaryRecordPage : public RecordPage {
public:
    // Empty page (the boot page).
    explicit PrimaryRecordPage(RunState& state);
    // Page form: compression, deleted-record scan when enabled, then the row splice, the column splice
    // or the walk of all slots, as the run state's row-splice request says.
    PrimaryRecordPage(PageBuffer image, CMdfFile* owner, RunState& state);
    // One-row form: the page header of `image`, then the single row in `row`, whose room is the u16 at
    // row offset 8190.
    PrimaryRecordPage(PageBuffer image, ByteView row, CMdfFile* owner, RunState& state);
    // Forwarded-slot form: compression, then only `slot` (record 0 when the slot exists).
    PrimaryRecordPage(PageBuffer image, CMdfFile* owner, RunState& state, ForwardedSlot slot, int forwardDepth);
    ~PrimaryRecordPage() override;

    CPrimaryRecord* PrimaryRecordAt(size_t slot) const { return static_cast<CPrimaryRecord*>(RecordAt(slot)); }

    // The steps of a page load; public so that each can be checked on its own.
    void ApplyPageCompression();
    // Unpacks the anchor's first `columnListSize` columns (the page load unpacks all of them).
    void UnpackAnchorColumns(size_t columnListSize);
    void ParseAllSlots();
    void ParseForwardedSlot(int32_t slot);
    void FindDeletedRecords();
    void ScanForRecords(const std::vector<uint16_t>& pageSlots);
    void ParseModifiedRowSlot();
    void ParseModifiedPiecesSlot();
    void ParseSingleRow(ByteView row, uint16_t room);
    // The CD decompression step (see CdDecompression.h); returns the record, or null when its type is
    // not one that the step handles.
    CPrimaryRecord* DecompressRecord(CPrimaryRecord* record);

    CompressionInfoHeader compressionInfo;
    std::vector<ColumnData> anchorValues;
    std::vector<ColumnData> dictionaryEntries;
    std::vector<int> dictionaryEndOffsets;
    std::unique_ptr<CPrimaryRecord> anchorRecord;
    uint8_t hasDictionary = 0;
    uint8_t hasAnchor = 0;
    std::vector<int> scanOffsets;

protected:
    // The header checks that a walk needs: previous/next/this page, ghost and free counts all >= 0.
    bool HeaderSane() const;
    // A slot-walk record on the page at `offset`, decompressed when CD; null when refused.
    RecordPtr SlotRecord(ByteView row, uint16_t room);
    void DecompressIfCd(CPrimaryRecord& record);

    // Both splices start alike: the slot's row and room, and record 0 as the row stands.
    struct SpliceRow {
        int32_t offset = 0;
        uint16_t room = 0;
        ByteView row;
    };
    // Null when the slot yields nothing further (no slot, or a row inside the header).
    std::optional<SpliceRow> BeginSplice(uint16_t slot);
};

}  // namespace kestrane
