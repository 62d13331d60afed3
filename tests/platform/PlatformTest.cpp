#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/ByteReader.h"
#include "platform/OleDate.h"
#include "platform/RunState.h"
#include "platform/TextCodec.h"

using namespace kestrane;

TEST(ByteReader, ReadsInsideAndRefusesOutsideEvenWithHugeOffsets) {
    const uint8_t bytes[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};
    ByteView v(bytes, sizeof bytes);
    EXPECT_EQ(*v.u16(0), 0x0201);
    EXPECT_EQ(*v.u32(5), 0x09080706u);
    EXPECT_FALSE(v.u32(6).has_value());
    EXPECT_FALSE(v.u64(SIZE_MAX - 2).has_value());
    EXPECT_FALSE(v.fits(SIZE_MAX, 2));
    EXPECT_TRUE(v.sub(8, 2).empty());
    EXPECT_EQ(v.clip(7, 100).size(), 2u);
    EXPECT_EQ(v.getOr<uint16_t>(100, 7), 7);

    ByteCursor c(v);
    EXPECT_EQ(c.u32(), 0x04030201u);
    c.skip(4);
    EXPECT_TRUE(c.ok());
    EXPECT_EQ(c.u16(), 0);  // only one byte left
    EXPECT_FALSE(c.ok());
    EXPECT_EQ(c.u8(), 0);   // failure is sticky
}

TEST(TextCodec, RoundTripsUtf16AndUtf8AndCodePages) {
    std::wstring text = L"Grüße \x41F\x440\x438\x432\x435\x442 \x5B66\x6821 \x1F600";
    auto utf16 = WideToUtf16Le(text);
    EXPECT_EQ(Utf16LeToWide(ByteView(utf16)), text);
    EXPECT_EQ(Utf8ToWide(WideToUtf8(text)), text);

    const uint8_t odd[] = {'A', 0, 'B'};  // trailing odd byte dropped
    EXPECT_EQ(Utf16LeToWide(ByteView(odd, 3)), L"A");
    const uint8_t lone[] = {0x00, 0xD8, 'x', 0};
    EXPECT_EQ(Utf16LeToWide(ByteView(lone, 4)), L"\xFFFDx");

    const uint8_t cp1252[] = {'c', 'a', 'f', 0xE9, 0x80};
    EXPECT_EQ(CodePageToWide(ByteView(cp1252, 5), 1252), L"caf\xE9\x20AC");
    const uint8_t cp1251[] = {0xCF, 0xF0, 0xE8};
    EXPECT_EQ(CodePageToWide(ByteView(cp1251, 3), 1251), L"\x41F\x440\x438");
    const uint8_t sjis[] = {0x93, 0xFA, 0x96, 0x7B};
    EXPECT_EQ(CodePageToWide(ByteView(sjis, 4), 932), L"\x65E5\x672C");
    EXPECT_EQ(WideToCodePage(L"caf\xE9\x20AC\x4E2D", 1252), std::string("caf\xE9\x80?"));
    EXPECT_EQ(CodePageToWide(ByteView(cp1252, 4), 99999), L"caf\xE9");  // unknown page falls back to 1252
}

TEST(RunState, ReadsCollationListAsAtoiWouldAndKeepsDefaults) {
    auto path = std::filesystem::temp_directory_path() / "kestrane_collation_test.txt";
    {
        std::ofstream out(path, std::ios::binary);
        out << "Latin1_General_CI_AS\t53256\t1252\r\n"
            << "NoSecondTab\t12\n"
            << "\n"
            << "EmptyId\t\t1250\n"
            << "Negative\t-1\t1251\textra\n"
            << "First\t7\t100\n"
            << "Second\t  +7x\t874junk\n";
    }
    RunState state(path.string());
    std::filesystem::remove(path);
    ASSERT_EQ(state.collationMap.size(), 4u);
    EXPECT_EQ(state.collationMap.at(53256).name, L"Latin1_General_CI_AS");
    EXPECT_EQ(state.collationMap.at(53256).codePage, 1252);
    EXPECT_EQ(state.collationMap.at(0).name, L"EmptyId");
    EXPECT_EQ(state.collationMap.at(-1).codePage, 1251);
    EXPECT_EQ(state.collationMap.at(7).name, L"Second");
    EXPECT_EQ(state.collationMap.at(7).codePage, 874);

    RunState none("/nonexistent/collation.txt");
    EXPECT_TRUE(none.collationMap.empty());
    EXPECT_EQ(none.codePage, 1252);
    EXPECT_EQ(none.collationId, -1);
    EXPECT_EQ(none.collationAutoDetect, 1);
    EXPECT_FALSE(none.stopRequested());
    EXPECT_EQ(ParseLeadingInt32("99999999999999999999"), ParseLeadingInt32("4294967296"));
}

TEST(RunState, ShippedCollationListNamesTheCorpusCollations) {
    RunState state(std::string(KESTRANE_SOURCE_DIR) + "/data/collation.txt");
    for (int64_t id : {53251LL, 53256LL, 53258LL, 53269LL, 53288LL, 872468488LL})
        EXPECT_TRUE(state.collationMap.count(id)) << id;
    EXPECT_EQ(state.collationMap.at(872468488).name, L"SQL_Latin1_General_CP1_CI_AS");
    EXPECT_EQ(state.collationMap.at(872468488).codePage, 1252);
}

TEST(OleDate, ConvertsCivilDatesBothWays) {
    COleDateTime epoch(1899, 12, 30, 0, 0, 0);
    EXPECT_EQ(epoch.days(), 0.0);
    COleDateTime d(2024, 2, 29, 13, 45, 30);
    EXPECT_EQ(d.GetStatus(), COleDateTime::valid);
    EXPECT_EQ(d.ToIsoText(), L"2024-02-29 13:45:30");
    EXPECT_EQ(COleDateTime(d.days()).GetSecond(), 30);
    COleDateTime bad(2023, 2, 29, 0, 0, 0);
    EXPECT_EQ(bad.GetStatus(), COleDateTime::invalid);
    EXPECT_EQ(COleDateTime(1753, 1, 1, 0, 0, 0).ToIsoText(), L"1753-01-01 00:00:00");
}
