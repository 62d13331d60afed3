// Log scan throughput: a synthetic log of at least 1 GiB is written at run time, then scanned and
// plainly read (both with the file in the page cache); prints the time ratio of the two.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "../tests/logreader/LogFixture.h"
#include "logreader/LogScanner.h"
#include "platform/BinaryFile.h"

using namespace kestrane;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint64_t kVlfSize = uint64_t{64} << 20;
constexpr int kVlfCount = 17;  // 17 x 64 MiB > 1 GiB
double indexSeconds = 0;
uint64_t records = 0;

// Blocks of a busy database: transactions of inserts, updates and deletes of user tables, with
// system-table rows and commits in between.
std::vector<std::vector<uint8_t>> TemplateBlocks() {
    std::vector<std::vector<uint8_t>> blocks;
    uint32_t serial = 0;
    for (int b = 0; b < 16; ++b) {
        std::vector<std::vector<uint8_t>> records;
        size_t bytes = 0;
        while (bytes < 56000) {
            static const char16_t* kNames[] = {u"user_transaction", u"user_transaction", u"INSERT", u"UPDATE",
                                                u"user_transaction", u"DELETE", u"AllocFirstPage"};
            const std::u16string name = kNames[serial % 7];
            records.push_back(test::BeginXactRecord(name, 0x0000A00000000000ULL + serial));
            for (int r = 0; r < 6; ++r) {
                test::RowRecordSpec s;
                s.operation = static_cast<uint8_t>(r % 3 == 2 ? 4 : (r % 3 == 1 ? 3 : 2));
                s.context = r == 5 ? 0 : 2;
                s.rowsetId = 0x0100000000110000ULL + ((serial + r) % 24) * 0x10000;
                s.page = 100 + serial % 500;
                s.slot = static_cast<uint16_t>(r);
                s.elements = {std::vector<uint8_t>(60 + (serial * 7 + r * 13) % 180, 0x41)};
                if (s.operation == 4) s.elements.push_back(std::vector<uint8_t>(8, 0x42));
                records.push_back(test::RowRecord(s));
            }
            std::vector<uint8_t> commit(0x30, 0);
            commit[0x16] = 0x81;
            records.push_back(commit);
            for (size_t i = records.size() - 8; i < records.size(); ++i) bytes += records[i].size() + 6;
            ++serial;
        }
        blocks.push_back(test::LogBlock(1, records, static_cast<uint8_t>(3 + b % 4)));
    }
    return blocks;
}

bool WriteLog(const std::string& path) {
    const auto blocks = TemplateBlocks();
    BinaryFile out;
    if (!out.open(path, BinaryFile::Mode::CreateWrite)) return false;
    std::vector<uint8_t> vlf(kVlfSize);
    for (int v = 0; v < kVlfCount; ++v) {
        std::fill(vlf.begin(), vlf.end(), 0);
        const uint32_t seq = 1000 + static_cast<uint32_t>(v);
        const uint64_t offset = uint64_t(v) * kVlfSize;
        vlf[0] = 0xAB;
        vlf[1] = 0x40;
        test::PutU32(vlf, 4, seq);
        test::PutU64(vlf, 0x18, offset);
        size_t pos = 0x2000;
        for (size_t i = 0;; ++i) {
            const auto& b = blocks[i % blocks.size()];
            if (pos + b.size() + 512 > vlf.size()) break;
            std::copy(b.begin(), b.end(), vlf.begin() + static_cast<long>(pos));
            test::PutU32(vlf, pos + 0x0C, seq);
            pos += b.size();
        }
        if (!out.write(vlf.data(), vlf.size())) return false;
    }
    return out.flush();
}

double PlainRead(const std::string& path) {
    BinaryFile f;
    f.open(path);
    std::vector<uint8_t> buf(size_t{1} << 20);
    const auto t0 = Clock::now();
    uint64_t sum = 0;
    for (uint64_t at = 0;; at += buf.size()) {
        const size_t n = f.readAt(at, buf.data(), buf.size());
        if (n == 0) break;
        sum += buf[n - 1];
    }
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    if (sum == 1) std::puts("");
    return s;
}

double Scan(const std::string& path, size_t& filed, bool withTables = true, bool twoPass = false) {
    UserTableMap tables;
    for (uint32_t t = 0; withTables && t < 24; t += 2)
        tables[0x0100000000110000ULL + t * 0x10000] = UserTableInfo{100 + t, L"Table" + std::to_wstring(t)};
    const auto t0 = Clock::now();
    OperationStore store;
    BinaryFile file;
    file.open(path);
    LogScanner scanner(tables, store);
    {
        const FileLogSource source(file);
        if (twoPass) scanner.ScanTwoPass(source);
        else scanner.Scan(source);
    }
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    filed = store.Size();
    // The per-table index is built on the first listing of a table, not by the scan.
    const auto t1 = Clock::now();
    store.EntriesOfTable(100);
    if (filed) indexSeconds = std::chrono::duration<double>(Clock::now() - t1).count();
    records = scanner.Stats().records;
    return s;
}

}  // namespace

int main() {
    const std::string path = (std::filesystem::temp_directory_path() / "kestrane-logscan-bench.ldf").string();
    if (!WriteLog(path)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }
    PlainRead(path);  // into the page cache
    double bestRead = 1e9, bestScan = 1e9;
    size_t filed = 0;
    for (int i = 0; i < 5; ++i) {
        bestRead = std::min(bestRead, PlainRead(path));
        bestScan = std::min(bestScan, Scan(path, filed));
    }
    const double gib = static_cast<double>(std::filesystem::file_size(path)) / (1 << 30);
    if (std::getenv("KESTRANE_BENCH_DETAIL")) {
        double probe = 1e9, bare = 1e9, twoPass = 1e9;
        for (int i = 0; i < 3; ++i) {
            size_t f2 = 0;
            bare = std::min(bare, Scan(path, f2, false));
            twoPass = std::min(twoPass, Scan(path, f2, true, true));
            BinaryFile file;
            file.open(path);
            const auto t0 = Clock::now();
            const FileLogSource source(file);
            LogScanner::FindVlfs(source);
            probe = std::min(probe, std::chrono::duration<double>(Clock::now() - t0).count());
        }
        std::printf("VLF probe: %.3f s, scan filing nothing: %.3f s, probe-then-walk scan: %.3f s\n", probe, bare,
                    twoPass);
    }
    std::printf("log size: %.2f GiB, records: %llu, operations filed: %zu\n", gib,
                static_cast<unsigned long long>(records), filed);
    std::printf("plain read: %.3f s, log scan: %.3f s (then %.3f s to index the entries by table)\n", bestRead,
                bestScan, indexSeconds);
    std::printf("logscan/read ratio: %.2f\n", bestScan / bestRead);
    std::filesystem::remove(path);
    return 0;
}
