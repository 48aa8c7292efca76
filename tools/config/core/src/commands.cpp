#include "zrn/cfg/commands.h"

#include <algorithm>
#include <optional>

#include "zrn/cfg/backup.h"
#include "zrn/cfg/document.h"
#include "zrn/cfg/snapshot.h"
#include "zrn/device_config.h"
#include "zrn/device_types.h"
#include "zrn/json.h"
#include "zrn/text.h"
#include "zrn/config/device_store.h"
#include "zrn/config/rules.h"
#include "zrn/config/usb_config.h"
#include "zrn/platform/noting_registry.h"

namespace zrn::cfg {


std::string config_usage() {
    return "usage: zrncd config [--view 32|64] VERB ...\n"
           "Changes the cash drawer configuration in the registry, with the configuration utility's rules.\n"
           "  add TYPE [NAME=VALUE]... [--name LDN]... [--force]\n"
           "                       a new device of type CD926, CD347 or CD615, with its defaults and\n"
           "                       the settings given; the key name is chosen as the utility does\n"
           "  change KEY NAME=VALUE... [--force]\n"
           "                       settings of a device (Port, BaudRate, DataBitLen, StopBits, Parity,\n"
           "                       HandShaking, Status, FirstOC, SecondOC, DrawerNo, as the type has them)\n"
           "  remove KEY [--force] a device, every logical name standing for it and its USB slot (--force:\n"
           "                       also when the USB configuration file cannot be rewritten as it stands)\n"
           "  names add KEY LDN... | names remove KEY LDN...\n"
           "                       logical device names of a device\n"
           "  list [--json]        devices, settings and logical names\n"
           "  export [FILE]        the whole configuration as JSON (default: standard output)\n"
           "  import FILE [--force]\n"
           "                       replaces the configuration by a file's (\"-\": standard input); the whole\n"
           "                       file is checked first, and a failed write is undone\n"
           "  sync                 copies this view's configuration to the other view\n"
           "  restore              puts back the configuration a change stopped part-way had before\n"
           "Every change first writes a backup; one found stopped part-way (killed, power cut) is put\n"
           "back by the next command, or with --no-restore only reported.\n"
           "--view 32|64 picks the registry view (default: this program's own). A port another device\n"
           "uses is a warning that needs --force. Values: Port=COM2 or 2, BaudRate=9600 or 5,\n"
           "Parity=None|Odd|Even, HandShaking=None|CTS/RTS|XOn/XOff, Status=CTS|RI|CTS+RI|none,\n"
           "FirstOC=0..255.\n"
           "Exit status: 0 done, 1 the registry refused, or another program held the configuration\n"
           "(what was written is undone), 2 bad input or a warning without --force (nothing written).\n";
}

std::string parse_config(const std::vector<std::string>& args, Command* out) {
    *out = Command{};
    std::vector<std::string> words;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--force") {
            out->force = true;
        } else if (a == "--json") {
            out->json = true;
        } else if (a == "--help") {
            out->help = true;
        } else if (a == "--no-restore") {
            out->no_restore = true;
        } else if (a == "--view" || a == "--name") {
            if (i + 1 >= args.size()) return "'" + a + "' needs a value";
            const std::string& v = args[++i];
            if (a == "--name") {
                out->names.push_back(v);
            } else if (v == "32" || v == "64") {
                out->view = v == "32" ? 32 : 64;
            } else {
                return "'--view' takes 32 or 64, not '" + v + "'";
            }
        } else if (a.size() > 1 && a[0] == '-' && a != "-") {
            return "unknown option '" + a + "'";
        } else {
            words.push_back(a);
        }
    }
    if (out->help) return {};
    if (words.empty()) return "no verb given";
    const std::string verb = words[0];
    std::size_t next = 1;
    const auto rest = [&] { return std::vector<std::string>(words.begin() + static_cast<long>(next), words.end()); };
    const auto settings = [&](const std::vector<std::string>& items) -> std::string {
        for (const std::string& item : items) {
            const std::size_t eq = item.find('=');
            if (eq == std::string::npos || eq == 0) return "'" + item + "' is no setting; write NAME=VALUE";
            out->settings.emplace_back(item.substr(0, eq), item.substr(eq + 1));
        }
        return {};
    };
    const bool names_allowed = verb == "add";
    if (!out->names.empty() && !names_allowed) return "'--name' belongs to 'add'";
    if (verb == "add" || verb == "change") {
        out->verb = verb == "add" ? Verb::Add : Verb::Change;
        if (words.size() < 2) return "'" + verb + "' needs " + (verb == "add" ? "a type" : "a device key");
        out->target = words[1];
        next = 2;
        if (const std::string e = settings(rest()); !e.empty()) return e;
        if (verb == "change" && out->settings.empty()) return "'change' needs at least one NAME=VALUE";
        return {};
    }
    if (verb == "remove") {
        out->verb = Verb::Remove;
        if (words.size() != 2) return "'remove' takes one device key";
        out->target = words[1];
        return {};
    }
    if (verb == "names") {
        if (words.size() < 4 || (words[1] != "add" && words[1] != "remove"))
            return "write 'names add KEY LDN...' or 'names remove KEY LDN...'";
        out->verb = words[1] == "add" ? Verb::NamesAdd : Verb::NamesRemove;
        out->target = words[2];
        out->names.assign(words.begin() + 3, words.end());
        return {};
    }
    if (verb == "list" || verb == "sync" || verb == "restore") {
        out->verb = verb == "list" ? Verb::List : verb == "sync" ? Verb::Sync : Verb::Restore;
        if (words.size() != 1) return "'" + verb + "' takes no further words";
        return {};
    }
    if (verb == "export" || verb == "import") {
        out->verb = verb == "export" ? Verb::Export : Verb::Import;
        if (words.size() > 2) return "'" + verb + "' takes one file";
        if (verb == "import" && words.size() != 2) return "'import' needs a file (\"-\": standard input)";
        out->file = words.size() == 2 ? words[1] : "-";
        return {};
    }
    return "unknown verb '" + verb + "'";
}

