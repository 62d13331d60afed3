// Fuzzes the FixedVar record parse in its slot-walk, raw-row and scan forms. Input: u16 room, one
// option byte, then the row (copied to a buffer of its exact size so that any overread is caught).
#include <cstdint>
#include <cstring>
#include <vector>

#include "datafile/PrimaryRecordPage.h"
#include "datafile/Record.h"
#include "platform/RunState.h"

using namespace kestrane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    uint16_t room;
    std::memcpy(&room, data, 2);
    const uint8_t options = data[2];
    std::vector<uint8_t> row(data + 3, data + size);
    static RunState state{"/nonexistent/collation.txt"};
    state.includeDeletedRows = options & 1;
    state.rowSplice.columnSpliceMode = (options >> 1) & 1;
    PrimaryRecordPage owner(state);
    const ByteView view(row.data(), row.size());
    CPrimaryRecord slotWalk(view, &owner, room, RecordForm::SlotWalk);
    CPrimaryRecord raw(view, &owner, room, RecordForm::RawRow);
    int32_t length = 0;
    CPrimaryRecord scan(view, &owner, length);
    if (length > static_cast<int32_t>(kScanRoom)) __builtin_trap();
    for (const CPrimaryRecord* r : {&slotWalk, &raw})
        if (r->rowCopy.size() > row.size() || r->rowCopy.size() > room) __builtin_trap();
    state.rowSplice.clear();
    return 0;
}
