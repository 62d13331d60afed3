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

// Under CI (CI=true) a parser check that cannot run fails its test instead of skipping it.
bool ParserRequired();

}  // namespace kestrane::test

// Skips the test when the parser check cannot run here; fails it when the check is required.
#define KESTRANE_REQUIRE_PARSER()                                                  \
    do {                                                                           \
        if (std::string why = ::kestrane::test::ParserMissing(); !why.empty()) {   \
            if (::kestrane::test::ParserRequired()) FAIL() << "required under CI: " << why; \
            GTEST_SKIP() << why;                                                   \
        }                                                                          \
    } while (0)

namespace kestrane::test {

// The checker's output lines for the texts: "verdict TAB name TAB batch [TAB detail]".
std::vector<std::string> RunParserCheck(const std::vector<CheckedText>& texts, const std::string& label);

// Fails the test for every batch the parser refuses; returns the number of batches it took.
int ExpectParserAccepts(const std::vector<CheckedText>& texts, const std::string& label);

}  // namespace kestrane::test
