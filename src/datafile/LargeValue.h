#pragma once
// Large values (text, ntext, image, max types, row-overflow data). The row holds a 16-byte text
// pointer or an in-row root of links; the value lies in records of text pages, possibly as a tree.
//
// Node record payload (a TextRecord's data, from record offset 4):
//   0 u64 blob id   8 u16 LOB type, then by type:
//   0 SmallRoot       10 u16 data length (1..8192)   16 data
//   2 Internal        10 u16 max links  12 u16 current links  14 u16 level  16 LobLink[] (16 B each:
//                     u64 offset, LobRid)
//   3 LobSData        10 data to the end of the payload
//   5 LargeRootYukon  10 u16 max links  12 u16 current links  14 u16 level  20 LobFragmentLink[]
//     (4, 6 as 5)     (12 B each: u32 size, LobRid); read only when the data length is at least 17
// LobRid as stored: u32 page id, u16 file id, u16 slot.
// In-row root: 12-byte head (u8 type, u8 level, u16, u32, u32 blob id / 65536), then LobFragmentLink
// entries from offset 12, each size the value's length up to the end of that link.
// Text pointer (16 bytes in the row): bytes 0..7 are the blob id, bytes 8..15 the LobRid of the root node.
// Every node of one value is a large-value record (record type 4) that carries the value's blob id.
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "datafile/PageHeader.h"
#include "datafile/RecordValues.h"
#include "platform/ByteReader.h"

namespace kestrane {

class CMdfFile;
class RunState;
class TextMixPage;

struct LobRid {
    PageAddress page{0, 0};
    uint16_t slot = 0;

    // u32 page id, u16 file id, u16 slot at `offset`; false when it does not fit.
    static bool Read(ByteView bytes, size_t offset, LobRid& out);
    bool operator<(const LobRid& o) const {
        return std::tie(page.fileId, page.pageId, slot) < std::tie(o.page.fileId, o.page.pageId, o.slot);
    }
};

struct LobLink {
    uint64_t offset = 0;
    LobRid rid;
};

struct LobFragmentLink {
    uint32_t size = 0;
    LobRid rid;
};

// One large-value record as a link names it, copied out of where it lies.
struct LobRecordCopy {
    uint32_t recordType = 0;
    uint64_t blobId = 0;
    int32_t dataLength = 0;     // after the 10-byte id and type
    std::vector<uint8_t> data;  // from record offset 4, blob id and type included
    uint16_t visitKey = 0;      // tells two records of one page apart (a data page: the record's offset)
};

// Where text pages come from: the open data file, the log, or a test's pages.
class LobPageSource {
public:
    virtual ~LobPageSource() = default;
    virtual std::unique_ptr<TextMixPage> LoadTextMixPage(PageAddress address) = 0;
    // The record `rid` names, for a value of `blobId` (0: any); false when there is none. By default
    // the record of the slot on the page LoadTextMixPage gives.
    virtual bool LoadLobRecord(const LobRid& rid, uint64_t blobId, LobRecordCopy& out);
    // How many bytes the files behind the pages hold: no value read from them can be longer.
    virtual uint64_t TotalBytes() const { return UINT64_MAX; }
    // Where a value is read again, whole, when this source cannot give all of it; null: nowhere.
    virtual LobPageSource* SecondSource() { return nullptr; }
    // Appends the stored bytes of one value, from its 16-byte text pointer or (`inRowRoot`) its in-row
    // root, read whole from this source alone; false when a part cannot be read. A source may give
    // again what it gave for the same value before.
    virtual bool ReadValueWhole(ByteView reference, bool inRowRoot, int32_t codePage, std::vector<uint8_t>& out);
};

// Text pages of an open data file.
class MdfLobPageSource : public LobPageSource {
public:
    explicit MdfLobPageSource(CMdfFile& file) : file_(file) {}
    std::unique_ptr<TextMixPage> LoadTextMixPage(PageAddress address) override;
    uint64_t TotalBytes() const override;

private:
    CMdfFile& file_;
};

// The option bytes that the row decoders set per column for the large-value readers.
struct LobOptions {
    uint8_t variant = 0;  // sql_variant column
    uint8_t hex = 0;      // varbinary, geography, image
    uint8_t unicode = 0;  // nvarchar, ntext
};

// One read of one large value: the page source, the code page of 8-bit texts, and the records already
// visited, so that a damaged tree that links back into itself, or many slots that point at one record,
// read each record once: a value is never longer than the bytes the files hold.
class LobContext {
public:
    LobContext(LobPageSource& pages, int32_t codePage) : pages_(pages), codePage_(codePage) {}

