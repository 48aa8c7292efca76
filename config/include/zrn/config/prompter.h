#pragma once

#include <string_view>

namespace zrn::config {

// The buttons a message box or question offers.
enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel };

// The symbol shown beside the text: Error is the stop sign, Warning the
// exclamation mark.
enum class Icon { None, Error, Warning, Information, Question };

// The button the user pressed. Closing a box without a button answers Cancel
// (or No for a yes/no question).
enum class Answer { Ok, Cancel, Yes, No };

// Every message box and question of the utility goes through this port, so
// the rules that decide what is asked stay testable and a GUI test can answer.
class Prompter {
public:
    virtual ~Prompter() = default;
    virtual Answer ask(std::string_view text, std::string_view caption, Buttons buttons, Icon icon) = 0;
};

}  // namespace zrn::config