namespace {

// The store shows a message box in one case only (a class key that cannot
// be opened while collecting names); here that becomes a line of output.
class MessagePrompter final : public config::Prompter {
public:
    explicit MessagePrompter(std::string* err) : err_(err) {}
    config::Answer ask(std::string_view text, std::string_view, config::Buttons, config::Icon) override {
        *err_ += "zrncd: " + std::string(text) + "\n";
        return config::Answer::No;
    }

private:
    std::string* err_;
};

// The word of a verb as the command line gives it.
std::string verb_word(Verb v) {
    switch (v) {
        case Verb::Add: return "add";
        case Verb::Change: return "change";
        case Verb::Remove: return "remove";
        case Verb::NamesAdd: return "names add";
        case Verb::NamesRemove: return "names remove";
        case Verb::List: return "list";
        case Verb::Export: return "export";
        case Verb::Import: return "import";
        case Verb::Sync: return "sync";
        case Verb::Restore: return "restore";
    }
    return {};
}

class Runner {
public:
    Runner(Views& views, platform::Files& files, platform::ConfigLock& lock, Outcome* o)
        : views_(views),
          files_(files),
          lock_(lock),
          backups_(files),
          o_(*o),
          prompter_(&o->err),
          store_(views.reg, prompter_) {}

    void run(const Command& c, std::string_view input) {
        // Every verb but list and export changes the configuration: it holds
        // the lock throughout, and a change found stopped part-way is put
        // back before anything else is read or written.
        const bool changes = c.verb != Verb::List && c.verb != Verb::Export;
        std::vector<RecoveryView> views{{views_.id, views_.name, &views_.reg}};
        if (views_.other) views.push_back({views_.other_id, views_.other_name, views_.other});
        std::optional<platform::ConfigLockHold> hold;
        if (changes || any_pending(backups_, views)) {
            hold.emplace(&lock_, kCommandLockWaitMs, "zrncd config " + verb_word(c.verb));
            if (!hold->held()) {
                fail(hold->status() == platform::ConfigLock::Status::Busy
                         ? "the cash drawer configuration is being changed by " + hold->holder() +
                               "; nothing written (try again when it has finished)"
                         : "the configuration lock cannot be had (" + hold->holder() + "); nothing written");
                return;
            }
        }
        if (c.verb == Verb::Restore) return restore(views);
        if (!recovered(views, !c.no_restore, changes)) return;
        switch (c.verb) {
            case Verb::Add: add(c); break;
            case Verb::Change: change(c); break;
            case Verb::Remove: remove(c); break;
            case Verb::NamesAdd: names_add(c); break;
            case Verb::NamesRemove: names_remove(c); break;
            case Verb::List: list(c); break;
            case Verb::Export: o_.out = json::dump(to_json(read_configuration(views_.reg)), true) + "\n"; break;
            case Verb::Import: import(c, input); break;
            case Verb::Sync: sync(); break;
            case Verb::Restore: break;
        }
    }

private:
    bool refuse(const std::string& text) {
        o_.err += "zrncd: " + text + "\n";
        o_.exit_code = kExitRefused;
        return false;
    }
    void fail(const std::string& text) {
        o_.err += "zrncd: " + text + "\n";
        o_.exit_code = kExitFailed;
    }
    void done(const std::string& text) { o_.out += text + "\n"; }

