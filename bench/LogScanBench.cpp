// Log scan throughput, compared like with like: a synthetic log of at least 1 GiB is written at run
// time, then scanned and plainly read with the file in the page cache. Prints the time of the scan on
// one thread against a read on one thread, and of the threaded scan against a read on as many
// threads; then the same for the real logs of the corpus ($KESTRANE_CORPUS, default ../shared/corpus
// beside the repository), which are small.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../tests/logreader/LogFixture.h"
#include "logreader/LogReadWindow.h"
#include "logreader/LogScanner.h"
#include "platform/BinaryFile.h"

using namespace kestrane;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint64_t kVlfSize = uint64_t{64} << 20;
constexpr int kVlfCount = 17;  // 17 x 64 MiB > 1 GiB
constexpr uint64_t kTablesRowset = 0x0100000000110000ULL;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// One block of a busy database, before its sector stamps: user transactions whose rows are
// interleaved with a short system transaction, every 32nd with a failed insert that a compensation
// record undoes. Transaction ids and CLogSeqNos differ in each copy, so the places to set are kept.
struct TemplateBlock {
    struct Record {
        size_t at = 0;
        int transaction = -1;               // index in the block, -1: none
        int previous = 0, pagePrevious = 0;  // slot (1-based) of a record of the same block, 0: none
    };
    std::vector<uint8_t> bytes;
    std::vector<Record> records;
    int transactions = 0;
};

std::vector<TemplateBlock> TemplateBlocks() {
    static const char16_t* kNames[] = {u"user_transaction", u"INSERT", u"UPDATE", u"DELETE"};
    std::vector<TemplateBlock> blocks;
    uint32_t serial = 0;
    for (int b = 0; b < 16; ++b) {
        TemplateBlock t;
        std::vector<std::vector<uint8_t>> records;
        size_t bytes = 0;
        auto add = [&](std::vector<uint8_t> r, int transaction, int previous = 0, int pagePrevious = 0) {
            bytes += r.size() + 6;
            records.push_back(std::move(r));
            t.records.push_back({0, transaction, previous, pagePrevious});
            return static_cast<int>(records.size());  // its slot
        };
        auto row = [&](uint8_t op, uint8_t context, uint64_t rowset, int r, uint16_t flags = 0) {
            test::RowRecordSpec s;
            s.operation = op;
            s.context = context;
            s.rowsetId = rowset;
            s.flags = flags;
            s.page = 100 + serial % 500;
            s.slot = static_cast<uint16_t>(r);
            if (!(flags & 1)) s.elements = {std::vector<uint8_t>(60 + (serial * 7 + r * 13) % 180, 0x41)};
            if (op == 4) s.elements.push_back(std::vector<uint8_t>(8, 0x42));
            return test::RowRecord(s);
        };
        while (bytes < 56000) {
            const int user = t.transactions++, system = t.transactions++;
            int last = add(test::BeginXactRecord(kNames[serial % 4], 0x0000A00000000000ULL + serial), user);
            for (int r = 0; r < 6; ++r) {
                if (r == 3) {
                    add(test::BeginXactRecord(u"AllocFirstPage", 0x0000B00000000000ULL + serial), system);
                    add(row(2, 2, kTablesRowset + 0x7FF0000, r), system);
                    add(test::EndXactRecord(0), system);
                }
                const uint8_t op = static_cast<uint8_t>(r % 3 == 2 ? 4 : (r % 3 == 1 ? 3 : 2));
                last = add(row(op, r == 5 ? 0 : 2, kTablesRowset + ((serial + r) % 24) * 0x10000, r), user, last);
            }
            if (serial % 32 == 31) {
                const int before = last;
                last = add(row(2, 2, kTablesRowset, 7), user, before);
                add(row(3, 0x13, kTablesRowset, 7, 1), user, before, last);
            }
            add(test::EndXactRecord(0), user, last);
            ++serial;
        }
        t.bytes = test::LogBlock(1, records, static_cast<uint8_t>(3 + b % 4), 512, false);
        const ByteView view(t.bytes);
        for (size_t j = 0; j < t.records.size(); ++j) t.records[j].at = view.getOr<uint16_t>(view.getOr<uint16_t>(4, 0) - 2 - 2 * j, 0);
        blocks.push_back(std::move(t));
    }
    return blocks;
}

