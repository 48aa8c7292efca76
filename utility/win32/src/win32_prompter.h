#pragma once

#include <windows.h>

#include "zrn/config/prompter.h"

namespace zrn::utility::win32 {

// The utility's questions and messages as Windows message boxes, owned by
// the main window once it exists.
class Win32Prompter final : public config::Prompter {
public:
    void set_owner(HWND owner) { owner_ = owner; }
    HWND owner() const { return owner_; }
    config::Answer ask(std::string_view text, std::string_view caption, config::Buttons buttons, config::Icon icon) override;

private:
    HWND owner_ = nullptr;
};

}  // namespace zrn::utility::win32
