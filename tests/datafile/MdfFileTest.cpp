#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "datafile/DataFileFixture.h"
#include "datafile/DbFileHolder.h"
#include "datafile/MdfFile.h"
#include "support/RecordingSinks.h"

namespace kestrane {
namespace {

using test::BuildDataFile;
using test::FixturePage;
using test::Ref;
using test::RecordingProgressSink;
using test::TempFolder;

std::vector<FixturePage> Pages(size_t count, FixturePage fill = {}) { return std::vector<FixturePage>(count, fill); }

struct MdfFile : ::testing::Test {
    TempFolder dir;
    RunState state;
    RecordingProgressSink sink;
};

TEST_F(MdfFile, RefusesMissingAndShortFiles) {
    {
        RecordingProgressSink sink;
        state.stopFlag = 1;
        CMdfFile missing(dir.wpath("none.mdf"), 0, state, sink);
        EXPECT_FALSE(missing.IsOpen());
        EXPECT_EQ(sink.texts(kMsgFatalText), std::vector<std::string>{kTextFileCannotBeOpen});
        EXPECT_EQ(state.stopFlag.load(), 1) << "the stop request is left for the run that made it";
        state.stopFlag = 0;
    }
    for (size_t length : {size_t{0}, size_t{100}, kPageSize - 1}) {
        RecordingProgressSink sink;
        CMdfFile shortFile(dir.Write("short.mdf", std::vector<uint8_t>(length, 0x11)), 0, state, sink);
        EXPECT_FALSE(shortFile.IsOpen());
        EXPECT_EQ(sink.texts(kMsgFatalText), std::vector<std::string>{kTextNotValidMdf}) << length;
    }
    {
        // One page, no system-table page: measured, then refused by the classification.
        RecordingProgressSink sink;
        CMdfFile one(dir.Write("one.mdf", BuildDataFile(Pages(1))), 0, state, sink);
        EXPECT_EQ(one.PageCount(), 1u);
        EXPECT_FALSE(one.IsOpen());
        EXPECT_EQ(sink.texts(kMsgFatalText), std::vector<std::string>{kTextNotValidMdf});
    }
    {
        RecordingProgressSink sink;
        CMdfFile one(dir.Write("sys.mdf", BuildDataFile(Pages(1, {7, 1}))), 0, state, sink);
        EXPECT_TRUE(one.IsOpen());
        EXPECT_EQ(one.PageCount(), 1u);
        EXPECT_TRUE(sink.texts(kMsgFatalText).empty());
    }
}

TEST_F(MdfFile, LeadingBlockAndAlignmentPasses) {
    // Three pages after a 100-byte leading block: they line up at offset 100.
    CMdfFile lead(dir.Write("lead.mdf", BuildDataFile(Pages(3, {7, 1}), 100)), 0, state, sink);
    ASSERT_TRUE(lead.IsOpen());
    EXPECT_EQ(lead.LeadingOffset(), 100u);
    EXPECT_EQ(lead.PageCount(), 3u);
    EXPECT_EQ(sink.texts(kMsgStatusText),
              (std::vector<std::string>{kTextCheckingCorruption, kTextCheckingCorruptionDone, kTextMappingObjects,
                                        kTextMappingDone}));
    PageBuffer page = lead.ReadPage({1, 2});
    ASSERT_TRUE(page);
    EXPECT_EQ(ByteView(page.get(), kPageSize).u32(kHdrThisPageId), 2u);

    // The same pages followed by 100 stray bytes: they line up only at offset 0.
    CMdfFile tail(dir.Write("tail.mdf", BuildDataFile(Pages(3, {7, 1}), 0, 100)), 0, state, sink);
    ASSERT_TRUE(tail.IsOpen());
    EXPECT_EQ(tail.LeadingOffset(), 0u);
    EXPECT_EQ(tail.PageCount(), 3u);
    EXPECT_EQ(tail.CheckFileCorruption(), 0);

    // Larger files are checked from page 8; pages that never line up keep the leading block.
    auto pages = Pages(20, {7, 1});
    for (auto& p : pages) p.ownPageId = 5000;
    CMdfFile none(dir.Write("none.mdf", BuildDataFile(pages, 0, 100)), 0, state, sink);
    EXPECT_EQ(none.LeadingOffset(), 100u);
    EXPECT_EQ(none.CheckFileCorruption(), 1);
    pages[8].ownPageId = -1;
    CMdfFile eight(dir.Write("eight.mdf", BuildDataFile(pages, 0, 100)), 0, state, sink);
    EXPECT_EQ(eight.LeadingOffset(), 0u);
}

TEST_F(MdfFile, ClassifiesPagesIntoThreeMaps) {
    std::vector<FixturePage> pages = {
        {0, 13},            // 0: file header page
        {7, 1},             // 1: system table data page: system + data
        {2187, 10},         // 2: system id, IAM: system + IAM
        {34, 1, 256},       // 3: user allocation unit carrying id 34: data only
        {34, 1, 1},         // 4: system table clustered index leaf
        {-5, 1},            // 5: negative object id: nowhere
        {500, 2},           // 6: user index page: nowhere
        {500, 1, 0, 3},     // 7: user data page, header file id 3
        {99, 2},            // 8: system id, index page: system only
        {500, 10},          // 9: user IAM
        {500, 1},           // 10
    };
    CMdfFile file(dir.Write("c.mdf", BuildDataFile(pages)), 0, state, sink);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_EQ(file.SystemPages(), (PageMap{{7, {Ref(1, 1, 1)}},
                                           {34, {Ref(1, 4, 1)}},
                                           {99, {Ref(1, 8, 2)}},
                                           {2187, {Ref(1, 2, 10)}}}));
    EXPECT_EQ(file.DataPages(),
              (PageMap{{7, {Ref(1, 1, 1)}}, {34, {Ref(1, 3, 1), Ref(1, 4, 1)}}, {500, {Ref(3, 7, 1), Ref(1, 10, 1)}}}));
    EXPECT_EQ(file.IamPages(), (PageMap{{500, {Ref(1, 9, 10)}}, {2187, {Ref(1, 2, 10)}}}));

    // Progress: range, start, about a hundred positions, then the page count.
    std::vector<int> positions;
    for (const auto& c : sink.calls)
        if (c.message == kMsgProgressPosition) positions.push_back(c.number);
    EXPECT_EQ(positions.back(), static_cast<int>(pages.size()));

    // A page with only a user allocation unit is not a data file.
    CMdfFile user(dir.Write("u.mdf", BuildDataFile({{0, 13}, {34, 1, 256}})), 0, state, sink);
    EXPECT_FALSE(user.IsOpen());
}

TEST_F(MdfFile, ReadPageBoundsAndSecondaryFiles) {
    CMdfFile file(dir.Write("r.mdf", BuildDataFile(Pages(4, {7, 1}), 100)), 0, state, sink);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_FALSE(file.ReadPage({1, 0})) << "page 0 of the primary file is refused";
    EXPECT_FALSE(file.ReadPage({1, 5}));
    EXPECT_FALSE(file.ReadPage({0, 1}));
    EXPECT_FALSE(file.ReadPage({2, 1})) << "unknown secondary file";
    PageBuffer past = file.ReadPage({1, 4});
    ASSERT_TRUE(past) << "one past the last page reads a zeroed image";
    for (size_t i = 0; i < kPageBufferSize; ++i) ASSERT_EQ(past.get()[i], 0);
    auto header = file.ReadPageHeader({1, 3});
    ASSERT_TRUE(header);
    EXPECT_EQ(header->thisPage.pageId, 3u);
    EXPECT_FALSE(file.ReadPageHeader({1, 9}));

    DataFileEntry entry;
    entry.fileId = 3;
    entry.path = dir.Write("s.ndf", BuildDataFile(Pages(3, {500, 1, 0, 3})));
    entry.length = 3 * kPageSize;
    entry.pageCount = 3;
    file.SecondaryFiles()[3] = entry;
    PageBuffer second = file.ReadPage({3, 2});
    ASSERT_TRUE(second);
    EXPECT_EQ(ByteView(second.get(), kPageSize).u32(kHdrThisPageId), 2u);
    EXPECT_FALSE(file.ReadPage({3, 4}));
    EXPECT_FALSE(file.ReadPage({3, 0}));
    file.SecondaryFiles()[3].path = dir.wpath("gone.ndf");
    EXPECT_FALSE(file.ReadPage({3, 2}));
}

TEST_F(MdfFile, CorruptInputNeverCrashes) {
    std::mt19937 rng(42);
    for (int round = 0; round < 20; ++round) {
        std::vector<uint8_t> bytes(kPageSize * (1 + rng() % 12) + rng() % kPageSize);
        for (auto& b : bytes) b = static_cast<uint8_t>(rng());
        CMdfFile file(dir.Write("rand.mdf", bytes), 0, state, sink);
        EXPECT_LE(file.LeadingOffset(), kPageSize);
        for (uint32_t p = 0; p < 20; ++p) file.ReadPageHeader({1, p});
        for (const auto& [id, refs] : file.DataPages())
            for (const PageRef& r : refs) EXPECT_LE(r.page, file.PageCount());
    }
}

TEST_F(MdfFile, StopFlagEndsIndexingEarly) {
    struct StoppingSink : RecordingProgressSink {
        RunState* state = nullptr;
        void StatusText(const std::string& t) override {
            RecordingProgressSink::StatusText(t);
            if (t == kTextMappingObjects) state->stopFlag = 1;
        }
    };
    StoppingSink stopping;
    stopping.state = &state;
    CMdfFile file(dir.Write("s.mdf", BuildDataFile(Pages(50, {7, 1}))), 0, state, stopping);
    EXPECT_TRUE(file.SystemPages().empty());
    EXPECT_FALSE(file.IsOpen());
    // A stopped scan is not a damaged file: no fatal text, and the request stays for the run to see.
    EXPECT_TRUE(stopping.texts(kMsgFatalText).empty());
    EXPECT_EQ(state.stopFlag.load(), 1);
}

TEST_F(MdfFile, RepeatedCatalogPagesAreIndexedOncePerPageId) {
    // Pages 0..3 three times over (the copies' headers keep ids 0..3), then a stray copy of page 13
    // standing before page 13 itself: the copy at its own place wins.
    std::vector<FixturePage> pages;
    for (int copy = 0; copy < 3; ++copy) {
        pages.push_back({0, 0, 0, 1, 0});
        pages.push_back({34, 1, 0, 1, 1});
        pages.push_back({7, 1, 0, 1, 2});
        pages.push_back({100, 1, 0, 1, 3});
    }
    pages.push_back({41, 1, 0, 1, 13});  // a stray copy claiming page 13, which comes next in place
    pages.push_back({41, 1, 0, 1, -1});
    CMdfFile file(dir.Write("r.mdf", BuildDataFile(pages)), 0, state, sink);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_EQ(file.SystemPages().at(34), std::vector<PageRef>{Ref(1, 1, 1)});
    EXPECT_EQ(file.SystemPages().at(7), std::vector<PageRef>{Ref(1, 2, 1)});
    EXPECT_EQ(file.SystemPages().at(41), std::vector<PageRef>{Ref(1, 13, 1)});
    EXPECT_EQ(file.DataPages().at(100).size(), 3u);  // user data pages are not catalogue pages
}

TEST_F(MdfFile, HolderKeepsTheDataFile) {
    CDbFileHolder holder(state, sink);
    holder.SetAdvanceSearch(1);
    EXPECT_FALSE(holder.Open(dir.wpath("missing.mdf")));
    ASSERT_NE(holder.DataFile(), nullptr) << "a failed open keeps the object for the owner to free";
    EXPECT_TRUE(holder.Open(dir.Write("h.mdf", BuildDataFile(Pages(3, {7, 1})))));
    EXPECT_EQ(holder.DataFile()->AdvanceSearch(), 1);
    holder.Reset();
    EXPECT_EQ(holder.DataFile(), nullptr);
    EXPECT_FALSE(holder.SaveSnapshot(L"x", dir.wpath("snapshot.txt")));
}

}  // namespace
}  // namespace kestrane
