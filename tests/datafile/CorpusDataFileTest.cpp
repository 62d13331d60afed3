#include <gtest/gtest.h>

#include <cstring>

#include "datafile/DataFileFixture.h"
#include "datafile/MdfFile.h"
#include "datafile/SecondaryDataFiles.h"
#include "platform/BinaryFile.h"
#include "support/Corpus.h"
#include "support/RecordingSinks.h"

namespace kestrane {
namespace {

using test::RecordingProgressSink;

bool HasPages(const PageMap& map, uint32_t id) { return map.count(id) && !map.at(id).empty(); }

TEST(CorpusDataFile, EveryDataFileIndexes) {
    KESTRANE_REQUIRE_CORPUS();
    const auto facts = test::CorpusBootFacts();
    int files = 0;
    for (const auto& set : test::CorpusSets()) {
        for (const auto& path : set.dataFiles) {
            const std::string key = set.name + "/" + path.filename().string();
            SCOPED_TRACE(key);
            ++files;
            std::vector<uint8_t> raw;
            ASSERT_TRUE(ReadWholeFile(path.string(), raw));
            RunState state;
            RecordingProgressSink sink;
            CMdfFile file(path.wstring(), 0, state, sink);
            ASSERT_TRUE(file.IsOpen());
            EXPECT_TRUE(sink.texts(kMsgFatalText).empty());

            // Leading block and alignment: page 9 (the boot page) sits where its own page id says.
            EXPECT_LE(file.LeadingOffset(), raw.size() % kPageSize);
            if (raw.size() % kPageSize == 0) {
                EXPECT_EQ(file.LeadingOffset(), 0u);
            }
            EXPECT_EQ(file.PageCount(), (raw.size() - file.LeadingOffset()) / kPageSize);
            const auto fact = facts.find(key);
            if (fact != facts.end() && fact->second.pages > 0) {
                EXPECT_EQ(file.PageCount(), static_cast<uint64_t>(fact->second.pages));
            }

            PageBuffer boot = file.ReadPage({1, 9});
            ASSERT_TRUE(boot);
            CPage_Header bootHeader(boot.get());
            EXPECT_EQ(bootHeader.thisPage.pageId, 9u);

            // System tables of the current layout, or of the legacy one.
            const PageMap& sys = file.SystemPages();
            EXPECT_TRUE((HasPages(sys, 7) && HasPages(sys, 34)) || (HasPages(sys, 1) && HasPages(sys, 2)));

            // Every indexed page says in its own header what the map says, read straight from the file.
            const ByteView bytes(raw);
            auto headerOf = [&](const PageRef& r) {
                return bytes.sub(file.LeadingOffset() + r.page * kPageSize, kPageSize);
            };
            size_t dataRefs = 0, rawDataPages = 0;
            for (const auto& [id, refs] : sys)
                for (const PageRef& r : refs) {
                    ByteView h = headerOf(r);
                    EXPECT_EQ(h.u32(kHdrObjectId), id);
                    EXPECT_LE(h.u16(kHdrIndexId).value_or(99), 1) << "page " << r.page;
                }
            for (const auto& [id, refs] : file.DataPages()) {
                dataRefs += refs.size();
                for (const PageRef& r : refs) EXPECT_EQ(headerOf(r).u8(kHdrPageType), 1);
            }
            for (size_t p = 0; p < file.PageCount(); ++p) {
                ByteView h = bytes.sub(file.LeadingOffset() + p * kPageSize, kPageSize);
                if (h.u8(kHdrPageType) == 1 && h.i32(kHdrObjectId).value_or(0) > 0) ++rawDataPages;
            }
            EXPECT_EQ(dataRefs, rawDataPages);

            // Torn pages: once their header is parsed, the slot array's first entry points into the page.
            for (uint32_t p = 1; p < file.PageCount(); ++p) {
                PageBuffer page = file.ReadPage({1, p});
                ASSERT_TRUE(page);
                CPage_Header h(page.get());
                if ((h.flagBits & kTornBitsPresent) == 0 || h.pageType != 1 || h.slotCount == 0) continue;
                const uint16_t slot0 = ByteView(page.get(), kPageSize).u16(kPageSize - 2).value();
                EXPECT_TRUE(slot0 >= kPageHeaderSize && slot0 < kPageSize) << "page " << p << " slot 0 at " << slot0;
            }

            // No secondary files beside these: the folder search adds nothing.
            std::vector<DataFileEntry> list;
            const size_t before = file.DataPages().size();
            LocateDataFiles(file, list, file.Path());
            EXPECT_TRUE(list.empty());
            EXPECT_EQ(file.DataPages().size(), before);
        }
    }
    EXPECT_GT(files, 0);
}

TEST(CorpusDataFile, SnapshotRestoresTheIndex) {
    KESTRANE_REQUIRE_CORPUS();
    test::TempFolder dir;
    for (const auto& set : test::CorpusSets()) {
        for (const auto& path : set.dataFiles) {
            SCOPED_TRACE(set.name);
            RunState state;
            RecordingProgressSink sink;
            CMdfFile built(path.wstring(), 0, state, sink);
            ASSERT_TRUE(built.IsOpen());
            const std::wstring snap = dir.wpath("snapshot.txt");
            ASSERT_TRUE(built.SaveSnapshot(built.Path(), 0, snap));
            state.snapshotMode = 1;
            state.snapshotPath = snap;
            CMdfFile loaded(path.wstring(), 0, state, sink);
            ASSERT_TRUE(loaded.IsOpen());
            EXPECT_EQ(loaded.SystemPages(), built.SystemPages());
            EXPECT_EQ(loaded.DataPages(), built.DataPages());
            EXPECT_EQ(loaded.IamPages(), built.IamPages());
        }
    }
}

}  // namespace
}  // namespace kestrane
