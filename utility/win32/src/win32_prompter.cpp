#include "win32_prompter.h"

#include <string>

namespace zrn::utility::win32 {

Answer Win32Prompter::ask(std::string_view text, std::string_view caption, Buttons buttons, Icon icon) {
    UINT type = MB_OK;
    switch (buttons) {
        case Buttons::Ok: type = MB_OK; break;
        case Buttons::OkCancel: type = MB_OKCANCEL; break;
        case Buttons::YesNo: type = MB_YESNO; break;
        case Buttons::YesNoCancel: type = MB_YESNOCANCEL; break;
    }
    switch (icon) {
        case Icon::None: break;
        case Icon::Error: type |= MB_ICONHAND; break;
        case Icon::Warning: type |= MB_ICONEXCLAMATION; break;
        case Icon::Information: type |= MB_ICONASTERISK; break;
        case Icon::Question: type |= MB_ICONQUESTION; break;
    }
    const std::string body(text);
    const std::string title(caption);
    switch (MessageBoxA(owner_, body.c_str(), title.c_str(), type)) {
        case IDOK: return Answer::Ok;
        case IDYES: return Answer::Yes;
        case IDNO: return Answer::No;
        default:
            // Closed without a button: Cancel, or No where there is no Cancel.
            return buttons == Buttons::YesNo ? Answer::No : Answer::Cancel;
    }
}

}  // namespace zrn::utility::win32