    // Changes stopped part-way: put back (or, without restore, named with
    // the command that puts them back, and no new change made on top).
    bool recovered(const std::vector<RecoveryView>& views, bool restore, bool changes) {
        bool ok = true;
        bool left = false;
        for (const Recovery& r : recover(backups_, views, restore)) {
            o_.err += "zrncd: " + r.text() + "\n";
            ok &= r.result != Recovery::Failed;
            left |= r.result == Recovery::Left;
        }
        if (!ok) {
            o_.exit_code = kExitFailed;
            return false;
        }
        if (left && changes) return refuse("nothing written: put the configuration back first");
        return true;
    }

    void restore(const std::vector<RecoveryView>& views) {
        const std::vector<Recovery> results = recover(backups_, views, true);
        if (results.empty()) return done("no change was stopped part-way; nothing to restore");
        for (const Recovery& r : results) {
            if (r.result == Recovery::Restored)
                done(r.text());
            else
                fail(r.text());
        }
    }

    // Captures what a change may touch and writes it to the view's backup,
    // with the marker that the change is under way, before the change is made.
    bool begin_change(Snapshot* snap, platform::Registry& reg, const std::string& view, const std::string& what) {
        store_.clear_failure();
        if (!snap->capture(reg, kDeviceClassKey) || !snap->capture(reg, kServiceSettingsKey)) {
            fail("the registry could not be read in full; nothing was changed");
            return false;
        }
        const platform::FileStatus st = backups_.begin(view, *snap, read_configuration(reg), what);
        if (st == platform::kFileOk) return true;
        fail("the backup " + backup_path(view) + " could not be written (" + files_.error_text(st) +
             "); nothing was changed");
        return false;
    }
    // The change is complete, or undone: its marker goes.
    void end_change(const std::string& view) {
        const platform::FileStatus st = backups_.end(view);
        if (st == platform::kFileOk) return;
        fail("the change is complete, but " + marker_path(view) + " could not be removed (" +
             files_.error_text(st) + "); delete it, or the next zrncd config puts back the configuration from before");
    }
    void undo(const Snapshot& snap, platform::Registry& reg, const std::string& view, std::string what) {
        // Which call the registry refused, and the system's words for why.
        if (const std::string why = store_.failure_text(); !why.empty()) what += ": " + why;
        if (snap.restore(reg)) {
            fail(what + "; the registry is as it was before");
            end_change(view);
        } else {
            // The marker stays: the next command tries again from the backup.
            fail(what + ", and the registry could not be put back in full: check it with 'zrncd doctor' (the next "
                        "zrncd config tries again from " + backup_path(view) + ")");
        }
    }

