// The interactive health check through the Control Object.
#include "zrn/utility/dialogs.h"

#include "dialog_texts.h"

namespace zrn::utility {

using namespace dialog_texts;

std::string health_check_caption(const std::string& device_key) {
    return device_key + " OPOS CheckHealth (Interactive)";
}

void run_health_check(const std::string& device_key, ControlObject* control, config::Prompter& prompter,
                      platform::Clock& clock) {
    const std::string caption = health_check_caption(device_key);
    if (control == nullptr) {
        prompter.ask("The OPOS CashDrawer Control Object is not installed on this computer.\n\n"
                     "The interactive health check opens the device through it; install it and try again.",
                     caption, config::Buttons::Ok, config::Icon::Error);
        return;
    }
    const auto error = [&](const std::string& text) { prompter.ask(text, caption, config::Buttons::Ok, config::Icon::Error); };
    bool prepared = false;
    bool capable = false;
    do {
        if (const std::int32_t r = control->Open(device_key); r != 0) {
            error(format("OPOS CheckHealth Interactive Error.\n\nOpen = 0x%08d,  Result Code = 0x%08d   ", r,
                         control->GetResultCode()));
            break;
        }
        if (const std::int32_t r = control->ClaimDevice(2000); r != 0) {
            error(format("OPOS CheckHealth Interactive Error.\n\nClaimDevice(2000) = 0x%08ld,  Result Code = "
                         "0x%08ld   ",
                         static_cast<long>(r), static_cast<long>(control->GetResultCode())));
            break;
        }
        control->SetDeviceEnabled(true);
        (void)control->GetResultCode();
        if (!control->GetDeviceEnabled()) {
            error(format("OPOS CheckHealth Interactive Error.\n\nDeviceEnable = FALSE, Result Code = 0x%08ld   ",
                         static_cast<long>(control->GetResultCode())));
            break;
        }
        capable = control->GetCapStatus();
        if (!capable) {
            prompter.ask(format("This Cash Drawer device '%s' does not support drawer status.    \n\n"
                                "CapStatus = 0x%08d, Result Code = 0x%08ld   ",
                                device_key.c_str(), 0, static_cast<long>(control->GetResultCode())),
                         caption, config::Buttons::Ok, config::Icon::Information);
        }
        prepared = true;
    } while (false);

    if (prepared) {
        clock.sleep_ms(200);
        const std::string_view model = std::string_view(device_key).substr(0, kTypeKeyLength);
        if (model == "CD926" || model == "CD347") {
            prompter.ask("Before proceeding, enable Drawer Status on the cash drawer.   \n"
                         "[Refer to Cash Drawer Product Guide for more information].",
                         device_key + " Cash Drawer Status: Device Enabling Required", config::Buttons::Ok, config::Icon::Warning);
        }
        while (prompter.ask("Press OK to open cash drawer, CANCEL to quit  ", caption, config::Buttons::OkCancel,
                            config::Icon::None) == config::Answer::Ok) {
            control->OpenDrawer();
            if (!capable) continue;
            const bool opened = control->GetDrawerOpened();
            const long result = control->GetResultCode();
            const std::string text =
                opened ? format("DrawerOpened = 0x%08d, Result Code = 0x%08ld        \nCash Drawer open successful",
                                1, result)
                       : format("DrawerOpened = 0x%08d, Result Code = 0x%08ld        \nCash Drawer open failed", 0,
                                result);
            prompter.ask(text, caption, config::Buttons::Ok, config::Icon::Information);
        }
    }
    control->Close();
}

}  // namespace zrn::utility
