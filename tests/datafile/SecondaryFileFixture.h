#pragma once
// A primary data file whose catalogue holds only the file list (object 8), and secondary files whose
// pages carry their file id: a database spread over files, built in bytes.
#include <string>
#include <vector>

#include "datafile/DataFileFixture.h"
#include "datafile/DataFileEntry.h"
#include "datafile/RecordFixtures.h"
#include "platform/TextCodec.h"

namespace kestrane::test {

// One row of the file list: status (0x40 for the log), file id, logical name and stored path.
inline Bytes FileListRow(const DataFileEntry& file) {
    Bytes fixed(782, 0);
    PutU32(fixed, 0, file.firstWord);
    PutU16(fixed, 4, static_cast<uint16_t>(file.fileId));
    const Bytes name = WideToUtf16Le(file.logicalName), path = WideToUtf16Le(file.path);
    std::copy(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(name.size(), 256)), fixed.begin() + 6);
    std::copy(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(path.size(), 520)), fixed.begin() + 262);
    return FixedVarRow(fixed, 4, {}, 0x10);
}

// Pages 0..10: header page, filler, a boot page of zeros, and the file list on page 10.
inline Bytes PrimaryListingFiles(const std::vector<DataFileEntry>& files) {
    Bytes out;
    for (uint32_t i = 0; i < 11; ++i) {
        PageBuilder page(i == 0 ? 15 : i == 10 ? 1 : 0, i, i == 10 ? 8 : 0);
        if (i == 9) page.image.assign(kPageSize, 0);
        if (i == 10)
            for (const DataFileEntry& file : files) page.AddRow(FileListRow(file));
        out.insert(out.end(), page.image.begin(), page.image.end());
    }
    return out;
}

// A secondary file of file id `fileId`: a header page and one data page of object 500.
inline Bytes SecondaryFileOf(uint16_t fileId) { return BuildDataFile({{0, 15, 0, fileId}, {500, 1, 0, fileId}}); }

}  // namespace kestrane::test
