#include "datafile/BitColumnPlaces.h"

namespace kestrane {

std::vector<int8_t> BitColumnPlaces(const ColumnDefList& columns) {
    std::vector<int8_t> places(columns.size(), -1);
    int32_t inOrder = 0;       // bit columns placed one after another
    int32_t sharing = 0;       // bit columns seen at the current leaf offset
    int16_t leafOffset = -1;
    for (size_t c = 0; c < columns.size(); ++c) {
        const ColumnDef& def = columns[c];
        if (def.typeCode != kTypeBit || def.ordinal == kOrdinalNotStored || def.sparse || def.inLayout == 0) continue;
        if (def.bitPosition >= 0 && def.bitPosition < 8) {
            places[c] = def.bitPosition;
        } else if (def.leafOffset >= 4) {
            if (def.leafOffset != leafOffset) sharing = 0;
            leafOffset = def.leafOffset;
            places[c] = static_cast<int8_t>(sharing++ % 8);
        } else {
            places[c] = static_cast<int8_t>(inOrder++ % 8);
        }
    }
    return places;
}

}  // namespace kestrane
