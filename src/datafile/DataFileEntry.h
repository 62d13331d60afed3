#pragma once
// One file of the database, as the catalogue's file list holds it and the data file's secondary-file
// map keeps it for reading pages.
#include <cstdint>
#include <string>

namespace kestrane {

struct DataFileEntry {
    uint32_t firstWord = 0;
    uint32_t fileId = 0;         // 1 = primary
    std::wstring logicalName;
    std::wstring path;           // physical path; rewritten to the primary file's folder when located
    int64_t length = 0;          // bytes
    int64_t pageCount = 0;       // (length - headerOffset) / 8192
    int32_t headerOffset = 0;    // leading block before page 0
};

}  // namespace kestrane
