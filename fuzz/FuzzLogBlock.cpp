// The log scan over arbitrary bytes taken as a whole log file: VLF probing, block walk, record
// examination and filing.
#include <cstddef>
#include <cstdint>

#include "logreader/LogScanner.h"

using namespace kestrane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ByteView bytes(data, size);
    UserTableMap tables;
    tables[0] = UserTableInfo{1, L"zero"};
    tables[bytes.getOr<uint64_t>(0x2030, 0x1000)] = UserTableInfo{2, L"first"};
    OperationStore store;
    LogScanner scanner(tables, store);
    MemoryLogSource source(bytes);
    scanner.Scan(source);
    for (size_t i = 0; i < store.Size(); ++i) {
        const OperationEntry& e = store[i];
        if (e.blockOffset >= size || store.TableName(e).empty()) __builtin_trap();
    }
    if (store.EntriesOfTable(1).size() + store.EntriesOfTable(2).size() != store.Size()) __builtin_trap();
    return 0;
}
