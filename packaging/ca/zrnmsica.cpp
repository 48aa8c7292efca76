// The packages' one custom action: MSI folder properties end in a
// backslash, and TargetPath must not (the Service Object appends
// "\PortDrawerSO.DLL" itself).
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

namespace {

void trim(MSIHANDLE install, const wchar_t* name) {
    wchar_t path[1024];
    DWORD len = sizeof(path) / sizeof(path[0]);
    if (MsiGetPropertyW(install, name, path, &len) != ERROR_SUCCESS || len >= 1024) return;
    // "C:\" stays: a drive's root needs its backslash.
    while (len > 3 && path[len - 1] == L'\\') path[--len] = L'\0';
    MsiSetPropertyW(install, name, path);
}

}  // namespace

// ZRNTARGETPATH becomes TargetPath, ZRNINSTALLPATH the type library's HELPDIR.
extern "C" UINT __stdcall TrimTargetPath(MSIHANDLE install) {
    trim(install, L"ZRNTARGETPATH");
    trim(install, L"ZRNINSTALLPATH");
    return ERROR_SUCCESS;
}
