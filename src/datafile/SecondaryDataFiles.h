#pragma once
// Secondary data files (.ndf): found beside the primary file, measured, and their system-table and
// data pages appended to the data file's page maps, so that later readers see one index over all files.
#include <string>
#include <vector>

#include "datafile/DataFileEntry.h"
#include "datafile/MdfFile.h"
#include "platform/BinaryFile.h"

namespace kestrane {

// The folder part of a path, up to and including its last separator ("/" or "\"); "" when none.
std::wstring DataFileFolder(const std::wstring& path);
// The file name part of a path: what follows its folder part.
std::wstring DataFileName(const std::wstring& path);

// Where a file of the stored file list is looked for: the stored physical name (a Windows path)
// moved into `folder`, its extension replaced by ".ndf"; a name without a stem is used as it stands.
std::wstring RelocatedDataFilePath(const std::wstring& storedPath, const std::wstring& folder);

// Finds and indexes the secondary files of the primary file `primaryPath`: by the catalogue's file
// list when it has entries (ScanFilePages), else by searching the folder for "*.ndf".
void LocateDataFiles(CMdfFile& dataFile, std::vector<DataFileEntry>& fileList, const std::wstring& primaryPath);

// Indexes every "*.ndf" file (any case) of the primary file's folder; files whose data pages name a
// file id above 1 are added to `fileList` and to the data file's secondary-file map.
void ScanFolderForNdf(CMdfFile& dataFile, std::vector<DataFileEntry>& fileList, const std::wstring& primaryPath);

// Measures and indexes every listed file with a file id above 1 that opens.
void ScanFilePages(CMdfFile& dataFile, std::vector<DataFileEntry>& fileList);

// True for a file-list entry that names a log file (status bit 0x40), which is never read as data.
bool IsLogFileEntry(const DataFileEntry& entry);

// The data files of the file list beyond the primary (logs left out) that the data file did not open:
// their pages are not in the index, so nothing stored on them can be read.
std::vector<DataFileEntry> MissingSecondaryFiles(const CMdfFile& dataFile, const std::vector<DataFileEntry>& fileList);

// The two-pass alignment check of one secondary file; may set the entry's header offset to 0.
void CheckFileAlignment(const BinaryFile& file, DataFileEntry& entry, RunState& state, ProgressSink& progress);

}  // namespace kestrane
