// The HID drawers of the test VM from a Windows test (hid_drawer.h).
#include <winsock2.h>
#include <windows.h>
#include <setupapi.h>

extern "C" {
#include <hidsdi.h>
}

#include "hid_drawer.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "zrn/device_types.h"
#include "zrn/platform/registry.h"
#include "zrn/win32/win32_platform.h"

namespace zrn::e2e {

HidDrawerLink::HidDrawerLink() {
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return;
    started_ = true;
    const char* where = std::getenv("ZRN_HID_DRAWER");
    if (!where) return;
    const std::string text(where);
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) return;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<u_short>(std::atoi(text.c_str() + colon + 1)));
    addr.sin_addr.s_addr = inet_addr(text.substr(0, colon).c_str());
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return;
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        closesocket(s);
        return;
    }
    socket_ = static_cast<std::uintptr_t>(s);
}

HidDrawerLink::~HidDrawerLink() {
    if (socket_ != kNone) {
        command("clear");
        closesocket(static_cast<SOCKET>(socket_));
    }
    if (started_) WSACleanup();
}

bool HidDrawerLink::command(const std::string& line, std::string* rest) {
    last_.clear();
    if (socket_ == kNone) return false;
    const SOCKET s = static_cast<SOCKET>(socket_);
    const std::string out = line + "\n";
    if (send(s, out.data(), static_cast<int>(out.size()), 0) != static_cast<int>(out.size())) return false;
    for (;;) {
        const std::size_t nl = pending_.find('\n');
        if (nl != std::string::npos) {
            last_ = pending_.substr(0, nl);
            pending_.erase(0, nl + 1);
            break;
        }
        char buf[1024];
        const int n = recv(s, buf, sizeof buf, 0);
        if (n <= 0) return false;
        pending_.append(buf, static_cast<std::size_t>(n));
    }
    if (last_.rfind("ok", 0) != 0) return false;
    if (rest) *rest = last_.size() > 3 ? last_.substr(3) : "";
    return true;
}

std::vector<std::string> HidDrawerLink::take_reports(const std::string& name) {
    std::string rest;
    std::vector<std::string> out;
    if (!command("reports " + name, &rest)) return out;
    std::istringstream in(rest);
    for (std::string r; in >> r;) out.push_back(r);
    return out;
}

namespace {

// Each present HID interface: its identifiers and product string.
struct Interface {
    std::string path, product;
    std::uint16_t vendor = 0, product_id = 0;
};

std::vector<Interface> interfaces() {
    std::vector<Interface> out;
    GUID guid;
    HidD_GetHidGuid(&guid);
    HDEVINFO info = SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (info == INVALID_HANDLE_VALUE) return out;
    for (DWORD i = 0;; ++i) {
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInterfaces(info, nullptr, &guid, i, &data)) break;
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailA(info, &data, nullptr, 0, &size, nullptr);
        if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) continue;
        std::vector<char> buffer(size);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!SetupDiGetDeviceInterfaceDetailA(info, &data, detail, size, nullptr, nullptr)) continue;
        Interface it;
        it.path = detail->DevicePath;
        HANDLE h = CreateFileA(detail->DevicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            HIDD_ATTRIBUTES a{};
            a.Size = sizeof a;
            if (HidD_GetAttributes(h, &a)) {
                it.vendor = a.VendorID;
                it.product_id = a.ProductID;
            }
            wchar_t text[128] = L"";
            if (HidD_GetProductString(h, text, sizeof text)) {
                char narrow[128] = "";
                WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
                it.product = narrow;
            }
            CloseHandle(h);
        }
        out.push_back(it);
    }
    SetupDiDestroyDeviceInfoList(info);
    return out;
}

}  // namespace

std::vector<std::string> listed_drawers(std::uint16_t vendor, std::uint16_t product) {
    std::vector<std::string> names;
    const std::string prefix(kDrawerProduct);
    for (const Interface& it : interfaces()) {
        if (it.vendor == vendor && it.product_id == product && it.product.rfind(prefix, 0) == 0)
            names.push_back(it.product.substr(prefix.size()));
    }
    return names;
}

std::string hid_listing() {
    std::string text;
    for (const Interface& it : interfaces()) {
        char ids[32];
        std::snprintf(ids, sizeof ids, "%04x:%04x ", it.vendor, it.product_id);
        text += ids + it.product + " " + it.path + "\n";
    }
    return text.empty() ? "no HID interface\n" : text;
}

void ScopedUsbSettings::write(const UsbSettings* s) {
    win32::Win32Registry reg;
    platform::ScopedKey key(reg);
    reg.create_key(platform::kHklm, kServiceSettingsKey, "", key.out(), nullptr);
    const UsbSettings v = s ? *s : UsbSettings{};
    const std::pair<const char*, std::uint32_t> values[] = {{"ODVEnabled", v.ODVEnabled},
                                                              {"RDKInterval", v.RDKInterval},
                                                              {"RDKDelay", v.RDKDelay},
                                                              {"DCSDelay", v.DCSDelay},
                                                              {"TraceEnabled", v.TraceEnabled}};
    for (const auto& [name, value] : values) {
        if (s)
            platform::set_dword(reg, key.get(), name, value);
        else if (std::string(name) != "TraceEnabled")  // the Service Object's too
            reg.delete_value(key.get(), name);
    }
}

}  // namespace zrn::e2e
