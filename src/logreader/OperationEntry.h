#pragma once
// One logged row operation of a user table. Kept small because a real log holds millions: the table
// (object id, allocation-unit id, name) and the transaction name are ids into the OperationStore,
// not copies, so an entry is 32 bytes with every field naturally aligned.
#include <cstdint>

namespace kestrane {

struct OperationEntry {
    uint64_t blockOffset = 0;        // file offset of the log block holding the record
    uint64_t beginTime = 0;          // the transaction's 8 datetime bytes as read
    uint32_t tableIndex = 0;         // OperationStore::Table
    uint32_t transactionNameId = 0;  // OperationStore::Names
    uint16_t slotIndex = 0;          // index in the block's slot array (a block holds < 65536 records)
    uint8_t operation = 0;
};

static_assert(sizeof(OperationEntry) == 32);

// The table an entry belongs to.
struct OperationTable {
    uint32_t objectId = 0;
    uint64_t allocationUnitId = 0;  // the rowset id that log records carry at offset 0x30
    uint32_t nameId = 0;
};

}  // namespace kestrane
