#pragma once
// Test doubles that record what the engine reports and answer its questions.
#include <deque>
#include <string>
#include <vector>

#include "platform/ProgressSink.h"
#include "platform/Prompter.h"

namespace kestrane::test {

class RecordingProgressSink : public ProgressSink {
public:
    struct Call { unsigned message; int number; std::string text; };
    void SetPosition(int p) override { calls.push_back({kMsgProgressPosition, p, {}}); }
    void SetRange(int r) override { calls.push_back({kMsgProgressRange, r, {}}); }
    void StatusText(const std::string& t) override { calls.push_back({kMsgStatusText, 0, t}); }
    void FatalText(const std::string& t) override { calls.push_back({kMsgFatalText, 0, t}); }
    void ErrorDescription(const std::string& t) override { calls.push_back({kMsgErrorDescription, 0, t}); }

    std::vector<std::string> texts(unsigned message) const {
        std::vector<std::string> out;
        for (const auto& c : calls) if (c.message == message) out.push_back(c.text);
        return out;
    }
    std::vector<Call> calls;
};

class ScriptedPrompter : public Prompter {
public:
    void ShowMessage(const std::wstring& text, MessageIcon icon) override { messages.push_back({text, icon}); }
    PromptAnswer AskYesNo(const std::wstring& text) override {
        questions.push_back(text);
        if (answers.empty()) return PromptAnswer::No;
        auto a = answers.front();
        answers.pop_front();
        return a;
    }
    struct Message { std::wstring text; MessageIcon icon; };
    std::vector<Message> messages;
    std::vector<std::wstring> questions;
    std::deque<PromptAnswer> answers;
};

}  // namespace kestrane::test
