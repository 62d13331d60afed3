#pragma once
// A page image turned into records, slot by slot. The slot array sits at the end of the page: slot i
// is the u16 at page offset 8190 - 2i, the offset of its row from the page start.
#include <cstdint>
#include <memory>
#include <memory_resource>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "datafile/PageHeader.h"
#include "datafile/Record.h"

namespace kestrane {

class CMdfFile;
class RunState;

// Slot counts of 4000 and more are not a page's.
constexpr int32_t kMaxSlots = 3999;

// Records live in their page's memory (see RecordPage::MakeRecord): the pointer only destroys them.
struct RecordDeleter {
    void operator()(CRecord* record) const { record->~CRecord(); }
};
using RecordPtr = std::unique_ptr<CRecord, RecordDeleter>;

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
    // True when `row` lies in the page image and the image stays as it is: the page's records then
    // view their rows in place instead of copying them.
    bool HoldsRowInPlace(ByteView row) const {
        if (imageRewritten_ || row.empty() || !buffer()) return false;
        const auto image = reinterpret_cast<uintptr_t>(buffer());
        const auto start = reinterpret_cast<uintptr_t>(row.data());
        return start >= image && start - image <= kPageSize && row.size() <= kPageSize - (start - image);
    }

    // Memory for the page's records and their value lists: a few blocks a page instead of a few
    // allocations a row, all freed with the page.
    std::pmr::memory_resource* memory() const { return memory_ ? &*memory_ : MakeMemory(); }
    template <typename T, typename... Args>
    RecordPtr MakeRecord(Args&&... args) {
        void* at = memory()->allocate(sizeof(T), alignof(T));
        return RecordPtr(new (at) T(std::forward<Args>(args)...));
    }

    // The record of `slot`, or null when the slot has none.
    CRecord* RecordAt(size_t slot) const { return slot < records.size() ? records[slot].get() : nullptr; }
    size_t RecordCount() const { return records.size(); }

private:
    std::pmr::memory_resource* MakeMemory() const;
    // Declared before the records, which live in it.
    mutable std::optional<std::pmr::monotonic_buffer_resource> memory_;

public:
    CPage page;
    std::vector<RecordPtr> records;      // by slot; null for a skipped slot
    std::vector<RecordPtr> scanRecords;  // built by the deleted-record scan
    std::vector<uint16_t> slotArray;     // empty when absent

protected:
    // Set before the first record when the load writes into the image after building records.
    bool imageRewritten_ = false;

private:
    RunState& state_;
    int forwardDepth_ = 0;
};

}  // namespace kestrane
