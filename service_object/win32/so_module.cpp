// The Service Object's per-process state and the Win32 ports it reaches the
// world through: driver loading, event delivery on the Control Object's
// IDispatch, the claim table in the shared section, the speaker, threads.
#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <string>

#include "so_shell.h"
#include "zrn/guarded.h"
#include "zrn/win32/shared_objects.h"
#include "zrn/win32/win32_platform.h"

// Fallback claim table: one block for every process that loads this build of
// the module, mapped zeroed for the first process.
__attribute__((section(".zrnseg"), shared)) std::uint8_t g_claim_block[zrn::so::kClaimTableSize] = {};

namespace zrn::so::shell {

namespace {

HMODULE g_module = nullptr;
std::atomic<LONG> g_locks{0};

class Win32DriverLoader final : public DriverLoader {
public:
    Library load(const std::string& path) override {
        // No error box for a missing or broken library: OpenService reports it.
        // This thread only: the application's own error mode stays as it is.
        DWORD old = 0;
        const BOOL set = SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &old);
        HMODULE lib = LoadLibraryA(path.c_str());
        if (set) SetThreadErrorMode(old, nullptr);
        return reinterpret_cast<Library>(lib);
    }
    void* symbol(Library lib, const char* name) override {
        return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(lib), name));
    }
    void release(Library lib) override { FreeLibrary(reinterpret_cast<HMODULE>(lib)); }
};

class DispatchEventSink final : public EventSink {
public:
    bool deliver(ControlObject co, std::string_view method, const EventArg* args, int count) override {
        auto* target = static_cast<IDispatch*>(co);
        std::wstring name(method.begin(), method.end());  // the method names are ASCII
        LPOLESTR names[1] = {name.data()};
        DISPID id = DISPID_UNKNOWN;
        if (target->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id) != S_OK) return false;

        if (count < 0 || count > 3) count = 0;
        // The referenced storage lives until Invoke has returned, which is
        // when the Control Object has delivered the event.
        VARIANT v[3];
        LONG data[3] = {0, 0, 0};
        BSTR text[3] = {nullptr, nullptr, nullptr};
        for (int i = 0; i < count; ++i) {
            VariantInit(&v[i]);
            switch (args[i].kind) {
                case ArgKind::I4:
                    V_VT(&v[i]) = VT_I4;
                    V_I4(&v[i]) = args[i].value;
                    break;
                case ArgKind::RefI4:
                    data[i] = args[i].value;
                    V_VT(&v[i]) = VT_BYREF | VT_I4;
                    V_I4REF(&v[i]) = &data[i];
                    break;
                case ArgKind::RefBstr:
                    text[i] = SysAllocString(L"");
                    V_VT(&v[i]) = VT_BYREF | VT_BSTR;
                    V_BSTRREF(&v[i]) = &text[i];
                    break;
            }
        }
        DISPPARAMS params{count ? v : nullptr, nullptr, static_cast<UINT>(count), 0};
        target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
        // The handler may have replaced the string it was handed by reference.
        for (int i = 0; i < count; ++i) SysFreeString(text[i]);
        return true;
    }
};

class SpeakerBeeper final : public Beeper {
public:
    void beep(std::int32_t frequency, std::int32_t duration_ms) override {
        Beep(static_cast<DWORD>(frequency), static_cast<DWORD>(duration_ms));
    }
};

// The claim table as every process sees it: one named section mapped by both
// builds of the module, so a 32-bit and a 64-bit application on one till see
// each other's claims, and the lock that goes with it. The lock is a global
// mutex (any user may create one); the section is the global one when an
// elevated process or a service made it, otherwise the session's: creating a
// global section takes a privilege a standard user lacks, and whoever comes
// later joins the table that exists (choose_claim_space), under the lock, so
// two processes starting at once decide one after the other. The section's
// handle stays open until the process ends, so the table lives while any
// process uses it. Should no section be had at all, the module's own shared
// section still serves the processes of this build.
constexpr char kClaimSection[] = "ZRNOPOSCDClaimTable";
constexpr char kClaimMutex[] = "ZRNOPOSCDClaimLock";
constexpr DWORD kClaimLockWaitMs = 2000;

class Win32ClaimSpaces final : public ClaimSpaces {
public:
    bool join(ClaimSpace space) override { return keep(win32::join_section(name(space))); }
    bool create(ClaimSpace space) override {
        DWORD error = 0;
        return keep(win32::join_or_create_section(name(space), static_cast<DWORD>(kClaimTableSize),
                                                  win32::SharedUsers::Everyone, &error));
    }
    HANDLE handle = nullptr;

private:
    static std::string name(ClaimSpace space) {
        return space == ClaimSpace::Global ? std::string("Global\\") + kClaimSection : kClaimSection;
    }
    bool keep(HANDLE h) {
        handle = h;
        return h != nullptr;
    }
};

struct ClaimObjects {
    std::uint8_t* block;
    HANDLE lock;
};

const ClaimObjects& claim_objects() {
    static const ClaimObjects objects = [] {
        HANDLE lock = win32::join_or_create_machine_mutex(kClaimMutex);
        const DWORD got = lock ? WaitForSingleObject(lock, kClaimLockWaitMs) : WAIT_FAILED;
        Win32ClaimSpaces spaces;
        choose_claim_space(spaces);
        if (got == WAIT_OBJECT_0 || got == WAIT_ABANDONED) ReleaseMutex(lock);
        HANDLE h = spaces.handle;
        void* view = h ? MapViewOfFile(h, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, kClaimTableSize) : nullptr;
        if (!view && h) CloseHandle(h);
        return ClaimObjects{view ? static_cast<std::uint8_t*>(view) : g_claim_block, lock};
    }();
    return objects;
}