    bool device_exists(const std::string& key) {
        platform::RegKey k = 0;
        if (store_.open_device_key(key, &k) != config::DeviceStore::kOpened) return false;
        store_.close_key(k);
        return true;
    }

    // The stored name of an existing device key, found without regard to
    // case as the registry finds it.
    bool existing_key(const std::string& given, std::string* key) {
        if (std::optional<std::string> stored = config::stored_key_name(views_.reg, given)) return *key = *stored, true;
        for (const auto& [name, target] : config::read_logical_names(views_.reg))
            if (name == given)
                return refuse("'" + given + "' is a logical name of " + target + "; give the device key " + target);
        return refuse("there is no device '" + given + "' in " + views_.name + " (see 'zrncd config list')");
    }

    // Takes NAME=VALUE settings into the entry with the dialogs' rules.
    bool take_settings(const Command& c, std::int32_t type, config::DeviceEntry* e) {
        const std::vector<std::string_view> allowed = config::changeable_settings(type);
        bool ok = true;
        for (const auto& [name, value] : c.settings) {
            const config::Setting* s = config::find_setting(type, name);
            if (!s || std::find(allowed.begin(), allowed.end(), name) == allowed.end()) {
                std::vector<std::string> names(allowed.begin(), allowed.end());
                ok = refuse(std::string(kDeviceTypes[type].key) + " has no setting '" + name + "'" +
                            (names.empty() ? "; its settings are fixed" : "; it has " + join(names)));
                continue;
            }
            std::string why;
            if (!parse_setting(type, *s, value, e, &why)) ok = refuse(name + ": " + why);
        }
        return ok;
    }

    // The settings pages ask before a device goes onto a port another one
    // uses; here the question is --force.
    bool port_check(const Command& c, const std::string& own_key, std::int32_t type, std::int32_t port) {
        const auto conflicts = config::find_port_conflicts(store_, own_key, type, port);
        for (const auto& conflict : conflicts)
            o_.err += "zrncd: warning: the cash drawer device '" + conflict.device_key +
                      "' is already assigned to port '" + std::string(config::port_prefix(type)) +
                      std::to_string(conflict.port) + "'\n";
        if (conflicts.empty() || c.force) return true;
        return refuse("nothing written; if this is intended, give --force");
    }

    bool check_new_names(const std::string& key, const std::vector<std::string>& given, std::vector<std::string>* out) {
        bool ok = true;
        for (const std::string& raw : given) {
            const std::string name(trim_blanks(raw));
            if (name.empty() || name.size() > 127) {
                ok = refuse("'" + raw + "' is no logical name: 1 to 127 characters");
            } else if (has_control_character(name)) {
                ok = refuse("'" + json::escape(name) + "' is no logical name: it holds a control character");
            } else if (config::logical_name_taken(store_, key, name)) {
                ok = refuse("the logical name '" + name + "' already exists; use a different name");
            } else if (std::any_of(out->begin(), out->end(), [&](const std::string& n) { return equal_ignoring_case(n, name); })) {
                ok = refuse("the logical name '" + name + "' is given twice");
            } else {
                out->push_back(name);
            }
        }
        return ok;
    }

    std::string settings_line(const config::DeviceEntry& e) {
        std::vector<std::string> parts;
        for (const config::Setting& s : config::settings_of(e.DeviceID))
            parts.push_back(std::string(s.name) + "=" + setting_text(e.DeviceID, s, e));
        return join(parts, " ");
    }

