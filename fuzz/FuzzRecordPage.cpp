// Fuzzes the record page: slot array, page compression, the deleted-record scan, the walk of all
// slots, the row and column splices and the one-row form. Input: one option byte, a 16-byte splice
// request, then the page image (zero-padded or cut to a page).
#include <cstdint>
#include <cstring>
#include <vector>

#include "datafile/DataPage.h"
#include "platform/RunState.h"

using namespace kestrane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 17) return 0;
    const uint8_t options = data[0];
    const uint8_t* req = data + 1;
    const uint8_t* body = data + 17;
    const size_t bodySize = size - 17;
    static RunState state{"/nonexistent/collation.txt"};
    state.includeDeletedRows = options & 1;
    state.deletedRecordScan = (options >> 1) & 1;
    state.legacyCatalog = (options >> 2) & 1;

    auto image = [&]() {
        PageBuffer b = AllocatePageBuffer();
        std::memset(b.get(), 0, kPageSize);
        std::memcpy(b.get(), body, bodySize < kPageSize ? bodySize : kPageSize);
        return b;
    };
    // The logged bytes come from the page input itself, bounded by its size.
    const ByteView logged(body, bodySize);
    RowSpliceRequest request;
    request.rowSpliceMode = (options >> 3) & 1;
    request.columnSpliceMode = (options >> 4) & 1;
    std::memcpy(&request.slot, req, 2);
    uint16_t len0, len1, inRow, pieces;
    std::memcpy(&len0, req + 2, 2);
    std::memcpy(&len1, req + 4, 2);
    std::memcpy(&inRow, req + 6, 2);
    std::memcpy(&pieces, req + 8, 2);
    request.element0 = logged.clip(0, len0);
    request.element0Length = len0;
    request.element1 = logged.clip(len0, len1);
    request.element1Length = len1;
    request.offsetInRow = inRow;
    request.pieceEntries = logged.clip(req[10], 4u * (pieces & 0xFF));
    request.pieceLengths = logged.clip(req[11], 2u * (pieces & 0xFF));
    request.pieceCount = pieces & 0xFF;
    {
        RowSpliceScope scope(state, request);
        CDataPage page(image(), nullptr, state);
    }
    {
        CDataPage page(image(), nullptr, state);
        std::vector<uint8_t> rowBuffer(kPageSize, 0);
        std::memcpy(rowBuffer.data(), body, bodySize < kPageSize ? bodySize : kPageSize);
        CDataPage oneRow(image(), ByteView(rowBuffer), nullptr, state);
    }
    return 0;
}
