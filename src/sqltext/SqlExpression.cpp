#include "sqltext/SqlExpression.h"

#include <string_view>

#include "sqltext/SqlNames.h"

namespace kestrane {

namespace {

constexpr int kMaxDepth = 200;

enum class Kind { End, Number, Text, Name, Word, Symbol, Invalid };

struct Token {
    Kind kind = Kind::End;
    std::wstring_view text;
};

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }
bool IsHexDigit(wchar_t c) { return IsDigit(c) || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'); }

// Letters beyond ASCII may name things too; the blanks and line separators among them may not.
bool IsWideLetter(wchar_t c) {
    if (c < 0xC0 || c == 0xFEFF) return false;
    return !((c >= 0x2000 && c <= 0x200F) || (c >= 0x2028 && c <= 0x202F) || c == 0x205F || c == 0x3000);
}

bool IsWordStart(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || c == L'_' || c == L'#' || c == L'@' || IsWideLetter(c);
}
bool IsWordPart(wchar_t c) { return IsWordStart(c) || IsDigit(c) || c == L'$'; }

bool SameWord(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const wchar_t x = a[i] >= L'a' && a[i] <= L'z' ? static_cast<wchar_t>(a[i] - 32) : a[i];
        if (x != b[i]) return false;
    }
    return true;
}

class Lexer {
public:
    explicit Lexer(std::wstring_view text) : text_(text) {}

    Token Next() {
        while (at_ < text_.size() && (text_[at_] == L' ' || text_[at_] == L'\t')) ++at_;
        if (at_ >= text_.size()) return {Kind::End, {}};
        const size_t start = at_;
        const wchar_t c = text_[at_];
        const wchar_t next = at_ + 1 < text_.size() ? text_[at_ + 1] : L'\0';
        if (c == L'\'') return Quoted(start, L'\'', Kind::Text);
        if ((c == L'N' || c == L'n') && next == L'\'') {
            ++at_;
            return Quoted(start, L'\'', Kind::Text);
        }
        if (c == L'[') return Quoted(start, L']', Kind::Name);
        if (c == L'"') return Quoted(start, L'"', Kind::Name);
        if (c == L'0' && (next == L'x' || next == L'X')) {
            at_ += 2;
            while (at_ < text_.size() && IsHexDigit(text_[at_])) ++at_;
            return Take(start, Kind::Number);
        }
        if (IsDigit(c) || (c == L'.' && IsDigit(next)) || (c == L'$' && (IsDigit(next) || next == L'.'))) return Number(start);
        if (IsWordStart(c)) {
            while (at_ < text_.size() && IsWordPart(text_[at_])) ++at_;
            return Take(start, Kind::Word);
        }
        // A comment would hide the rest of the line from the server.
        if ((c == L'-' && next == L'-') || (c == L'/' && next == L'*')) return {Kind::Invalid, {}};
        for (std::wstring_view pair : {L"<=", L">=", L"<>", L"!=", L"!<", L"!>", L"::"})
            if (text_.substr(at_, 2) == pair) {
                at_ += 2;
                return Take(start, Kind::Symbol);
            }
        if (std::wstring_view(L"()+-*/%&|^~=<>,.").find(c) != std::wstring_view::npos) {
            ++at_;
            return Take(start, Kind::Symbol);
        }
        return {Kind::Invalid, {}};
    }

private:
    Token Take(size_t start, Kind kind) const { return {kind, text_.substr(start, at_ - start)}; }

    // A literal or a delimited name; a doubled closing character stays inside. No line may break in it.
    Token Quoted(size_t start, wchar_t close, Kind kind) {
        for (++at_; at_ < text_.size(); ++at_) {
            if (text_[at_] != close) continue;
            if (at_ + 1 < text_.size() && text_[at_ + 1] == close) {
                ++at_;
                continue;
            }
            ++at_;
            return Take(start, kind);
        }
        return {Kind::Invalid, {}};
    }