    LobPageSource& pages() const { return pages_; }
    int32_t codePage() const { return codePage_; }
    // False when the record at `recordOffset` of `page` was read before in this value, when the
    // value has read as many bytes as the files hold, or when the tree is too deep.
    bool Enter(PageAddress page, uint16_t recordOffset);
    void Leave() { --depth_; }
    // Starts a new value.
    void Reset() { visited_.clear(); depth_ = 0; bytesRead_ = 0; partMissing_ = false; blobId_ = 0; }
    // The blob id every node of the value must carry; 0 when the pointer gives none.
    void ExpectBlobId(uint64_t id) { blobId_ = id; }
    uint64_t expectedBlobId() const { return blobId_; }
    // Data lengths of all node records read so far in this value.
    int64_t bytesRead() const { return bytesRead_; }
    void AddBytesRead(int32_t length) { if (length > 0) bytesRead_ += length; }
    // A node of this value could not be read (missing page or record, a loop, too deep a tree).
    bool partMissing() const { return partMissing_; }
    void MarkPartMissing() { partMissing_ = true; }

private:
    LobPageSource& pages_;
    int32_t codePage_;
    std::set<LobRid> visited_;  // page and record offset (in the slot field)
    int depth_ = 0;
    int64_t bytesRead_ = 0;
    bool partMissing_ = false;
    uint64_t blobId_ = 0;
};

// Base of the node classes; nodes are created per read and destroyed after it.
class LobStructureBase {
public:
    explicit LobStructureBase(LobContext& context) : context_(context) {}
    virtual ~LobStructureBase() = default;
    // Text of the node's data; the base has none.
    virtual std::wstring GetText() const { return std::wstring(); }
    // "%02X" of `length` data bytes; the base has none.
    virtual std::wstring GetHex(int32_t length) const { (void)length; return std::wstring(); }

protected:
    LobContext& context_;
};

class LobSData : public LobStructureBase {
public:
    LobSData(LobContext& context, std::vector<uint8_t> data) : LobStructureBase(context), data_(std::move(data)) {}
    // 8-bit text up to the first zero byte, from `skip` bytes in.
    std::wstring GetText() const override { return TextFrom(0); }
    std::wstring TextFrom(size_t skip) const;
    std::wstring GetHex(int32_t length) const override;

    std::vector<uint8_t>& data() { return data_; }

private:
    std::vector<uint8_t> data_;
};

class SmallRoot : public LobStructureBase {
public:
    using LobStructureBase::LobStructureBase;
    uint64_t blobId = 0;
    uint16_t dataLength = 0;
    std::vector<uint8_t> data;
};

// Head shared by the nodes that hold links: blob id, link counts and level.
class LobTreeNode : public LobStructureBase {
public:
    using LobStructureBase::LobStructureBase;
    uint64_t blobId = 0;
    uint16_t maxLinks = 0;
    uint16_t currentLinks = 0;
    uint16_t level = 0;

protected:
    void ReadHead(ByteView payload);
    // The texts of the nodes the links lead to, in order; the sql_variant form applies to the root only.
    template <typename Link>
    std::wstring ReadLinks(const std::vector<Link>& links, const LobOptions& options, std::vector<ColumnData>* pieces,
                           bool collect);
};

class Internal : public LobTreeNode {
public:
    using LobTreeNode::LobTreeNode;
    // Parses the node from its record payload.
    void Read(ByteView payload);
    std::wstring ReadValue(const LobOptions& options, std::vector<ColumnData>* pieces, bool collect);

    std::vector<LobLink> links;
};

class LargeRootYukon : public LobTreeNode {
public:
    using LobTreeNode::LobTreeNode;
    // Parses the node from its record payload; `dataLength` is the record's data length.
    void Read(ByteView payload, int32_t dataLength);
    std::wstring ReadValue(const LobOptions& options, std::vector<ColumnData>* pieces, bool collect);

    std::vector<LobFragmentLink> links;
};

// Reads one node record and everything below it. `dataLength` is the record's data length (the
// payload less the 10-byte id and type). In collect mode the data goes to `pieces` and the text is
// empty.
std::wstring ReadLobValue(ByteView payload, LobContext& context, bool variant, bool hex, int32_t dataLength,
                          std::vector<ColumnData>* pieces, bool collect, bool unicode);

// Reads the node at `rid` with the given flags; the empty text when it cannot be had.
std::wstring ReadLobLink(const LobRid& rid, LobContext& context, const LobOptions& options,
                         std::vector<ColumnData>* pieces, bool collect);

// The in-row root of a max-length or row-overflow value. With `sideFiles` set and its large-values-to-
// files option on, a binary value goes to the next numbered "_blob" file and the text becomes the
// file's reference as the scripts use it ("/" + folder name + "/" + N + "_blob").
std::wstring GetLobValue(ByteView root, LobContext& context, const LobOptions& options,
                         std::vector<ColumnData>* pieces, bool collect, RunState* sideFiles);

// The 16-byte text pointer of a text, ntext or image value.
class TextPointerValue {
public:
    TextPointerValue(LobContext& context, ByteView pointer, const LobOptions& options);
    // The value's text; " " when it reads as empty.
    std::wstring ReadValue(std::vector<ColumnData>* pieces, bool collect, bool unicode);

    LobRid root;
    bool valid = false;

private:
    LobContext& context_;
    LobOptions options_;
};

// The stored bytes of a large value, every piece joined in order, appended to `out`: from a 16-byte
// text pointer, or from the in-row root of a max-length or row-overflow value. False when a part of
// the value cannot be read from the file; a value the pages' source cannot give whole is read again from
// its second source, when it has one.
bool ReadTextPointerBytes(LobContext& context, ByteView pointer, std::vector<uint8_t>& out);
bool ReadInRowRootBytes(LobContext& context, ByteView root, std::vector<uint8_t>& out);

// "0x" followed by hex digit pairs to bytes; the pairs converted stop at the first non-hex pair.
std::vector<uint8_t> HexTextToBytes(const std::wstring& text);

// The side file of the next binary large value: writes `bytes` to <folder>/<N>_blob and returns the
// cell text, or the empty text when the file cannot be written.
std::wstring WriteLargeValueFile(RunState& state, const std::vector<uint8_t>& bytes);

}  // namespace kestrane
