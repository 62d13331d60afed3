#pragma once
// A data file opened the way the application opens it, with its catalogue (null when either fails),
// as the corpus and catalogue tests open them.
#include <cwctype>
#include <filesystem>
#include <set>
#include <string>

#include "datafile/DbFileHolder.h"
#include "datafile/MetadataCatalog.h"
#include "platform/ProgressSink.h"
#include "platform/RunState.h"
#include "platform/TextCodec.h"
#include "support/Corpus.h"

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

// "set/file" of each secondary file that the open of a primary file read with it: a listed .ndf counts
// as checked when its primary's catalogue and pages were read with it.
inline std::set<std::string> SecondaryFileKeys(const std::string& set, const CMdfFile& primary) {
    std::set<std::string> keys;
    for (const auto& [id, entry] : primary.SecondaryFiles())
        keys.insert(set + "/" + std::filesystem::path(WideToUtf8(entry.path)).filename().string());
    return keys;
}

// The keys of `files` and of the secondary files their opens read with them.
inline std::set<std::string> KeysReadWith(const std::vector<ListedDataFile>& files);

inline std::wstring Lower(std::wstring s) {
    for (wchar_t& c : s) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return s;
}

inline std::set<std::string> KeysReadWith(const std::vector<ListedDataFile>& files) {
    std::set<std::string> keys;
    for (const ListedDataFile& file : files) {
        keys.insert(file.key);
        OpenedDataFile opened(file.path);
        if (const CMdfFile* primary = opened.holder.DataFile())
            for (const std::string& key : SecondaryFileKeys(file.key.substr(0, file.key.find('/')), *primary)) keys.insert(key);
    }
    return keys;
}

}  // namespace kestrane::test
