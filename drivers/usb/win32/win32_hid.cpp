#include "win32_hid.h"

#include <setupapi.h>

extern "C" {
#include <hidsdi.h>
}

#include <cstring>
#include <vector>

namespace zrn::usbdrv {

namespace {
HANDLE to_handle(HidPort::Device d) { return reinterpret_cast<HANDLE>(d); }
}  // namespace


bool Win32Hid::list_interfaces(std::vector<std::string>* paths) {
    GUID hid_guid;
    HidD_GetHidGuid(&hid_guid);
    HDEVINFO info = SetupDiGetClassDevsA(&hid_guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (info == INVALID_HANDLE_VALUE) return false;
    for (DWORD i = 0;; ++i) {
        SP_DEVICE_INTERFACE_DATA data = {};
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInterfaces(info, nullptr, &hid_guid, i, &data)) break;
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailA(info, &data, nullptr, 0, &size, nullptr);
        std::string path;
        if (size >= sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
            std::vector<std::uint8_t> buffer(size);
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
            if (SetupDiGetDeviceInterfaceDetailA(info, &data, detail, size, nullptr, nullptr)) path = detail->DevicePath;
        }
        paths->push_back(path);  // empty: skipped by the caller
    }
    SetupDiDestroyDeviceInfoList(info);
    return true;
}

HidPort::Device Win32Hid::open(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    return h == INVALID_HANDLE_VALUE ? 0 : reinterpret_cast<Device>(h);
}

bool Win32Hid::attributes(Device d, std::uint16_t* vendor, std::uint16_t* product) {
    HIDD_ATTRIBUTES a = {};
    a.Size = sizeof a;
    if (!HidD_GetAttributes(to_handle(d), &a)) return false;
    *vendor = a.VendorID;
    *product = a.ProductID;
    return true;
}

bool Win32Hid::fetch_descriptor(Device d) {
    PHIDP_PREPARSED_DATA data = nullptr;
    if (!HidD_GetPreparsedData(to_handle(d), &data)) return false;
    HidD_FreePreparsedData(data);  // not used further; released at once
    return true;
}

bool Win32Hid::close(Device d) { return CloseHandle(to_handle(d)) != 0; }

namespace {
// A write the device has not taken after this long is cancelled before the
// next one reuses its slot.
constexpr DWORD kPreviousWriteWaitMs = 1000;

HANDLE make(std::atomic<HANDLE>& e, BOOL manual) {
    HANDLE h = e.load();
    if (!h) {
        h = CreateEventA(nullptr, manual, FALSE, nullptr);
        e = h;
    }
    return h;
}

// Whether slot's operation is over within ms (polled: waiting on its
// event would take a signal the status thread's wait is owed).
bool over_within(const Win32Hid::IoSlot& slot, DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    while (!HasOverlappedIoCompleted(&slot.ov)) {
        if (GetTickCount64() >= end) return false;
        Sleep(1);
    }
    return true;
}
}  // namespace

Win32Hid::~Win32Hid() {
    for (std::atomic<HANDLE>* e : {&read_done_, &write_request_, &stop_, &write_done_}) {
        if (HANDLE h = e->exchange(nullptr)) CloseHandle(h);
    }
    // A slot still owned by the system is left to it.
    for (std::atomic<IoSlot*>* slot : {&read_, &write_}) {
        IoSlot* p = slot->load();
        if (!p->pending) delete p;
    }
}

void Win32Hid::end_io(HANDLE h, std::atomic<IoSlot*>& slot, bool cancel) {
    IoSlot* p = slot.load();
    if (!p->pending) return;
    if (cancel) CancelIoEx(h, &p->ov);
    if (!over_within(*p, kIoEndWaitMs)) {
        // The system still owns its buffer: leave it that, and use another.
        slot = new IoSlot;
        ++abandoned_;
        return;
    }
    DWORD n = 0;
    GetOverlappedResult(h, &p->ov, &n, FALSE);
    p->pending = false;
}

bool Win32Hid::create_events() {
    // Self-resetting and initially signalled; the thread resets the two
    // request events before it waits.
    bool ok = true;
    for (std::atomic<HANDLE>* e : {&read_done_, &write_request_, &stop_}) {
        HANDLE h = make(*e, FALSE);
        if (h) SetEvent(h);
        ok = ok && h;
    }
    return ok && make(write_done_, TRUE);
}

void Win32Hid::reset_stop_and_write_request() {
    if (HANDLE h = stop_.load()) ResetEvent(h);
    if (HANDLE h = write_request_.load()) ResetEvent(h);
}

void Win32Hid::signal_write_request() {
    if (HANDLE h = write_request_.load()) SetEvent(h);
}

void Win32Hid::signal_stop() {
    if (HANDLE h = stop_.load()) SetEvent(h);
}

bool Win32Hid::start_read(Device d) {
    end_io(to_handle(d), read_, true);
    IoSlot* p = read_.load();
    std::memset(&p->ov, 0, sizeof p->ov);
    std::memset(p->data, 0, sizeof p->data);
    p->ov.hEvent = read_done_.load();
    if (!p->ov.hEvent) return false;
    if (!ReadFile(to_handle(d), p->data, 3, nullptr, &p->ov) && GetLastError() != ERROR_IO_PENDING) return false;
    p->pending = true;
    return true;
}

bool Win32Hid::finish_read(Device d, std::uint8_t* report3) {
    IoSlot* p = read_.load();
    if (!p->pending) return false;  // no read was outstanding
    DWORD n = 0;
    if (!GetOverlappedResult(to_handle(d), &p->ov, &n, FALSE)) {
        if (GetLastError() == ERROR_IO_INCOMPLETE) return false;  // still outstanding
        p->pending = false;
        return false;  // failed or aborted: there is no report
    }
    p->pending = false;
    if (n != 3) return false;
    std::memcpy(report3, p->data, 3);
    return true;
}

bool Win32Hid::start_write(Device d, const std::uint8_t* report3) {
    const HANDLE h = to_handle(d);
    IoSlot* p = write_.load();
    // The previous write still owns the slot: given a while, then cancelled.
    if (p->pending) end_io(h, write_, !over_within(*p, kPreviousWriteWaitMs));
    p = write_.load();
    std::memcpy(p->data, report3, 3);
    std::memset(&p->ov, 0, sizeof p->ov);
    p->ov.hEvent = write_done_.load();
    if (!p->ov.hEvent) return false;
    if (!WriteFile(h, p->data, 3, nullptr, &p->ov) && GetLastError() != ERROR_IO_PENDING) return false;
    p->pending = true;
    return true;
}

void Win32Hid::cancel_io(Device d) {
    end_io(to_handle(d), read_, true);
    end_io(to_handle(d), write_, true);
}

HidPort::Wake Win32Hid::wait() {
    HANDLE events[3] = {read_done_.load(), write_request_.load(), stop_.load()};
    for (;;) {
        // The lowest signalled index wins: read, then write request, then stop.
        switch (WaitForMultipleObjects(3, events, FALSE, INFINITE)) {
            case WAIT_OBJECT_0: {
                // A read given up on (end_io) may still complete and signal: only
                // the outstanding read's own end counts.
                const IoSlot* p = read_.load();
                if (p->pending && !HasOverlappedIoCompleted(&p->ov)) continue;
                return Wake::Read;
            }
            case WAIT_OBJECT_0 + 1: return Wake::WriteRequest;
            case WAIT_OBJECT_0 + 2: return Wake::Stop;
            default: return Wake::Failed;
        }
    }
}

}  // namespace zrn::usbdrv
