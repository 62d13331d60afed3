#include "datafile/XmlValueText.h"

#include <algorithm>
#include <new>

#include "platform/BinaryXmlDecoder.h"

namespace kestrane {

std::wstring ConvertXmlBinaryToText(ByteView bytes) {
    if (bytes.empty()) return std::wstring();
    return DecodeBinaryXml(bytes);
}

bool IsReadableXml(ByteView bytes) { return bytes.empty() || ReadBinaryXml(bytes).has_value(); }

std::wstring ConvertPiecesToXmlText(std::vector<ColumnData>& pieces) {
    std::wstring text;
    try {
        size_t total = 0;
        for (const ColumnData& piece : pieces)
            if (piece.hasData() && piece.length > 0) total += static_cast<size_t>(piece.length);
        if (total > 0) {
            std::vector<uint8_t> joined;
            joined.reserve(total);
            for (const ColumnData& piece : pieces) {
                if (!piece.hasData() || piece.length <= 0) continue;
                size_t n = std::min(piece.data.size(), static_cast<size_t>(piece.length));
                joined.insert(joined.end(), piece.data.begin(), piece.data.begin() + static_cast<std::ptrdiff_t>(n));
            }
            text = ConvertXmlBinaryToText(ByteView(joined));
        }
    } catch (const std::bad_alloc&) {
        text.clear();
    }
    for (ColumnData& piece : pieces) {
        piece.data.clear();
        piece.data.shrink_to_fit();
    }
    return text;
}

}  // namespace kestrane
