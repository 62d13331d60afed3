#include "datafile/SecondaryDataFiles.h"

#include <algorithm>
#include <cwctype>
#include <filesystem>

#include "datafile/PageScan.h"
#include "platform/TextCodec.h"

namespace kestrane {

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kFileStatusLog = 0x40;

bool IsSecondarySystemObjectId(int32_t id) {
    switch (id) {
        case 3: case 4: case 5: case 7: case 8: case 13: case 34: case 41: case 50: case 54: case 55: case 60:
        case 74:
            return true;
        default:
            return false;
    }
}

fs::path FolderForListing(const std::wstring& folder) {
    return folder.empty() ? fs::path(".") : fs::path(WideToUtf8(folder));
}

// The file of `folder` named `name` ignoring case (file names on Windows are
// case-insensitive); the name as given when there is none or several candidates are equal.
std::wstring ResolveCaseInsensitive(const std::wstring& folder, const std::wstring& name) {
    std::error_code ec;
    const fs::path exact = fs::path(WideToUtf8(folder + name));
    if (fs::exists(exact, ec)) return folder + name;
    const std::wstring wanted = LowerCase(name);
    for (fs::directory_iterator it(FolderForListing(folder), ec), end; !ec && it != end; it.increment(ec)) {
        const std::wstring candidate = Utf8ToWide(it->path().filename().string());
        if (LowerCase(candidate) == wanted) return folder + candidate;
    }
    return folder + name;
}

// Length, leading block and page count of an opened secondary file.
void Measure(const BinaryFile& file, DataFileEntry& entry) {
    entry.length = static_cast<int64_t>(file.size());
    entry.headerOffset = static_cast<int32_t>(entry.length % static_cast<int64_t>(kPageSize));
    entry.pageCount = (entry.length - entry.headerOffset) / static_cast<int64_t>(kPageSize);
}

// The page loop shared by both paths. `forcedFileId` > 0 replaces the header's file id in every
// PageRef; otherwise the first data page naming a file id above 1 gives the entry its id.
void IndexSecondaryPages(CMdfFile& dataFile, const BinaryFile& file, DataFileEntry& entry, uint16_t forcedFileId) {
    PageMapAppender system(dataFile.SystemPages()), data(dataFile.DataPages());
    bool idTaken = false;
    ScanPageHeaders(file, static_cast<uint64_t>(entry.headerOffset), static_cast<uint64_t>(entry.pageCount),
                    dataFile.State(), dataFile.Progress(), nullptr, [&](uint64_t i, ByteView page) {
                        const PageIndexFields f = ReadIndexFields(page);
                        const uint16_t fileId = forcedFileId > 0 ? forcedFileId : f.fileId;
                        const PageRef ref{fileId, static_cast<uint32_t>(i), f.pageType};
                        if (IsSecondarySystemObjectId(f.objectId) && IsSystemTableIndexId(f.indexId))
                            system.Append(static_cast<uint32_t>(f.objectId), ref);
                        if (f.objectId > 0 && f.pageType == 1) {
                            data.Append(static_cast<uint32_t>(f.objectId), ref);
                            if (forcedFileId == 0 && !idTaken && static_cast<int16_t>(f.fileId) > 1) {
                                entry.fileId = f.fileId;
                                idTaken = true;
                            }
                        }
                    });
}

}  // namespace

std::wstring DataFileFolder(const std::wstring& path) {
    const size_t cut = path.find_last_of(L"/\\");
    return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut + 1);
}

std::wstring DataFileName(const std::wstring& path) { return path.substr(DataFileFolder(path).size()); }

std::wstring RelocatedDataFilePath(const std::wstring& storedPath, const std::wstring& folder) {
    const size_t cut = storedPath.find_last_of(L"/\\");
    const std::wstring name = cut == std::wstring::npos ? storedPath : storedPath.substr(cut + 1);
    const size_t dot = name.rfind(L'.');
    const std::wstring stem = dot == std::wstring::npos ? std::wstring() : name.substr(0, dot);
    return stem.empty() ? folder + name : folder + stem + L".ndf";
}

bool IsLogFileEntry(const DataFileEntry& entry) { return (entry.firstWord & kFileStatusLog) != 0; }

std::vector<DataFileEntry> MissingSecondaryFiles(const CMdfFile& dataFile, const std::vector<DataFileEntry>& fileList) {
    std::vector<DataFileEntry> missing;
    for (const DataFileEntry& entry : fileList)
        if (entry.fileId > 1 && !IsLogFileEntry(entry) && !dataFile.SecondaryFiles().count(static_cast<int>(entry.fileId)))
            missing.push_back(entry);
    return missing;
}

void CheckFileAlignment(const BinaryFile& file, DataFileEntry& entry, RunState& state, ProgressSink& progress) {
    uint64_t offset = static_cast<uint64_t>(std::max(entry.headerOffset, 0));
    CheckPageAlignment(file, static_cast<uint64_t>(std::max<int64_t>(entry.pageCount, 0)), offset, state, progress);
    entry.headerOffset = static_cast<int32_t>(offset);
}

void ScanFolderForNdf(CMdfFile& dataFile, std::vector<DataFileEntry>& fileList, const std::wstring& primaryPath) {
    const std::wstring folder = DataFileFolder(primaryPath);
    std::vector<std::wstring> names;
    std::error_code ec;
    for (fs::directory_iterator it(FolderForListing(folder), ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeEc;
        if (it->is_directory(typeEc)) continue;
        const std::wstring name = Utf8ToWide(it->path().filename().string());
        if (name.size() > 4 && LowerCase(name.substr(name.size() - 4)) == L".ndf") names.push_back(name);
    }
    std::sort(names.begin(), names.end());

    for (const std::wstring& name : names) {
        DataFileEntry entry;
        entry.path = folder + name;
        BinaryFile file;
        if (!file.open(WideToUtf8(entry.path), BinaryFile::Mode::Read)) continue;
        Measure(file, entry);
        CheckFileAlignment(file, entry, dataFile.State(), dataFile.Progress());
        IndexSecondaryPages(dataFile, file, entry, 0);
        if (entry.fileId > 1) {
            fileList.push_back(entry);
            dataFile.SecondaryFiles()[static_cast<int>(entry.fileId)] = entry;
        }
    }
}

void ScanFilePages(CMdfFile& dataFile, std::vector<DataFileEntry>& fileList) {
    for (DataFileEntry& entry : fileList) {
        if (entry.fileId <= 1 || entry.fileId > 0xFFFF) continue;
        BinaryFile file;
        if (!file.open(WideToUtf8(entry.path), BinaryFile::Mode::Read)) continue;
        Measure(file, entry);
        dataFile.SecondaryFiles()[static_cast<int>(entry.fileId)] = entry;
        IndexSecondaryPages(dataFile, file, entry, static_cast<uint16_t>(entry.fileId));
    }
}

void LocateDataFiles(CMdfFile& dataFile, std::vector<DataFileEntry>& fileList, const std::wstring& primaryPath) {
    const std::wstring folder = DataFileFolder(primaryPath);
    if (fileList.empty()) {
        ScanFolderForNdf(dataFile, fileList, primaryPath);
        return;
    }
    for (DataFileEntry& entry : fileList) {
        if (entry.fileId <= 1) continue;
        const std::wstring relocated = RelocatedDataFilePath(entry.path, folder);
        entry.path = ResolveCaseInsensitive(folder, relocated.substr(folder.size()));
    }
    ScanFilePages(dataFile, fileList);
}

}  // namespace kestrane
