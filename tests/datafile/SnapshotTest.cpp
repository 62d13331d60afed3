#include <gtest/gtest.h>

#include <cstring>

#include "datafile/DataFileFixture.h"
#include "datafile/MdfFile.h"
#include "datafile/Snapshot.h"
#include "platform/BinaryFile.h"
#include "platform/TextCodec.h"
#include "support/RecordingSinks.h"

namespace kestrane {
namespace {

using test::BuildDataFile;
using test::FixturePage;
using test::RecordingProgressSink;
using test::TempFolder;

std::vector<uint8_t> ReadAll(const std::wstring& path) {
    std::vector<uint8_t> bytes;
    ReadWholeFile(WideToUtf8(path), bytes);
    return bytes;
}

struct Snapshot : ::testing::Test {
    TempFolder dir;
    RunState state;
    RecordingProgressSink sink;
};

TEST_F(Snapshot, HeaderLayoutAndEmptyMaps) {
    // A one-page file that fails to index leaves three empty maps to save.
    CMdfFile file(dir.Write("e.mdf", BuildDataFile({FixturePage{}})), 0, state, sink);
    state.legacyCatalog = 1;
    state.deletedRecordScan = 1;
    const std::wstring snap = dir.wpath("snapshot.txt");
    ASSERT_TRUE(file.SaveSnapshot(L"C:\\a\\b.mdf", 1, snap));
    std::vector<uint8_t> bytes = ReadAll(snap);
    ASSERT_EQ(bytes.size(), 4u + 20 + 1 + 1 + 3 + 3 * 8);
    EXPECT_EQ(ByteView(bytes).u32(0), 20u);
    EXPECT_EQ(Utf16LeToWide(ByteView(bytes).sub(4, 20)), L"C:\\a\\b.mdf");
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 24, bytes.begin() + 29), (std::vector<uint8_t>{1, 1, 1, 0, 1}));
    for (size_t s = 0; s < 3; ++s) EXPECT_EQ(ByteView(bytes).u64(29 + 8 * s), 0u);

    state.collationAutoDetect = 0;
    state.manualCollationId = -7;
    ASSERT_TRUE(file.SaveSnapshot(L"C:\\a\\b.mdf", 0, snap));
    EXPECT_EQ(ReadAll(snap).size(), 4u + 20 + 1 + 1 + 8 + 3 + 3 * 8);
    auto header = ReadSnapshotHeader(snap);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->dataFilePath, L"C:\\a\\b.mdf");
    EXPECT_EQ(header->manualCollationId, -7);
    EXPECT_EQ(header->deletedRecordScan, 1);

    EXPECT_FALSE(file.SaveSnapshot(L"x", 0, dir.wpath("no/such/folder/snapshot.txt")));
    EXPECT_FALSE(ReadSnapshotHeader(dir.wpath("missing.txt")));
}

TEST_F(Snapshot, RoundTripRestoresMapsInSnapshotMode) {
    std::vector<FixturePage> pages = {{0, 13}, {7, 1}, {34, 1}, {500, 1}, {500, 10}, {7, 1}, {600, 1, 0, 2}};
    const std::wstring mdf = dir.Write("r.mdf", BuildDataFile(pages));
    CMdfFile original(mdf, 0, state, sink);
    ASSERT_TRUE(original.IsOpen());
    const std::wstring snap = dir.wpath("snapshot.txt");
    ASSERT_TRUE(original.SaveSnapshot(mdf, 0, snap));

    state.snapshotMode = 1;
    state.snapshotPath = snap;
    RecordingProgressSink loadSink;
    CMdfFile restored(mdf, 0, state, loadSink);
    ASSERT_TRUE(restored.IsOpen());
    EXPECT_EQ(restored.SystemPages(), original.SystemPages());
    EXPECT_EQ(restored.DataPages(), original.DataPages());
    EXPECT_EQ(restored.IamPages(), original.IamPages());
    auto status = loadSink.texts(kMsgStatusText);
    EXPECT_NE(std::find(status.begin(), status.end(), kTextLoadingSnapshot), status.end());
    EXPECT_EQ(status.back(), kTextLoadSnapshotFinished);

    // A snapshot without system-table pages, or none at all, fails the open without a message of its own.
    state.snapshotPath = dir.wpath("missing.txt");
    RecordingProgressSink failSink;
    CMdfFile failed(mdf, 0, state, failSink);
    EXPECT_FALSE(failed.IsOpen());
    EXPECT_EQ(failSink.texts(kMsgFatalText), std::vector<std::string>{kTextNotValidMdf});
}

TEST_F(Snapshot, LyingAndTruncatedFilesLoadWhatIsThere) {
    std::vector<FixturePage> pages = {{0, 13}, {7, 1}, {34, 1}, {500, 1}, {500, 10}};
    const std::wstring mdf = dir.Write("l.mdf", BuildDataFile(pages));
    CMdfFile file(mdf, 0, state, sink);
    ASSERT_TRUE(file.IsOpen());
    const std::wstring snap = dir.wpath("good.txt");
    ASSERT_TRUE(file.SaveSnapshot(mdf, 0, snap));
    const std::vector<uint8_t> good = ReadAll(snap);

    // Every truncation loads a prefix of the maps and never more pages than the file holds.
    for (size_t cut = 0; cut <= good.size(); ++cut) {
        const std::wstring path = dir.Write("cut.txt", std::vector<uint8_t>(good.begin(), good.begin() + cut));
        file.SystemPages().clear();
        file.DataPages().clear();
        file.IamPages().clear();
        EXPECT_TRUE(file.LoadSnapshot(path));
        size_t loaded = 0;
        for (auto* map : {&file.SystemPages(), &file.DataPages(), &file.IamPages()})
            for (const auto& [id, refs] : *map) loaded += refs.size();
        EXPECT_LE(loaded * kPageRefDiskSize, cut);
    }

    // Counts that claim far more than the file holds: the section count, an entry's n, the path length.
    const size_t sectionAt = 4 + ByteView(good).u32(0).value() + 5;
    std::vector<uint8_t> lying = good;
    const uint64_t huge = ~uint64_t{0};
    std::memcpy(&lying[sectionAt], &huge, 8);
    std::memcpy(&lying[sectionAt + 8 + 4], &huge, 4);
    file.SystemPages().clear();
    file.DataPages().clear();
    EXPECT_TRUE(file.LoadSnapshot(dir.Write("lie.txt", lying)));
    size_t refs = 0;
    for (const auto& [id, list] : file.SystemPages()) refs += list.size();
    EXPECT_EQ(refs, (good.size() - sectionAt - 8 - 8) / kPageRefDiskSize) << "the rest of the file read as pages";
    std::vector<uint8_t> longPath = good;
    std::memcpy(&longPath[0], &huge, 4);
    EXPECT_FALSE(ReadSnapshotHeader(dir.Write("lie2.txt", longPath)));
    file.SystemPages().clear();
    file.LoadSnapshot(dir.Write("lie2.txt", longPath));
    EXPECT_TRUE(file.SystemPages().empty());
}

}  // namespace
}  // namespace kestrane
