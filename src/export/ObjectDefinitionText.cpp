#include "export/ObjectDefinitionText.h"

#include <algorithm>

#include "datafile/MetadataCatalog.h"
#include "platform/TextCodec.h"

namespace kestrane {

std::wstring GetObjectDefinitionText(const std::vector<StringTriple>& definitions, const std::wstring& idText,
                                     int codePage) {
    std::wstring text;
    for (const StringTriple& definition : definitions) {
        if (definition.key != idText) continue;
        bool wide = false;
        const std::vector<uint8_t> bytes = CMetadataCatalog::ReadObjectDefinition(definition.value, wide);
        std::wstring part = wide ? Utf16LeToWide(ByteView(bytes)) : CodePageToWide(ByteView(bytes), codePage);
        part.resize(std::min(part.size(), part.find(L'\0')));  // the text ends at its first zero
        text += part;
    }
    return text;
}

}  // namespace kestrane
