// The packages' custom actions: they carry the installer's properties to
// the configuration core (tools/config) and its answers back, write lines
// into the installer's log, and make the trace folder. Every rule is the
// core's.
#include <windows.h>
#include <aclapi.h>
#include <msi.h>
#include <msiquery.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "zrn/cfg/install.h"
#include "zrn/text.h"
#include "zrn/trace.h"
#include "zrn/win32/last_error.h"
#include "zrn/win32/config_lock.h"
#include "zrn/win32/win32_platform.h"

namespace {

// A configuration document is a few kilobytes; anything far larger is no
// configuration (zrncd refuses it too).
constexpr DWORD kMaxDocument = 4 * 1024 * 1024;

std::string property(MSIHANDLE install, const char* name) {
    DWORD len = 0;
    char empty[1] = "";
    if (MsiGetPropertyA(install, name, empty, &len) != ERROR_MORE_DATA) return {};
    std::string value(len + 1, '\0');
    ++len;
    if (MsiGetPropertyA(install, name, value.data(), &len) != ERROR_SUCCESS) return {};
    value.resize(len);
    return value;
}

// One line in the installer's log; as an error, also what a user sees in a
// message box when the installation has a user interface.
void say(MSIHANDLE install, const std::string& text, bool error = false) {
    // The line is a formatted text: brackets and braces of the message
    // ("devices[2]") are escaped, or they would be taken for the installer's
    // own [properties]. (Wine formats a field's text again, so the text
    // cannot go into a field instead.)
    std::string line = "ZRN OPOS CashDrawer: ";
    for (const char c : text) {
        if (c == '[' || c == ']' || c == '{' || c == '}')
            line += std::string("[\\") + c + "]";
        else
            line += c;
    }
    PMSIHANDLE record = MsiCreateRecord(0);
    MsiRecordSetStringA(record, 0, line.c_str());
    MsiProcessMessage(install, error ? INSTALLMESSAGE(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONERROR) : INSTALLMESSAGE_INFO,
                      record);
}

void say_all(MSIHANDLE install, const std::vector<std::string>& lines) {
    for (const std::string& line : lines) say(install, line);
}

// The package's registry view: the one of its own bitness, where its custom
// actions run.
std::string view_name() { return sizeof(void*) == 8 ? "the 64-bit view" : "the 32-bit view"; }

bool read_document(const std::string& path, std::string* text, std::string* error) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *error = zrn::win32::describe(zrn::win32::last_error_of("CreateFileA", path));
        return false;
    }
    bool ok = true;
    char chunk[65536];
    DWORD got = 0;
    while ((ok = ReadFile(h, chunk, sizeof chunk, &got, nullptr) != 0) && got > 0) {
        text->append(chunk, got);
        if (text->size() > kMaxDocument) {
            *error = path + " is over 4 MB: no configuration";
            ok = false;
            break;
        }
    }
    if (!ok && error->empty()) *error = zrn::win32::describe(zrn::win32::last_error_of("ReadFile", path));
    CloseHandle(h);
    return ok;
}

void trim(MSIHANDLE install, const char* name) {
    std::string path = property(install, name);
    // "C:\" stays: a drive's root needs its backslash.
    while (path.size() > 3 && path.back() == '\\') path.pop_back();
    MsiSetPropertyA(install, name, path.c_str());
}

}  // namespace

// MSI folder properties end in a backslash, and TargetPath must not (the
// Service Object appends "\PortDrawerSO.DLL" itself). ZRNTARGETPATH becomes
// TargetPath, ZRNINSTALLPATH the type library's HELPDIR.
extern "C" UINT __stdcall TrimTargetPath(MSIHANDLE install) {
    trim(install, "ZRNTARGETPATH");
    trim(install, "ZRNINSTALLPATH");
    return ERROR_SUCCESS;
}

// TraceEnabled and TargetPath: the command line's, the till's on an
// upgrade, or the package's.
extern "C" UINT __stdcall PackageSettings(MSIHANDLE install) {
    zrn::cfg::PackageSettingsInput in;
    // An upgrade, or a repair of this build: the till's settings are kept.
    in.upgrade = !property(install, "WIX_UPGRADE_DETECTED").empty() || !property(install, "Installed").empty();
    in.trace_given = property(install, "TRACEENABLED");
    in.till_trace = property(install, "ZRNTILLTRACE");
    in.till_target = property(install, "ZRNTILLTARGET");
    in.old_server = property(install, "ZRNOLDSERVER");
    in.install_folder = property(install, "INSTALLDIR");
    in.folder_given = !property(install, "ZRNDIRGIVEN").empty();
    in.addlocal = property(install, "ADDLOCAL");
    in.remove = property(install, "REMOVE");
    in.package_target = property(install, "ZRNTARGETPATH");
    const zrn::cfg::PackageSettings out = zrn::cfg::package_settings(in);
    if (!out.error.empty()) {
        say(install, out.error + "; nothing is installed", true);
        return ERROR_INSTALL_FAILURE;
    }
    say_all(install, out.notes);
    MsiSetPropertyA(install, "TRACEENABLED", out.trace_enabled.c_str());
    MsiSetPropertyA(install, "ZRNTARGETPATH", out.target_path.c_str());
    return ERROR_SUCCESS;
}

