// The corpus helpers on a folder of the form the corpus tests take: a set whose primary data file has
// secondary files beside it. Every listed file must be checked: the .ndf files through the open of
// their primary, never alone.
#include <gtest/gtest.h>
#include <gtest/gtest-spi.h>

#include <cstdlib>
#include <fstream>
#include <optional>

#include "datafile/CorpusFixture.h"
#include "datafile/SecondaryFileFixture.h"

namespace kestrane {
namespace {

// KESTRANE_CORPUS pointed at a folder for the test's while.
class CorpusAt {
public:
    explicit CorpusAt(const std::filesystem::path& root) {
        if (const char* old = std::getenv("KESTRANE_CORPUS")) saved_ = old;
        ::setenv("KESTRANE_CORPUS", root.c_str(), 1);
    }
    ~CorpusAt() {
        if (saved_) ::setenv("KESTRANE_CORPUS", saved_->c_str(), 1);
        else ::unsetenv("KESTRANE_CORPUS");
    }

private:
    std::optional<std::string> saved_;
};

TEST(CorpusFolder, SecondaryFilesCountAsCheckedWhenReadWithTheirPrimary) {
    test::TempFolder root;
    std::filesystem::create_directories(root.path("shop-2019-ndf"));
    const std::string set = "shop-2019-ndf/";
    root.Write(set + "Shop.mdf", test::PrimaryListingFiles({{0x2, 1, L"Shop", L"D:\\db\\Shop.mdf"},
                                                            {0x42, 2, L"Shop_log", L"D:\\db\\Shop_log.ldf"},
                                                            {0x2, 3, L"Shop_2", L"D:\\db\\Shop_2.ndf"},
                                                            {0x2, 4, L"Shop_3", L"E:\\more\\Shop_3.ndf"}}));
    root.Write(set + "Shop_2.ndf", test::SecondaryFileOf(3));
    root.Write(set + "Shop_3.NDF", test::SecondaryFileOf(4));
    std::ofstream(root.path("SOURCES.md")) << "# Test corpus\n\n## Files (size, sha256)\n\n"
                                              "| set/file | bytes | bytes mod 8192 | sha256 |\n|---|---|---|---|\n"
                                              "| shop-2019-ndf/Shop.mdf | 90112 | 0 | `00` |\n"
                                              "| shop-2019-ndf/Shop_2.ndf | 16384 | 0 | `00` |\n"
                                              "| shop-2019-ndf/Shop_3.NDF | 16384 | 0 | `00` |\n";
    CorpusAt corpus(root.path(""));

    const std::vector<test::CorpusSet> sets = test::CorpusSets();
    ASSERT_EQ(sets.size(), 1u);
    ASSERT_EQ(sets[0].dataFiles.size(), 1u) << "a secondary file is not a data file to open alone";
    EXPECT_EQ(sets[0].dataFiles[0].filename(), "Shop.mdf");
    EXPECT_EQ(sets[0].secondaryFiles.size(), 2u);
    const std::set<std::string> listed = test::CorpusListedFileKeys(test::ListedKind::DataFile);
    EXPECT_EQ(listed.size(), 3u);

    test::OpenedDataFile opened(sets[0].dataFiles[0]);
    ASSERT_NE(opened.catalog, nullptr);
    std::set<std::string> checked = test::SecondaryFileKeys("shop-2019-ndf", *opened.holder.DataFile());
    EXPECT_EQ(checked, (std::set<std::string>{"shop-2019-ndf/Shop_2.ndf", "shop-2019-ndf/Shop_3.NDF"}));
    checked.insert("shop-2019-ndf/Shop.mdf");
    test::ExpectEveryListedChecked(listed, checked);

    // A secondary file that its primary did not read is not checked.
    std::filesystem::remove(root.path(set + "Shop_3.NDF"));
    test::OpenedDataFile without(sets[0].dataFiles[0]);
    std::set<std::string> partial = test::SecondaryFileKeys("shop-2019-ndf", *without.holder.DataFile());
    partial.insert("shop-2019-ndf/Shop.mdf");
    EXPECT_NONFATAL_FAILURE(test::ExpectEveryListedChecked(listed, partial), "Shop_3.NDF is listed but was not checked");
}

}  // namespace
}  // namespace kestrane