// Makes a check and an add of the claim table one step for every process.
class NamedMutexClaimLock final : public ClaimLock {
public:
    Outcome lock() override {
        // An abandoned mutex (a process died inside an operation) is ours all
        // the same: every operation leaves the table consistent entry by entry.
        // A holder that never lets go (a hung or suspended application) costs
        // the others this bound; the table then refuses claims meanwhile.
        HANDLE m = claim_objects().lock;
        if (!m) return Outcome::Unavailable;
        switch (WaitForSingleObject(m, kClaimLockWaitMs)) {
            case WAIT_OBJECT_0:
            case WAIT_ABANDONED:
                return Outcome::Locked;
            case WAIT_TIMEOUT:
                return Outcome::Busy;
            default:
                return Outcome::Unavailable;
        }
    }
    void unlock() override {
        if (HANDLE m = claim_objects().lock) ReleaseMutex(m);
    }
};

// Processes as the claim table asks after them: an id and the time the
// process started, which tells a holder from a later process given its id.
class Win32ProcessWatch final : public ProcessWatch {
public:
    ClaimHolder self() override {
        std::uint64_t started = 0;
        start_time(GetCurrentProcess(), &started);
        return ClaimHolder{static_cast<std::uint32_t>(GetCurrentProcessId()), started};
    }
    Presence presence(std::uint32_t pid, std::uint64_t* started) override {
        // The limited query right is granted across users and elevation.
        HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
        if (!h) return GetLastError() == ERROR_INVALID_PARAMETER ? Presence::Gone : Presence::Unknown;
        DWORD code = 0;
        const bool ended = GetExitCodeProcess(h, &code) && code != STILL_ACTIVE;
        const bool known = start_time(h, started);
        CloseHandle(h);
        if (ended) return Presence::Gone;
        return known ? Presence::Running : Presence::Unknown;
    }

private:
    static bool start_time(HANDLE process, std::uint64_t* out) {
        FILETIME created, exited, kernel, user;
        if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return false;
        *out = (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
        return true;
    }
};

// Event threads hold a reference to this module and a module lock, so a
// Control Object that lets go of the Service Object while an event is in
// flight cannot have the code unmapped under the thread.
class ModuleThreads final : public platform::Threads {
public:
    bool start(std::function<void()> work) override {
        auto* heap = new (std::nothrow) std::function<void()>(std::move(work));
        auto* start = new (std::nothrow) Start{heap, nullptr};
        if (!heap || !start ||
            !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&thread_entry),
                                &start->self)) {
            delete heap;
            delete start;
            return false;
        }
        lock_module();
        HANDLE h = CreateThread(nullptr, 0, thread_entry, start, 0, nullptr);
        if (!h) {
            unlock_module();
            FreeLibrary(start->self);
            delete heap;
            delete start;
            return false;
        }
        CloseHandle(h);
        return true;
    }

private:
    struct Start {
        std::function<void()>* work;
        HMODULE self;
    };
    static DWORD WINAPI thread_entry(void* arg) {
        auto* start = static_cast<Start*>(arg);
        const HMODULE self = start->self;
        guarded(
            [&] {
                (*start->work)();
                return 0;
            },
            0);
        delete start->work;
        delete start;
        unlock_module();
        FreeLibraryAndExitThread(self, 0);
        return 0;
    }
};

struct Ports {
    win32::Win32Registry registry;
    Win32DriverLoader loader;
    win32::Win32Clock clock;
    ModuleThreads threads;
    DispatchEventSink sink;
    SpeakerBeeper beeper;
    win32::Win32Files files;
    TraceLog trace{files, clock};
    NamedMutexClaimLock claim_lock;
    Win32ProcessWatch processes;
    ClaimTable claims{claim_objects().block, claim_lock, &processes};
};

void ZRN_STDCALL status_capture(const char* status_name, std::int32_t status) {
    guarded(
        [&] {
            service_module().OnStatusCapture(status_name, status);
            return 0;
        },
        0);
}

}  // namespace

HMODULE this_module() { return g_module; }
void set_this_module(HMODULE m) { g_module = m; }

void lock_module() { ++g_locks; }
void unlock_module() { --g_locks; }
LONG module_locks() { return g_locks.load(); }

ServiceModule& service_module() {
    static ServiceModule* m = [] {
        auto* p = new Ports;
        return new ServiceModule(ModulePorts{p->registry, p->loader, p->clock, p->threads, p->sink, p->beeper,
                                             p->trace, p->claims, &status_capture});
    }();
    return *m;
}

void pin_module() {
    static std::atomic<bool> pinned{false};
    if (pinned.exchange(true)) return;
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&status_capture), &self);
}

std::string to_ansi(const wchar_t* text, int length) {
    if (!text || length <= 0) return {};
    const int n = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, length, out.data(), n, nullptr, nullptr);
    return out;
}

BSTR to_bstr(const std::string& text) {
    if (text.empty()) return SysAllocString(L"");
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    BSTR out = SysAllocStringLen(nullptr, static_cast<UINT>(n > 0 ? n : 0));
    if (out && n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out, n);
    return out;
}

}  // namespace zrn::so::shell
