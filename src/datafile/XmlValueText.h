#pragma once
// Stored binary xml values as xml text: in-row values and values collected from large-value pieces.
#include <string>
#include <vector>

#include "datafile/RecordValues.h"
#include "platform/ByteReader.h"

namespace kestrane {

// The xml text of a stored binary xml value; the empty text when it cannot be converted.
std::wstring ConvertXmlBinaryToText(ByteView bytes);

// True for a value the xml conversion can read (an empty value is the empty text).
bool IsReadableXml(ByteView bytes);

// The same for a value collected as pieces, joined in order. Every piece's bytes are released.
std::wstring ConvertPiecesToXmlText(std::vector<ColumnData>& pieces);

}  // namespace kestrane
