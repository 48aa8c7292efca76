#include "zrn/win32/shared_objects.h"

#include <sddl.h>

#include <cstdio>

namespace zrn::win32 {

namespace {

std::string allow(DWORD rights, const char* who) {
    char ace[40];
    std::snprintf(ace, sizeof ace, "(A;;0x%lX;;;%s)", static_cast<unsigned long>(rights), who);
    return ace;
}

// The owner (OW) is listed so that its implicit right to change the
// security is taken away. The label is medium with no write up: an object an
// elevated process created stays usable by a standard one.
std::string sddl_for(SharedKind kind, SharedUsers users) {
    const DWORD full = SharedSecurity::full_rights(kind), user = SharedSecurity::user_rights(kind);
    if (users == SharedUsers::Administrators)
        return "D:P" + allow(user, "SY") + allow(user, "BA") + allow(user, "OW");
    return "D:P" + allow(full, "SY") + allow(full, "BA") + allow(user, "AU") + allow(user, "OW") + "S:(ML;;NW;;;ME)";
}

template <class Open, class Create>
HANDLE join_or_create(Open open, Create create, SharedKind kind, SharedUsers users, DWORD* error) {
    if (HANDLE h = open()) return h;
    SharedSecurity security(kind, users);
    if (!security.attributes()) {
        *error = GetLastError();
        return nullptr;
    }
    HANDLE h = create(security.attributes());
    // Made by another process between the two calls: joined after all.
    if (!h && GetLastError() == ERROR_ACCESS_DENIED) h = open();
    if (!h) *error = GetLastError();
    return h;
}

}  // namespace

DWORD SharedSecurity::user_rights(SharedKind kind) {
    return kind == SharedKind::Section ? (SECTION_MAP_READ | SECTION_MAP_WRITE) : (SYNCHRONIZE | MUTEX_MODIFY_STATE);
}

DWORD SharedSecurity::full_rights(SharedKind kind) {
    return kind == SharedKind::Section ? SECTION_ALL_ACCESS : MUTEX_ALL_ACCESS;
}

SharedSecurity::SharedSecurity(SharedKind kind, SharedUsers users) {
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl_for(kind, users).c_str(), SDDL_REVISION_1, &sd_,
                                                              nullptr))
        sd_ = nullptr;
    sa_ = SECURITY_ATTRIBUTES{sizeof sa_, sd_, FALSE};
}

SharedSecurity::~SharedSecurity() {
    if (sd_) LocalFree(sd_);
}

HANDLE join_or_create_mutex(const std::string& full_name, SharedUsers users, DWORD* error) {
    const DWORD access = SharedSecurity::user_rights(SharedKind::Mutex);
    return join_or_create([&] { return OpenMutexA(access, FALSE, full_name.c_str()); },
                          [&](SECURITY_ATTRIBUTES* sa) { return CreateMutexExA(sa, full_name.c_str(), 0, access); },
                          SharedKind::Mutex, users, error);
}

HANDLE join_or_create_section(const std::string& full_name, DWORD size, SharedUsers users, DWORD* error) {
    return join_or_create([&] { return join_section(full_name); },
                          [&](SECURITY_ATTRIBUTES* sa) {
                              return CreateFileMappingA(INVALID_HANDLE_VALUE, sa, PAGE_READWRITE, 0, size,
                                                        full_name.c_str());
                          },
                          SharedKind::Section, users, error);
}

HANDLE join_or_create_machine_mutex(const std::string& name) {
    for (const char* space : {"Global\\", ""}) {
        DWORD error = 0;
        if (HANDLE h = join_or_create_mutex(space + name, SharedUsers::Everyone, &error)) return h;
    }
    return nullptr;
}

HANDLE join_section(const std::string& full_name) {
    return OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, full_name.c_str());
}

}  // namespace zrn::win32
