#pragma once
// The server stores xml values in its binary xml form: a header (DF FF, version, B0 04) and a token
// stream with tables of names and qualified names and typed atomic values. This turns one stored
// value back into xml text.
#include <optional>
#include <string>
#include "platform/ByteReader.h"

namespace kestrane {

// The xml text of a stored binary xml value; the empty text when the value is malformed, truncated
// or uses a token we do not know.
std::wstring DecodeBinaryXml(ByteView bytes);
// The same; nullopt (not an empty text) when the value cannot be read.
std::optional<std::wstring> ReadBinaryXml(ByteView bytes);

}  // namespace kestrane
