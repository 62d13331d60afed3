#pragma once
// The boot page of the primary data file: server version, database name and collation.
// Boot record, from page offset 100 (little-endian):
//   0x000 i16 version code   0x030 database name, 128 UTF-16 units   0x184 u32 collation id
#include <cstdint>
#include <string>

#include "datafile/PrimaryRecordPage.h"

namespace kestrane {

constexpr size_t kBootRecordOffset = 100;
constexpr size_t kBootNameOffset = 0x30;
constexpr size_t kBootNameUnits = 128;
constexpr size_t kBootCollationOffset = 0x184;

// The version text of a boot-page version code ("Unknown SQL Version" for codes not named).
std::wstring ServerVersionText(int16_t versionCode);

class CBootPage : public PrimaryRecordPage {
public:
    // Parses `page` (not owned; at least kPageSize bytes), sets the run state's server-version text
    // and, when the collation is found, its collation fields.
    CBootPage(ByteView page, CMdfFile* owner, RunState& state);
    ~CBootPage() override = default;

    ByteView bootRecord;
    int16_t versionCode = 0;
    std::wstring databaseName;
    uint32_t collationId = 0;
};

}  // namespace kestrane
