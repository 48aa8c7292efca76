#include "win32_serial_ports.h"

#include <windows.h>

namespace zrn::portdrv {

namespace {
// Windows handles fit in 32 bits by definition (they are sign-extended on
// 64-bit Windows), which is what the parameter block stores.
HANDLE to_handle(PortHandle h) { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(h)); }
PortHandle from_handle(HANDLE h) {
    return h == INVALID_HANDLE_VALUE ? kInvalidPort : static_cast<PortHandle>(reinterpret_cast<LONG_PTR>(h));
}
}  // namespace

void settings_from_dcb(const DCB& dcb, LineSettings* s) {
    s->baud = dcb.BaudRate;
    s->data_bits = dcb.ByteSize;
    // Mark and space parity and 1.5 stop bits are carried, so that writing
    // the settings back keeps them when the block leaves them alone.
    s->stop_bits = dcb.StopBits == TWOSTOPBITS ? 2 : dcb.StopBits == ONE5STOPBITS ? kOneAndHalfStopBits : 1;
    switch (dcb.Parity) {
        case ODDPARITY: s->parity = 1; break;
        case EVENPARITY: s->parity = 2; break;
        case MARKPARITY: s->parity = kMarkParity; break;
        case SPACEPARITY: s->parity = kSpaceParity; break;
        default: s->parity = 0; break;
    }
    s->dtr_control = static_cast<std::uint8_t>(dcb.fDtrControl);
    s->rts_control = static_cast<std::uint8_t>(dcb.fRtsControl);
    s->out_x = dcb.fOutX;
    s->in_x = dcb.fInX;
    s->xon = dcb.XonChar;
    s->xoff = dcb.XoffChar;
}

void settings_to_dcb(const LineSettings& s, DCB* dcb) {
    dcb->BaudRate = s.baud;
    dcb->ByteSize = s.data_bits;
    dcb->StopBits = s.stop_bits == 2 ? TWOSTOPBITS : s.stop_bits == kOneAndHalfStopBits ? ONE5STOPBITS : ONESTOPBIT;
    static constexpr BYTE kParity[] = {NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY};
    dcb->Parity = s.parity < 5 ? kParity[s.parity] : NOPARITY;
    dcb->fParity = s.parity != 0;
    dcb->fDtrControl = s.dtr_control;
    dcb->fRtsControl = s.rts_control;
    dcb->fOutX = s.out_x;
    dcb->fInX = s.in_x;
    dcb->XonChar = s.xon;
    dcb->XoffChar = s.xoff;
}

PortHandle Win32SerialPorts::open(const std::string& name) {
    return from_handle(CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
}

bool Win32SerialPorts::get_settings(PortHandle h, LineSettings* s) {
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(to_handle(h), &dcb)) return false;
    settings_from_dcb(dcb, s);
    return true;
}

bool Win32SerialPorts::set_settings(PortHandle h, const LineSettings& s) {
    // Read-modify-write: fields the driver does not manage keep their values.
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(to_handle(h), &dcb)) return false;
    settings_to_dcb(s, &dcb);
    return SetCommState(to_handle(h), &dcb) != 0;
}

bool Win32SerialPorts::modem_status(PortHandle h, std::uint32_t* word) {
    DWORD w = 0;
    if (!GetCommModemStatus(to_handle(h), &w)) return false;
    *word = w;
    return true;
}

bool Win32SerialPorts::set_dtr_inactive(PortHandle h) { return EscapeCommFunction(to_handle(h), CLRDTR) != 0; }

bool Win32SerialPorts::purge(PortHandle h) {
    return PurgeComm(to_handle(h), PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR) != 0;
}

bool Win32SerialPorts::set_write_bound(PortHandle h, std::uint32_t ms) {
    COMMTIMEOUTS t = {};
    if (!GetCommTimeouts(to_handle(h), &t)) return false;
    // 20 ms a byte covers the slowest line rate (600 baud, 11-bit frames).
    t.WriteTotalTimeoutMultiplier = 20;
    t.WriteTotalTimeoutConstant = ms;
    return SetCommTimeouts(to_handle(h), &t) != 0;
}

bool Win32SerialPorts::write(PortHandle h, const void* data, std::size_t size, std::size_t* written) {
    DWORD n = 0;
    const BOOL ok = WriteFile(to_handle(h), data, static_cast<DWORD>(size), &n, nullptr);
    *written = n;
    return ok != 0;
}

bool Win32SerialPorts::close(PortHandle h) { return CloseHandle(to_handle(h)) != 0; }

}  // namespace zrn::portdrv
