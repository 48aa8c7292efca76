#include "zrn/config/fake_prompter.h"

namespace zrn::config {

Answer FakePrompter::ask(std::string_view text, std::string_view caption, Buttons buttons, Icon icon) {
    prompts_.push_back(Prompt{std::string(text), std::string(caption), buttons, icon});
    if (!script_.empty()) {
        const Answer a = script_.front();
        script_.pop_front();
        return a;
    }
    ++unscripted_;
    return buttons == Buttons::YesNo || buttons == Buttons::YesNoCancel ? Answer::Yes : Answer::Ok;
}

}  // namespace zrn::config
