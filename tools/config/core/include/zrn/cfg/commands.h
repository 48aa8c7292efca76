#pragma once

// `zrncd config ...`: device entries, logical names and whole configurations
// from the command line, through the utility's store and rules. Nothing is
// written unless all of the input is good; a write that fails part-way is
// undone.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zrn/platform/config_lock.h"
#include "zrn/platform/files.h"
#include "zrn/platform/registry.h"

namespace zrn::cfg {

enum class Verb { Add, Change, Remove, NamesAdd, NamesRemove, List, Export, Import, Sync, Restore };

struct Command {
    Verb verb = Verb::List;
    int view = 0;  // 0: the program's own; 32 or 64
    bool force = false;
    bool json = false;
    bool help = false;
    // A change found stopped part-way is reported with the command that
    // puts it back, instead of being put back.
    bool no_restore = false;
    std::string target;                                        // add: the type; others: the device key
    std::vector<std::pair<std::string, std::string>> settings;  // Name=Value, in the order given
    std::vector<std::string> names;                             // logical names
    std::string file;                                           // export, import: a path or "-"
    bool check_only = false;  // import: check the document as for an import, write nothing
};

// Parses what follows "config". Empty on success, else what is wrong.
std::string parse_config(const std::vector<std::string>& args, Command* out);
std::string config_usage();

// Exit codes.
constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;  // the registry refused; what was written is undone
constexpr int kExitRefused = 2;  // bad input, or a warning without --force; nothing written

struct Outcome {
    int exit_code = kExitDone;
    std::string out;  // for standard output (export: the document)
    std::string err;  // messages and warnings
};

struct Views {
    platform::Registry& reg;           // the view the command works on
    std::string name;                  // "the 64-bit view"
    platform::Registry* other = nullptr;  // the other view, when this Windows has one
    std::string other_name;
    std::string id = "64";  // "32" or "64": names the view's backup
    std::string other_id = "32";
};

// How long a command waits for the configuration lock before it says who
// holds it: longer than any one change of QVTUtility or zrncd takes.
constexpr std::uint32_t kCommandLockWaitMs = 10000;

// Runs a parsed command. input: the import document's text. files: the USB
// configuration file and the backups of changes. lock: the machine-wide
// configuration lock, held around every change.
Outcome run_config(const Command& cmd, Views& views, platform::Files& files, platform::ConfigLock& lock,
                   std::string_view input = {});

}  // namespace zrn::cfg
