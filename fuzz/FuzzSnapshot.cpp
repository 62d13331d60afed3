// The snapshot loader on arbitrary files: counts that lie must never read past the file or loop on.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "datafile/MdfFile.h"
#include "datafile/Snapshot.h"
#include "platform/BinaryFile.h"
#include "platform/TextCodec.h"

using namespace kestrane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Removed when the run ends.
    static const struct TempPath {
        std::string path = "/tmp/kestrane-fuzz-snapshot-" + std::to_string(::getpid());
        ~TempPath() { ::unlink(path.c_str()); }
    } temp;
    const std::string& path = temp.path;
    static RunState state;
    static CMdfFile file(L"/nonexistent/kestrane.mdf", 0, state, NullProgressSink::instance());
    {
        BinaryFile out;
        if (!out.open(path, BinaryFile::Mode::CreateWrite) || !out.write(data, size)) return 0;
    }
    file.SystemPages().clear();
    file.DataPages().clear();
    file.IamPages().clear();
    file.LoadSnapshot(Utf8ToWide(path));
    size_t refs = 0;
    for (const PageMap* map : {&file.SystemPages(), &file.DataPages(), &file.IamPages()})
        for (const auto& [id, list] : *map) refs += list.size();
    if (refs * kPageRefDiskSize > size) std::abort();
    ReadSnapshotHeader(Utf8ToWide(path));
    return 0;
}
