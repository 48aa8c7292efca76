// The add-device wizard: its first page, and the two pages in turn.
#include "zrn/utility/dialogs.h"

#include "dialog_texts.h"

namespace zrn::utility {

using namespace dialog_texts;

void AddDevicePagePresenter::open() {
    ModelItems.assign(kModelTexts.begin(), kModelTexts.end());
    Upos = true;
    ModelIndex = 0;
    for (std::size_t i = 0; i < std::size(kDeviceTypes); ++i)
        if (kDeviceTypes[i].key == TypeKey) ModelIndex = static_cast<int>(i);
}

void AddDevicePagePresenter::on_model_selected(int index) {
    if (index < 0 || index >= static_cast<int>(std::size(kDeviceTypes))) return;
    ModelIndex = index;
    TypeKey = std::string(kDeviceTypes[index].key);
}

int AddDevicePagePresenter::on_next() {
    LogicalName = std::string(trim_blanks(LogicalName));
    if (TypeKey.empty()) TypeKey = std::string(kDeviceTypes[0].key);
    if (!LogicalName.empty() && config::logical_name_taken(store_, TypeKey, LogicalName)) {
        prompter_.ask(format(kNameTakenPage1, LogicalName.c_str()), kMessageCaption, config::Buttons::Ok, config::Icon::Error);
        return kStayOpen;
    }
    MasterId = TypeKey;
    if (ShowMasterId) ShowMasterId();
    clock_.sleep_ms(50);  // lets the user see the key before the page goes
    return kResultOk;
}

bool run_add_device_wizard(AddDevicePagePresenter& page1, DeviceSettingsPresenter& page2,
                           const std::function<int()>& show_page1, const std::function<int()>& show_page2) {
    for (;;) {
        if (show_page1() != kResultOk) return false;
        page2.set_target(page1.TypeKey, page1.LogicalName);
        const int r = show_page2();
        if (r == kResultOk) return true;
        if (r == kResultCancel) return false;
    }
}

}  // namespace zrn::utility