    void add(const Command& c) {
        const DeviceType* type = device_type_of(ascii_upper(c.target));
        if (!type || c.target.size() != kTypeKeyLength)
            return void(refuse("'" + c.target + "' is no device type; use CD926, CD347 or CD615"));
        if (type->DeviceID == kDeviceIdUsb)
            return void(refuse("the USB device CD730 is a single instance, made by the installation; "
                               "change it with 'zrncd config change CD730 ...'"));
        config::DeviceEntry e = config::default_entry("", *type);
        std::vector<std::string> names;
        bool ok = take_settings(c, type->DeviceID, &e);
        ok &= check_new_names(std::string(type->key), c.names, &names);
        std::int32_t index = 0;
        std::string name;
        if (store_.next_device_key(type->key, &index, &name) == config::DeviceStore::kIndexLimit)
            ok = refuse("the device index limit is reached: " + std::string(type->key) +
                        "-9 exists; remove it before another " + std::string(type->key) + " can be added");
        if (!ok || !port_check(c, "", type->DeviceID, e.Port)) return;

        Snapshot snap;
        if (!begin_change(&snap, views_.reg, views_.id, "add " + std::string(type->key))) return;
        platform::RegKey key = 0;
        const std::int32_t r = store_.create_device_key(type->key, &index, &key, &name);
        if (r != config::DeviceStore::kCreated)
            return undo(snap, views_.reg, views_.id, "the device key could not be created (" + std::to_string(r) + ")");
        e.DeviceName = name;
        const bool written = store_.write_entry(key, e) == config::DeviceStore::kWritten;
        store_.close_key(key);
        if (!written) return undo(snap, views_.reg, views_.id, "the settings of " + name + " could not be written");
        for (const std::string& n : names)
            if (store_.add_logical_name(name, n) != config::DeviceStore::kNameAdded)
                return undo(snap, views_.reg, views_.id, "the logical name '" + n + "' could not be written");
        end_change(views_.id);
        done("added " + name + ": " + settings_line(e) + (names.empty() ? "" : "; logical names " + join(names)));
    }

    void change(const Command& c) {
        std::string key;
        if (!existing_key(c.target, &key)) return;
        const DeviceType* type = device_type_of(key);
        if (!type) return void(refuse("'" + key + "' is of no known type"));
        config::StoredEntry stored;
        config::read_stored_entry(views_.reg, key, &stored);
        config::DeviceEntry e = stored.entry;
        if (!take_settings(c, type->DeviceID, &e)) return;
        const bool port_given = std::any_of(c.settings.begin(), c.settings.end(),
                                            [](const auto& s) { return s.first == "Port"; });
        if (port_given && !port_check(c, key, type->DeviceID, e.Port)) return;

        Snapshot snap;
        if (!begin_change(&snap, views_.reg, views_.id, "change " + key)) return;
        platform::RegKey k = 0;
        if (store_.open_device_key(key, &k) != config::DeviceStore::kOpened)
            return undo(snap, views_.reg, views_.id, "the device key " + key + " could not be opened");
        bool ok = true;
        std::vector<std::string> shown;
        for (const auto& [name, value] : c.settings) {
            const config::Setting* s = config::find_setting(type->DeviceID, name);
            ok &= s->number ? store_.write_number(k, s->name, e.*s->number) == config::DeviceStore::kWritten
                            : store_.write_text(k, s->name, e.*s->text) == config::DeviceStore::kWritten;
            shown.push_back(name + "=" + setting_text(type->DeviceID, *s, e));
        }
        store_.close_key(k);
        if (!ok) return undo(snap, views_.reg, views_.id, "the settings of " + key + " could not be written");
        end_change(views_.id);
        done("changed " + key + ": " + join(shown, " "));
    }

