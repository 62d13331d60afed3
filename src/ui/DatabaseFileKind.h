#pragma once
// Which kind of database file a path holds, told from the first pages alone, so that a log chosen as
// the data file (or the other way round) is named before the analysis starts.
#include <string>

namespace kestrane {

enum class DatabaseFileKind { Unknown, DataFile, LogFile };

// A log: a live VLF header where the first VLF begins (the page after the file header page). A data
// file: a file header page first, then a PFS page or the boot page where they belong, after any
// leading block. Anything else, or a file that cannot be read, is Unknown.
DatabaseFileKind RecogniseDatabaseFile(const std::string& path);

}  // namespace kestrane
