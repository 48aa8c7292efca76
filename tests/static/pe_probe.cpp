// A minimal DLL built like the deliverables (stdcall exports named by a .def
// file, a shared data section) so the static checks can prove the toolchain
// produces undecorated names and shared sections before the real DLLs exist.
#include <windows.h>

__attribute__((section(".zrnseg"), shared)) char g_probe_shared[320] = {};

extern "C" int __stdcall ProbeAdd(int a, int b) { return a + b + g_probe_shared[0]; }
extern "C" int __stdcall ProbeNone() { return 1; }

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
