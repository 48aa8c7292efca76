#pragma once

#include <deque>
#include <initializer_list>
#include <string>
#include <vector>

#include "zrn/config/prompter.h"

namespace zrn::config {

// Records every prompt and answers from a script. A prompt the script does
// not cover gets the box's first button (OK or Yes) and is counted, so a test
// can insist that nothing was asked unexpectedly.
class FakePrompter final : public Prompter {
public:
    struct Prompt {
        std::string text;
        std::string caption;
        Buttons buttons;
        Icon icon;
    };

    Answer ask(std::string_view text, std::string_view caption, Buttons buttons, Icon icon) override;

    // Appends answers for the next prompts, in order.
    void script(std::initializer_list<Answer> answers) { script_.insert(script_.end(), answers); }
    const std::vector<Prompt>& prompts() const { return prompts_; }
    // Prompts answered without a scripted answer.
    int unscripted() const { return unscripted_; }
    // Scripted answers not used yet.
    std::size_t pending() const { return script_.size(); }
    void clear() {
        prompts_.clear();
        script_.clear();
        unscripted_ = 0;
    }

private:
    std::vector<Prompt> prompts_;
    std::deque<Answer> script_;
    int unscripted_ = 0;
};

}  // namespace zrn::config
