#pragma once
// The large-value records of a rebuilt log row: from the data file, and when it cannot give a value
// whole, from the records the log inserted for it, as they were at the row's operation.
#include <cstdint>
#include <memory>

#include "datafile/LargeValue.h"
#include "datafile/TextMixPage.h"
#include "logreader/LogFormat.h"
#include "logreader/LoggedLargeValues.h"

namespace kestrane {

// The log's inserted large-value records of one table (by its in-row unit) as of one log record.
class LoggedLobPages : public LobPageSource {
public:
    LoggedLobPages(LoggedLargeValues& logged, uint64_t rowUnit, CLogSeqNo asOf)
        : logged_(logged), rowUnit_(rowUnit), asOf_(asOf) {}
    std::unique_ptr<TextMixPage> LoadTextMixPage(PageAddress) override { return nullptr; }
    bool LoadLobRecord(const LobRid& rid, uint64_t blobId, LobRecordCopy& out) override {
        return logged_.Find(rowUnit_, asOf_, rid, blobId, out);
    }
    uint64_t TotalBytes() const override { return logged_.LogBytes(); }
    // A value many rows share (or one row's value at each of its updates) is read from the records once.
    bool ReadValueWhole(ByteView reference, bool inRowRoot, int32_t codePage, std::vector<uint8_t>& out) override {
        return logged_.ReadValue(rowUnit_, asOf_, reference, inRowRoot, out, [&] {
            return LobPageSource::ReadValueWhole(reference, inRowRoot, codePage, out);
        });
    }

private:
    LoggedLargeValues& logged_;
    uint64_t rowUnit_;
    CLogSeqNo asOf_;
};

// The data file's text pages, with the log as the second source.
class DataFileThenLogLobPages : public MdfLobPageSource {
public:
    DataFileThenLogLobPages(CMdfFile& file, LoggedLargeValues& logged, uint64_t rowUnit, CLogSeqNo asOf)
        : MdfLobPageSource(file), logged_(logged, rowUnit, asOf) {}
    LobPageSource* SecondSource() override { return &logged_; }

private:
    LoggedLobPages logged_;
};

}  // namespace kestrane
