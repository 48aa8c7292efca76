// Drives a COM port of the prefix that pty-com mapped onto a pseudo-terminal:
// applies line settings and writes bytes, which pty-com checks from the Linux
// side. Exit 0 only when every Windows call succeeded.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main() {
    const char* port = std::getenv("ZRN_PTY_PORT");
    if (!port) {
        std::fprintf(stderr, "ZRN_PTY_PORT not set\n");
        return 2;
    }
    char path[32];
    std::snprintf(path, sizeof path, "\\\\.\\%s", port);
    HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "open %s failed: %lu\n", path, GetLastError());
        return 3;
    }
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb)) return 4;
    // Rate and stop bits: this kernel's pseudo-terminals refuse other data
    // sizes and parity.
    dcb.BaudRate = CBR_4800;
    dcb.ByteSize = 8;
    dcb.StopBits = TWOSTOPBITS;
    dcb.Parity = NOPARITY;
    if (!SetCommState(h, &dcb)) {
        std::fprintf(stderr, "SetCommState failed: %lu\n", GetLastError());
        return 5;
    }
    if (!PurgeComm(h, PURGE_TXCLEAR | PURGE_RXCLEAR)) return 6;
    const char bytes[] = {7, 13, 10};
    DWORD written = 0;
    if (!WriteFile(h, bytes, sizeof bytes, &written, nullptr) || written != sizeof bytes) return 7;
    CloseHandle(h);
    return 0;
}
