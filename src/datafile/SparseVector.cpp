#include "datafile/SparseVector.h"

namespace kestrane {

void SparseVector::Parse(ByteView value) {
    const size_t length = value.size();
    const int32_t n = value.getOr<int16_t>(2, 0);
    count = static_cast<int16_t>(n);
    const int32_t idPos = 4;
    const int32_t endPos = 4 + 2 * n;
    const int32_t dataStart = 4 + 4 * n;
    if (n < 0 || endPos >= 8192 || dataStart >= 8192 || length <= 4 || static_cast<size_t>(endPos) >= length) return;
    int32_t previous = dataStart;
    for (int32_t k = 0; k < n; ++k) {
        ColumnValue v;
        v.columnId = value.getOr<uint16_t>(idPos + 2 * k, 0);
        const int32_t end = value.getOr<uint16_t>(endPos + 2 * k, 0);
        const int32_t len = end - previous;
        if (end != previous && len >= 0 && len < 8061 && previous < 8060 && static_cast<size_t>(end) <= length) {
            if (len > 0) v.Own(value.sub(static_cast<size_t>(previous), static_cast<size_t>(len)));
        }
        v.length = len > 0 ? static_cast<uint32_t>(len) : 0;
        values.push_back(std::move(v));
        previous = end;
    }
}

void SparseVector::Clear() {
    values.clear();
}

}  // namespace kestrane
