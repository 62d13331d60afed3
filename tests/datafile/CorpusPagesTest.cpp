#include <gtest/gtest.h>

#include <cstring>

#include "datafile/BootPage.h"
#include "datafile/DataPage.h"
#include "datafile/MdfFile.h"
#include "platform/RunState.h"
#include "support/Corpus.h"
#include "support/RecordingSinks.h"

namespace kestrane {
namespace {

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

TEST(CorpusPagesTest, EveryPageWalksAndBootPageMatchesSources) {
    KESTRANE_REQUIRE_CORPUS();
    const auto facts = test::CorpusBootFacts();
    int files = 0;
    for (const test::CorpusSet& set : test::CorpusSets()) {
        for (const auto& path : set.dataFiles) {
            const std::string key = set.name + "/" + path.filename().string();
            SCOPED_TRACE(key);
            RunState state{"/nonexistent/collation.txt"};
            test::RecordingProgressSink sink;
            CMdfFile file(path.wstring(), 0, state, sink);
            ASSERT_TRUE(file.IsOpen());
            ++files;

            auto fact = facts.find(key);
            ASSERT_NE(fact, facts.end());
            state.collationMap[fact->second.collationId] = {L"Listed", 1250};
            PageBuffer bootImage = file.ReadPage(PageAddress(1, 9));
            ASSERT_TRUE(bootImage);
            CBootPage boot(ByteView(bootImage.get(), kPageSize), &file, state);
            EXPECT_EQ(boot.versionCode, fact->second.version);
            EXPECT_EQ(static_cast<long long>(boot.collationId), fact->second.collationId);
            EXPECT_EQ(state.serverVersionText, ServerVersionText(static_cast<int16_t>(fact->second.version)));
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
                            if (r && r->hasRowCopy()) {
                                EXPECT_LE(r->cursor, static_cast<int32_t>(r->room));
                            }
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
                    if (h->slotCount > h->ghostRecordCount) {
                        EXPECT_GT(onPage, 0u) << objectId << " page " << ref.page;
                    }
                    valid += onPage;
                }
                EXPECT_GT(valid, 0u) << objectId;
            }

            // The deleted-record scan walks every data page too.
            state.includeDeletedRows = 1;
            state.deletedRecordScan = 1;
            for (const auto& [objectId, refs] : file.DataPages())
                for (const PageRef& ref : refs) file.LoadDataPage(PageAddress(ref.fileId, ref.page));
        }
    }
    EXPECT_GT(files, 0);
}

}  // namespace
}  // namespace kestrane
