#include <gtest/gtest.h>

#include "datafile/DataFileFixture.h"
#include "datafile/DataPage.h"
#include "datafile/MdfFile.h"
#include "datafile/PrimaryRecordPage.h"
#include "platform/RunState.h"
#include "RecordFixtures.h"
#include "support/RecordingSinks.h"

namespace kestrane {
namespace {

using test::Bytes;
using test::FixedVarRow;
using test::PageBuilder;
using test::Text;

struct RecordPageTest : ::testing::Test {
    RunState state{"/nonexistent/collation.txt"};
    const Bytes row = FixedVarRow({1, 2, 3, 4}, 2, {Text("hello")});

    CPrimaryRecord* At(const PrimaryRecordPage& page, size_t slot) { return page.PrimaryRecordAt(slot); }
};

TEST_F(RecordPageTest, SlotArrayBoundsAndRowOffsets) {
    for (uint16_t n : {uint16_t{3999}, uint16_t{4000}, uint16_t{0}, uint16_t{0xFFFF}}) {
        PageBuilder pb;
        pb.SetSlotCount(n);
        RecordPage page(pb.Buffer(), nullptr, state);
        EXPECT_EQ(page.slotArray.size(), n == 3999 ? 3999u : 0u) << n;
    }

    PageBuilder pb;
    pb.AddRow(row, 96);
    pb.AddRow(row, 95 + 200);
    pb.SetSlot(1, 95);          // inside the header
    pb.AddRow(row);             // slot 2
    pb.SetSlot(2, 9000);        // outside the page
    pb.SetSlotCount(4);         // slot 3 is 0
    pb.SetSlot(3, 0);
    PrimaryRecordPage page(pb.Buffer(), nullptr, state);
    ASSERT_EQ(page.RecordCount(), 4u);
    ASSERT_NE(At(page, 0), nullptr);
    EXPECT_EQ(At(page, 0)->room, 8096);
    EXPECT_EQ(At(page, 0)->rowCopy, row);
    EXPECT_EQ(At(page, 1), nullptr);
    EXPECT_EQ(At(page, 2), nullptr);
    EXPECT_EQ(At(page, 3), nullptr);
    EXPECT_TRUE(page.slotArray.empty());  // consumed by the walk

    // A row at the very end of the page is read within its room only.
    PageBuilder end;
    end.AddRow(row, 96);
    end.SetSlot(0, 8190);
    PrimaryRecordPage tail(end.Buffer(), nullptr, state);
    ASSERT_NE(At(tail, 0), nullptr);
    EXPECT_FALSE(At(tail, 0)->hasRowCopy());
}

TEST_F(RecordPageTest, WalkChecksHeaderLevelAndGhostCount) {
    auto walk = [&](auto&& edit) {
        PageBuilder pb;
        pb.AddRow(row);
        pb.AddRow(row);
        edit(pb);
        return std::make_unique<PrimaryRecordPage>(pb.Buffer(), nullptr, state);
    };
    EXPECT_EQ(walk([](PageBuilder&) {})->RecordCount(), 2u);
    EXPECT_EQ(walk([](PageBuilder& pb) { test::PutU32(pb.image, 16, 0x80000000u); })->RecordCount(), 0u);
    EXPECT_EQ(walk([](PageBuilder& pb) { test::PutU16(pb.image, 28, 0x8000); })->RecordCount(), 0u);
    auto index = walk([](PageBuilder& pb) {
        pb.image[1] = 2;
        pb.image[3] = 1;
    });
    EXPECT_EQ(index->RecordCount(), 2u);
    EXPECT_EQ(At(*index, 0), nullptr);
    auto ghosts = walk([](PageBuilder& pb) { test::PutU16(pb.image, 58, 2); });
    EXPECT_EQ(At(*ghosts, 1), nullptr);
    state.includeDeletedRows = 1;
    auto shown = walk([](PageBuilder& pb) { test::PutU16(pb.image, 58, 2); });
    EXPECT_NE(At(*shown, 1), nullptr);
}

TEST_F(RecordPageTest, PageCompressionHeaderAnchorAndDictionary) {
    // Compressed flag but compression length 0: an ordinary page.
    PageBuilder plain;
    plain.image[2] = 0x80;
    plain.AddRow(row, 200);
    PrimaryRecordPage p0(plain.Buffer(), nullptr, state);
    EXPECT_FALSE(p0.anchorRecord);
    ASSERT_NE(At(p0, 0), nullptr);
    EXPECT_EQ(At(p0, 0)->rowCopy, row);

    // Anchor (1 column, code 3 = 2 bytes) at 103 and a dictionary of two entries at 96 + 20.
    auto compressed = [&](uint16_t dictOffset, uint16_t length, uint16_t secondEnd) {
        PageBuilder pb;
        pb.image[2] = 0x80;
        pb.image[96] = 0x06;
        test::PutU16(pb.image, 99, dictOffset);
        test::PutU16(pb.image, 101, length);
        const Bytes anchor{0x01, 1, 0x03, 'A', 'B'};
        std::copy(anchor.begin(), anchor.end(), pb.image.begin() + 103);
        test::PutU16(pb.image, 116, 2);
        test::PutU16(pb.image, 118, 9);    // entry 0: 6 .. 9 -> 3 bytes
        test::PutU16(pb.image, 120, secondEnd);
        std::copy_n("xyzpq", 5, pb.image.begin() + 122);
        pb.AddRow(row, 300);
        return std::make_unique<PrimaryRecordPage>(pb.Buffer(), nullptr, state);
    };
    auto page = compressed(20, 40, 11);
    ASSERT_TRUE(page->anchorRecord);
    EXPECT_EQ(page->anchorRecord->invalid, 0);
    EXPECT_EQ(page->anchorRecord->cdCodes, (std::vector<int>{3}));
    ASSERT_EQ(page->dictionaryEntries.size(), 2u);
    EXPECT_EQ(page->dictionaryEntries[0].length, 3);
    EXPECT_EQ(std::string(page->dictionaryEntries[0].data.begin(), page->dictionaryEntries[0].data.begin() + 3), "xyz");
    EXPECT_EQ(page->dictionaryEntries[1].length, 2);
    ASSERT_EQ(page->anchorValues.size(), 1u);  // every anchor column is unpacked
    EXPECT_EQ(page->anchorValues[0].data, (Bytes{'A', 'B'}));
    EXPECT_NE(At(*page, 0), nullptr);

    EXPECT_TRUE(compressed(40, 40, 11)->dictionaryEntries.empty());   // offset not below the length
    EXPECT_EQ(compressed(20, 40, 5000)->dictionaryEndOffsets.size(), 1u);  // end above 4096 ends the list
    // A lying end offset far before the start: the entry has no data, nothing is read out of place.
    auto lying = compressed(20, 40, 2);
    ASSERT_EQ(lying->dictionaryEntries.size(), 2u);
    EXPECT_FALSE(lying->dictionaryEntries[1].hasData());
    // Flags 0x02 only: anchor at 101.
    PageBuilder anchorOnly;
    anchorOnly.image[2] = 0x80;
    anchorOnly.image[96] = 0x02;
    test::PutU16(anchorOnly.image, 101, 10);
    anchorOnly.image[101] = 0x01;
    anchorOnly.image[102] = 1;
    PrimaryRecordPage ao(anchorOnly.Buffer(), nullptr, state);
    ASSERT_TRUE(ao.anchorRecord);
    EXPECT_EQ(ao.anchorRecord->columnCount, 1);
    EXPECT_TRUE(ao.dictionaryEntries.empty());
}

TEST_F(RecordPageTest, DeletedRecordScanAddsUnreferencedRows) {
    // Rows with a 128-byte fixed part start with the bytes 30 00 84 00, the scan's signature.
    const Bytes scanRow = FixedVarRow(Bytes(128, 0x11), 2, {Text("ab")});
    PageBuilder pb;
    std::vector<size_t> offsets;
    for (int i = 0; i < 7; ++i) offsets.push_back(pb.AddRow(scanRow));
    pb.SetSlotCount(5);
    const std::vector<size_t> referenced{offsets[0], offsets[2], offsets[3], offsets[5], offsets[6]};
    for (uint16_t s = 0; s < 5; ++s) pb.SetSlot(s, static_cast<uint16_t>(referenced[s]));
    state.includeDeletedRows = 1;
    state.deletedRecordScan = 1;
    PrimaryRecordPage page(pb.Buffer(), nullptr, state);
    EXPECT_EQ(page.header()->slotCount, 7);
    EXPECT_EQ(page.scanOffsets, (std::vector<int>{static_cast<int>(referenced[0]), static_cast<int>(referenced[1]),
                                                  static_cast<int>(referenced[2]), static_cast<int>(referenced[3]),
                                                  static_cast<int>(referenced[4]), static_cast<int>(offsets[1]),
                                                  static_cast<int>(offsets[4])}));
    ASSERT_EQ(page.RecordCount(), 7u);
    for (size_t s = 0; s < 7; ++s) EXPECT_EQ(At(page, s)->rowCopy, scanRow) << s;

    // A page of garbage ends the scan without finding anything and without looping.
    PageBuilder junk;
    for (size_t i = 96; i < kPageSize; ++i) junk.image[i] = static_cast<uint8_t>(i * 7);
    PrimaryRecordPage none(junk.Buffer(), nullptr, state);
    EXPECT_EQ(none.header()->slotCount, none.scanOffsets.size());
}

TEST_F(RecordPageTest, RowSpliceGivesThePageRowAndTheRebuiltRow) {
    PageBuilder pb;
    const size_t at = pb.AddRow(row);
    // Each request holds for exactly one page load.
    auto load = [&](RowSpliceRequest request) {
        request.rowSpliceMode = 1;
        RowSpliceScope scope(state, request);
        return std::make_unique<PrimaryRecordPage>(pb.Buffer(), nullptr, state);
    };
    auto request = [](const Bytes& put, uint32_t length, uint32_t inRow) {
        RowSpliceRequest r;
        r.element0 = ByteView(put);
        r.element0Length = length;
        r.offsetInRow = inRow;
        return r;
    };

    const Bytes put{9, 8};
    auto page = load(request(put, 2, 4));
    EXPECT_FALSE(state.rowSplice.active());
    ASSERT_EQ(page->RecordCount(), 2u);
    EXPECT_EQ(At(*page, 0)->fixedData.toVector(), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(At(*page, 1)->fixedData.toVector(), (Bytes{9, 8, 3, 4}));
    EXPECT_EQ(page->view().u8(at + 4), 9);  // written into the page image itself

    // Two elements: 3 bytes go back where 1 byte stands now.
    const Bytes three{7, 7, 7};
    const Bytes now{5};
    RowSpliceRequest two = request(three, 3, 4);
    two.element1 = ByteView(now);
    two.element1Length = 1;
    page = load(two);
    ASSERT_EQ(page->RecordCount(), 2u);
    EXPECT_EQ(At(*page, 1)->fixedData.toVector(), (Bytes{7, 7, 7, 2}));

    RowSpliceRequest beyond = request(put, 2, 4);
    beyond.slot = 1;  // beyond the slot count
    EXPECT_EQ(load(beyond)->RecordCount(), 0u);

    const Bytes ten(10, 1);
    page = load(request(ten, 10, 9000));  // past the room
    ASSERT_EQ(page->RecordCount(), 2u);
    EXPECT_EQ(At(*page, 1), nullptr);
}

TEST_F(RecordPageTest, ColumnSpliceOverrunLeavesTheRowAlone) {
    PageBuilder pb;
    pb.AddRow(row);
    RowSpliceRequest request;
    request.columnSpliceMode = 1;
    Bytes entries;
    test::AppendU16(entries, 4);
    test::AppendU16(entries, 6);
    Bytes lengths;
    test::AppendU16(lengths, 9000);
    request.pieceEntries = ByteView(entries);
    request.pieceLengths = ByteView(lengths);
    request.pieceCount = 1;
    const Bytes data{1, 1};
    request.element0 = ByteView(data);
    RowSpliceScope scope(state, request);
    PrimaryRecordPage page(pb.Buffer(), nullptr, state);
    EXPECT_EQ(state.rowSplice.overrun, 1);
    ASSERT_EQ(page.RecordCount(), 2u);
    EXPECT_EQ(At(page, 1)->rowCopy, row);

    // A fitting piece put over bytes of the same length (start and end equal: no shift).
    RowSpliceRequest fits = request;
    Bytes sameEntries;
    test::AppendU16(sameEntries, 4);
    test::AppendU16(sameEntries, 4);
    fits.pieceEntries = ByteView(sameEntries);
    Bytes len2;
    test::AppendU16(len2, 2);
    fits.pieceLengths = ByteView(len2);
    const Bytes newBytes{0xEE, 0xDD};
    fits.element0 = ByteView(newBytes);
    fits.overrun = 0;
    RowSpliceScope scope2(state, fits);
    PrimaryRecordPage page2(pb.Buffer(), nullptr, state);
    EXPECT_EQ(state.rowSplice.overrun, 0);
    EXPECT_EQ(At(page2, 1)->fixedData.toVector(), (Bytes{0xEE, 0xDD, 3, 4}));

    // Two pieces: logged before/after values are each padded to 4 bytes, so a 4-byte piece is
    // followed by the next piece's data 8 bytes on, not 10.
    RowSpliceRequest two = request;
    Bytes twoEntries;
    for (uint16_t v : {4, 4, 15, 15}) test::AppendU16(twoEntries, v);
    two.pieceEntries = ByteView(twoEntries);
    Bytes twoLengths;
    test::AppendU16(twoLengths, 4);
    test::AppendU16(twoLengths, 1);
    two.pieceLengths = ByteView(twoLengths);
    two.pieceCount = 2;
    const Bytes pieces{0xA1, 0xA2, 0xA3, 0xA4, 0xB1, 0xB2, 0xB3, 0xB4, 'H', 0, 0, 0, 'X', 0, 0, 0};
    two.element0 = ByteView(pieces);
    two.overrun = 0;
    RowSpliceScope scope3(state, two);
    PrimaryRecordPage page3(pb.Buffer(), nullptr, state);
    Bytes expected = row;
    std::copy(pieces.begin(), pieces.begin() + 4, expected.begin() + 4);
    expected[15] = 'H';
    ASSERT_NE(At(page3, 1), nullptr);
    EXPECT_EQ(Bytes(At(page3, 1)->rowCopy.begin(), At(page3, 1)->rowCopy.begin() + expected.size()), expected);
}

TEST_F(RecordPageTest, OneRowFormHoldsTheRowAtOffsetZero) {
    PageBuilder pb;
    Bytes rowBuffer(kPageSize, 0);
    std::copy(row.begin(), row.end(), rowBuffer.begin());
    test::PutU16(rowBuffer, kPageSize - 2, static_cast<uint16_t>(row.size()));
    CDataPage page(pb.Buffer(), ByteView(rowBuffer), nullptr, state);
    EXPECT_EQ(page.header()->slotCount, 1);
    ASSERT_NE(page.PrimaryRecordAt(0), nullptr);
    EXPECT_EQ(page.PrimaryRecordAt(0)->rowCopy, row);
}

TEST_F(RecordPageTest, ForwardingStubsAreFollowedOnceAndNeverLoop) {
    auto stub = [](uint32_t page, uint16_t slot) {
        Bytes s{0x04};
        test::PutU32(s, 1, page);
        test::PutU16(s, 5, 1);
        test::PutU16(s, 7, slot);
        return s;
    };
    std::vector<Bytes> pages;
    for (uint32_t i = 0; i < 12; ++i) {
        PageBuilder pb(1, i, i == 1 ? 7 : 100);
        pages.push_back(pb.image);
    }
    Bytes forwarded = row;
    forwarded[0] = 0x32;  // type 1: a forwarded row
    PageBuilder target(1, 3);
    target.AddRow(forwarded);
    pages[3] = target.image;
    PageBuilder stubs(1, 2);
    stubs.AddRow(stub(3, 0));     // good
    stubs.AddRow(stub(2, 1));     // points at itself
    stubs.AddRow(stub(999, 0));   // missing page
    stubs.AddRow(stub(3, 5));     // missing slot
    stubs.AddRow(stub(2, 0));     // points at a stub
    pages[2] = stubs.image;
    test::TempFolder dir;
    Bytes file;
    for (const Bytes& p : pages) file.insert(file.end(), p.begin(), p.end());

    RunState st{"/nonexistent/collation.txt"};
    test::RecordingProgressSink sink;
    CMdfFile mdf(dir.Write("fwd.mdf", file), 0, st, sink);
    ASSERT_TRUE(mdf.IsOpen());
    auto page = mdf.LoadDataPage(PageAddress(1, 2));
    ASSERT_TRUE(page);
    ASSERT_EQ(page->RecordCount(), 5u);
    const CPrimaryRecord* good = page->PrimaryRecordAt(0);
    EXPECT_EQ(good->recordType, 2u);
    EXPECT_EQ(good->fixedData.toVector(), (Bytes{1, 2, 3, 4}));
    ASSERT_EQ(good->columnValues.size(), 1u);
    EXPECT_EQ(good->columnValues[0].length, 5u);
    for (size_t s = 1; s < 5; ++s) {
        EXPECT_EQ(page->PrimaryRecordAt(s)->fixedLength, kBrokenForwardLength) << s;
        EXPECT_FALSE(page->PrimaryRecordAt(s)->hasRowCopy()) << s;
    }
    EXPECT_FALSE(mdf.LoadDataPage(PageAddress(1, 0)));
    EXPECT_TRUE(mdf.LoadSystemPage(PageAddress(1, 0)));
}

TEST_F(RecordPageTest, PageRowsAreReadInPlaceAndOtherRowsCopied) {
    PageBuilder pb;
    const size_t at = pb.AddRow(row);
    PrimaryRecordPage page(pb.Buffer(), nullptr, state);
    const CPrimaryRecord* inPage = At(page, 0);
    ASSERT_NE(inPage, nullptr);
    EXPECT_EQ(inPage->rowCopy.data(), page.buffer() + at);
    EXPECT_EQ(inPage->rowCopy, row);
    ASSERT_EQ(inPage->columnValues.size(), 1u);
    EXPECT_EQ(inPage->columnValues[0].bytes(), page.buffer() + at + row.size() - 5);

    // A row from a buffer of the caller's: the record keeps its own bytes when that buffer is gone.
    auto buffer = std::make_unique<Bytes>(row);
    buffer->resize(kPageSize, 0);
    test::PutU16(*buffer, kPageSize - 2, static_cast<uint16_t>(row.size()));
    PrimaryRecordPage single(pb.Buffer(), ByteView(*buffer), nullptr, state);
    buffer.reset();
    const CPrimaryRecord* copied = At(single, 0);
    ASSERT_NE(copied, nullptr);
    EXPECT_EQ(copied->rowCopy, row);
    EXPECT_FALSE(single.HoldsRowInPlace(copied->rowCopy));
    EXPECT_EQ(Bytes(copied->columnValues[0].bytes(), copied->columnValues[0].bytes() + 5), Text("hello"));

    // Bytes outside the image, or reaching past its end, are never taken as in place.
    EXPECT_TRUE(page.HoldsRowInPlace(page.view().sub(kPageSize - 4, 4)));
    EXPECT_FALSE(page.HoldsRowInPlace(ByteView(page.buffer() + kPageSize - 4, 8)));
    EXPECT_FALSE(page.HoldsRowInPlace(ByteView(row)));
}

}  // namespace
}  // namespace kestrane
