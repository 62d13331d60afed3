#pragma once
// Synthetic data files for the page-index tests: pages whose headers carry the fields that indexing
// reads, written to a fresh temporary folder that is removed afterwards.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "datafile/PageHeader.h"

namespace kestrane::test {

struct FixturePage {
    int32_t objectId = 0;
    uint8_t pageType = 0;
    uint16_t indexId = 0;
    uint16_t fileId = 1;
    int64_t ownPageId = -1;  // -1: the page's index (lined up)
};

inline std::vector<uint8_t> BuildPageImage(const FixturePage& p, uint32_t index) {
    // A body of filler, so that a page read at a wrong offset does not look like a page of zeros.
    std::vector<uint8_t> page(kPageSize, 0x5A);
    std::memset(page.data(), 0, kPageHeaderSize);
    page[0] = 1;
    page[kHdrPageType] = p.pageType;
    std::memcpy(&page[kHdrIndexId], &p.indexId, 2);
    std::memcpy(&page[kHdrObjectId], &p.objectId, 4);
    const uint32_t own = p.ownPageId < 0 ? index : static_cast<uint32_t>(p.ownPageId);
    std::memcpy(&page[kHdrThisPageId], &own, 4);
    std::memcpy(&page[kHdrThisFileId], &p.fileId, 2);
    return page;
}

inline PageRef Ref(uint16_t file, uint32_t page, uint32_t type) { return PageRef{file, page, type}; }

// Leading block of `leading` bytes (0xEE) followed by the pages, optionally a partial tail.
inline std::vector<uint8_t> BuildDataFile(const std::vector<FixturePage>& pages, size_t leading = 0, size_t tail = 0) {
    std::vector<uint8_t> file(leading, 0xEE);
    for (size_t i = 0; i < pages.size(); ++i) {
        auto page = BuildPageImage(pages[i], static_cast<uint32_t>(i));
        file.insert(file.end(), page.begin(), page.end());
    }
    file.insert(file.end(), tail, 0xDD);
    return file;
}

class TempFolder {
public:
    TempFolder() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = std::filesystem::temp_directory_path() /
                ("kestrane-" + std::string(info ? info->name() : "test") + "-" + std::to_string(::getpid()));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::filesystem::path path(const std::string& name) const { return path_ / name; }
    std::wstring wpath(const std::string& name) const { return path(name).wstring(); }
    std::wstring folder() const { return path_.wstring() + L"/"; }
    std::wstring Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
        std::ofstream out(path(name), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return wpath(name);
    }

private:
    std::filesystem::path path_;
};

}  // namespace kestrane::test
