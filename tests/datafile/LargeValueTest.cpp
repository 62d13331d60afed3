#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <unistd.h>
#include <vector>

#include "datafile/LargeValue.h"
#include "datafile/RecordFixtures.h"
#include "datafile/TextMixPage.h"
#include "platform/RunState.h"
#include "datafile/TextPageFixture.h"

namespace kestrane {
namespace {

using namespace kestrane::test;

TEST(LargeValueTest, NodeKindsAndFlags) {
    FakeTextPages pages;
    LobContext context(pages, 1252);
    const Bytes abcWide{0x41, 0, 0x42, 0, 0x43, 0};
    Bytes data = DataNode(abcWide);
    EXPECT_EQ(ReadLobValue(ByteView(data), context, false, false, 6, nullptr, false, true), L"ABC");
    EXPECT_EQ(ReadLobValue(ByteView(data), context, false, true, 6, nullptr, false, false), L"410042004300");
    // Cyrillic UTF-16 has few zero bytes: read as UTF-16.
    Bytes cyr;
    for (int i = 0; i < 30; ++i) { cyr.push_back(0x10 + i % 16); cyr.push_back(0x04); }
    Bytes cyrNode = DataNode(cyr);
    EXPECT_EQ(ReadLobValue(ByteView(cyrNode), context, false, false, 60, nullptr, false, true).substr(0, 2),
              L"\u0410\u0411");
    // 8-bit text follows the code page.
    Bytes cp1251 = DataNode({0xC0, 0xE1, 0xE2, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20});
    LobContext cyrillic(pages, 1251);
    EXPECT_EQ(ReadLobValue(ByteView(cp1251), cyrillic, false, false, 10, nullptr, false, false),
              L"\u0410\u0431\u0432       ");

    Bytes small = SmallRootNode(abcWide);
    EXPECT_EQ(ReadLobValue(ByteView(small), context, false, false, 12, nullptr, false, false), L"ABC");
    // Binary data is never narrowed, even when half of it is zero.
    EXPECT_EQ(ReadLobValue(ByteView(small), context, false, true, 12, nullptr, false, false), L"410042004300");
    Bytes tooLong = SmallRootNode(abcWide);
    tooLong[10] = 200;  // stated length past the record
    EXPECT_EQ(ReadLobValue(ByteView(tooLong), context, false, false, 12, nullptr, false, false), L"");
    Bytes unknown = Head(7);
    Put(unknown, 0, 8);
    Put(unknown, 0, 2);
    EXPECT_EQ(ReadLobValue(ByteView(unknown), context, false, false, 10, nullptr, false, false), L"");
    EXPECT_EQ(ReadLobValue(ByteView(Bytes{1, 2, 3}), context, false, false, 3, nullptr, false, false), L"");

    // Collect mode hands the raw pieces over and returns no text.
    std::vector<ColumnData> pieces;
    EXPECT_EQ(ReadLobValue(ByteView(data), context, false, false, 6, &pieces, true, true), L"");
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(pieces[0].data, abcWide);
}

TEST(LargeValueTest, TreesLinksAndDamage) {
    FakeTextPages pages;
    pages.Add(1, 10, {DataNode(Text("Hello, ")), DataNode(Text("world")), InternalNode({{11, 1, 0}, {10, 1, 1}})});
    pages.Add(1, 11, {DataNode(Text("big "))});
    pages.Add(1, 12, {LargeRootNode({{10, 1, 0}, {10, 1, 1}, {10, 1, 9}, {99, 1, 0}})});
    pages.Add(1, 13, {InternalNode({{13, 1, 0}, {13, 1, 0}})});  // links to itself
    pages.Add(1, 14, {LargeRootNode({{14, 1, 0}, {10, 1, 2}})});
    LobContext context(pages, 1252);

    // Large root: missing slots and pages give nothing, the other links are still read.
    LobOptions text;
    TextPointerValue root(context, ByteView(Bytes{0, 0, 0, 0, 0, 0, 0, 0, 12, 0, 0, 0, 1, 0, 0, 0}), text);
    EXPECT_EQ(root.ReadValue(nullptr, false, false), L"Hello, world");
    LobOptions hex{0, 1, 0};
    TextPointerValue hexRoot(context, ByteView(Bytes{0, 0, 0, 0, 0, 0, 0, 0, 12, 0, 0, 0, 1, 0, 0, 0}), hex);
    EXPECT_EQ(hexRoot.ReadValue(nullptr, false, false), L"48656C6C6F2C20776F726C64");
    // A pointer to an empty node reads " "; to a missing page, "".
    pages.Add(1, 15, {Head(7)});
    EXPECT_EQ(TextPointerValue(context, ByteView(Bytes{0, 0, 0, 0, 0, 0, 0, 0, 15, 0, 0, 0, 1, 0, 0, 0}), text)
                  .ReadValue(nullptr, false, false), L" ");
    EXPECT_EQ(TextPointerValue(context, ByteView(Bytes{0, 0, 0, 0, 0, 0, 0, 0, 77, 0, 0, 0, 1, 0, 0, 0}), text)
                  .ReadValue(nullptr, false, false), L"");
    EXPECT_EQ(TextPointerValue(context, ByteView(Bytes{1, 2, 3}), text).ReadValue(nullptr, false, false), L"");

    // Internal node below an in-row root; file ids above 1000 are file 1; size-0 links are skipped.
    Bytes inRow = InRowRoot({{5, {10, 1001, 2}}, {0, {10, 1, 0}}, {7, {10, 1, 0}}});
    EXPECT_EQ(GetLobValue(ByteView(inRow), context, text, nullptr, false, nullptr), L"big worldHello, ");
    Bytes truncated(inRow.begin(), inRow.end() - 5);
    EXPECT_EQ(GetLobValue(ByteView(truncated), context, text, nullptr, false, nullptr), L"big world");

    // Trees that link back into themselves end.
    int before = pages.loads;
    EXPECT_EQ(GetLobValue(ByteView(InRowRoot({{1, {13, 1, 0}}})), context, text, nullptr, false, nullptr), L"");
    EXPECT_EQ(GetLobValue(ByteView(InRowRoot({{1, {14, 1, 0}}})), context, text, nullptr, false, nullptr), L"big world");
    EXPECT_LT(pages.loads - before, 10);

    // 500 slots that all point at one 6000-byte record, reached from a large root through internal
    // nodes: the record is read once, so the value is 6000 characters, not 3 million.
    FakeTextPages aliased;
    aliased.AddAliased(1, 20, DataNode(Bytes(6000, 'x')), 500);
    std::vector<Rid> low, high;
    for (uint16_t slot = 0; slot < 250; ++slot) {
        low.push_back({20, 1, slot});
        high.push_back({20, 1, static_cast<uint16_t>(slot + 250)});
    }
    aliased.Add(1, 21, {InternalNode(low)});
    aliased.Add(1, 23, {InternalNode(high)});
    aliased.Add(1, 22, {LargeRootNode({{21, 1, 0}, {23, 1, 0}})});
    LobContext aliasedContext(aliased, 1252);
    TextPointerValue crafted(aliasedContext, ByteView(Bytes{0, 0, 0, 0, 0, 0, 0, 0, 22, 0, 0, 0, 1, 0, 0, 0}), text);
    EXPECT_EQ(crafted.ReadValue(nullptr, false, false), std::wstring(6000, L'x'));

    // Slot offsets past the page or into its last byte give no record or one without data.
    PageBuilder odd(3, 40, 0);
    odd.SetSlotCount(3);
    odd.SetSlot(0, 9000);
    odd.SetSlot(1, 8191);
    odd.SetSlot(2, 96);
    RunState state;
    TextMixPage raw(odd.Buffer(), nullptr, state);
    EXPECT_EQ(raw.TextRecordAt(0), nullptr);
    ASSERT_NE(raw.TextRecordAt(1), nullptr);
    EXPECT_TRUE(raw.TextRecordAt(1)->dataCopy.empty());
    EXPECT_NE(raw.TextRecordAt(2), nullptr);
    EXPECT_EQ(raw.TextRecordAt(3), nullptr);
}

// A logged row's links may lead to pages that now hold something else: each node must be a large-value
// record of the pointer's blob id, and an in-row root's links give exactly their share of the value.
TEST(LargeValueTest, LinksLeadOnlyToTheValuesOwnFragments) {
    constexpr uint64_t blob = 0x07D10000;
    FakeTextPages pages;
    pages.Add(1, 30, {OfBlob(LargeRootNode({{31, 1, 0}, {31, 1, 1}}), blob)});
    pages.Add(1, 31, {OfBlob(DataNode(Text("abcd")), blob), OfBlob(DataNode(Text("efgh")), blob)});
    pages.Add(1, 32, {OfBlob(LargeRootNode({{31, 1, 0}, {33, 1, 0}}), blob)});
    pages.Add(1, 33, {OfBlob(DataNode(Text("later")), 0x08A20000)});  // a fragment of another value
    pages.Add(1, 34, {OfBlob(DataNode(Text("ijkl")), blob)});
    pages.SetStatus(1, 34, 0x30);  // a row of a table, not a large-value record
    LobContext context(pages, 1252);
    auto pointer = [&](uint64_t id, uint32_t page) {
        Bytes b;
        Put(b, id, 8);
        PutRid(b, page, 1, 0);
        return b;
    };
    Bytes out;
    EXPECT_TRUE(ReadTextPointerBytes(context, ByteView(pointer(blob, 30)), out));
    EXPECT_EQ(out, Text("abcdefgh"));
    for (const Bytes& bad : {pointer(blob, 32), pointer(0x08A20000, 30), pointer(blob, 34)}) {
        out.clear();
        EXPECT_FALSE(ReadTextPointerBytes(context, ByteView(bad), out));
    }

    // In-row roots keep the blob id / 65536 at offset 8; sizes are where the value ends after each link.
    auto root = [&](const std::vector<std::pair<uint32_t, Rid>>& links, uint64_t id) {
        Bytes r = InRowRoot(links);
        PutU32(r, 8, static_cast<uint32_t>(id >> 16));
        return r;
    };
    out.clear();
    EXPECT_TRUE(ReadInRowRootBytes(context, ByteView(root({{3, {31, 1, 0}}, {5, {31, 1, 1}}}, blob)), out));
    EXPECT_EQ(out, Text("abcef"));
    for (const Bytes& bad : {root({{3, {31, 1, 0}}, {9, {31, 1, 1}}}, blob),  // the second link gives 4 of 6
                             root({{4, {31, 1, 0}}, {4, {31, 1, 1}}}, blob),  // an end that does not grow
                             root({{4, {31, 1, 0}}}, 0x08A20000), root({{4, {33, 1, 0}}}, blob),
                             root({{4, {34, 1, 0}}}, blob)}) {
        out.clear();
        EXPECT_FALSE(ReadInRowRootBytes(context, ByteView(bad), out));
    }
}

// Pages with a second source: a value the first cannot give whole is read again from the second alone.
class PagesWithSecondSource : public FakeTextPages {
public:
    FakeTextPages second;
    LobPageSource* SecondSource() override { return &second; }
};

TEST(LargeValueTest, ValueNotWholeIsReadAgainFromTheSecondSource) {
    constexpr uint64_t blob = 0x07D10000;
    PagesWithSecondSource pages;
    pages.Add(1, 30, {OfBlob(LargeRootNode({{31, 1, 0}, {31, 1, 1}}), blob)});
    pages.Add(1, 31, {OfBlob(DataNode(Text("AB")), blob)});  // the second fragment lost
    pages.second.Add(1, 30, {OfBlob(LargeRootNode({{31, 1, 0}, {31, 1, 1}}), blob)});
    pages.second.Add(1, 31, {OfBlob(DataNode(Text("ab")), blob), OfBlob(DataNode(Text("cd")), blob)});
    LobContext context(pages, 1252);
    Bytes pointer;
    Put(pointer, blob, 8);
    PutRid(pointer, 30, 1, 0);
    Bytes out{'x'};
    EXPECT_TRUE(ReadTextPointerBytes(context, ByteView(pointer), out));
    EXPECT_EQ(out, Text("xabcd"));  // appended; no piece of the first source kept
    Bytes root = InRowRoot({{2, {31, 1, 0}}, {4, {31, 1, 1}}});
    PutU32(root, 8, static_cast<uint32_t>(blob >> 16));
    out.clear();
    EXPECT_TRUE(ReadInRowRootBytes(context, ByteView(root), out));
    EXPECT_EQ(out, Text("abcd"));
    // Neither gives it whole: false, and nothing appended.
    pages.second.Add(1, 31, {OfBlob(DataNode(Text("ab")), blob)});
    out = {'x'};
    EXPECT_FALSE(ReadTextPointerBytes(context, ByteView(pointer), out));
    EXPECT_EQ(out, Text("x"));
    EXPECT_FALSE(ReadInRowRootBytes(context, ByteView(root), out));
}

TEST(LargeValueTest, SideFilesForBinaryValues) {
    FakeTextPages pages;
    pages.Add(1, 10, {DataNode({0xDE, 0xAD, 0xBE, 0xEF})});
    LobContext context(pages, 1252);
    const auto folder = std::filesystem::temp_directory_path() / ("kestrane-h4-" + std::to_string(::getpid())) / "lobs";
    std::filesystem::remove_all(folder.parent_path());
    RunState state;
    state.blobsToFiles = 1;
    state.blobFolder = folder.wstring();
    state.blobFileCounter = 6;
    LobOptions hex{0, 1, 0};
    Bytes root = InRowRoot({{4, {10, 1, 0}}});
    EXPECT_EQ(GetLobValue(ByteView(root), context, hex, nullptr, false, &state), L"/lobs/7_blob");
    std::ifstream in(folder / "7_blob", std::ios::binary);
    Bytes written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(written, (Bytes{0xDE, 0xAD, 0xBE, 0xEF}));
    // An empty value still gets its (empty) file.
    EXPECT_EQ(GetLobValue(ByteView(InRowRoot({{0, {10, 1, 0}}})), context, hex, nullptr, false, &state),
              L"/lobs/8_blob");
    EXPECT_EQ(std::filesystem::file_size(folder / "8_blob"), 0u);
    // Text values stay texts.
    EXPECT_EQ(GetLobValue(ByteView(root), context, LobOptions{}, nullptr, false, &state), std::wstring(L"\xDE\xAD\xBE\xEF"));
    // A folder that cannot be made leaves the hex text.
    state.blobFolder = L"/proc/kestrane-no-such/lobs";
    EXPECT_EQ(GetLobValue(ByteView(root), context, hex, nullptr, false, &state), L"0xDEADBEEF");
    std::filesystem::remove_all(folder.parent_path());

    EXPECT_EQ(HexTextToBytes(L"0x01AbFF"), (Bytes{0x01}));
    EXPECT_EQ(HexTextToBytes(L"0x01ABF"), (Bytes{0x01, 0xAB}));
    EXPECT_TRUE(HexTextToBytes(L"0").empty());
}

}  // namespace
}  // namespace kestrane
