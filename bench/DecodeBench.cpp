// Row decoding speed against plain reading: builds a large synthetic table (data pages of rows with
// fixed, bit, 8-bit and Unicode variable columns and some NULLs), reads it once to bring it into the
// page cache, then times a plain sequential read and the decode of every row of every page in the
// same run, both on one thread.
//   DecodeBench [size in MiB] [folder] (see BenchSupport.h)
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "BenchSupport.h"
#include "datafile/CatalogRecords.h"
#include "datafile/DataPage.h"
#include "datafile/PageHeader.h"
#include "datafile/RowValueDecoder.h"
#include "platform/RunState.h"

using namespace kestrane;

namespace {

constexpr size_t kFixed = 23;  // id int, price money, qty smallint, created datetime, flag bit
constexpr uint16_t kColumns = 7;

void Put(std::vector<uint8_t>& b, uint64_t v, size_t n) {
    for (size_t i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// One row: the note is NULL in every fifth row, the texts vary in length.
std::vector<uint8_t> Row(uint32_t n) {
    std::vector<uint8_t> row{0x30, 0};
    Put(row, kFixed + 4, 2);
    Put(row, n, 4);
    Put(row, uint64_t{n} * 125, 8);
    Put(row, n % 100, 2);
    Put(row, n % 25920000, 4);
    Put(row, 40000 + n % 3000, 4);
    row.push_back(static_cast<uint8_t>(n & 1));
    Put(row, kColumns, 2);
    const bool noteNull = n % 5 == 0;
    row.push_back(noteNull ? 0x40 : 0);
    const std::string name = "customer " + std::to_string(n % 9973);
    std::vector<uint8_t> note;
    if (!noteNull)
        for (char c : "delivered to the back door " + std::to_string(n % 97)) Put(note, static_cast<uint8_t>(c), 2);
    Put(row, 2, 2);
    size_t end = row.size() + 4 + name.size();
    Put(row, end, 2);
    Put(row, end + note.size(), 2);
    row.insert(row.end(), name.begin(), name.end());
    row.insert(row.end(), note.begin(), note.end());
    return row;
}

// A data page filled with rows from `next` on; returns the rows placed.
uint32_t FillPage(uint8_t* page, uint32_t index, uint32_t next) {
    std::memset(page, 0, kPageSize);
    page[0] = 1;
    page[kHdrPageType] = 1;
    const uint32_t object = 1000;
    const uint16_t fileId = 1;
    std::memcpy(page + kHdrObjectId, &object, 4);
    std::memcpy(page + kHdrThisPageId, &index, 4);
    std::memcpy(page + kHdrThisFileId, &fileId, 2);
    size_t at = kPageHeaderSize;
    uint16_t slots = 0;
    for (;; ++slots) {
        const std::vector<uint8_t> row = Row(next + slots);
        if (at + row.size() + 2 * (slots + 1u) > kPageSize - 8) break;
        std::memcpy(page + at, row.data(), row.size());
        const uint16_t offset = static_cast<uint16_t>(at);
        std::memcpy(page + kPageSize - 2 - 2 * slots, &offset, 2);
        at += row.size();
    }
    std::memcpy(page + 22, &slots, 2);
    return slots;
}

TableLayout Layout() {
    auto column = [](uint32_t id, const wchar_t* name, const wchar_t* type, uint32_t code, int16_t leaf) {
        ColumnDef def(name, type, code);
        def.columnId = id;
        def.ordinal = static_cast<int32_t>(id);
        def.nullable = 1;
        def.inLayout = 1;
        def.leafOffset = leaf;
        def.nullBitmapIndex = static_cast<int32_t>(id);
        return def;
    };
    TableLayout layout;
    layout.columns = {column(1, L"id", L"int(4)", kTypeInt, 4),
                      column(2, L"price", L"money(8)", kTypeMoney, 8),
                      column(3, L"qty", L"smallint(2)", kTypeSmallInt, 16),
                      column(4, L"created", L"datetime(8)", kTypeDateTime, 18),
                      column(5, L"flag", L"bit(1)", kTypeBit, 26),
                      column(6, L"name", L"varchar(40)", kTypeVarChar, -1),
                      column(7, L"note", L"nvarchar(160)", kTypeNVarChar, -2)};
    return layout;
}

}  // namespace

int main(int argc, char** argv) {
    // The process id keeps two runs at once from writing one file.
    const std::string name = "kestrane-decode-bench-" + std::to_string(getpid()) + ".mdf";
    const bench::BenchFile file = bench::BenchFileFromArgs(argc, argv, name.c_str());
    const std::string& path = file.path;
    const uint64_t pages = file.pages;
    uint32_t next = 0;
    if (!bench::WritePages(path, pages, [&](uint8_t* page, uint32_t index) { next += FillPage(page, index, next); })) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }
    uint64_t sum = 0;
    auto plain = [&](const uint8_t* page) { sum += page[kPageHeaderSize]; };
    bench::ReadPages(path, plain);  // bring the file into the page cache

    const TableLayout prototype = Layout();
    double readBest = 1e9, decodeBest = 1e9, readCpu = 1e9, decodeCpu = 1e9;
    uint64_t rows = 0, values = 0;
    for (int round = 0; round < 3; ++round) {
        auto t = std::chrono::steady_clock::now();
        double cpu = bench::ThreadCpuSeconds();
        bench::ReadPages(path, plain);
        readBest = std::min(readBest, bench::SecondsSince(t));
        readCpu = std::min(readCpu, bench::ThreadCpuSeconds() - cpu);

        RunState state;
        TableLayout layout = prototype;
        rows = values = 0;
        t = std::chrono::steady_clock::now();
        cpu = bench::ThreadCpuSeconds();
        bench::ReadPages(path, [&](const uint8_t* bytes) {
            PageBuffer image = AllocatePageBuffer();
            std::memcpy(image.get(), bytes, kPageSize);
            CDataPage page(std::move(image), nullptr, state);
            for (const RowValues& row : DecodeRowValuesByRowsetColumns(page, layout)) {
                ++rows;
                values += row.state(0) == CellState::Value;
            }
        });
        decodeBest = std::min(decodeBest, bench::SecondsSince(t));
        decodeCpu = std::min(decodeCpu, bench::ThreadCpuSeconds() - cpu);
    }
    std::filesystem::remove(path);

    const double gib = static_cast<double>(pages * kPageSize) / (1u << 30);
    std::printf("rows decoded: %llu (%llu with a value in the first column), checksum %llu\n",
                static_cast<unsigned long long>(rows), static_cast<unsigned long long>(values),
                static_cast<unsigned long long>(sum));
    std::printf("plain read: %.3f s (%.2f GiB/s)\n", readBest, gib / readBest);
    std::printf("decoding:   %.3f s (%.2f GiB/s, %.0f ns a row)\n", decodeBest, gib / decodeBest,
                1e9 * decodeBest / static_cast<double>(rows ? rows : 1));
    std::printf("processor time: read %.3f s, decode %.3f s (ratio %.2f)\n", readCpu, decodeCpu, decodeCpu / readCpu);
    std::printf("decode/read ratio: %.2f\n", decodeBest / readBest);
    return 0;
}
