#include "datafile/LargeValue.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "datafile/TextMixPage.h"
#include "datafile/ValueText.h"
#include "platform/RunState.h"
#include "platform/TextCodec.h"

namespace kestrane {

namespace {

constexpr int kMaxTreeDepth = 64;
constexpr uint16_t kLobSmallRoot = 0;
constexpr uint16_t kLobInternal = 2;
constexpr uint16_t kLobData = 3;
constexpr uint16_t kLobLargeRoot = 5;

bool IsBinaryVariantBase(uint8_t base) { return base == 165 || base == 173; }

constexpr uint32_t kLargeValueRecordType = 4;

// The record is a node of the value being read: a large-value record with the value's blob id. A page
// the value no longer owns (another table's page, a fragment of a later value) holds none.
bool BelongsToValue(const LobRecordCopy& record, const LobContext& context) {
    if (record.recordType != kLargeValueRecordType) return false;
    return context.expectedBlobId() == 0 || record.blobId == context.expectedBlobId();
}

// In-row roots keep the blob id divided by 65536 in four bytes.
uint64_t InRowRootBlobId(ByteView root) { return static_cast<uint64_t>(root.getOr<uint32_t>(8, 0)) << 16; }

size_t PiecesLength(const std::vector<ColumnData>& pieces) {
    size_t total = 0;
    for (const ColumnData& piece : pieces) total += static_cast<size_t>(std::max<int32_t>(piece.length, 0));
    return total;
}

// Cuts the pieces from `first` on to `keep` bytes.
void CutPieces(std::vector<ColumnData>& pieces, size_t first, size_t keep) {
    for (size_t i = first; i < pieces.size(); ++i) {
        const size_t length = static_cast<size_t>(std::max<int32_t>(pieces[i].length, 0));
        if (length <= keep) {
            keep -= length;
            continue;
        }
        pieces[i].length = static_cast<int32_t>(keep);
        pieces.resize(i + 1);
        return;
    }
}


}  // namespace

bool LobRid::Read(ByteView bytes, size_t offset, LobRid& out) {
    auto page = bytes.u32(offset);
    auto file = bytes.u16(offset + 4);
    auto slot = bytes.u16(offset + 6);
    if (!page || !file || !slot) return false;
    out.page = PageAddress(*file, *page);
    out.slot = *slot;
    return true;
}

bool LobContext::Enter(PageAddress page, uint16_t recordOffset) {
    if (depth_ >= kMaxTreeDepth) return false;
    if (static_cast<uint64_t>(bytesRead_) >= pages_.TotalBytes()) return false;
    LobRid record;
    record.page = page;
    record.slot = recordOffset;
    if (!visited_.insert(record).second) return false;
    ++depth_;
    return true;
}

namespace {
// The record of `slot` on a loaded text page, with the offset it starts at; null when there is none.
TextRecord* RecordOf(TextMixPage& page, uint16_t slot, uint16_t& offset) {
    if (slot >= page.slotArray.size()) return nullptr;
    offset = page.slotArray[slot];
    return page.TextRecordAt(slot);
}
}  // namespace

bool LobPageSource::LoadLobRecord(const LobRid& rid, uint64_t blobId, LobRecordCopy& out) {
    (void)blobId;
    std::unique_ptr<TextMixPage> page = LoadTextMixPage(rid.page);
    uint16_t offset = 0;
    TextRecord* record = page ? RecordOf(*page, rid.slot, offset) : nullptr;
    if (!record) return false;
    out.recordType = record->recordType;
    out.blobId = record->blobId;
    out.dataLength = record->dataLength;
    out.data = std::move(record->dataCopy);
    out.visitKey = offset;
    return true;
}

std::wstring LobSData::TextFrom(size_t skip) const {
    return AnsiTextToFirstZero(ByteView(data_).from(skip), context_.codePage());
}

std::wstring LobSData::GetHex(int32_t length) const {
    if (length <= 0) return std::wstring();
    return HexText(ByteView(data_).clip(0, static_cast<size_t>(length)));
}

void LobTreeNode::ReadHead(ByteView payload) {
    blobId = payload.getOr<uint64_t>(0, 0);
    maxLinks = payload.getOr<uint16_t>(10, 0);
    currentLinks = payload.getOr<uint16_t>(12, 0);
    level = payload.getOr<uint16_t>(14, 0);
}

void Internal::Read(ByteView payload) {
    ReadHead(payload);
    for (size_t i = 0, offset = 16; i < currentLinks && offset < kPageSize; ++i, offset += 16) {
        LobLink link;
        auto linkOffset = payload.u64(offset);
        if (!linkOffset || !LobRid::Read(payload, offset + 8, link.rid)) break;
        link.offset = *linkOffset;
        links.push_back(link);
    }
}

template <typename Link>
std::wstring LobTreeNode::ReadLinks(const std::vector<Link>& links, const LobOptions& options,
                                    std::vector<ColumnData>* pieces, bool collect) {
    LobOptions below = options;
    below.variant = 0;
    std::wstring text;
    for (const Link& link : links) text += ReadLobLink(link.rid, context_, below, pieces, collect);
    return text;
}

std::wstring Internal::ReadValue(const LobOptions& options, std::vector<ColumnData>* pieces, bool collect) {
    return ReadLinks(links, options, pieces, collect);
}

void LargeRootYukon::Read(ByteView payload, int32_t dataLength) {
    if (dataLength < 17) return;
    ReadHead(payload);
    for (size_t i = 0, offset = 20; i < currentLinks && offset < kPageSize && offset < static_cast<size_t>(dataLength);
         ++i, offset += 12) {
        LobFragmentLink link;
        auto size = payload.u32(offset);
        if (!size || !LobRid::Read(payload, offset + 4, link.rid)) break;
        link.size = *size;
        links.push_back(link);
    }
}

std::wstring LargeRootYukon::ReadValue(const LobOptions& options, std::vector<ColumnData>* pieces, bool collect) {
    const int64_t before = context_.bytesRead();
    std::wstring text = ReadLinks(links, options, pieces, collect);
    // The records read below this root, at every level, bound the text.
    const size_t bytesRead = static_cast<size_t>(context_.bytesRead() - before);
    // Never longer than the data read: one character per byte, two hex digits per byte.
    size_t cut = options.hex ? 2 * bytesRead : bytesRead;
    if (text.size() > cut) text.resize(cut);
    return text;
}

std::wstring ReadLobValue(ByteView payload, LobContext& context, bool variant, bool hex, int32_t dataLength,
                          std::vector<ColumnData>* pieces, bool collect, bool unicode) {
    // A payload too short to hold the id and the type has no type. (The data length is what follows
    // them, so a short last fragment of a value is still read.)
    if (payload.size() < 10) return std::wstring();
    auto typeWord = payload.u16(8);
    if (!typeWord) return std::wstring();
    uint16_t type = *typeWord;
    if (type == 4 || type == 6) type = kLobLargeRoot;
    LobOptions options{static_cast<uint8_t>(variant), static_cast<uint8_t>(hex), static_cast<uint8_t>(unicode)};

    switch (type) {
        case kLobSmallRoot: {
            uint16_t length = payload.getOr<uint16_t>(10, 0);
            if (length < 1 || length > kPageSize) return std::wstring();
            ByteView stored = payload.sub(16, length);
            if (stored.empty()) return std::wstring();
            if (collect && pieces) {
                if (length <= 8191) pieces->push_back(ColumnData{stored.toVector(), length});
                return std::wstring();
            }
            std::vector<uint8_t> data = stored.toVector();
            const bool asHex = variant ? IsBinaryVariantBase(data[0]) : hex;
            // UTF-16 of Latin text is narrowed to 8 bits; binary data is left as stored.
            if (!asHex && LooksLikeUtf16(ByteView(data))) {
                size_t k = 1;
                for (size_t from = 2; from < data.size(); from += 2, ++k) data[k] = data[from];
                if (k < data.size()) data[k] = 0;
            }
            ByteView value(data);
            if (variant) {
                ByteView rest = value.from(8);
                return asHex ? HexText(rest) : AnsiTextToFirstZero(rest, context.codePage());
            }
            return asHex ? HexText(value) : AnsiTextToFirstZero(value, context.codePage());
        }
        case kLobInternal: {
            Internal node(context);
            node.Read(payload);
            return node.ReadValue(options, pieces, collect);
        }
        case kLobData: {
            if (dataLength < 1 || dataLength > static_cast<int32_t>(kPageSize)) return std::wstring();
            ByteView stored = payload.clip(10, static_cast<size_t>(dataLength));
            if (stored.empty()) return std::wstring();
            const size_t length = stored.size();
            if (collect && pieces) {
                if (length <= 8191) pieces->push_back(ColumnData{stored.toVector(), static_cast<int32_t>(length)});
                return std::wstring();
            }
            LobSData node(context, stored.toVector());
            std::vector<uint8_t>& data = node.data();
            size_t zeros = 0;
            for (size_t i = 1; i < length; ++i) zeros += data[i] == 0;
            if (unicode && static_cast<int64_t>(zeros) > static_cast<int64_t>(length / 2) - 20) {
                // Mostly Latin UTF-16: keep the low bytes.
                size_t k = 1;
                for (; 2 * k < length && k <= 2 * zeros; ++k) data[k] = data[2 * k];
                if (k < length) data[k] = 0;
            } else if (!variant && !hex && unicode) {
                return Utf16TextToFirstZero(ByteView(data));
            }
            if (variant) return node.TextFrom(2);
            if (hex) return node.GetHex(static_cast<int32_t>(length));
            return node.GetText();
        }
        case kLobLargeRoot: {
            LargeRootYukon node(context);
            node.Read(payload, dataLength);
            return node.ReadValue(options, pieces, collect);
        }
        default:
            return std::wstring();
    }
}

std::wstring ReadLobLink(const LobRid& rid, LobContext& context, const LobOptions& options,
                         std::vector<ColumnData>* pieces, bool collect) {
    // Only the record is kept while the links below are read: a deep tree holds one page at a time.
    LobRecordCopy record;
    const bool found = context.pages().LoadLobRecord(rid, context.expectedBlobId(), record);
    // A missing part, a record of something else, and a record this value has read already, leave the
    // value incomplete.
    if (!found || record.data.empty() || !BelongsToValue(record, context) || !context.Enter(rid.page, record.visitKey)) {
        context.MarkPartMissing();
        return std::wstring();
    }
    context.AddBytesRead(record.dataLength);
    std::wstring text = ReadLobValue(ByteView(record.data), context, options.variant, options.hex, record.dataLength,
                                     pieces, collect, options.unicode);
    context.Leave();
    return text;
}

namespace {

void JoinPieces(const std::vector<ColumnData>& pieces, std::vector<uint8_t>& out) {
    for (const ColumnData& piece : pieces) {
        const ByteView bytes = ByteView(piece.data).clip(0, static_cast<size_t>(std::max<int32_t>(piece.length, 0)));
        out.insert(out.end(), bytes.data(), bytes.data() + bytes.size());
    }
}

}  // namespace

namespace {

bool TextPointerBytesFrom(LobContext& context, ByteView pointer, std::vector<uint8_t>& out) {
    LobRid root;
    if (!LobRid::Read(pointer, 8, root)) return false;
    context.Reset();
    context.ExpectBlobId(pointer.getOr<uint64_t>(0, 0));
    std::vector<ColumnData> pieces;
    ReadLobLink(root, context, LobOptions{}, &pieces, true);
    JoinPieces(pieces, out);
    return !context.partMissing();
}

bool InRowRootBytesFrom(LobContext& context, ByteView root, std::vector<uint8_t>& out) {
    std::vector<ColumnData> pieces;
    GetLobValue(root, context, LobOptions{}, &pieces, true, nullptr);
    JoinPieces(pieces, out);
    return !context.partMissing();
}

}  // namespace

bool LobPageSource::ReadValueWhole(ByteView reference, bool inRowRoot, int32_t codePage, std::vector<uint8_t>& out) {
    LobContext context(*this, codePage);
    return inRowRoot ? InRowRootBytesFrom(context, reference, out) : TextPointerBytesFrom(context, reference, out);
}

namespace {

// A value the first source cannot give whole is read again, whole, from its second source; pieces
// of the two are never joined.
bool ReadWhole(LobContext& context, ByteView bytes, bool inRowRoot, std::vector<uint8_t>& out) {
    const size_t before = out.size();
    if (inRowRoot ? InRowRootBytesFrom(context, bytes, out) : TextPointerBytesFrom(context, bytes, out)) return true;
    LobPageSource* second = context.pages().SecondSource();
    if (!second) return false;
    out.resize(before);
    if (second->ReadValueWhole(bytes, inRowRoot, context.codePage(), out)) return true;
    out.resize(before);
    return false;
}

}  // namespace

bool ReadTextPointerBytes(LobContext& context, ByteView pointer, std::vector<uint8_t>& out) {
    return ReadWhole(context, pointer, false, out);
}

bool ReadInRowRootBytes(LobContext& context, ByteView root, std::vector<uint8_t>& out) {
    return ReadWhole(context, root, true, out);
}

std::wstring GetLobValue(ByteView root, LobContext& context, const LobOptions& options,
                         std::vector<ColumnData>* pieces, bool collect, RunState* sideFiles) {
    context.Reset();
    context.ExpectBlobId(InRowRootBlobId(root));
    std::wstring text;
    // Each link's size is where the value ends after it: the bytes below a link are cut there, and a
    // link that gives fewer leaves the value incomplete.
    const size_t firstPiece = pieces ? pieces->size() : 0;
    const size_t before = pieces ? PiecesLength(*pieces) : 0;
    uint32_t end = 0;
    for (size_t offset = 12; offset + 12 <= root.size(); offset += 12) {
        uint32_t size = *root.u32(offset);
        LobRid rid;
        if (size == 0 || !LobRid::Read(root, offset + 4, rid)) continue;
        if (rid.page.fileId > 1000) rid.page.fileId = 1;
        if (size <= end) {
            context.MarkPartMissing();
            break;
        }
        text += ReadLobLink(rid, context, options, pieces, collect);
        if (collect && pieces) {
            const size_t have = PiecesLength(*pieces) - before;
            if (have > size) CutPieces(*pieces, firstPiece, size);
            else if (have < size) context.MarkPartMissing();
        } else if (options.hex && text.size() > 2 * static_cast<size_t>(size)) {
            text.resize(2 * static_cast<size_t>(size));
        }
        end = size;
    }
    if (collect) return text;
    // Only binary values go to side files: the scripts load them as binary.
    if (sideFiles && sideFiles->blobsToFiles == 1 && options.hex) {
        std::wstring hexText = L"0x" + text;
        std::wstring cell = WriteLargeValueFile(*sideFiles, HexTextToBytes(hexText));
        return cell.empty() ? hexText : cell;
    }
    return text;
}

TextPointerValue::TextPointerValue(LobContext& context, ByteView pointer, const LobOptions& options)
    : context_(context), options_(options) {
    valid = LobRid::Read(pointer, 8, root);
}

std::wstring TextPointerValue::ReadValue(std::vector<ColumnData>* pieces, bool collect, bool unicode) {
    if (!valid) return std::wstring();
    context_.Reset();
    std::unique_ptr<TextMixPage> page = context_.pages().LoadTextMixPage(root.page);
    if (!page) return std::wstring();
    uint16_t offset = 0;
    TextRecord* record = RecordOf(*page, root.slot, offset);
    if (!record || record->dataCopy.empty() || !context_.Enter(root.page, offset)) return std::wstring();
    const std::vector<uint8_t> data = std::move(record->dataCopy);
    const int32_t dataLength = record->dataLength;
    page.reset();
    std::wstring text =
        ReadLobValue(ByteView(data), context_, options_.variant, options_.hex, dataLength, pieces, collect, unicode);
    return text.empty() ? L" " : text;
}

std::vector<uint8_t> HexTextToBytes(const std::wstring& text) {
    std::vector<uint8_t> bytes;
    if (text.size() < 2) return bytes;
    auto digit = [](wchar_t c) -> int {
        if (c >= L'0' && c <= L'9') return c - L'0';
        if (c >= L'A' && c <= L'F') return c - L'A' + 10;
        return -1;
    };
    bytes.reserve(text.size() / 2);
    for (size_t i = 2; i + 1 < text.size(); i += 2) {
        int hi = digit(text[i]), lo = digit(text[i + 1]);
        if (hi < 0 || lo < 0) break;
        bytes.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    return bytes;
}

std::wstring WriteLargeValueFile(RunState& state, const std::vector<uint8_t>& bytes) {
    std::wstring folder = state.blobFolder;
    while (folder.size() > 1 && (folder.back() == L'/' || folder.back() == L'\\')) folder.pop_back();
    if (folder.empty()) return std::wstring();
    std::error_code ec;
    const std::filesystem::path folderPath(WideToUtf8(folder));
    if (!std::filesystem::exists(folderPath, ec)) std::filesystem::create_directories(folderPath, ec);
    // The scripts name the file by the folder's last component after $(DIR); "/" resolves on Linux
    // and on Windows alike.
    size_t cut = folder.find_last_of(L"/\\");
    std::wstring tail = cut == std::wstring::npos ? std::wstring() : L"/" + folder.substr(cut + 1);
    ++state.blobFileCounter;
    const std::wstring name = std::to_wstring(state.blobFileCounter) + L"_blob";
    std::ofstream out(folderPath / WideToUtf8(name), std::ios::binary | std::ios::trunc);
    if (!out) return std::wstring();
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) return std::wstring();
    return tail + L"/" + name;
}

}  // namespace kestrane