    void remove(const Command& c) {
        std::string key;
        if (!existing_key(c.target, &key)) return;
        std::vector<std::string> names;
        store_.read_logical_names(key, &names);
        // The USB slot is released last; a file that cannot be rewritten is
        // found before anything is changed.
        config::UsbConfig usb(files_);
        const DeviceType* type = device_type_of(key);
        const bool usb_device = type != nullptr && type->DeviceID == kDeviceIdUsb;
        if (usb_device) {
            const config::UsbConfig::ReleaseOutcome check = usb.check_release();
            const std::string file(config::kUsbConfigPath);
            if (check.result == config::UsbConfig::Release::NotUnderstood && !c.force)
                return void(refuse("the USB configuration file " + file + " cannot be rewritten without " + key +
                                   "'s slot: " + usb.why(check) + "; nothing written (give --force to remove " + key +
                                   " and leave the file as it is)"));
            if (check.result == config::UsbConfig::Release::Held || check.result == config::UsbConfig::Release::Failed)
                return fail("the USB configuration file " + file + " cannot be rewritten: " + usb.why(check) +
                            "; nothing written");
        }
        Snapshot snap;
        if (!begin_change(&snap, views_.reg, views_.id, "remove " + key)) return;
        const config::Removal removal = config::remove_device(store_, usb, key);
        if (!removal.removed)
            return undo(snap, views_.reg, views_.id,
                        "the device " + key + " could not be removed (" + store_.error_text(removal.status) + ")");
        if (!removal.names_left.empty())
            return undo(snap, views_.reg, views_.id,
                        "the logical names " + join(removal.names_left) + " of " + key + " could not be removed (" +
                            store_.error_text(removal.names_status) + ")");
        if (removal.usb.result == config::UsbConfig::Release::NotUnderstood) {
            o_.err += "zrncd: warning: the USB configuration file " + std::string(config::kUsbConfigPath) +
                      " was left as it is: " + usb.why(removal.usb) + "\n";
        } else if (!removal.usb.done()) {
            return undo(snap, views_.reg, views_.id,
                        "the USB configuration file " + std::string(config::kUsbConfigPath) +
                            " could not be rewritten: " + usb.why(removal.usb));
        }
        end_change(views_.id);
        done("removed " + key + (names.empty() ? "" : " and its logical names " + join(names)));
    }

    void names_add(const Command& c) {
        std::string key;
        if (!existing_key(c.target, &key)) return;
        std::vector<std::string> names;
        if (!check_new_names(key, c.names, &names)) return;
        Snapshot snap;
        if (!begin_change(&snap, views_.reg, views_.id, "names add " + key)) return;
        for (const std::string& n : names)
            if (store_.add_logical_name(key, n) != config::DeviceStore::kNameAdded)
                return undo(snap, views_.reg, views_.id, "the logical name '" + n + "' could not be written");
        end_change(views_.id);
        done("added to " + key + ": " + join(names));
    }

    void names_remove(const Command& c) {
        std::string key;
        // Names left standing for a device that is gone can be removed too:
        // they are what a health report asks to clear away.
        std::vector<std::string> current;
        if (store_.read_logical_names(c.target, &current) && !current.empty() && !device_exists(c.target))
            key = c.target;
        else if (!existing_key(c.target, &key))
            return;
        current.clear();
        store_.read_logical_names(key, &current);
        bool ok = true;
        for (const std::string& n : c.names)
            if (std::find(current.begin(), current.end(), n) == current.end())
                ok = refuse("'" + n + "' is no logical name of " + key +
                            (current.empty() ? " (it has none)" : " (it has " + join(current) + ")"));
        if (!ok) return;
        Snapshot snap;
        if (!begin_change(&snap, views_.reg, views_.id, "names remove " + key)) return;
        for (const std::string& n : c.names)
            if (store_.remove_logical_name(key, n) != config::DeviceStore::kNameRemoved)
                return undo(snap, views_.reg, views_.id, "the logical name '" + n + "' could not be removed");
        end_change(views_.id);
        done("removed from " + key + ": " + join(c.names));
    }

