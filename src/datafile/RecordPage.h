#pragma once
// A page image turned into records, slot by slot. The slot array sits at the end of the page: slot i
// is the u16 at page offset 8190 - 2i, the offset of its row from the page start.
#include <cstdint>
#include <memory>
#include <vector>

#include "datafile/PageHeader.h"
#include "datafile/Record.h"

namespace kestrane {

class CMdfFile;
class RunState;

// Slot counts of 4000 and more are not a page's.
constexpr int32_t kMaxSlots = 3999;

class RecordPage {
public:
    // No page image (the boot page reads its own buffer).
    explicit RecordPage(RunState& state);
    // Takes the image over, parses its header, reads the slot array. `forwardDepth` > 0 marks a page
    // loaded to resolve a forwarding stub: its records do not follow stubs again.
    RecordPage(PageBuffer image, CMdfFile* owner, RunState& state, int forwardDepth = 0);
    virtual ~RecordPage();
    RecordPage(const RecordPage&) = delete;
    RecordPage& operator=(const RecordPage&) = delete;

    // Reads the slot array from the header's slot count (1..3999), or leaves it absent.
    void LoadSlotArray();

    CPage_Header* header() const { return page.header(); }
    CMdfFile* file() const { return page.owner(); }
    uint8_t* buffer() const { return page.buffer(); }
    // The page image (kPageSize bytes), empty without one.
    ByteView view() const { return page.view(); }
    RunState& state() const { return state_; }
    int forwardDepth() const { return forwardDepth_; }

    // The record of `slot`, or null when the slot has none.
    CRecord* RecordAt(size_t slot) const { return slot < records.size() ? records[slot].get() : nullptr; }
    size_t RecordCount() const { return records.size(); }

    CPage page;
    std::vector<std::unique_ptr<CRecord>> records;      // by slot; null for a skipped slot
    std::vector<std::unique_ptr<CRecord>> scanRecords;  // built by the deleted-record scan
    std::vector<uint16_t> slotArray;                    // empty when absent

private:
    RunState& state_;
    int forwardDepth_ = 0;
};

}  // namespace kestrane
