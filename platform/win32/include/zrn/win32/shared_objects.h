#pragma once

// Named kernel objects that processes of any user, elevation and bitness
// meet in: a till application running as a standard user, an elevated
// configuration tool, a service. Each carries a real security descriptor:
// the users it is meant for get only the rights they use, and the creator
// gets no right to change its security. Each is joined where it exists
// before it is created, since creating asks for rights an existing object's
// descriptor may not grant.
#include <windows.h>

#include <string>

namespace zrn::win32 {

enum class SharedKind { Section, Mutex };

// Who uses an object. Everyone: every signed-in user may use it, only the
// system and administrators may change its security, and a medium label lets
// a standard process use what an elevated one created. Administrators: the
// system and administrators may use it, nobody may change its security.
enum class SharedUsers { Everyone, Administrators };

// The descriptor for one kind of object, as security attributes; null when
// the system cannot build it.
class SharedSecurity {
public:
    SharedSecurity(SharedKind kind, SharedUsers users);
    ~SharedSecurity();
    SharedSecurity(const SharedSecurity&) = delete;
    SharedSecurity& operator=(const SharedSecurity&) = delete;
    SECURITY_ATTRIBUTES* attributes() { return sd_ ? &sa_ : nullptr; }

    // What a user of the object may do with it.
    static DWORD user_rights(SharedKind kind);
    static DWORD full_rights(SharedKind kind);

private:
    PSECURITY_DESCRIPTOR sd_ = nullptr;
    SECURITY_ATTRIBUTES sa_{};
};

// The mutex or section of that full name, with a user's rights: joined when
// it exists, created otherwise (a section backed by the paging file starts
// zeroed). Null with *error set when neither worked.
HANDLE join_or_create_mutex(const std::string& full_name, SharedUsers users, DWORD* error);
HANDLE join_or_create_section(const std::string& full_name, DWORD size, SharedUsers users, DWORD* error);

// A mutex every user shares under `name` in the global namespace (any user
// may create one there), or in the session's should that be closed to the
// process. Null when neither works.
HANDLE join_or_create_machine_mutex(const std::string& name);

// A section every user shares, only joined: null when it does not exist.
HANDLE join_section(const std::string& full_name);

}  // namespace zrn::win32