bool WriteLog(const std::string& path) {
    const auto blocks = TemplateBlocks();
    BinaryFile out;
    if (!out.open(path, BinaryFile::Mode::CreateWrite)) return false;
    std::vector<uint8_t> vlf(kVlfSize);
    uint64_t copy = 0;
    for (int v = 0; v < kVlfCount; ++v) {
        std::fill(vlf.begin(), vlf.end(), 0);
        const uint32_t seq = 1000 + static_cast<uint32_t>(v);
        vlf[0] = 0xAB;
        vlf[1] = 0x40;
        test::PutU32(vlf, 4, seq);
        test::PutU64(vlf, 0x18, uint64_t(v) * kVlfSize);
        size_t pos = 0x2000;
        for (size_t i = 0;; ++i, ++copy) {
            const TemplateBlock& t = blocks[i % blocks.size()];
            if (pos + t.bytes.size() + 512 > vlf.size()) break;
            std::copy(t.bytes.begin(), t.bytes.end(), vlf.begin() + static_cast<long>(pos));
            const uint32_t block = static_cast<uint32_t>(pos / 512);
            test::PutLsn(vlf, pos + 0x0C, {seq, block, 1});
            auto lsn = [&](int slot) { return slot ? test::Lsn{seq, block, static_cast<uint16_t>(slot)} : test::Lsn{}; };
            for (const auto& r : t.records) {
                const size_t at = pos + r.at;
                const uint64_t id = r.transaction < 0 ? 0 : copy * 1000 + static_cast<uint64_t>(r.transaction) + 1;
                test::PutLsn(vlf, at + 0x04, lsn(r.previous));
                test::PutU32(vlf, at + 0x10, static_cast<uint32_t>(id));
                test::PutU16(vlf, at + 0x14, static_cast<uint16_t>(id >> 32));
                if (r.pagePrevious) test::PutLsn(vlf, at + 0x24, lsn(r.pagePrevious));
            }
            test::StampBlock(&vlf[pos], t.bytes.size());
            pos += t.bytes.size();
        }
        if (!out.write(vlf.data(), vlf.size())) return false;
    }
    return out.flush();
}

// Reads the file in pieces of the scan's window size, on `threads` threads each reading its own
// stretch, into page-aligned buffers as the scan's window is (the kernel's copy into a buffer a few
// bytes past a page boundary runs several times slower on some processors).
double PlainRead(const std::string& path, unsigned threads) {
    BinaryFile f;
    f.open(path);
    const uint64_t size = f.size(), per = (size + threads - 1) / threads;
    constexpr size_t kWindow = LogReadWindow::kDefaultSize;
    std::vector<std::unique_ptr<uint8_t, decltype(&std::free)>> buffers;
    for (unsigned i = 0; i < threads; ++i) {
        buffers.emplace_back(static_cast<uint8_t*>(std::aligned_alloc(4096, kWindow)), &std::free);
        std::memset(buffers.back().get(), 0, kWindow);  // faulted in before the clock starts, as the scan's is reused
    }
    const auto t0 = Clock::now();
    std::vector<std::thread> others;
    auto read = [&](unsigned i) {
        uint8_t* buf = buffers[i].get();
        volatile uint8_t sink = 0;
        for (uint64_t at = i * per, end = std::min(size, at + per); at < end; at += kWindow)
            sink = sink + buf[f.readAt(at, buf, std::min<uint64_t>(kWindow, end - at)) - 1];
    };
    for (unsigned i = 1; i < threads; ++i) others.emplace_back(read, i);
    read(0);
    for (auto& t : others) t.join();
    return Seconds(t0);
}

// A file source that counts the bytes the scan reads.
class CountingSource : public FileLogSource {
public:
    using FileLogSource::FileLogSource;
    size_t ReadAt(uint64_t offset, void* out, size_t length) const override {
        const size_t n = FileLogSource::ReadAt(offset, out, length);
        read_ += n;
        return n;
    }
    uint64_t BytesRead() const { return read_; }

private:
    mutable std::atomic<uint64_t> read_{0};
};

struct ScanResult {
    double seconds = 0;
    size_t filed = 0;
    uint64_t bytesRead = 0;
    LogScanStats stats;
};

ScanResult Scan(const std::string& path, const UserTableMap& tables, unsigned threads) {
    const auto t0 = Clock::now();
    OperationStore store;
    BinaryFile file;
    file.open(path);
    LogScanner scanner(tables, store);
    uint64_t bytesRead = 0;
    {
        const CountingSource source(file);
        scanner.Scan(source, threads);
        bytesRead = source.BytesRead();
    }
    return {Seconds(t0), store.Size(), bytesRead, scanner.Stats()};
}

