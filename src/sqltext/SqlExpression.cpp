#include "sqltext/SqlExpression.h"

namespace kestrane {

bool IsSelfContainedExpression(const std::wstring& text) {
    int depth = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        const wchar_t next = i + 1 < text.size() ? text[i + 1] : L'\0';
        if (c == L'\r' || c == L'\n' || c == L';' || (c == L'-' && next == L'-') || (c == L'/' && next == L'*'))
            return false;
        if (c == L'(') ++depth;
        if (c == L')' && --depth < 0) return false;
        if (c == L'\'' || c == L'"' || c == L'[') {
            const wchar_t close = c == L'[' ? L']' : c;
            for (++i;; ++i) {  // a doubled closing character stays inside
                if (i >= text.size() || text[i] == L'\r' || text[i] == L'\n') return false;
                if (text[i] != close) continue;
                if (i + 1 < text.size() && text[i + 1] == close) {
                    ++i;
                    continue;
                }
                break;
            }
        }
    }
    return depth == 0;
}

}  // namespace kestrane
