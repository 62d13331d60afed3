// Every corpus data file: the page index against the file's own bytes and SOURCES.md, the boot page,
// every indexed page walked, the snapshot round trip and the folder search.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <set>

#include "datafile/BootPage.h"
#include "datafile/CorpusFixture.h"
#include "datafile/DataFileFixture.h"
#include "datafile/DataPage.h"
#include "datafile/MdfFile.h"
#include "datafile/SecondaryDataFiles.h"
#include "platform/BinaryFile.h"
#include "platform/TextCodec.h"
#include "support/Corpus.h"
#include "support/RecordingSinks.h"

namespace kestrane {
namespace {

using test::RecordingProgressSink;

bool HasPages(const PageMap& map, uint32_t id) { return map.count(id) && !map.at(id).empty(); }

// The boot page's name rule applied to a name as SOURCES.md lists it: cut at the first blank.
// Only names of plain ASCII are compared whole; others up to their first non-ASCII character.
void ExpectBootName(const std::wstring& actual, const std::wstring& listed, const std::string& key) {
    std::wstring expected = listed;
    const size_t blank = expected.find(L' ');
    if (blank != std::wstring::npos && blank > 0) expected.resize(blank);
    size_t ascii = 0;
    while (ascii < expected.size() && expected[ascii] < 0x80) ++ascii;
    if (ascii == expected.size())
        EXPECT_EQ(actual, expected) << key;
    else
        EXPECT_EQ(actual.substr(0, ascii), expected.substr(0, ascii)) << key;
}

TEST(CorpusDataFile, EveryDataFileIndexesWalksAndRestoresFromASnapshot) {
    KESTRANE_REQUIRE_CORPUS();
    const auto facts = test::CorpusBootFacts();
    test::TempFolder dir;
    std::set<std::string> checked;
    for (const auto& set : test::CorpusSets()) {
        for (const auto& path : set.dataFiles) {
            const std::string key = set.name + "/" + path.filename().string();
            SCOPED_TRACE(key);
            const auto fact = facts.find(key);
            ASSERT_NE(fact, facts.end());
            std::vector<uint8_t> raw;
            ASSERT_TRUE(ReadWholeFile(path.string(), raw));
            RunState state{"/nonexistent/collation.txt"};
            RecordingProgressSink sink;
            CMdfFile file(path.wstring(), 0, state, sink);
            ASSERT_TRUE(file.IsOpen());
            EXPECT_TRUE(sink.texts(kMsgFatalText).empty());

            // Leading block and alignment: page 9 (the boot page) sits where its own page id says.
            EXPECT_LE(file.LeadingOffset(), raw.size() % kPageSize);
            if (raw.size() % kPageSize == 0) { EXPECT_EQ(file.LeadingOffset(), 0u); }
            EXPECT_EQ(file.PageCount(), (raw.size() - file.LeadingOffset()) / kPageSize);
            if (fact->second.pages > 0) { EXPECT_EQ(file.PageCount(), static_cast<uint64_t>(fact->second.pages)); }

            PageBuffer bootImage = file.ReadPage({1, 9});
            ASSERT_TRUE(bootImage);
            EXPECT_EQ(CPage_Header(bootImage.get()).thisPage.pageId, 9u);

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

            state.collationMap[fact->second.collationId] = {L"Listed", 1250};
            CBootPage boot(ByteView(bootImage.get(), kPageSize), &file, state);
            EXPECT_EQ(boot.versionCode, fact->second.version);
            EXPECT_EQ(static_cast<long long>(boot.collationId), fact->second.collationId);
            EXPECT_EQ(state.serverVersionText, ServerVersionText(static_cast<int16_t>(fact->second.version)));
            // A release that SOURCES.md names is named in the version text ("2008R2" as " 2008 R2").
            std::string release = fact->second.release;
            if (release.size() > 4 && std::isdigit(static_cast<unsigned char>(release[0]))) release.insert(4, " ");
            if (!release.empty() && release != "?") {
                EXPECT_NE(WideToUtf8(state.serverVersionText).find(release), std::string::npos) << release;
            }
            EXPECT_EQ(state.collationFound, 1);
            EXPECT_EQ(state.collationName, L"Listed");
            file.LoadBootPage();
            ExpectBootName(file.DatabaseName(), fact->second.databaseName, key);

            // Every page of the three maps loads and walks.
            size_t pages = 0;
            for (const PageMap* map : {&file.SystemPages(), &file.DataPages(), &file.IamPages()}) {
                for (const auto& [objectId, refs] : *map) {
                    for (const PageRef& ref : refs) {
                        auto page = file.LoadDataPage(PageAddress(ref.fileId, ref.page));
                        if (!page) continue;
                        ++pages;
                        for (size_t s = 0; s < page->RecordCount(); ++s) {
                            const CPrimaryRecord* r = page->PrimaryRecordAt(s);
                            if (r && r->hasRowCopy()) { EXPECT_LE(r->cursor, static_cast<int32_t>(r->room)); }
                        }
                    }
                }
            }
            EXPECT_GT(pages, 0u);

            // The system tables that the catalogue reads give valid records on every page with rows.
            for (uint32_t objectId : {34u, 41u, 5u, 7u}) {
                auto it = file.SystemPages().find(objectId);
                ASSERT_NE(it, file.SystemPages().end()) << objectId;
                size_t valid = 0;
                for (const PageRef& ref : it->second) {
                    auto page = file.LoadSystemPage(PageAddress(ref.fileId, ref.page));
                    ASSERT_TRUE(page);
                    if (ref.pageType != 1 || page->header()->level != 0) continue;
                    size_t onPage = 0;
                    for (size_t s = 0; s < page->RecordCount(); ++s) {
                        const CPrimaryRecord* r = page->PrimaryRecordAt(s);
                        if (r && !r->invalid && r->hasRowCopy() && r->columnCount > 0) ++onPage;
                    }
                    const auto* h = page->header();
                    if (h->slotCount > h->ghostRecordCount) { EXPECT_GT(onPage, 0u) << objectId << " page " << ref.page; }
                    valid += onPage;
                }
                EXPECT_GT(valid, 0u) << objectId;
            }

            // The deleted-record scan walks every data page too.
            state.includeDeletedRows = 1;
            state.deletedRecordScan = 1;
            for (const auto& [objectId, refs] : file.DataPages())
                for (const PageRef& ref : refs) file.LoadDataPage(PageAddress(ref.fileId, ref.page));

            const std::wstring snap = dir.wpath("snapshot.txt");
            ASSERT_TRUE(file.SaveSnapshot(file.Path(), 0, snap));
            RunState snapState{"/nonexistent/collation.txt"};
            snapState.snapshotMode = 1;
            snapState.snapshotPath = snap;
            CMdfFile loaded(path.wstring(), 0, snapState, sink);
            ASSERT_TRUE(loaded.IsOpen());
            EXPECT_EQ(loaded.SystemPages(), file.SystemPages());
            EXPECT_EQ(loaded.DataPages(), file.DataPages());
            EXPECT_EQ(loaded.IamPages(), file.IamPages());

            // The folder search finds the secondary files beside the primary, each under its own file id.
            std::vector<DataFileEntry> list;
            const size_t before = file.DataPages().size();
            LocateDataFiles(file, list, file.Path());
            EXPECT_EQ(list.size(), set.secondaryFiles.size());
            if (set.secondaryFiles.empty()) { EXPECT_EQ(file.DataPages().size(), before); }
            checked.insert(key);
            // Opened as the program opens it, the catalogue's file list brings in the same files.
            test::OpenedDataFile whole(path);
            ASSERT_NE(whole.catalog, nullptr);
            EXPECT_EQ(whole.holder.DataFile()->SecondaryFiles().size(), set.secondaryFiles.size());
            for (const std::string& secondary : test::SecondaryFileKeys(set.name, *whole.holder.DataFile()))
                checked.insert(secondary);
        }
    }
    test::ExpectEveryListedChecked(test::CorpusListedFileKeys(test::ListedKind::DataFile), checked);
}

}  // namespace
}  // namespace kestrane
