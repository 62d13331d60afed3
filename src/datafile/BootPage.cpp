#include "datafile/BootPage.h"

#include "platform/RunState.h"
#include "platform/TextCodec.h"

namespace kestrane {

namespace {
// The name's low bytes are widened as 8-bit text of the process's ANSI code page.
constexpr int kAnsiCodePage = 1252;
}  // namespace

std::wstring ServerVersionText(int16_t versionCode) {
    switch (versionCode) {
        case 957: return L" SQL Server 2022";
        case 904: return L" SQL Server 2019";
        case 869: return L" SQL Server 2017";
        case 852: return L" SQL Server 2016";
        case 782: return L" SQL Server 2014";
        case 706: return L" SQL Server 2012";
        case 684: return L" SQL Server 2012 CTP1";
        case 660:
        case 661: return L" SQL Server 2008 R2";
        case 655: return L" SQL Server 2008";
        case 612: return L" SQL Server 2005 SP2+ with VarDecimal enabled";
        case 611: return L" SQL Server 2005";
        case 539: return L" SQL Server 2000";
        case 515: return L" SQL Server 7.0";
        case 408: return L" SQL Server 6.5";
        default: return L"Unknown SQL Version";
    }
}

CBootPage::CBootPage(ByteView page, CMdfFile* /*owner*/, RunState& state) : PrimaryRecordPage(state) {
    bootRecord = page.from(kBootRecordOffset);
    versionCode = bootRecord.getOr<int16_t>(0, 0);
    state.serverVersionText = ServerVersionText(versionCode);

    // The name field holds up to 128 UTF-16 units; only their low bytes are taken, up to the first 0.
    std::string narrow;
    for (size_t i = 0; i < kBootNameUnits; ++i) {
        const auto unit = bootRecord.u16(kBootNameOffset + 2 * i);
        if (!unit || (*unit & 0xFF) == 0) break;
        narrow.push_back(static_cast<char>(*unit & 0xFF));
    }
    databaseName = CodePageToWide(narrow, kAnsiCodePage);
    const size_t blank = databaseName.find(L' ');
    if (blank != std::wstring::npos && blank > 0) databaseName.resize(blank);

    collationId = bootRecord.getOr<uint32_t>(kBootCollationOffset, 0);
    int64_t key = 0;
    auto hit = state.collationMap.end();
    if (state.collationAutoDetect == 1) {
        key = static_cast<int32_t>(collationId);
        hit = state.collationMap.find(key);
        if (hit == state.collationMap.end()) {
            key = collationId & 0xFFFF;
            hit = state.collationMap.find(key);
        }
    } else {
        key = state.manualCollationId;
        hit = state.collationMap.find(key);
    }
    if (hit == state.collationMap.end()) return;
    state.collationId = key;
    state.collationFound = 1;
    state.codePage = hit->second.codePage;
    state.collationName = hit->second.name;
}

}  // namespace kestrane
