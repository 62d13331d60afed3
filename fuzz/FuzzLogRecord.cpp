// One log block from arbitrary bytes: header, slot array, record extents, element walk, the splice
// request of a modify-row record and the begin-transaction name.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "logreader/LogBlock.h"
#include "logreader/LogRecord.h"
#include "logreader/OperationRebuild.h"

using namespace kestrane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ByteView raw(data, size);
    const auto header = LogBlockHeader::Parse(raw);
    if (!header) return 0;
    // As the scan sees it (stamps undone on read) and as the rebuild does (undone in a copy).
    const LogBlockView stamped(raw, *header, true);
    std::vector<uint8_t> copy(header->size, 0);
    raw.copy(0, std::min<size_t>(size, copy.size()), copy.data());
    UndoSectorStamps(copy.data(), copy.size());
    const LogBlockView undone(ByteView(copy), *header);
    std::vector<uint8_t> scratch;
    std::wstring name;
    // A few hundred records reach every path; all 65535 of a lying count only slow the search.
    for (uint32_t j = 0; j < header->recordCount && j < 256; ++j) {
        const LogRecordExtent e = stamped.Extent(j);
        if (e.end < e.start || (e.end > header->size && e.end != e.start)) __builtin_trap();
        ByteView rawName;
        uint64_t time = 0;
        if (ReadBeginTransaction(stamped, e, scratch, rawName, time)) DecodeTransactionName(rawName, name);
        const RowLogRecord record(undone.bytes(), undone.Extent(j));
        LogElementWalk walk(record);
        ByteView element;
        bool first = true;
        while (walk.Next(element)) {
            if (element.size() && (element.data() < record.body().data() ||
                                   element.data() + element.size() > record.body().data() + record.body().size()))
                __builtin_trap();
            if (first && record.Operation() == 4) {
                const auto req = OperationRebuilder::ModifyRowRequest(
                    record, element, static_cast<size_t>(element.data() - record.body().data()));
                if (req.element1.size() != req.element1Length) __builtin_trap();
            }
            first = false;
        }
    }
    return 0;
}
