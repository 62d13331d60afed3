// Fuzzes the CD record parse (CD and slot-walk forms), the sparse-column vector and the text record.
// Input: u16 room, then the row (copied to a buffer of its exact size).
#include <cstdint>
#include <cstring>
#include <vector>

#include "datafile/PrimaryRecordPage.h"
#include "datafile/Record.h"
#include "datafile/SparseVector.h"
#include "platform/RunState.h"

using namespace kestrane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    uint16_t room;
    std::memcpy(&room, data, 2);
    std::vector<uint8_t> row(data + 2, data + size);
    static RunState state{"/nonexistent/collation.txt"};
    PrimaryRecordPage owner(state);
    const ByteView view(row.data(), row.size());
    CPrimaryRecord cd(view, &owner, room, RecordForm::Cd);
    if (!cd.invalid && (cd.columnCount < 1 || cd.columnCount > kMaxCdColumns)) __builtin_trap();
    if (!row.empty()) row[0] |= 0x01;
    CPrimaryRecord walked(view, &owner, room, RecordForm::SlotWalk);
    owner.DecompressRecord(&walked);
    SparseVector sparse;
    sparse.Parse(view);
    TextRecord text(view, &owner, room);
    return 0;
}
