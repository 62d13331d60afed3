#pragma once
// A text/image page: one TextRecord per slot, read by the large-value readers.
#include "datafile/RecordPage.h"

namespace kestrane {

class TextMixPage : public RecordPage {
public:
    // Takes the image over and reads its slot array. Records are built when first asked for: a
    // large-value read wants one slot of the page.
    TextMixPage(PageBuffer image, CMdfFile* owner, RunState& state);
    ~TextMixPage() override = default;

    // The text record of `slot`, or null. A slot whose offset lies in 0..8192 gets a TextRecord with
    // room 8192 - offset; any other slot has none.
    TextRecord* TextRecordAt(size_t slot);
};

}  // namespace kestrane
