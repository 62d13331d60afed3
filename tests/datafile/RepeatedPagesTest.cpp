// A real data file whose pages were copied over and over: the catalogue costs what one copy's
// catalogue costs, and Stop ends "Processing Metadata Information" at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "datafile/DataFileFixture.h"
#include "datafile/DbFileHolder.h"
#include "datafile/MetadataCatalog.h"
#include "platform/BinaryFile.h"
#include "support/Corpus.h"
#include "support/RecordingSinks.h"

namespace kestrane {
namespace {

struct CatalogCounts {
    size_t objects, columns, units, rowsets, indexes, references;
    bool operator==(const CatalogCounts&) const = default;
};

CatalogCounts CountsOf(const CMetadataCatalog& c) {
    return {c.objects.size(), c.columns.size(), c.allocationUnits.size(), c.rowsets.size(), c.indexes.size(),
            c.objectReferences.size()};
}

// The smallest data file of the corpus.
std::filesystem::path SmallestDataFile() {
    std::filesystem::path best;
    for (const auto& set : test::CorpusSets())
        for (const auto& path : set.dataFiles)
            if (best.empty() || std::filesystem::file_size(path) < std::filesystem::file_size(best)) best = path;
    return best;
}

TEST(RepeatedPages, CatalogueOfACopiedOverFileCostsOneCopy) {
    KESTRANE_REQUIRE_CORPUS();
    const std::filesystem::path source = SmallestDataFile();
    ASSERT_FALSE(source.empty());
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ReadWholeFile(source.string(), bytes));
    test::TempFolder dir;
    constexpr int kCopies = 24;  // enough for the old growth (24 catalogues) to show
    {
        std::ofstream out(dir.path("repeated.mdf"), std::ios::binary);
        for (int i = 0; i < kCopies; ++i)
            out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    RunState once{"/nonexistent/collation.txt"}, repeated{"/nonexistent/collation.txt"};
    NullProgressSink quiet;
    CDbFileHolder one(once, quiet), many(repeated, quiet);
    ASSERT_TRUE(one.Open(source.wstring()));
    ASSERT_TRUE(many.Open(dir.wpath("repeated.mdf")));
    ASSERT_NE(one.Catalog(), nullptr);
    ASSERT_NE(many.Catalog(), nullptr);
    EXPECT_GT(one.Catalog()->objects.size(), 0u);
    EXPECT_TRUE(CountsOf(*one.Catalog()) == CountsOf(*many.Catalog()));
    EXPECT_EQ(many.DataFile()->PageCount(), kCopies * one.DataFile()->PageCount());

    // Stop while the catalogue loads: the load ends, partial, and the request is still there.
    struct StopAtMetadata : ProgressSink {
        RunState* state;
        explicit StopAtMetadata(RunState* s) : state(s) {}
        void SetPosition(int) override {}
        void SetRange(int) override {}
        void StatusText(const std::string& t) override {
            if (t == kTextProcessingMetadata) state->stopFlag = 1;
        }
        void FatalText(const std::string&) override { ADD_FAILURE() << "a stop is no fatal error"; }
        void ErrorDescription(const std::string&) override {}
    };
    RunState stopped{"/nonexistent/collation.txt"};
    StopAtMetadata stopper(&stopped);
    CDbFileHolder held(stopped, stopper);
    held.Open(dir.wpath("repeated.mdf"));
    ASSERT_NE(held.Catalog(), nullptr);
    EXPECT_TRUE(held.Catalog()->objects.empty());
    EXPECT_EQ(stopped.stopFlag.load(), 1);
}

}  // namespace
}  // namespace kestrane
