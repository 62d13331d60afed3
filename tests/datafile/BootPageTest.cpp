#include <gtest/gtest.h>

#include "datafile/BootPage.h"
#include "platform/RunState.h"
#include "RecordFixtures.h"

namespace kestrane {
namespace {

using test::Bytes;

Bytes BootImage(int16_t version, const std::u16string& name, uint32_t collation) {
    Bytes page(kPageSize, 0);
    test::PutU16(page, kBootRecordOffset, static_cast<uint16_t>(version));
    for (size_t i = 0; i < name.size() && i < kBootNameUnits; ++i)
        test::PutU16(page, kBootRecordOffset + kBootNameOffset + 2 * i, name[i]);
    test::PutU32(page, kBootRecordOffset + kBootCollationOffset, collation);
    return page;
}

TEST(BootPageTest, NameRuleLongNamesAndUnknownVersion) {
    RunState state{"/nonexistent/collation.txt"};
    auto name = [&](const std::u16string& n) {
        Bytes page = BootImage(851, n, 0);
        return CBootPage(ByteView(page), nullptr, state).databaseName;
    };
    EXPECT_EQ(name(u"Sales"), L"Sales");
    EXPECT_EQ(name(u"My Db"), L"My");
    EXPECT_EQ(name(u" lead x"), L" lead x");
    EXPECT_EQ(name(u"C:\\DATA\\SHOP.MDF                "), L"C:\\DATA\\SHOP.MDF");
    EXPECT_EQ(name(u"caf\u00e9"), L"caf\u00e9");
    // Names longer than 104 units are read whole, up to the field's 128 units.
    const std::u16string longName(122, u'N');
    EXPECT_EQ(name(longName), std::wstring(122, L'N'));
    EXPECT_EQ(name(std::u16string(140, u'Q')), std::wstring(128, L'Q'));
    EXPECT_EQ(state.serverVersionText, L"Unknown SQL Version");

    // A short buffer reads nothing past its end.
    Bytes tiny(120, 0);
    CBootPage cut(ByteView(tiny), nullptr, state);
    EXPECT_EQ(cut.databaseName, L"");
    EXPECT_EQ(cut.collationId, 0u);
}

TEST(BootPageTest, VersionCodesNameTheirRelease) {
    const std::pair<int16_t, const wchar_t*> named[] = {
        {957, L" SQL Server 2022"}, {904, L" SQL Server 2019"}, {869, L" SQL Server 2017"},
        {852, L" SQL Server 2016"}, {782, L" SQL Server 2014"}, {706, L" SQL Server 2012"},
        {661, L" SQL Server 2008 R2"}, {611, L" SQL Server 2005"}, {539, L" SQL Server 2000"},
        {851, L"Unknown SQL Version"}, {705, L"Unknown SQL Version"}, {0, L"Unknown SQL Version"}};
    for (const auto& [code, text] : named) EXPECT_EQ(ServerVersionText(code), text) << code;
}

TEST(BootPageTest, CollationLookupFullIdThenLow16BitsOrChosenId) {
    RunState state{"/nonexistent/collation.txt"};
    state.collationMap[53256] = {L"SQL_Latin1_General_CP1_CI_AS", 1252};
    state.collationMap[0x0408] = {L"Chinese_PRC_CI_AS", 936};
    state.collationMap[static_cast<int32_t>(0xF4000000u)] = {L"Negative", 1251};

    Bytes page = BootImage(655, u"db", 53256);
    CBootPage found(ByteView(page), nullptr, state);
    EXPECT_EQ(found.versionCode, 655);
    EXPECT_EQ(state.serverVersionText, L" SQL Server 2008");
    EXPECT_EQ(state.collationFound, 1);
    EXPECT_EQ(state.collationId, 53256);
    EXPECT_EQ(state.codePage, 1252);
    EXPECT_EQ(state.collationName, L"SQL_Latin1_General_CP1_CI_AS");

    page = BootImage(655, u"db", 0x34000408);
    CBootPage low(ByteView(page), nullptr, state);
    EXPECT_EQ(state.collationId, 0x0408);
    EXPECT_EQ(state.codePage, 936);

    page = BootImage(655, u"db", 0xF4000000u);
    CBootPage negative(ByteView(page), nullptr, state);
    EXPECT_EQ(state.collationName, L"Negative");

    page = BootImage(655, u"db", 777777);
    CBootPage miss(ByteView(page), nullptr, state);
    EXPECT_EQ(state.collationName, L"Negative");  // unchanged

    state.collationAutoDetect = 0;
    state.manualCollationId = 53256;
    CBootPage chosen(ByteView(page), nullptr, state);
    EXPECT_EQ(state.collationId, 53256);
    EXPECT_EQ(state.codePage, 1252);
}

}  // namespace
}  // namespace kestrane
