#pragma once
// One logged row operation of a user table. Kept small because a real log holds millions: the table
// and transaction names are ids into the store's name table (OperationStore), not strings, and the
// fields are ordered so that the entry packs into 40 bytes with every field naturally aligned.
#include <cstdint>

namespace kestrane {

struct OperationEntry {
    uint64_t allocationUnitId = 0;  // rowset id at record offset 0x30
    uint64_t blockOffset = 0;       // file offset of the log block holding the record
    uint64_t beginTime = 0;         // the transaction's 8 datetime bytes as read
    uint32_t objectId = 0;          // table object id
    uint32_t tableNameId = 0;
    uint32_t transactionNameId = 0;
    uint16_t slotIndex = 0;         // index in the block's slot array (a block holds < 65536 records)
    uint8_t operation = 0;
};

static_assert(sizeof(OperationEntry) == 40);

}  // namespace kestrane