    Token Number(size_t start) {
        if (text_[at_] == L'$') ++at_;
        while (at_ < text_.size() && IsDigit(text_[at_])) ++at_;
        if (at_ < text_.size() && text_[at_] == L'.') ++at_;
        while (at_ < text_.size() && IsDigit(text_[at_])) ++at_;
        if (at_ < text_.size() && (text_[at_] == L'e' || text_[at_] == L'E')) {
            size_t exponent = at_ + 1;
            if (exponent < text_.size() && (text_[exponent] == L'+' || text_[exponent] == L'-')) ++exponent;
            if (exponent < text_.size() && IsDigit(text_[exponent])) {
                at_ = exponent;
                while (at_ < text_.size() && IsDigit(text_[at_])) ++at_;
            }
        }
        return Take(start, Kind::Number);
    }

    std::wstring_view text_;
    size_t at_ = 0;
};

// Reserved words that are functions of an expression all the same.
bool IsFunctionKeyword(std::wstring_view word) {
    for (std::wstring_view name : {L"COALESCE", L"NULLIF", L"LEFT", L"RIGHT"})
        if (SameWord(word, name)) return true;
    return false;
}
bool IsNiladicKeyword(std::wstring_view word) {
    for (std::wstring_view name :
         {L"CURRENT_TIMESTAMP", L"CURRENT_USER", L"SESSION_USER", L"SYSTEM_USER", L"USER", L"CURRENT_DATE"})
        if (SameWord(word, name)) return true;
    return false;
}

class ExpressionParser {
public:
    explicit ExpressionParser(std::wstring_view text) : lexer_(text) { Advance(); }

    bool ParseWhole() { return Expression() && token_.kind == Kind::End; }

private:
    void Advance() { token_ = lexer_.Next(); }
    bool AtWord(std::wstring_view word) const { return token_.kind == Kind::Word && SameWord(token_.text, word); }
    bool AtSymbol(std::wstring_view symbol) const { return token_.kind == Kind::Symbol && token_.text == symbol; }
    bool AcceptWord(std::wstring_view word) {
        if (!AtWord(word)) return false;
        Advance();
        return true;
    }
    bool AcceptSymbol(std::wstring_view symbol) {
        if (!AtSymbol(symbol)) return false;
        Advance();
        return true;
    }

    bool Expression() {
        if (++depth_ > kMaxDepth) return false;
        bool ok = AndExpression();
        while (ok && AcceptWord(L"OR")) ok = AndExpression();
        --depth_;
        return ok;
    }

    bool AndExpression() {
        bool ok = NotExpression();
        while (ok && AcceptWord(L"AND")) ok = NotExpression();
        return ok;
    }

    bool NotExpression() {
        size_t nots = 0;
        for (; AcceptWord(L"NOT"); ++nots)
            if (nots > kMaxDepth) return false;
        return Predicate();
    }

    bool Predicate() {
        if (!Additive()) return false;
        for (std::wstring_view op : {L"=", L"<>", L"!=", L"<", L">", L"<=", L">=", L"!<", L"!>"})
            if (AcceptSymbol(op)) return Additive();
        const bool negated = AcceptWord(L"NOT");
        if (AcceptWord(L"LIKE")) return Additive() && (!AcceptWord(L"ESCAPE") || Additive());
        if (AcceptWord(L"IN")) return AcceptSymbol(L"(") && ExpressionList() && AcceptSymbol(L")");
        if (AcceptWord(L"BETWEEN")) return Additive() && AcceptWord(L"AND") && Additive();
        if (negated) return false;
        if (AcceptWord(L"IS")) {
            AcceptWord(L"NOT");
            return AcceptWord(L"NULL");
        }
        return true;
    }

    bool Additive() {
        bool ok = Multiplicative();
        while (ok && (AcceptSymbol(L"+") || AcceptSymbol(L"-") || AcceptSymbol(L"&") || AcceptSymbol(L"|") ||
                      AcceptSymbol(L"^")))
            ok = Multiplicative();
        return ok;
    }

    bool Multiplicative() {
        bool ok = Unary();
        while (ok && (AcceptSymbol(L"*") || AcceptSymbol(L"/") || AcceptSymbol(L"%"))) ok = Unary();
        return ok;
    }

    bool Unary() {
        size_t signs = 0;
        for (; AcceptSymbol(L"-") || AcceptSymbol(L"+") || AcceptSymbol(L"~"); ++signs)
            if (signs > kMaxDepth) return false;
        if (!Primary()) return false;
        if (AcceptWord(L"COLLATE")) return Identifier();
        return true;
    }

