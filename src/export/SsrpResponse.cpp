#include "export/SsrpResponse.h"

#include "platform/TextCodec.h"

namespace kestrane {

namespace {

bool Printable(const std::wstring& text) {
    for (wchar_t c : text)
        if (c < 0x20 || c == 0x7F) return false;
    return !text.empty();
}

// One instance's "key;value;key;value" text (without its ";;").
std::wstring InstanceName(const std::wstring& record) {
    std::vector<std::wstring> fields;
    for (size_t start = 0;;) {
        const size_t end = record.find(L';', start);
        fields.push_back(record.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    std::wstring server, instance;
    for (size_t i = 0; i + 1 < fields.size(); i += 2) {
        if (LowerCase(fields[i]) == L"servername") server = fields[i + 1];
        if (LowerCase(fields[i]) == L"instancename") instance = fields[i + 1];
    }
    if (!Printable(server) || !Printable(instance)) return {};
    return LowerCase(instance) == L"mssqlserver" ? server : server + L"\\" + instance;
}

}  // namespace

std::vector<std::wstring> ParseSsrpResponse(ByteView datagram) {
    std::vector<std::wstring> names;
    const auto kind = datagram.u8(0);
    const auto size = datagram.u16(1);
    if (!kind || !size || *kind != kSsrpServerResponse) return names;
    const size_t available = datagram.size() - 3;
    const ByteView body = datagram.sub(3, *size < available ? *size : available);
    const std::wstring text = CodePageToWide(body, 1252);
    for (size_t start = 0;;) {
        const size_t end = text.find(L";;", start);
        if (end == std::wstring::npos) break;  // a cut-off instance is not read
        const std::wstring name = InstanceName(text.substr(start, end - start));
        if (!name.empty()) names.push_back(name);
        start = end + 2;
    }
    return names;
}

}  // namespace kestrane
