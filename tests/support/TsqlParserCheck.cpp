#include "support/TsqlParserCheck.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "platform/TextCodec.h"

namespace kestrane::test {

namespace {

namespace fs = std::filesystem;

std::string JsonString(const std::string& utf8) {
    std::string out = "\"";
    char escaped[8];
    for (unsigned char c : utf8) {
        std::snprintf(escaped, sizeof escaped, c < 0x20 ? "\\u%04x" : (c == '"' || c == '\\') ? "\\%c" : "%c", c);
        out += escaped;
    }
    return out + "\"";
}

fs::path ToolsDir() { return fs::path(KESTRANE_SOURCE_DIR) / "tests" / "tools"; }

}  // namespace

std::string ParserMissing() {
    if (std::system("node --version >/dev/null 2>&1") != 0) return "node is not installed";
    if (!fs::exists(ToolsDir() / "node_modules" / "node-sql-parser" / "package.json"))
        return "node-sql-parser is not installed (scripts/setup.sh installs it into tests/tools)";
    return {};
}

bool ParserRequired() {
    const char* ci = std::getenv("CI");
    return ci && std::string(ci) == "true";
}

std::vector<std::string> RunParserCheck(const std::vector<CheckedText>& texts, const std::string& label) {
    const fs::path input = fs::path(KESTRANE_BINARY_DIR) / ("tsql-check-" + label + ".json");
    {
        std::ofstream out(input, std::ios::binary);
        out << "[";
        for (size_t i = 0; i < texts.size(); ++i)
            out << (i ? ",\n" : "") << "{\"name\":" << JsonString(texts[i].name) << ",\"text\":" << JsonString(WideToUtf8(texts[i].text)) << "}";
        out << "]";
    }
    const std::string command = "node \"" + (ToolsDir() / "check-tsql.js").string() + "\" \"" + input.string() + "\" 2>&1";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::vector<std::string> lines;
    if (!pipe) return lines;
    std::string output;
    char buffer[4096];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe.get())) output.append(buffer, n);
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

int ExpectParserAccepts(const std::vector<CheckedText>& texts, const std::string& label) {
    std::map<std::string, int> verdicts;
    for (const std::string& line : RunParserCheck(texts, label)) {
        const std::string verdict = line.substr(0, line.find('\t'));
        ++verdicts[verdict];
        if (verdict != "accepted" && verdict != "gaps") ADD_FAILURE() << "parser check: " << line;
    }
    EXPECT_GT(verdicts["accepted"] + verdicts["gaps"], 0);
    return verdicts["accepted"] + verdicts["gaps"];
}

}  // namespace kestrane::test
