#include <gtest/gtest.h>

#include "datafile/DataFileFixture.h"
#include "datafile/MdfFile.h"
#include "datafile/SecondaryDataFiles.h"
#include "support/RecordingSinks.h"

namespace kestrane {
namespace {

using test::BuildDataFile;
using test::FixturePage;
using test::Ref;
using test::RecordingProgressSink;
using test::TempFolder;


TEST(SecondaryDataFiles, StoredPathsMoveBesideThePrimaryFile) {
    EXPECT_EQ(DataFileFolder(L"/data/copy/Sales.mdf"), L"/data/copy/");
    EXPECT_EQ(DataFileFolder(L"Sales.mdf"), L"");
    EXPECT_EQ(RelocatedDataFilePath(L"D:\\old\\Sales_2.ndf", L"E:\\copy\\"), L"E:\\copy\\Sales_2.ndf");
    EXPECT_EQ(RelocatedDataFilePath(L"D:/old/a.b.c", L"/data/"), L"/data/a.b.ndf");
    EXPECT_EQ(RelocatedDataFilePath(L"D:\\old\\noext", L"/data/"), L"/data/noext");
    EXPECT_EQ(RelocatedDataFilePath(L"D:\\old\\.hidden", L"/data/"), L"/data/.hidden");
}

struct Opened {
    TempFolder dir;
    RunState state;
    RecordingProgressSink sink;
    std::unique_ptr<CMdfFile> file;
    Opened() {
        file = std::make_unique<CMdfFile>(dir.Write("Db.mdf", BuildDataFile({{0, 13}, {7, 1}, {500, 1}})), 0, state,
                                          sink);
    }
};

TEST(SecondaryDataFiles, FolderSearchIndexesNdfFilesOfAnyCase) {
    Opened o;
    ASSERT_TRUE(o.file->IsOpen());
    // A secondary file with a 100-byte trailing block: the alignment check moves it to offset 0.
    std::vector<FixturePage> pages(10, FixturePage{500, 1, 0, 3});
    pages[0] = {0, 15, 0, 3};
    pages[1] = {1, 1, 0, 3};      // ids 1 and 2 count only in the primary file
    pages[2] = {34, 1, 0, 3};
    pages[3] = {34, 1, 256, 3};   // a user allocation unit with a system id
    pages[4] = {7, 10, 0, 3};
    pages[5] = {600, 10, 0, 3};   // IAM pages are not taken from secondary files
    o.dir.Write("Db_2.NDF", BuildDataFile(pages, 0, 100));
    o.dir.Write("notes.txt", BuildDataFile(pages));
    std::filesystem::create_directories(o.dir.path("dir.ndf"));
    // A file whose data pages never name a file above 1 is indexed but not listed.
    o.dir.Write("stray.ndf", BuildDataFile({{0, 15}, {800, 1, 0, 1}}));
    o.dir.Write("tiny.ndf", std::vector<uint8_t>(100, 0xFF));  // shorter than a page

    std::vector<DataFileEntry> list;
    LocateDataFiles(*o.file, list, o.file->Path());
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].fileId, 3u);
    EXPECT_EQ(list[0].path, o.dir.folder() + L"Db_2.NDF");
    EXPECT_EQ(list[0].headerOffset, 0);
    EXPECT_EQ(list[0].pageCount, 10);
    ASSERT_EQ(o.file->SecondaryFiles().count(3), 1u);

    const PageMap& sys = o.file->SystemPages();
    EXPECT_EQ(sys.count(1), 0u);
    EXPECT_EQ(sys.at(34), (std::vector<PageRef>{Ref(3, 2, 1)}));
    EXPECT_EQ(sys.at(7), (std::vector<PageRef>{Ref(1, 1, 1), Ref(3, 4, 10)})) << "appended after the primary's";
    const PageMap& data = o.file->DataPages();
    EXPECT_EQ(data.at(1), (std::vector<PageRef>{Ref(3, 1, 1)}));
    EXPECT_EQ(data.at(500).front(), Ref(1, 2, 1));
    EXPECT_EQ(data.at(500).size(), 1u + 4);
    EXPECT_EQ(data.at(800), (std::vector<PageRef>{Ref(1, 1, 1)}));
    EXPECT_EQ(o.file->IamPages().count(600), 0u);

