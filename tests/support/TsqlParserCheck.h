#pragma once
// The T-SQL parser check: generated texts go through node-sql-parser (tests/tools/check-tsql.js),
// which reports each batch as accepted, accepted with known gaps of the parser, or refused.
#include <string>
#include <vector>

namespace kestrane::test {

struct CheckedText {
    std::string name;
    std::wstring text;
};

// Why the check cannot run here, or "" when it can.
std::string ParserMissing();

// The checker's output lines for the texts: "verdict TAB name TAB batch [TAB detail]".
std::vector<std::string> RunParserCheck(const std::vector<CheckedText>& texts, const std::string& label);

// Fails the test for every batch the parser refuses; returns the number of batches it took.
int ExpectParserAccepts(const std::vector<CheckedText>& texts, const std::string& label);

}  // namespace kestrane::test
