// Indexing speed against plain reading: builds a large synthetic data file, reads it once to bring it
// into the page cache, then times a plain sequential read and the page index in the same run.
//   IndexBench [size in MiB] [folder] (see BenchSupport.h)
#include <cstring>
#include <string>

#include "BenchSupport.h"
#include "datafile/MdfFile.h"
#include "datafile/PageHeader.h"
#include "platform/BinaryFile.h"
#include "platform/ProgressSink.h"
#include "platform/RunState.h"
#include "platform/TextCodec.h"

using namespace kestrane;

namespace {

// Pages of a plausible database: system tables at the front, then runs of user data pages with an
// IAM page and an index page now and then.
void FillPage(uint8_t* page, uint32_t index) {
    std::memset(page, 0x5A, kPageSize);
    std::memset(page, 0, kPageHeaderSize);
    int32_t object = 0;
    uint8_t type = 1;
    if (index < 16) {
        static const int32_t ids[] = {0, 7, 34, 5, 41, 3, 50, 54, 55, 74, 8, 60, 13, 4, 99, 2187};
        object = ids[index];
    } else {
        object = 1000 + static_cast<int32_t>((index / 64) % 4000);
        if (index % 64 == 0) type = 10;
        else if (index % 16 == 0) type = 2;
    }
    page[0] = 1;
    page[kHdrPageType] = type;
    const uint16_t fileId = 1;
    std::memcpy(page + kHdrObjectId, &object, 4);
    std::memcpy(page + kHdrThisPageId, &index, 4);
    std::memcpy(page + kHdrThisFileId, &fileId, 2);
}

uint64_t PlainRead(const std::string& path) {
    uint64_t sum = 0;
    bench::ReadPages(path, [&](const uint8_t* page) { sum += page[kHdrObjectId]; });
    return sum;
}

}  // namespace

int main(int argc, char** argv) {
    const bench::BenchFile synthetic = bench::BenchFileFromArgs(argc, argv, "kestrane-index-bench.mdf");
    const std::string& path = synthetic.path;
    const uint64_t pages = synthetic.pages;
    if (!bench::WritePages(path, pages, FillPage)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }
    volatile uint64_t sink = PlainRead(path);  // bring the file into the page cache

    double readBest = 1e9, indexBest = 1e9;
    size_t indexBytes = 0;
    for (int round = 0; round < 3; ++round) {
        auto t = std::chrono::steady_clock::now();
        sink = sink + PlainRead(path);
        readBest = std::min(readBest, bench::SecondsSince(t));

        RunState state;
        t = std::chrono::steady_clock::now();
        CMdfFile file(Utf8ToWide(path), 0, state, NullProgressSink::instance());
        indexBest = std::min(indexBest, bench::SecondsSince(t));
        if (!file.IsOpen()) {
            std::fprintf(stderr, "the bench file did not open\n");
            return 1;
        }
        indexBytes = 0;
        for (const PageMap* map : {&file.SystemPages(), &file.DataPages(), &file.IamPages()})
            for (const auto& [id, refs] : *map) indexBytes += refs.capacity() * sizeof(PageRef) + sizeof(refs) + 48;
    }
    std::filesystem::remove(path);

    const double gib = static_cast<double>(pages * kPageSize) / (1u << 30);
    std::printf("plain read: %.3f s (%.2f GiB/s)\n", readBest, gib / readBest);
    std::printf("indexing:   %.3f s (%.2f GiB/s)\n", indexBest, gib / indexBest);
    std::printf("page index: %.2f bytes a page\n", static_cast<double>(indexBytes) / static_cast<double>(pages));
    std::printf("index/read ratio: %.2f\n", indexBest / readBest);
    return 0;
}