    PageBuffer page = o.file->ReadPage({3, 9});
    ASSERT_TRUE(page);
    EXPECT_EQ(ByteView(page.get(), kPageSize).u32(kHdrThisPageId), 9u);
}

TEST(SecondaryDataFiles, ListedFilesUseTheirCatalogueId) {
    Opened o;
    ASSERT_TRUE(o.file->IsOpen());
    o.dir.Write("sales_2.ndf", BuildDataFile({{0, 15, 0, 9}, {500, 1, 0, 9}, {41, 1, 0, 9}}));
    std::vector<DataFileEntry> list(3);
    list[0].fileId = 1;
    list[0].path = L"C:\\db\\Db.mdf";
    list[1].fileId = 4;
    list[1].path = L"D:\\old\\Sales_2.ndf";
    list[2].fileId = 5;
    list[2].path = L"D:\\old\\gone.ndf";
    list[2].length = 77;
    list[2].pageCount = 7;

    LocateDataFiles(*o.file, list, o.file->Path());
    EXPECT_EQ(list[0].path, L"C:\\db\\Db.mdf") << "the primary entry is left alone";
    EXPECT_EQ(list[1].path, o.dir.folder() + L"sales_2.ndf") << "found whatever the case of its name";
    EXPECT_EQ(list[1].pageCount, 3);
    EXPECT_EQ(list[1].length, static_cast<int64_t>(3 * kPageSize));
    EXPECT_EQ(list[2].path, o.dir.folder() + L"gone.ndf");
    EXPECT_EQ(list[2].length, 77);
    EXPECT_EQ(list[2].pageCount, 7);
    EXPECT_EQ(o.file->SecondaryFiles().count(5), 0u);
    EXPECT_EQ(o.file->SystemPages().at(41), (std::vector<PageRef>{Ref(4, 2, 1)})) << "file id corrected";
    EXPECT_EQ(o.file->DataPages().at(500).back(), Ref(4, 1, 1));
    EXPECT_TRUE(o.file->ReadPage({4, 2}));
}

// The catalogue names two secondary files and the log; one secondary file is not beside the primary.
TEST(SecondaryDataFiles, ListedDataFilesNotFoundAreNamedAndTheLogIsNot) {
    Opened o;
    ASSERT_TRUE(o.file->IsOpen());
    o.dir.Write("Db_2.ndf", BuildDataFile({{0, 15, 0, 3}, {500, 1, 0, 3}}));
    o.dir.Write("Db_3.ndf", BuildDataFile({{0, 15, 0, 4}, {500, 1, 0, 4}}));
    std::vector<DataFileEntry> list(5);
    list[0] = {0x2, 1, L"Db", L"C:\\db\\Db.mdf", 0, 0, 0};
    list[1] = {0x42, 2, L"Db_log", L"C:\\db\\Db_log.ldf", 0, 0, 0};
    list[2] = {0x2, 3, L"Db_2", L"C:\\db\\Db_2.ndf", 0, 0, 0};
    list[3] = {0x2, 4, L"Db_3", L"C:\\db\\Db_3.ndf", 0, 0, 0};
    list[4] = {0x2, 5, L"Db_4", L"C:\\db\\Db_4.ndf", 0, 0, 0};
    std::filesystem::remove(o.dir.path("Db_3.ndf"));

    LocateDataFiles(*o.file, list, o.file->Path());
    EXPECT_TRUE(IsLogFileEntry(list[1]));
    EXPECT_FALSE(IsLogFileEntry(list[2]));
    const std::vector<DataFileEntry> missing = MissingSecondaryFiles(*o.file, list);
    ASSERT_EQ(missing.size(), 2u);
    EXPECT_EQ(missing[0].fileId, 4u);
    EXPECT_EQ(missing[0].path, o.dir.folder() + L"Db_3.ndf");
    EXPECT_EQ(missing[1].fileId, 5u);
    EXPECT_EQ(o.file->DataPages().at(500).back(), Ref(3, 1, 1)) << "the file that is there is read";
}

}  // namespace
}  // namespace kestrane
