#pragma once
// Expressions that come from the data file (computed-column, default and check definitions) and go
// into a statement as they are.
#include <string>

namespace kestrane {

// The server stores such an expression as one normalised expression on one line; text that closes
// more parentheses than it opens, ends a statement, opens a comment or breaks the line (a "GO" line
// ends a script batch) could add statements of its own. Literals and bracketed names are passed over;
// an unclosed one is refused.
bool IsSelfContainedExpression(const std::wstring& text);

}  // namespace kestrane