    void list(const Command& c) {
        const Configuration conf = read_configuration(views_.reg);
        if (c.json) {
            o_.out = json::dump(to_json(conf), true) + "\n";
            return;
        }
        if (conf.devices.empty()) o_.out += "no cash drawer devices in " + views_.name + "\n";
        for (const Device& d : conf.devices) {
            const config::DeviceEntry& e = d.entry;
            o_.out += e.DeviceName + "  " + e.DeviceDesc + "\n";
            std::vector<std::string> parts;
            for (const config::Setting& s : config::settings_of(e.DeviceID)) {
                const bool missing = std::find(d.missing.begin(), d.missing.end(), s.name) != d.missing.end();
                parts.push_back(std::string(s.name) + "=" + (missing ? "(missing)" : setting_text(e.DeviceID, s, e)));
            }
            if (parts.empty()) parts.push_back("DeviceID=" + std::to_string(e.DeviceID) + " (no known type)");
            o_.out += "    " + join(parts, " ") + "\n";
            std::vector<std::string> names;
            for (const auto& [name, target] : conf.names)
                if (target == e.DeviceName) names.push_back(name);
            if (!names.empty()) o_.out += "    logical names: " + join(names) + "\n";
        }
        for (const auto& name : conf.names) {
            const std::string& target = name.second;
            if (std::none_of(conf.devices.begin(), conf.devices.end(),
                             [&](const Device& d) { return d.entry.DeviceName == target; }))
                o_.out += "logical name " + name.first + " stands for " + target + ", which does not exist\n";
        }
    }

    // Replaces the view's configuration by conf, or leaves it as it was.
    // what: the change, as its marker names it.
    void apply(platform::Registry& reg, const std::string& view, const Configuration& conf, const std::string& what,
               const std::string& where) {
        Snapshot snap;
        if (!begin_change(&snap, reg, view, what)) return;
        config::DeviceStore store(reg, prompter_);
        // The service settings are written directly; their refused call is
        // noted here as the store notes its own.
        platform::NotingRegistry settings_reg(reg);
        bool ok = true;
        std::string fault;
        // The first failure is the one told, with the call the registry
        // refused and the system's words for why.
        const auto failed = [&](const std::string& text, const std::string& why) {
            if (ok) fault = why.empty() ? text : text + ": " + why;
            ok = false;
        };
        const auto settings_why = [&] {
            if (settings_reg.last_failure() == platform::kRegOk) return std::string();
            return settings_reg.last_call() + " failed: " + settings_reg.error_text(settings_reg.last_failure());
        };
        std::vector<std::string> keys;
        store.enum_device_keys(&keys);
        // Entries are rewritten whole, so no value of an earlier entry of the
        // same name lingers; logical names are replaced as one set.
        for (const std::string& k : keys) {
            store.clear_failure();
            store.delete_device_key(k);
            const std::string why = store.failure_text();
            platform::RegKey still = 0;
            if (store.open_device_key(k, &still) == config::DeviceStore::kOpened) {
                store.close_key(still);
                failed("the device key " + k + " could not be replaced", why);
            }
        }
        for (const auto& [name, target] : config::read_logical_names(reg)) {
            store.clear_failure();
            if (store.remove_logical_name(target, name) != config::DeviceStore::kNameRemoved)
                failed("the logical name " + name + " could not be removed", store.failure_text());
        }
        for (const Device& d : conf.devices) {
            store.clear_failure();
            if (ok && store.put_entry(d.entry) != config::DeviceStore::kWritten)
                failed("the device " + d.entry.DeviceName + " could not be written", store.failure_text());
        }
        for (const auto& [name, target] : conf.names) {
            store.clear_failure();
            if (ok && store.add_logical_name(target, name) != config::DeviceStore::kNameAdded) {
                const std::string why = store.failure_text();
                failed("the logical name " + name + " could not be written" +
                           (why.empty() ? " (another value of the device class key may have that name)" : ""),
                       why);
            }
        }
        if (ok) {
            platform::ScopedKey svc(settings_reg);
            if (settings_reg.create_key(platform::kHklm, kServiceSettingsKey, "", svc.out(), nullptr) !=
                platform::kRegOk) {
                failed("the service settings could not be written", settings_why());
            } else {
                // Each view and till keeps its own driver folder: it names
                // the drivers of its bitness where they were installed.
                std::string existing;
                const bool has_path =
                    config::read_text(settings_reg, svc.get(), "TargetPath", &existing) == platform::kRegOk;
                if (!has_path && conf.service.TargetPath &&
                    config::write_text(settings_reg, svc.get(), "TargetPath", *conf.service.TargetPath) !=
                        platform::kRegOk)
                    failed("TargetPath could not be written", settings_why());
                if (has_path && conf.service.TargetPath && existing != *conf.service.TargetPath)
                    o_.err += "zrncd: TargetPath kept as " + existing + "\n";
                for (const auto& [name, value] : conf.service.numbers)
                    if (ok && config::write_number(settings_reg, svc.get(), name, value) != platform::kRegOk)
                        failed(name + " could not be written", settings_why());
                // The settings replace the till's as a set: one the source
                // lacks goes, so the driver's own default applies as there.
                for (const std::string_view name : kServiceNumbers) {
                    const bool kept = std::any_of(conf.service.numbers.begin(), conf.service.numbers.end(),
                                                  [&](const auto& n) { return n.first == name; });
                    std::string text;
                    if (ok && conf.service.given && !kept &&
                        config::read_text(settings_reg, svc.get(), name, &text) == platform::kRegOk &&
                        settings_reg.delete_value(svc.get(), name) != platform::kRegOk)
                        failed(std::string(name) + " could not be removed", settings_why());
                }
            }
        }
        if (!ok) return undo(snap, reg, view, fault);
        end_change(view);
        done(where + ": " + std::to_string(conf.devices.size()) + " devices, " + std::to_string(conf.names.size()) +
             " logical names");
    }