// Best of `runs` for the scan and the read on `threads` threads: each scan between two reads, so
// that a change of the machine's load between them shows.
std::pair<double, double> Compare(const std::string& path, const UserTableMap& tables, unsigned threads, int runs,
                                  ScanResult* last = nullptr) {
    double read = PlainRead(path, threads), scan = 1e9;
    for (int i = 0; i < runs; ++i) {
        const ScanResult r = Scan(path, tables, threads);
        scan = std::min(scan, r.seconds);
        read = std::min(read, PlainRead(path, threads));
        if (last) *last = r;
    }
    return {read, scan};
}

void CorpusLogs() {
    const char* env = std::getenv("KESTRANE_CORPUS");
    const std::filesystem::path root = env ? std::filesystem::path(env) : std::filesystem::path(KESTRANE_CORPUS_DIR);
    std::error_code ec;
    if (!std::filesystem::is_directory(root, ec)) return;
    double read = 0, scan = 0, worst = 0;
    std::string worstName;
    uint64_t bytes = 0;
    int logs = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root, ec)) {
        std::string ext = entry.path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
        if (ext != ".ldf") continue;
        const std::string path = entry.path().string();
        PlainRead(path, 1);
        const auto [r, s] = Compare(path, {}, 1, 50);
        read += r;
        scan += s;
        bytes += std::filesystem::file_size(entry.path());
        ++logs;
        if (s / r > worst) {
            worst = s / r;
            worstName = entry.path().parent_path().filename().string() + "/" + entry.path().filename().string();
        }
    }
    if (logs == 0) return;
    std::printf("corpus: %d logs, %.1f MiB: plain read %.2f ms, log scan %.2f ms (1 thread)\n", logs,
                static_cast<double>(bytes) / (1 << 20), read * 1e3, scan * 1e3);
    std::printf("corpus logscan/read ratio (1 thread): %.2f, worst %.2f (%s)\n", scan / read, worst, worstName.c_str());
}

}  // namespace

int main() {
    const std::string path = (std::filesystem::temp_directory_path() / "kestrane-logscan-bench.ldf").string();
    if (!WriteLog(path)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }
    UserTableMap tables;
    for (uint32_t t = 0; t < 24; t += 2) tables[kTablesRowset + t * 0x10000] = UserTableInfo{100 + t, L"Table" + std::to_wstring(t)};
    const uint64_t size = std::filesystem::file_size(path);
    const unsigned threads = LogScanner::SliceCount(size);
    PlainRead(path, 1);  // into the page cache
    ScanResult result;
    const auto [read1, scan1] = Compare(path, tables, 1, 5, &result);
    const auto [readN, scanN] = Compare(path, tables, threads, 5);
    OperationStore store;
    {
        BinaryFile file;
        file.open(path);
        LogScanner(tables, store).Scan(FileLogSource(file));
    }
    const auto t0 = Clock::now();
    store.EntriesOfTable(100);  // the per-table index is built on the first listing, not by the scan
    const double index = Seconds(t0);

    std::printf("log size: %.2f GiB, records: %llu, operations filed: %zu, compensation records left out: %llu "
                "with the %llu operations they undid\n",
                static_cast<double>(size) / (1 << 30), static_cast<unsigned long long>(result.stats.records),
                result.filed, static_cast<unsigned long long>(result.stats.compensations),
                static_cast<unsigned long long>(result.stats.undone));
    std::printf("bytes read: %llu by the log scan, %llu by the plain read, in %zu KiB reads\n",
                static_cast<unsigned long long>(result.bytesRead), static_cast<unsigned long long>(size),
                LogReadWindow::kDefaultSize >> 10);
    std::printf("plain read: %.3f s, log scan: %.3f s (1 thread); then %.3f s to index the entries by table\n", read1,
                scan1, index);
    std::printf("logscan/read ratio (1 thread): %.2f\n", scan1 / read1);
    std::printf("plain read: %.3f s, log scan: %.3f s (%u threads)\n", readN, scanN, threads);
    std::printf("logscan/read ratio (%u threads): %.2f\n", threads, scanN / readN);
    std::filesystem::remove(path);
    CorpusLogs();
    return 0;
}