    bool ExpressionList() {
        bool ok = Expression();
        while (ok && AcceptSymbol(L",")) ok = Expression();
        return ok;
    }

    // One part of a name: delimited, or a plain word that no statement could begin with.
    bool Identifier() {
        if (token_.kind == Kind::Name || (token_.kind == Kind::Word && !IsReservedWord(std::wstring(token_.text)))) {
            Advance();
            return true;
        }
        return false;
    }

    bool DottedName() {
        if (!Identifier()) return false;
        while (AtSymbol(L".") || AtSymbol(L"::")) {
            Advance();
            if (token_.kind != Kind::Name && token_.kind != Kind::Word) return false;
            Advance();  // a member name after "." or "::" cannot begin a statement
        }
        return true;
    }

    // A type of CAST or CONVERT: a name with an optional (n), (max) or (p, s).
    bool TypeName() {
        if (!DottedName()) return false;
        if (!AcceptSymbol(L"(")) return true;
        if (!AcceptWord(L"MAX")) {
            if (token_.kind != Kind::Number) return false;
            Advance();
            if (AcceptSymbol(L",")) {
                if (token_.kind != Kind::Number) return false;
                Advance();
            }
        }
        return AcceptSymbol(L")");
    }

    bool Arguments() {
        if (!AcceptSymbol(L"(")) return false;
        if (AcceptSymbol(L")")) return true;
        return ExpressionList() && AcceptSymbol(L")");
    }

    bool Case() {
        if (!AtWord(L"WHEN") && !Expression()) return false;
        if (!AtWord(L"WHEN")) return false;
        while (AcceptWord(L"WHEN"))
            if (!Expression() || !AcceptWord(L"THEN") || !Expression()) return false;
        if (AcceptWord(L"ELSE") && !Expression()) return false;
        return AcceptWord(L"END");
    }

    bool Primary() {
        switch (token_.kind) {
            case Kind::Number:
            case Kind::Text:
                Advance();
                return true;
            case Kind::Symbol:
                return AcceptSymbol(L"(") && Expression() && AcceptSymbol(L")");
            case Kind::Name:
                return Reference();
            case Kind::Word:
                break;
            default:
                return false;
        }
        if (AcceptWord(L"NULL")) return true;
        if (AcceptWord(L"CASE")) return Case();
        if (AcceptWord(L"CAST") || AcceptWord(L"TRY_CAST"))
            return AcceptSymbol(L"(") && Expression() && AcceptWord(L"AS") && TypeName() && AcceptSymbol(L")");
        if (AcceptWord(L"CONVERT") || AcceptWord(L"TRY_CONVERT")) {
            if (!AcceptSymbol(L"(") || !TypeName() || !AcceptSymbol(L",") || !Expression()) return false;
            if (AcceptSymbol(L",") && !Expression()) return false;
            return AcceptSymbol(L")");
        }
        if (AcceptWord(L"NEXT")) return AcceptWord(L"VALUE") && AcceptWord(L"FOR") && DottedName();
        if (IsNiladicKeyword(token_.text)) {
            Advance();
            return true;
        }
        if (IsFunctionKeyword(token_.text)) {
            Advance();
            return Arguments();
        }
        return Reference();
    }

    // A column, a function call or a method call: dotted names with argument lists.
    bool Reference() {
        if (!DottedName()) return false;
        while (AtSymbol(L"(")) {
            if (!Arguments()) return false;
            if (!AtSymbol(L".")) break;
            Advance();
            if (token_.kind != Kind::Name && token_.kind != Kind::Word) return false;
            Advance();
        }
        return true;
    }

    Lexer lexer_;
    Token token_;
    int depth_ = 0;
};

}  // namespace

bool IsSingleExpression(const std::wstring& text) {
    // A line break or NUL anywhere, even inside a literal, would end a script line or a statement early.
    for (wchar_t c : text)
        if (c == L'\0' || c == L'\r' || c == L'\n' || c == 0x85 || c == 0x2028 || c == 0x2029) return false;
    return ExpressionParser(text).ParseWhole();
}

}  // namespace kestrane
