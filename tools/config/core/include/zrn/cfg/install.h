#pragma once

// The installer's part in a till's configuration: the service settings a
// package writes (an upgrade keeps the till's own), and the CONFIG
// property's document, checked before anything is installed and imported
// with zrncd config import's checks and undo once the package's own values
// are written. The packages' custom action (packaging/ca) only carries
// properties to and from here.
#include <string>
#include <string_view>
#include <vector>

#include "zrn/cfg/commands.h"
#include "zrn/platform/files.h"

namespace zrn::cfg {

// What the command line, the till and the package say about TraceEnabled
// and TargetPath. Texts are the installer's properties as they stand.
struct PackageSettingsInput {
    bool upgrade = false;         // an earlier build of this package is installed (or this one, repaired)
    std::string trace_given;      // TRACEENABLED from the command line; empty when not given
    std::string till_trace;       // the till's TraceEnabled as the registry search found it ("#2"); empty: none
    std::string till_target;      // the till's TargetPath as found; empty: none
    std::string old_server;       // the installed Service Object's file (its class's server); empty: unknown
    std::string install_folder;   // this installation's folder
    bool folder_given = false;    // INSTALLDIR given on the command line
    std::string addlocal;         // ADDLOCAL and REMOVE: the features the command line names
    std::string remove;
    std::string package_target;   // what this package points TargetPath at: its folder or its sim folder
};

struct PackageSettings {
    std::string trace_enabled;       // the TraceEnabled to write, a whole number
    std::string target_path;         // the TargetPath to write
    std::string error;               // set: the command line is wrong, nothing is installed
    std::vector<std::string> notes;  // for the installer's log
};

// A new installation writes TRACEENABLED (0 when not given) and the
// package's TargetPath. An upgrade keeps the till's TraceEnabled unless the
// command line gives TRACEENABLED, and a TargetPath that points neither at
// the earlier or this installation's folder nor at their sim folders (a
// technician's) unless the command line names INSTALLDIR or the Simulator
// feature.
PackageSettings package_settings(const PackageSettingsInput& in);

// The CONFIG document on its way from the immediate check to the deferred
// import (the installer's CustomActionData).
struct InstallDocument {
    std::string file;         // CONFIG as given: named in every message
    bool force = false;       // CONFIGFORCE=1: devices may share a port, as with --force
    std::string trace_given;  // TRACEENABLED from the command line: it wins over the document's
    std::string text;         // the document
};
std::string pack(const InstallDocument& doc);
bool unpack(std::string_view data, InstallDocument* doc);

// Checks the document as zrncd config import does, writing nothing. Every
// line for the installer's log goes to *messages. True when it can be
// imported; *to_import is then the document to import: the same, with the
// command line's TRACEENABLED in place of the document's service setting.
bool check_install_document(const InstallDocument& doc, Views& views, platform::Files& files, platform::ConfigLock& lock,
                            std::vector<std::string>* messages, std::string* to_import);

// Imports a checked document into the view, undoing what it wrote when a
// write fails. True when the till is configured.
bool import_install_document(const InstallDocument& doc, Views& views, platform::Files& files, platform::ConfigLock& lock,
                             std::vector<std::string>* messages);

}  // namespace zrn::cfg
