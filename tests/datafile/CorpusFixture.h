#pragma once
// A data file opened the way the application opens it, with its catalogue (null when either fails),
// as the corpus and catalogue tests open them.
#include <cwctype>
#include <filesystem>
#include <string>

#include "datafile/DbFileHolder.h"
#include "datafile/MetadataCatalog.h"
#include "platform/ProgressSink.h"
#include "platform/RunState.h"
#include "platform/TextCodec.h"

namespace kestrane::test {

struct OpenedDataFile {
    explicit OpenedDataFile(const std::filesystem::path& path) {
        if (holder.Open(Utf8ToWide(path.string()))) catalog = holder.Catalog();
    }
    RunState state{""};
    NullProgressSink progress;
    CDbFileHolder holder{state, progress};
    CMetadataCatalog* catalog = nullptr;
};

inline std::wstring Lower(std::wstring s) {
    for (wchar_t& c : s) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return s;
}

}  // namespace kestrane::test
