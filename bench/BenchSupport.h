#pragma once
// What the benchmarks share: the synthetic file's size and place from the command line
// ([size in MiB, default 1024] [folder, default the system temporary folder]), writing and reading it
// in large blocks, and timing.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <time.h>

#include "datafile/PageHeader.h"
#include "platform/BinaryFile.h"

namespace kestrane::bench {

constexpr size_t kBlock = 8u << 20;

struct BenchFile {
    uint64_t mib = 1024;
    uint64_t pages = 0;
    std::string path;
};

inline BenchFile BenchFileFromArgs(int argc, char** argv, const char* fileName) {
    BenchFile f;
    f.mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const std::filesystem::path folder = argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::temp_directory_path();
    f.path = (folder / fileName).string();
    f.pages = (f.mib << 20) / kPageSize;
    std::printf("building %llu MiB (%llu pages) at %s\n", static_cast<unsigned long long>(f.mib),
                static_cast<unsigned long long>(f.pages), f.path.c_str());
    return f;
}

// Writes `pages` pages; `fill` (page bytes, page index) makes each one.
template <typename Fill>
bool WritePages(const std::string& path, uint64_t pages, Fill fill) {
    BinaryFile out;
    if (!out.open(path, BinaryFile::Mode::CreateWrite)) return false;
    std::vector<uint8_t> block(kBlock);
    const uint64_t perBlock = kBlock / kPageSize;
    for (uint64_t first = 0; first < pages; first += perBlock) {
        const uint64_t n = std::min(perBlock, pages - first);
        for (uint64_t i = 0; i < n; ++i) fill(block.data() + i * kPageSize, static_cast<uint32_t>(first + i));
        if (!out.write(block.data(), n * kPageSize)) return false;
    }
    return out.flush();
}

// Reads the file in large blocks; `perPage` sees every whole page.
template <typename PerPage>
bool ReadPages(const std::string& path, PerPage perPage) {
    BinaryFile in;
    if (!in.open(path, BinaryFile::Mode::Read)) return false;
    std::vector<uint8_t> block(kBlock);
    for (uint64_t offset = 0;; offset += kBlock) {
        const size_t got = in.readAt(offset, block.data(), kBlock);
        if (got == 0) break;
        for (size_t p = 0; p + kPageSize <= got; p += kPageSize) perPage(block.data() + p);
    }
    return true;
}

inline double SecondsSince(const std::chrono::steady_clock::time_point& since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Processor time of the calling thread (user and system), which other work on a busy machine does not
// inflate the way it inflates elapsed time.
inline double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

}  // namespace kestrane::bench
