#include "logreader/LogScanner.h"

#include <algorithm>
#include <cstring>
#include <future>
#include <system_error>

#include "logreader/LogRecord.h"
#include "platform/Prompter.h"

namespace kestrane {

namespace {
constexpr size_t kPrefetchBytes = 4096;
constexpr uint64_t kProbesPerSlice = 16384;  // 128 MiB of log
constexpr uint64_t kMaxProbeThreads = 4;

// Probes [from, to) every 8192 bytes; the headers found, in file order.
std::vector<VlfEntry> ProbeVlfs(const LogByteSource& source, uint64_t from, uint64_t to) {
    std::vector<VlfEntry> found;
    uint8_t header[logfmt::kVlfHeaderSize];
    for (uint64_t offset = from; offset < to; offset += logfmt::kVlfProbeStep) {
        uint8_t sig[2] = {0, 0};
        if (source.ReadAt(offset, sig, 2) != 2) continue;
        if (sig[0] != logfmt::kVlfSignature || (sig[1] != 0x40 && sig[1] != 0x80)) continue;
        std::memset(header, 0, sizeof header);
        source.ReadAt(offset, header, sizeof header);
        const VlfEntry vlf = VlfEntry::Parse(ByteView(header, sizeof header));
        if (vlf.sequence != 0) found.push_back(vlf);
    }
    return found;
}
}  // namespace

VlfEntry VlfEntry::Parse(ByteView bytes) {
    VlfEntry v;
    v.signature = bytes.getOr<uint8_t>(0x00, 0);
    v.parity = bytes.getOr<uint8_t>(0x01, 0);
    v.sequence = bytes.getOr<uint32_t>(0x04, 0);
    v.offset = bytes.getOr<uint64_t>(0x18, 0);
    v.lsn.Set(bytes.getOr<uint32_t>(0x20, 0), bytes.getOr<uint32_t>(0x24, 0), bytes.getOr<uint16_t>(0x28, 0));
    return v;
}

LogScanner::LogScanner(const UserTableMap& tables, OperationStore& store) : store_(store) {
    tables_.reserve(tables.size());
    for (const auto& [rowset, table] : tables)
        tables_.push_back(TableKey{rowset, store_.AddTable(table.objectId, rowset, table.name)});
    // std::map iterates in key order, so tables_ is sorted already.
}

const LogScanner::TableKey* LogScanner::FindTable(uint64_t rowsetId) {
    if (lastHit_ && lastHit_->rowsetId == rowsetId) return lastHit_;
    auto it = std::lower_bound(tables_.begin(), tables_.end(), rowsetId,
                               [](const TableKey& k, uint64_t id) { return k.rowsetId < id; });
    if (it == tables_.end() || it->rowsetId != rowsetId) return nullptr;
    lastHit_ = &*it;
    return lastHit_;
}

std::map<uint32_t, VlfEntry> LogScanner::FindVlfs(const LogByteSource& source) {
    // One small read per probe adds up to a system call per 8192 bytes: a large file is probed in
    // slices on several threads, the slices merged in file order.
    const uint64_t length = source.Size();
    const uint64_t probes = (length + logfmt::kVlfProbeStep - 1) / logfmt::kVlfProbeStep;
    const unsigned slices = static_cast<unsigned>(std::clamp<uint64_t>(probes / kProbesPerSlice, 1, kMaxProbeThreads));
    const uint64_t perSlice = (probes + slices - 1) / slices * logfmt::kVlfProbeStep;
    auto slice = [&](unsigned i) { return ProbeVlfs(source, i * perSlice, std::min(length, (i + 1) * perSlice)); };
    std::vector<std::future<std::vector<VlfEntry>>> parts;
    for (unsigned i = 1; i < slices; ++i) {
        try {
            parts.push_back(std::async(std::launch::async, slice, i));
        } catch (const std::system_error&) {
            parts.push_back(std::async(std::launch::deferred, slice, i));  // no thread to spare: probed here
        }
    }
    std::map<uint32_t, VlfEntry> vlfs;
    auto merge = [&vlfs](const std::vector<VlfEntry>& found) {
        for (const VlfEntry& vlf : found) vlfs.emplace(vlf.sequence, vlf);  // the lowest offset of a sequence stays
    };
    merge(slice(0));
    for (auto& part : parts) merge(part.get());
    return vlfs;
}

void LogScanner::Scan(const LogByteSource& source) {
    const auto vlfs = FindVlfs(source);
    // The window (and its read-ahead thread) lives no longer than this call: the source may not.
    LogReadWindow window(source);
    for (const auto& [sequence, vlf] : vlfs) ParseVlfLogBlocks(window, vlf, sequence);
}

void LogScanner::ParseVlfLogBlocks(LogReadWindow& window, const VlfEntry& vlf, uint32_t sequence) {
    ++stats_.vlfs;
    const uint64_t fileLength = window.Source().Size();
    if (vlf.offset >= fileLength || fileLength - vlf.offset <= logfmt::kFirstBlockOffset) return;
    uint64_t pos = vlf.offset + logfmt::kFirstBlockOffset;
    while (pos < fileLength) {
        uint8_t head[logfmt::kBlockHeaderSize] = {};
        const ByteView headBytes = window.Fetch(pos, sizeof head);
        headBytes.copy(0, headBytes.size(), head);
        const auto header = LogBlockHeader::Parse(ByteView(head, sizeof head));
        if (!header || header->lsn.vlfSequence != sequence) break;
        if (header->size < logfmt::kBlockHeaderSize) break;
        // The block is examined where it lies; its stamps are undone as its bytes are read.
        const ByteView bytes = window.Fetch(pos, header->size);
        ExamineBlock(LogBlockView(bytes, *header, true), pos);
        pos += header->size;
    }
}

// Transaction names repeat: the last few distinct ones are kept as raw bytes with their text and id,
// so that a name seen lately costs one comparison instead of a decode and a hash lookup. A name is
// interned only when an entry is filed under it.
void LogScanner::SetCurrentTransactionName(ByteView rawName) {
    for (size_t i = 0; i < recentNames_.size(); ++i) {
        const RecentName& r = recentNames_[i];
        if (r.raw.size() == rawName.size() &&
            (rawName.empty() || std::memcmp(r.raw.data(), rawName.data(), rawName.size()) == 0)) {
            currentRecent_ = i;
            return;
        }
    }
    if (recentNames_.size() < kRecentNames) {
        recentNames_.emplace_back();
        currentRecent_ = recentNames_.size() - 1;
    } else {
        nextRecent_ = (nextRecent_ + 1) % kRecentNames;
        currentRecent_ = nextRecent_;
    }
    RecentName& slot = recentNames_[currentRecent_];
    slot.raw.assign(rawName.data(), rawName.data() + rawName.size());
    DecodeTransactionName(rawName, slot.text);
    slot.id = kNoNameId;
}

void LogScanner::File(const TableKey& table, uint64_t pos, uint32_t slot, uint8_t operation) {
    uint32_t nameId = 0;  // no begin-transaction record met yet: the empty name
    if (currentRecent_ < recentNames_.size()) {
        RecentName& name = recentNames_[currentRecent_];
        if (name.id == kNoNameId) name.id = store_.Names().Intern(name.text);
        nameId = name.id;
    }
    OperationEntry e;
    e.blockOffset = pos;
    e.slotIndex = static_cast<uint16_t>(slot);
    e.beginTime = currentBeginTime_;
    e.tableIndex = table.tableIndex;
    e.transactionNameId = nameId;
    e.operation = operation;
    if (store_.Append(e)) ++stats_.filed;
}

void LogScanner::ExamineBlock(const LogBlockView& block, uint64_t pos) {
    ++stats_.blocks;
    if (!logfmt::IsReadableLayout(block.Layout())) {
        ++stats_.otherLayoutBlocks;
        return;
    }
    const uint32_t n = block.RecordCount();
    const ByteView raw = block.bytes();
    size_t prefetched = 0;
    for (uint32_t j = 0; j < n; ++j) {
        const uint32_t start = block.SlotOffset(j);
        if (uint64_t{start} + logfmt::kRecordExamined > block.Size()) break;
        // Records lie in file order but are reached through the slot array: asking for the bytes a
        // little ahead lets their loads overlap instead of waiting on each record in turn.
        const size_t ahead = std::min<size_t>(raw.size(), start + kPrefetchBytes);
        for (; prefetched < ahead; prefetched += 64) __builtin_prefetch(raw.data() + prefetched);
        ++stats_.records;
        const uint8_t op = block.Byte(start + logfmt::kOffOperation);
        const uint8_t context = block.Byte(start + logfmt::kOffContext);
        if (logfmt::IsFiledContext(context)) {
            const uint64_t rowset = block.Get<uint64_t>(start + logfmt::kOffRowsetId);
            if (const TableKey* table = FindTable(rowset)) File(*table, pos, j, op);
        }
        if (op == logfmt::kOpBeginXact) {
            ByteView rawName;
            if (ReadBeginTransaction(block, block.Extent(j), scratch_, rawName, currentBeginTime_))
                SetCurrentTransactionName(rawName);
        }
    }
}

LogScanStats ScanLdfFile(BinaryFile& logFile, const std::string& path, const UserTableMap& tables,
                         OperationStore& store, Prompter& prompter) {
    logFile.close();
    if (!logFile.open(path, BinaryFile::Mode::Read)) {
        prompter.ShowMessage(L"LDF File Cannot be open...", MessageIcon::Information);
        return {};
    }
    LogScanner scanner(tables, store);
    const FileLogSource source(logFile);
    scanner.Scan(source);
    return scanner.Stats();
}

}  // namespace kestrane
