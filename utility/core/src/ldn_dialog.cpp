// The logical device name dialog.
#include "zrn/utility/dialogs.h"

#include "dialog_texts.h"

namespace zrn::utility {

using namespace dialog_texts;
using platform::RegKey;

void LdnDialogPresenter::open(std::string device_key) {
    DeviceKey = std::move(device_key);
    KeyText = DeviceKey;
    EntryText.clear();
    Selected.clear();
    names_.clear();
    targets_.clear();
    RegKey key = 0;
    class_key_open_ = store_.collect_logical_names(DeviceKey, &names_, &targets_, &key);
    if (class_key_open_) store_.close_key(key);
    loaded_names_ = names_;
    loaded_targets_ = targets_;
    ListItems = names_;
}

bool LdnDialogPresenter::taken(const std::string& name) const {
    // A name waiting in the list for Finish is taken as well: listing it
    // twice would show more names than Finish can write.
    if (std::any_of(names_.begin(), names_.end(), [&](const std::string& n) { return equal_ignoring_case(n, name); }))
        return true;
    return config::logical_name_taken(store_, DeviceKey, name);
}

void LdnDialogPresenter::on_add() {
    const std::string name = std::string(trim_blanks(EntryText));
    EntryText.clear();
    if (name.empty()) return;
    if (taken(name)) {
        prompter_.ask(format(kNameTakenPage1, name.c_str()), kMessageCaption, config::Buttons::Ok, config::Icon::Error);
        return;
    }
    names_.push_back(name);
    targets_.push_back(DeviceKey);
    ListItems = names_;
}

void LdnDialogPresenter::on_remove() {
    if (Selected.empty()) return;
    if (prompter_.ask(format(kRemoveLdnQuestion, Selected.c_str()), kMessageCaption, config::Buttons::YesNo,
                      config::Icon::Question) != config::Answer::Yes)
        return;
    const auto it = std::find(names_.begin(), names_.end(), Selected);
    if (it != names_.end()) {
        targets_.erase(targets_.begin() + (it - names_.begin()));
        names_.erase(it);
    }
    ListItems = names_;
    Selected.clear();
}

bool LdnDialogPresenter::replace_names(std::string* message) {
    const auto in = [](const std::vector<std::string>& list, const std::string& name) {
        return std::find(list.begin(), list.end(), name) != list.end();
    };
    std::vector<std::string> added;
    for (const std::string& name : names_) {
        if (in(loaded_names_, name) || in(added, name)) continue;
        store_.clear_failure();
        const std::int32_t r = store_.add_logical_name(DeviceKey, name);
        if (r == config::DeviceStore::kNameAdded) {
            added.push_back(name);
            continue;
        }
        // One name could not be added: the ones added before it go again,
        // and the names as loaded stay, none removed.
        const std::string why = store_.failure_words(store_.last_failure());
        for (const std::string& a : added) store_.remove_logical_name(DeviceKey, a);
        *message = r == config::DeviceStore::kNameTaken
                       ? format(kNameTakenPage1, name.c_str())
                       : format("The logical device name '%s' could not be added for '%s'.\n\n%s", name.c_str(),
                                DeviceKey.c_str(), why.c_str());
        *message += "\n\nThe logical device names of '" + DeviceKey + "' were left as they were.";
        return false;
    }
    std::vector<std::string> left;
    std::string why;
    for (const std::string& name : loaded_names_) {
        if (in(names_, name)) continue;
        store_.clear_failure();
        if (store_.remove_logical_name(DeviceKey, name) == config::DeviceStore::kNamesNotStored) {
            left.push_back(name);
            why = store_.failure_words(store_.last_failure());
        }
    }
    // What the store now holds is what a second Finish starts from.
    loaded_names_ = names_;
    loaded_names_.insert(loaded_names_.end(), left.begin(), left.end());
    if (left.empty()) return true;
    *message = format("The logical device names %s could not be removed from '%s'.\n\n%s", join(left).c_str(),
                      DeviceKey.c_str(), why.c_str());
    return false;
}

int LdnDialogPresenter::on_finish() {
    // Without the class key (the message said so at opening) there is
    // nothing to write into.
    if (!class_key_open_) return kResultOk;
    std::string message;
    bool replaced = false;
    {
        const config::ChangeHold hold(store_, prompter_);
        if (!hold.held()) return kStayOpen;
        replaced = replace_names(&message);
    }
    if (replaced) return kResultOk;
    prompter_.ask(message, kMessageCaption, config::Buttons::Ok, config::Icon::Error);
    return kStayOpen;
}

int LdnDialogPresenter::on_cancel() { return kResultCancel; }

}  // namespace zrn::utility
