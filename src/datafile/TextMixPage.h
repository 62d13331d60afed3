#pragma once
// A text/image page: one TextRecord per slot, read by the large-value readers.
#include "datafile/RecordPage.h"

namespace kestrane {

class TextMixPage : public RecordPage {
public:
    // Takes the image over; slot i whose offset lies in 0..8192 gets a TextRecord with room
    // 8192 - offset, any other slot an empty entry. The slot array is released afterwards.
    TextMixPage(PageBuffer image, CMdfFile* owner, RunState& state);
    ~TextMixPage() override = default;

    // The record of `slot` as a text record, or null.
    TextRecord* TextRecordAt(size_t slot) const { return static_cast<TextRecord*>(RecordAt(slot)); }
};

}  // namespace kestrane