// What an import of CONFIG works on: the package's registry view, the USB
// file and the backups, under the configuration lock.
struct Machine {
    zrn::win32::Win32Registry registry;
    zrn::win32::Win32Files files;
    zrn::win32::Win32ConfigLock lock;
    zrn::cfg::Views views{registry, view_name(), nullptr, ""};
};

// CONFIG: the whole document is checked before anything is installed. A
// document with a fault stops the installation with every fault in the log;
// a good one is handed to ImportConfig.
extern "C" UINT __stdcall CheckConfig(MSIHANDLE install) {
    zrn::cfg::InstallDocument doc;
    doc.file = property(install, "CONFIG");
    doc.force = property(install, "CONFIGFORCE") == "1";
    doc.trace_given = property(install, "TRACEENABLED");
    std::string error;
    if (!read_document(doc.file, &doc.text, &error)) {
        say(install, "CONFIG: " + error + "; nothing is installed", true);
        return ERROR_INSTALL_FAILURE;
    }
    Machine m;
    std::vector<std::string> messages;
    std::string checked;
    if (!zrn::cfg::check_install_document(doc, m.views, m.files, m.lock, &messages, &checked)) {
        // One message with every fault: the box a user sees shows it whole.
        say(install, "CONFIG " + doc.file + " cannot be imported; nothing is installed:\n" + zrn::join(messages, "\n"),
            true);
        return ERROR_INSTALL_FAILURE;
    }
    say_all(install, messages);
    doc.text = checked;
    MsiSetPropertyA(install, "ImportConfig", zrn::cfg::pack(doc).c_str());
    return ERROR_SUCCESS;
}

// Deferred, with the system's rights: the checked document replaces the
// configuration of the package's view, after everything else is written.
extern "C" UINT __stdcall ImportConfig(MSIHANDLE install) {
    zrn::cfg::InstallDocument doc;
    if (!zrn::cfg::unpack(property(install, "CustomActionData"), &doc)) {
        say(install, "CONFIG: the checked document did not arrive; nothing is imported", true);
        return ERROR_INSTALL_FAILURE;
    }
    Machine m;
    std::vector<std::string> messages;
    if (!zrn::cfg::import_install_document(doc, m.views, m.files, m.lock, &messages)) {
        say(install, "CONFIG " + doc.file + " could not be imported:\n" + zrn::join(messages, "\n"), true);
        return ERROR_INSTALL_FAILURE;
    }
    say_all(install, messages);
    return ERROR_SUCCESS;
}

// Deferred, with the system's rights: the trace folder, with rights that let
// every POS application write its trace but no one but an administrator
// remove, rename or re-permission the folder (and so put a link in its
// place). A link found there is left alone: the writers refuse it, and the
// doctor names it.
extern "C" UINT __stdcall MakeTraceFolder(MSIHANDLE install) {
    const std::string folder(zrn::kTraceDirectory);
    if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        say(install, zrn::win32::describe(zrn::win32::last_error_of("CreateDirectoryA", folder)));
        return ERROR_SUCCESS;
    }
    // The rights go onto the folder this handle holds, which is checked to be
    // no link: a link swapped in by path meanwhile must not get them (nor its
    // target lose its own).
    HANDLE h = CreateFileA(folder.c_str(), READ_CONTROL | WRITE_DAC, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        say(install, zrn::win32::describe(zrn::win32::last_error_of("CreateFileA", folder)));
        return ERROR_SUCCESS;
    }
    FILE_ATTRIBUTE_TAG_INFO tag{};
    const bool read = GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag) != 0;
    // By the path too: Wine shows a link by its path only.
    const DWORD by_path = GetFileAttributesA(folder.c_str());
    const bool link = (by_path != INVALID_FILE_ATTRIBUTES && (by_path & FILE_ATTRIBUTE_REPARSE_POINT)) ||
                      (read && (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT));
    if (link || (read && !(tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY))) {
        CloseHandle(h);
        say(install, folder + (link ? " is a link (junction or symbolic link)" : " is a file") +
                         ", left as it is: no trace is written through it until it is removed and the package is "
                         "repaired");
        return ERROR_SUCCESS;
    }
    PSECURITY_DESCRIPTOR sd = nullptr;
    const std::string sddl(zrn::kTraceFolderSecurity);
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &sd, nullptr)) {
        say(install, zrn::win32::describe(zrn::win32::last_error_of("ConvertStringSecurityDescriptorToSecurityDescriptorA")));
        CloseHandle(h);
        return ERROR_SUCCESS;
    }
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
    const DWORD set = SetSecurityInfo(h, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, dacl, nullptr);
    LocalFree(sd);
    CloseHandle(h);
    if (set != ERROR_SUCCESS)
        say(install, zrn::win32::describe({zrn::win32::operation_text("SetSecurityInfo", folder), set}));
    else
        say(install, folder + ": the trace folder, writable by POS applications, replaceable by administrators only");
    return ERROR_SUCCESS;
}
