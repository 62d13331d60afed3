#pragma once
// Message boxes, asked through an interface so that the engine and the dialog logic run headless.
#include <string>

namespace kestrane {

enum class MessageIcon { Information, Warning, Error, Question };
enum class PromptAnswer { Ok, Yes, No, Cancel };

class Prompter {
public:
    virtual ~Prompter() = default;
    // Shows text with the application title as caption; returns when dismissed.
    virtual void ShowMessage(const std::wstring& text, MessageIcon icon) = 0;
    // A Yes/No question.
    virtual PromptAnswer AskYesNo(const std::wstring& text) = 0;
};

}  // namespace kestrane
