#include "zrn/cfg/backup.h"

#include "zrn/json.h"
#include "zrn/platform/noting_registry.h"

namespace zrn::cfg {

namespace {

// A backup document is the size of a configuration; anything much larger
// was not written here.
constexpr std::size_t kBackupMax = 8 * 1024 * 1024;
constexpr std::size_t kMarkerMax = 4096;

std::string folder_file(std::string_view view, std::string_view ending) {
    return std::string(kBackupFolder) + "\\view" + std::string(view) + std::string(ending);
}

}  // namespace

std::string backup_path(std::string_view view) { return folder_file(view, ".json"); }

std::string marker_path(std::string_view view) { return folder_file(view, ".pending"); }

std::string restore_command(std::string_view view) {
    return "zrncd config --view " + std::string(view) + " restore";
}

platform::FileStatus Backups::begin(std::string_view view, const Snapshot& snap, const Configuration& conf,
                                    std::string_view what) {
    // The folder and its parent may be missing on a till that never had one.
    const std::string folder(kBackupFolder);
    files_.create_directory(folder.substr(0, folder.rfind('\\')));
    files_.create_directory(folder);
    json::Value doc = json::Value::object();
    doc.set("schema", kBackupSchema);
    doc.set("version", 1);
    doc.set("view", std::string(view));
    doc.set("change", std::string(what));
    doc.set("configuration", to_json(conf));
    doc.set("keys", snap.to_json());
    const platform::FileStatus st = platform::replace_file_content(files_, backup_path(view), json::dump(doc, true) + "\n");
    if (st != platform::kFileOk) return st;
    // The marker follows a backup that is whole: a marker always has one.
    return platform::replace_file_content(files_, marker_path(view), std::string(what) + "\n");
}

platform::FileStatus Backups::end(std::string_view view) {
    const platform::FileStatus st = files_.remove(marker_path(view));
    return platform::file_missing(st) ? platform::kFileOk : st;
}

bool Backups::pending(std::string_view view, std::string* what) {
    std::string text;
    const platform::FileStatus st = platform::read_file_content(files_, marker_path(view), kMarkerMax, &text);
    // A marker held open is there all the same.
    if (platform::file_missing(st)) return false;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    *what = text.empty() ? "a change" : text;
    return true;
}

bool Backups::load(std::string_view view, Snapshot* snap, std::string* error) {
    std::string text;
    bool longer = false;
    const platform::FileStatus st = platform::read_file_content(files_, backup_path(view), kBackupMax, &text, &longer);
    if (st != platform::kFileOk) {
        *error = backup_path(view) + " cannot be read: " + files_.error_text(st);
        return false;
    }
    json::Value doc;
    std::string why;
    if (longer || !json::parse(text, &doc, &why)) {
        *error = backup_path(view) + " is no backup: " + (longer ? "it is too large" : why);
        return false;
    }
    const json::Value* schema = doc.is_object() ? doc.find("schema") : nullptr;
    const json::Value* of = doc.is_object() ? doc.find("view") : nullptr;
    const json::Value* keys = doc.is_object() ? doc.find("keys") : nullptr;
    if (!schema || !schema->is_string() || schema->as_string() != kBackupSchema || !of || !of->is_string() ||
        of->as_string() != view || !keys) {
        *error = backup_path(view) + " is no backup of the " + std::string(view) + "-bit view";
        return false;
    }
    if (!snap->from_json(*keys, &why)) {
        *error = backup_path(view) + " is no backup: " + why;
        return false;
    }
    return true;
}

std::string Recovery::text() const {
    const std::string stopped = "a change of " + view.name + " (" + what + ") was stopped part-way";
    switch (result) {
        case Restored:
            return stopped + "; the configuration it had before was put back from " + backup_path(view.id);
        case Left:
            return stopped + ", so its configuration may be incomplete; '" + restore_command(view.id) +
                   "' puts back the configuration it had before";
        case Failed:
            return stopped + ", and the configuration it had before could not be put back: " + error +
                   ". Check it with 'zrncd config list' and import the right one; then delete " +
                   marker_path(view.id);
    }
    return stopped;
}

bool any_pending(Backups& backups, const std::vector<RecoveryView>& views) {
    std::string what;
    for (const RecoveryView& v : views)
        if (backups.pending(v.id, &what)) return true;
    return false;
}

std::vector<Recovery> recover(Backups& backups, const std::vector<RecoveryView>& views, bool restore) {
    std::vector<Recovery> out;
    for (const RecoveryView& v : views) {
        Recovery r;
        r.view = v;
        if (!backups.pending(v.id, &r.what)) continue;
        if (!restore) {
            r.result = Recovery::Left;
        } else {
            Snapshot snap;
            platform::NotingRegistry reg(*v.reg);
            if (!backups.load(v.id, &snap, &r.error)) {
                r.result = Recovery::Failed;
            } else if (!snap.restore(reg)) {
                r.result = Recovery::Failed;
                r.error = "the registry refused a write (" + reg.error_text(reg.last_failure()) + ")";
            } else if (const platform::FileStatus st = backups.end(v.id); st != platform::kFileOk) {
                r.result = Recovery::Failed;
                r.error = "the configuration was put back, but " + marker_path(v.id) +
                          " could not be removed (" + backups.error_text(st) + ")";
            }
        }
        out.push_back(std::move(r));
    }
    return out;
}

}  // namespace zrn::cfg