    void import(const Command& c, std::string_view input) {
        json::Value doc;
        std::string error;
        const std::string file = c.file == "-" ? "standard input" : c.file;
        if (!json::parse(input, &doc, &error)) return void(refuse(file + ": " + error + "; nothing written"));
        Configuration conf;
        std::vector<std::string> errors;
        if (!from_json(doc, &conf, &errors)) {
            for (const std::string& e : errors) o_.err += "zrncd: " + file + ": " + e + "\n";
            return void(refuse(std::to_string(errors.size()) + (errors.size() == 1 ? " fault" : " faults") +
                               " in " + file + "; nothing written"));
        }
        const std::vector<std::string> shared = shared_ports(conf);
        for (const std::string& s : shared) o_.err += "zrncd: warning: " + s + "\n";
        if (!shared.empty() && !c.force) return void(refuse("nothing written; if this is intended, give --force"));
        if (c.check_only)
            return done(file + ": " + std::to_string(conf.devices.size()) + " devices, " +
                        std::to_string(conf.names.size()) + " logical names; checked, nothing written");
        apply(views_.reg, views_.id, conf, "import " + file, "imported into " + views_.name);
    }

    void sync() {
        if (!views_.other) return void(refuse("this Windows has no other registry view"));
        const Configuration conf = read_configuration(views_.reg);
        if (!has_configuration(conf))
            return void(refuse(views_.name + " holds no cash drawer configuration; nothing to copy"));
        // What is copied must be what an import would take, so a fault in
        // the source is named here instead of spreading to the other view.
        Configuration checked;
        std::vector<std::string> errors;
        if (!from_json(to_json(conf), &checked, &errors)) {
            for (const std::string& e : errors) o_.err += "zrncd: " + views_.name + ": " + e + "\n";
            return void(refuse("mend " + views_.name + " first ('zrncd doctor' says how); nothing written"));
        }
        apply(*views_.other, views_.other_id, checked, "sync from " + views_.name,
              "copied from " + views_.name + " to " + views_.other_name);
    }

    Views& views_;
    platform::Files& files_;
    platform::ConfigLock& lock_;
    Backups backups_;
    Outcome& o_;
    MessagePrompter prompter_;
    config::DeviceStore store_;
};

}  // namespace

Outcome run_config(const Command& cmd, Views& views, platform::Files& files, platform::ConfigLock& lock,
                   std::string_view input) {
    Outcome o;
    if (cmd.help) {
        o.out = config_usage();
        return o;
    }
    Runner(views, files, lock, &o).run(cmd, input);
    return o;
}

}  // namespace zrn::cfg
