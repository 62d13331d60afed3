#pragma once
// "snapshot.txt": a saved page index, so that a later run can restore the three page maps without
// reading the data file's pages again. Little-endian, no magic number, checksum or version:
//   u32 N; N bytes data-file path (UTF-16LE, no terminator); u8 advance-search flag;
//   u8 collation auto-detect; i64 manual collation id (only when auto-detect is 0);
//   u8 legacy catalogue flag; u8 include-deleted-rows; u8 deleted-record scan;
//   three sections (system-table, data-page, IAM map), each: u64 entry count, then per object id in
//   ascending order: u32 object id, u32 n, n PageRef records of 10 bytes.
#include <cstdint>
#include <optional>
#include <string>

namespace kestrane {

inline constexpr const char* kTextLoadingSnapshot = "Loading snapshot...please wait ......................";
inline constexpr const wchar_t* kSnapshotFileName = L"snapshot.txt";

// Fields 1-8 of a snapshot file, which the load command restores before the scan.
struct SnapshotHeader {
    std::wstring dataFilePath;
    uint8_t advanceSearch = 0;
    uint8_t collationAutoDetect = 1;
    int64_t manualCollationId = 0;
    uint8_t legacyCatalog = 0;
    uint8_t includeDeletedRows = 0;
    uint8_t deletedRecordScan = 0;
};

// The header of the snapshot file at `path`; nullopt when it cannot be opened or is shorter than its header.
std::optional<SnapshotHeader> ReadSnapshotHeader(const std::wstring& path);

}  // namespace kestrane
