#include "zrn/cfg/install.h"

#include "zrn/json.h"
#include "zrn/text.h"

namespace zrn::cfg {

namespace {

// Folders compare as Windows compares them: any case, a trailing backslash
// or none.
std::string folder_key(std::string_view path) {
    while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    return ascii_lower(path);
}

std::string folder_of(const std::string& file) {
    const std::size_t slash = file.rfind('\\');
    return slash == std::string::npos ? std::string() : file.substr(0, slash);
}

// The registry search gives a number as "#2" (and a text that starts with
// '#' as "##..."): the number, or false.
bool searched_number(std::string_view found, std::int32_t* out) {
    if (found.size() < 2 || found[0] != '#' || found[1] == '#') return false;
    return parse_int32(found.substr(1), out);
}

// The lines of zrncd's output, without its name before each.
void take_lines(const std::string& text, std::vector<std::string>* out) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + pos, end - pos);
        if (line.starts_with("zrncd: ")) line.remove_prefix(7);
        if (!line.empty()) out->emplace_back(line);
        pos = end + 1;
    }
}

Command import_command(const InstallDocument& doc, bool check_only) {
    Command c;
    c.verb = Verb::Import;
    c.file = doc.file;
    c.force = doc.force;
    c.check_only = check_only;
    return c;
}

constexpr std::string_view kPackMark = "zrn-config-import 1\n";

}  // namespace

PackageSettings package_settings(const PackageSettingsInput& in) {
    PackageSettings out;
    std::int32_t number = 0;
    if (!in.trace_given.empty()) {
        if (!parse_int32(in.trace_given, &number))
            out.error = "TRACEENABLED=" + in.trace_given + " is no whole number (0 off, 1 every line, 2 errors only)";
        out.trace_enabled = std::to_string(number);
    } else if (in.upgrade && searched_number(in.till_trace, &number)) {
        out.trace_enabled = std::to_string(number);
        out.notes.push_back("TraceEnabled " + out.trace_enabled + " kept from the installed build");
    } else {
        out.trace_enabled = "0";
    }

    out.target_path = in.package_target;
    const auto names_simulator = [](std::string_view features) {
        for (std::size_t pos = 0; pos <= features.size();) {
            std::size_t end = features.find(',', pos);
            if (end == std::string_view::npos) end = features.size();
            const std::string_view f = trim_blanks(features.substr(pos, end - pos));
            if (equal_ignoring_case(f, "Simulator") || equal_ignoring_case(f, "ALL")) return true;
            pos = end + 1;
        }
        return false;
    };
    const bool target_given = in.folder_given || names_simulator(in.addlocal) || names_simulator(in.remove);
    if (!in.upgrade || in.till_target.empty() || target_given) return out;
    const std::string till = folder_key(in.till_target);
    for (const std::string& own : {folder_of(in.old_server), in.install_folder}) {
        if (own.empty()) continue;
        if (till == folder_key(own) || till == folder_key(own + "\\sim")) return out;
    }
    out.target_path = in.till_target;
    out.notes.push_back("TargetPath " + in.till_target + " kept: it names no folder of this package");
    return out;
}

std::string pack(const InstallDocument& doc) {
    return std::string(kPackMark) + (doc.force ? "1" : "0") + "\n" + doc.file + "\n" + doc.trace_given + "\n" +
           doc.text;
}

bool unpack(std::string_view data, InstallDocument* doc) {
    if (!data.starts_with(kPackMark)) return false;
    data.remove_prefix(kPackMark.size());
    std::string_view lines[3];
    for (std::string_view& line : lines) {
        const std::size_t end = data.find('\n');
        if (end == std::string_view::npos) return false;
        line = data.substr(0, end);
        data.remove_prefix(end + 1);
    }
    if (lines[0] != "0" && lines[0] != "1") return false;
    doc->force = lines[0] == "1";
    doc->file = std::string(lines[1]);
    doc->trace_given = std::string(lines[2]);
    doc->text = std::string(data);
    return true;
}

bool check_install_document(const InstallDocument& doc, Views& views, platform::Files& files, platform::ConfigLock& lock,
                            std::vector<std::string>* messages, std::string* to_import) {
    const Outcome o = run_config(import_command(doc, true), views, files, lock, doc.text);
    take_lines(o.err, messages);
    take_lines(o.out, messages);
    if (o.exit_code != kExitDone) return false;
    json::Value parsed;
    std::string error;
    std::int32_t trace = 0;
    const json::Value* service = nullptr;
    if (doc.trace_given.empty() || !parse_int32(doc.trace_given, &trace) || !json::parse(doc.text, &parsed, &error) ||
        !(service = parsed.find("service"))) {
        // Without service settings the document leaves the package's alone.
        *to_import = doc.text;
        return true;
    }
    json::Value settings = *service;
    settings.set("TraceEnabled", static_cast<std::int64_t>(trace));
    parsed.set("service", settings);
    *to_import = json::dump(parsed, true) + "\n";
    messages->push_back("TraceEnabled " + std::to_string(trace) + " from TRACEENABLED replaces the document's");
    return true;
}

bool import_install_document(const InstallDocument& doc, Views& views, platform::Files& files, platform::ConfigLock& lock,
                             std::vector<std::string>* messages) {
    const Outcome o = run_config(import_command(doc, false), views, files, lock, doc.text);
    take_lines(o.err, messages);
    take_lines(o.out, messages);
    return o.exit_code == kExitDone;
}

}  // namespace zrn::cfg
