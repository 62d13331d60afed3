// Reads large values through text pages made of arbitrary bytes: the first bytes are an in-row root
// and a text pointer, the rest are up to four page images (pages 1..4 of file 1).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "datafile/LargeValue.h"
#include "datafile/TextMixPage.h"
#include "datafile/XmlValueText.h"
#include "platform/RunState.h"

using namespace kestrane;

namespace {

class FuzzPages : public LobPageSource {
public:
    // Each 512-byte chunk gives one page: its first half at the page start (header and records), its
    // second half at the page end (more records and the slot array).
    FuzzPages(const uint8_t* data, size_t size) {
        for (size_t offset = 0; offset < size && images_.size() < 4; offset += 512) {
            std::vector<uint8_t> image(kPageSize, 0);
            const size_t n = std::min<size_t>(512, size - offset);
            std::memcpy(image.data(), data + offset, std::min<size_t>(256, n));
            if (n > 256) std::memcpy(image.data() + kPageSize - 256, data + offset + 256, n - 256);
            images_.push_back(std::move(image));
        }
    }
    std::unique_ptr<TextMixPage> LoadTextMixPage(PageAddress address) override {
        if (address.fileId != 1 || address.pageId < 1 || address.pageId > images_.size()) return nullptr;
        PageBuffer buffer = AllocatePageBuffer();
        std::memcpy(buffer.get(), images_[address.pageId - 1].data(), kPageSize);
        return std::make_unique<TextMixPage>(std::move(buffer), nullptr, state_);
    }

private:
    RunState state_{""};
    std::vector<std::vector<uint8_t>> images_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 64) return 0;
    const uint8_t flags = data[0];
    const size_t rootLength = 12 + (data[1] % 4) * 12;
    std::vector<uint8_t> root(data + 2, data + 2 + rootLength);
    std::vector<uint8_t> pointer(data + 38, data + 54);
    FuzzPages pages(data + 54, size - 54);
    LobContext context(pages, (flags & 8) ? 1251 : 1252);
    LobOptions options{static_cast<uint8_t>(flags & 1), static_cast<uint8_t>((flags >> 1) & 1),
                       static_cast<uint8_t>((flags >> 2) & 1)};
    std::vector<ColumnData> pieces;
    GetLobValue(ByteView(root), context, options, nullptr, false, nullptr);
    GetLobValue(ByteView(root), context, options, &pieces, true, nullptr);
    ConvertPiecesToXmlText(pieces);
    TextPointerValue value(context, ByteView(pointer), options);
    value.ReadValue(nullptr, false, options.unicode);
    value.ReadValue(&pieces, true, options.unicode);
    ConvertPiecesToXmlText(pieces);
    return 0;
}
