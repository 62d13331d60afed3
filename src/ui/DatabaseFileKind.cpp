#include "ui/DatabaseFileKind.h"

#include "datafile/PageHeader.h"
#include "logreader/VlfWalker.h"
#include "platform/BinaryFile.h"

namespace kestrane {

namespace {
// Page types of a data file's first pages, and where the boot page is.
enum PageType : uint8_t { kPfsPage = 11, kBootPage = 13, kFileHeaderPage = 15 };
constexpr uint64_t kBootPageIndex = 9;

// Whether the page at `offset` has the header version 1 and the `expected` type; false past the end.
bool PageTypeAt(const BinaryFile& file, uint64_t offset, PageType expected) {
    uint8_t head[2] = {};
    return file.readAt(offset, head, sizeof head) == sizeof head && head[0] == 1 && head[kHdrPageType] == expected;
}
}  // namespace

DatabaseFileKind RecogniseDatabaseFile(const std::string& path) {
    BinaryFile file;
    if (!file.open(path)) return DatabaseFileKind::Unknown;
    uint8_t header[logfmt::kVlfHeaderSize] = {};
    const size_t got = file.readAt(logfmt::kVlfProbeStep, header, sizeof header);
    VlfEntry vlf;
    if (got > 0 && VlfEntry::Probe(ByteView(header, got), vlf)) return DatabaseFileKind::LogFile;
    const uint64_t lead = file.size() % kPageSize;
    if (PageTypeAt(file, lead, kFileHeaderPage) &&
        (PageTypeAt(file, lead + kPageSize, kPfsPage) || PageTypeAt(file, lead + kBootPageIndex * kPageSize, kBootPage)))
        return DatabaseFileKind::DataFile;
    return DatabaseFileKind::Unknown;
}

}  // namespace kestrane
