#pragma once

// What a change of the configuration will undo, kept on disk while it is
// made: a change stopped part-way (Ctrl+C, a deployment tool's timeout, a
// power cut) is put back by the next zrncd config or zrncd doctor instead of
// leaving the till without drawers.
//
// Before its first write a change writes the configuration of its view as
// it stands to a backup document, then a marker that it is under way; the
// marker goes when the change is complete or undone. A marker found later
// means the change was stopped part-way, and the backup puts the view back.
#include <string>
#include <string_view>
#include <vector>

#include "zrn/cfg/document.h"
#include "zrn/cfg/snapshot.h"
#include "zrn/platform/files.h"
#include "zrn/platform/registry.h"

namespace zrn::cfg {

// Beside the USB configuration file, below Program Files: only
// administrators may write there, and what lies there is written back into
// HKLM by an administrator's zrncd. One folder for both registry views and
// both packages.
inline constexpr std::string_view kBackupFolder =
    "C:\\Program Files\\Common Files\\ZRN Shared\\Configuration Backup";
inline constexpr std::string_view kBackupSchema = "zrn-opos-cashdrawer-backup";

// view: "32" or "64". The backup document and the marker of a view.
std::string backup_path(std::string_view view);
std::string marker_path(std::string_view view);
// The command that puts the view back from its backup.
std::string restore_command(std::string_view view);

class Backups {
public:
    explicit Backups(platform::Files& files) : files_(files) {}
    // Before a change: writes the snapshot (and, for a person to read, the
    // configuration it holds) as the view's backup document, then the
    // marker. kFileOk, or the failing status (no marker then).
    platform::FileStatus begin(std::string_view view, const Snapshot& snap, const Configuration& conf,
                               std::string_view what);
    // The change is complete or undone: the marker goes. kFileOk when it is
    // gone (or was never there).
    platform::FileStatus end(std::string_view view);
    // Whether a change of the view was begun and not ended; *what is the
    // change as the marker names it.
    bool pending(std::string_view view, std::string* what);
    // The view's backup. False with *error saying why it cannot be used.
    bool load(std::string_view view, Snapshot* snap, std::string* error);
    std::string error_text(platform::FileStatus st) const { return files_.error_text(st); }

private:
    platform::Files& files_;
};

struct RecoveryView {
    std::string id;    // "32" or "64"
    std::string name;  // "the 64-bit view"
    platform::Registry* reg = nullptr;
};

struct Recovery {
    enum Result { Restored, Left, Failed };
    RecoveryView view;
    std::string what;  // the change that was stopped
    Result result = Restored;
    std::string error;  // Failed: why the backup could not be put back
    // One line for a person: what happened and what to do.
    std::string text() const;
};

// Finds the changes stopped part-way in the views and puts each view back
// from its backup (restore), or leaves it as it is (and says how to put it
// back). The caller holds the configuration lock.
std::vector<Recovery> recover(Backups& backups, const std::vector<RecoveryView>& views, bool restore);
// Whether any of the views has a change stopped part-way.
bool any_pending(Backups& backups, const std::vector<RecoveryView>& views);

}  // namespace zrn::cfg
