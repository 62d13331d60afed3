#pragma once
// Expressions that come from the data file (computed-column, default and check definitions) and go
// into a statement as they are.
#include <string>

namespace kestrane {

// True when the text is exactly one expression of the kinds the server stores for these definitions,
// ending where the text ends: literals ('..', N'..' with '' inside, numbers, 0x.., $ amounts), bracketed
// or quoted names, plain names (no reserved word but the few functions that are one), dotted names,
// function calls, CAST/CONVERT with a type, CASE .. END, NEXT VALUE FOR, COLLATE, unary and binary
// operators, comparisons, LIKE, IN (..), BETWEEN, IS [NOT] NULL, NOT, AND, OR and parentheses. A
// second statement after the expression, a comment, a line break, a NUL, an unclosed literal or name,
// and nesting deeper than 200 levels are refused: such text could add statements of its own.
bool IsSingleExpression(const std::wstring& text);

}  // namespace kestrane
