// Indexing speed against plain reading: builds a large synthetic data file, reads it once to bring it
// into the page cache, then times a plain sequential read and the page index in the same run.
//   IndexBench [size in MiB, default 1024] [folder, default the system temporary folder]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "datafile/MdfFile.h"
#include "datafile/PageHeader.h"
#include "platform/BinaryFile.h"
#include "platform/ProgressSink.h"
#include "platform/RunState.h"
#include "platform/TextCodec.h"

using namespace kestrane;

namespace {

constexpr size_t kBlock = 8u << 20;

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

bool BuildFile(const std::string& path, uint64_t pages) {
    BinaryFile out;
    if (!out.open(path, BinaryFile::Mode::CreateWrite)) return false;
    std::vector<uint8_t> block(kBlock);
    const uint64_t perBlock = kBlock / kPageSize;
    for (uint64_t first = 0; first < pages; first += perBlock) {
        const uint64_t n = std::min(perBlock, pages - first);
        for (uint64_t i = 0; i < n; ++i) FillPage(block.data() + i * kPageSize, static_cast<uint32_t>(first + i));
        if (!out.write(block.data(), n * kPageSize)) return false;
    }
    return out.flush();
}

uint64_t PlainRead(const std::string& path) {
    BinaryFile in;
    if (!in.open(path, BinaryFile::Mode::Read)) return 0;
    std::vector<uint8_t> block(kBlock);
    uint64_t sum = 0;
    for (uint64_t offset = 0;; offset += kBlock) {
        const size_t got = in.readAt(offset, block.data(), kBlock);
        if (got == 0) break;
        for (size_t p = 0; p < got; p += kPageSize) sum += block[p + kHdrObjectId];
    }
    return sum;
}

double Seconds(const std::chrono::steady_clock::time_point& since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
    const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const std::filesystem::path folder = argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::temp_directory_path();
    const std::string path = (folder / "kestrane-index-bench.mdf").string();
    const uint64_t pages = (mib << 20) / kPageSize;

    std::printf("building %llu MiB (%llu pages) at %s\n", static_cast<unsigned long long>(mib),
                static_cast<unsigned long long>(pages), path.c_str());
    if (!BuildFile(path, pages)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }
    volatile uint64_t sink = PlainRead(path);  // bring the file into the page cache

    double readBest = 1e9, indexBest = 1e9;
    size_t indexBytes = 0;
    for (int round = 0; round < 3; ++round) {
        auto t = std::chrono::steady_clock::now();
        sink = sink + PlainRead(path);
        readBest = std::min(readBest, Seconds(t));

        RunState state;
        t = std::chrono::steady_clock::now();
        CMdfFile file(Utf8ToWide(path), 0, state, NullProgressSink::instance());
        indexBest = std::min(indexBest, Seconds(t));
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
