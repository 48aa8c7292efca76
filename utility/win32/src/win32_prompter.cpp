#include "win32_prompter.h"

#include <string>

namespace zrn::utility::win32 {

config::Answer Win32Prompter::ask(std::string_view text, std::string_view caption, config::Buttons buttons, config::Icon icon) {
    UINT type = MB_OK;
    switch (buttons) {
        case config::Buttons::Ok: type = MB_OK; break;
        case config::Buttons::OkCancel: type = MB_OKCANCEL; break;
        case config::Buttons::YesNo: type = MB_YESNO; break;
        case config::Buttons::YesNoCancel: type = MB_YESNOCANCEL; break;
    }
    switch (icon) {
        case config::Icon::None: break;
        case config::Icon::Error: type |= MB_ICONHAND; break;
        case config::Icon::Warning: type |= MB_ICONEXCLAMATION; break;
        case config::Icon::Information: type |= MB_ICONASTERISK; break;
        case config::Icon::Question: type |= MB_ICONQUESTION; break;
    }
    const std::string body(text);
    const std::string title(caption);
    switch (MessageBoxA(owner_, body.c_str(), title.c_str(), type)) {
        case IDOK: return config::Answer::Ok;
        case IDYES: return config::Answer::Yes;
        case IDNO: return config::Answer::No;
        default:
            // Closed without a button: Cancel, or No where there is no Cancel.
            return buttons == config::Buttons::YesNo ? config::Answer::No : config::Answer::Cancel;
    }
}

}  // namespace zrn::utility::win32
