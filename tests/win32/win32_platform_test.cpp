// The Win32 adapters against the real Windows API (under Wine here).
#include <algorithm>
#include <array>
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "files_contract.h"
#include "registry_contract.h"
#include "zrn/fakes/fake_registry.h"
#include "zrn/trace.h"
#include "zrn/win32/config_lock.h"
#include "zrn/win32/win32_platform.h"

namespace zrn::testing {
namespace {

INSTANTIATE_TEST_SUITE_P(
    Both, RegistryContract,
    ::testing::Values(RegistryImpl{"win32", [] { return std::make_unique<win32::Win32Registry>(); }},
                      RegistryImpl{"fake", [] { return std::make_unique<fakes::FakeRegistry>(); }}),
    [](const auto& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(Win32, FilesContract,
                         ::testing::Values(FilesImpl{"win32", [] { return std::make_unique<win32::Win32Files>(); },
                                                     true}),
                         [](const auto& info) { return info.param.name; });

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void remove_trace_dir() {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA("C:\\ZRN\\*", &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileA((std::string("C:\\ZRN\\") + fd.cFileName).c_str());
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryA("C:\\ZRN");
}

class TraceFile : public ::testing::Test {
protected:
    void SetUp() override { remove_trace_dir(); }
    void TearDown() override { remove_trace_dir(); }
    std::string today() { return trace_file_name(clock.local_time()); }
    win32::Win32Files files;
    win32::Win32Clock clock;
};

TEST_F(TraceFile, CreatesDirectoryFileAndBannerByteExact) {
    ASSERT_EQ(GetFileAttributesA("C:\\ZRN"), INVALID_FILE_ATTRIBUTES);
    TraceLog log(files, clock);
    log.section_break();
    log.message("ZRNOPOS_Initialization");
    log.separator();
    log.messagef("%s%ld", "< OpenDrawer=", 0L);
    const std::string c = read_file(today());
    const std::regex expected(
        "ZRN OPOSTrace: v3\\.3\\.8\\.1\r\n"
        "\r\n_{49}\r\n\r\n"
        "\\[(\\d\\d)/(\\d\\d)-\\d\\d:\\d\\d:\\d\\d\\] ZRNOPOS_Initialization\r\n"
        "- - - - - -\r\n"
        "\\[\\d\\d/\\d\\d-\\d\\d:\\d\\d:\\d\\d\\] < OpenDrawer=0\r\n");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(c, m, expected)) << c;
    const auto t = clock.local_time();
    EXPECT_EQ(std::stoi(m[1]), t.month);
    EXPECT_EQ(std::stoi(m[2]), t.day);
    // The name is today's key.
    char key[16];
    snprintf(key, sizeof key, "%02d%03d", t.year % 100, t.yday);
    EXPECT_NE(today().find(std::string("OPOSTrace") + key + ".log"), std::string::npos);
}

TEST_F(TraceFile, SecondWriterAppendsWithoutBanner) {
    TraceLog a(files, clock);
    TraceLog b(files, clock);  // another module writing the same day's file
    a.message("from a");
    b.message("from b");
    const std::string c = read_file(today());
    EXPECT_EQ(c.find("ZRN OPOSTrace"), c.rfind("ZRN OPOSTrace"));
    EXPECT_LT(c.find("from a"), c.find("from b"));
}

TEST_F(TraceFile, LineDroppedWhileAnotherWriterHoldsTheFile) {
    TraceLog log(files, clock);
    log.message("before");
    HANDLE held = CreateFileA(today().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    {
        std::lock_guard lock(log.lock());
        log.set_pending("during");
        EXPECT_EQ(log.TraceWrite(kTraceMessage), 0);
    }
    bool busy = false;
    EXPECT_EQ(files.open_existing_for_write(today(), &busy), platform::Files::kInvalid);
    EXPECT_TRUE(busy) << "the adapter tells a held file from a missing one";
    CloseHandle(held);
    EXPECT_EQ(files.open_existing_for_write(today() + ".missing", &busy), platform::Files::kInvalid);
    EXPECT_FALSE(busy);
    log.message("after");
    const std::string c = read_file(today());
    EXPECT_EQ(c.find("during"), std::string::npos);
    EXPECT_NE(c.find("after"), std::string::npos);
}

// Each writer waits for the other's line instead of dropping its own.
TEST_F(TraceFile, ContendingWritersNeitherLoseNorInterleaveLines) {
    TraceLog a(files, clock);
    TraceLog b(files, clock);
    auto writer = [](TraceLog& log, char tag) {
        for (int i = 0; i < 100; ++i) log.messagef("writer %c line %03d", tag, i);
    };
    std::thread ta(writer, std::ref(a), 'a');
    std::thread tb(writer, std::ref(b), 'b');
    ta.join();
    tb.join();
    const std::string c = read_file(today());
    const std::regex line(R"(\[\d\d/\d\d-\d\d:\d\d:\d\d\] writer [ab] line \d\d\d)");
    std::size_t pos = c.find("\r\n");
    ASSERT_NE(pos, std::string::npos);
    EXPECT_EQ(c.substr(0, pos), "ZRN OPOSTrace: v3.3.8.1");
    int lines = 0;
    for (std::size_t end; (end = c.find("\r\n", pos + 2)) != std::string::npos; pos = end, ++lines)
        EXPECT_TRUE(std::regex_match(c.substr(pos + 2, end - pos - 2), line)) << c.substr(pos + 2, end - pos - 2);
    EXPECT_EQ(lines, 200);
}

// A link in the trace folder's place (trace_link_fixture: a folder and a
// link to it) is never written through; the folder itself is.
TEST_F(TraceFile, FolderThatIsALinkIsNotWrittenThrough) {
    const std::string real = "C:\\zrn-linktest\\real", link = "C:\\zrn-linktest\\link";
    const DWORD attributes = GetFileAttributesA(link.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << "the fixture's link is missing (ctest: trace_link_fixture)";
    EXPECT_TRUE(files.is_reparse_point(link));
    EXPECT_FALSE(files.is_reparse_point(real));
    TraceLog through_link(files, clock, link);
    through_link.message("redirected");
    std::vector<std::string> names{"x"};
    ASSERT_TRUE(files.list_files(real, &names));
    EXPECT_TRUE(names.empty()) << "a line reached the link's target";

    // The folder itself is written, and its retention works on the disk: a
    // daily file of last year goes when the day's file is started, another
    // file stays.
    platform::LocalTime last_year = clock.local_time();
    last_year.year -= 1;
    last_year.yday = 0;
    const std::string old_file = trace_file_name(last_year, real);
    for (const std::string& f : {old_file, real + "\\notes.txt"}) {
        HANDLE h = CreateFileA(f.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << f;
        CloseHandle(h);
    }
    TraceLog direct(files, clock, real);
    direct.set_keep_days(1);
    direct.message("written");
    EXPECT_NE(read_file(trace_file_name(clock.local_time(), real)).find("] written\r\n"), std::string::npos);
    EXPECT_EQ(GetFileAttributesA(old_file.c_str()), INVALID_FILE_ATTRIBUTES) << "last year's file is deleted";
    ASSERT_TRUE(files.list_files(real, &names));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names.size(), 2u);
    for (const std::string& n : names) EXPECT_EQ(files.remove(real + "\\" + n), platform::kFileOk) << n;
}

// The other registry view is reached on request and is a tree of its own.
TEST(Win32Registry, OtherViewIsSeparate) {
    const bool is64 = sizeof(void*) == 8;
    win32::Win32Registry own;
    win32::Win32Registry other(is64 ? win32::RegistryView::Bits32 : win32::RegistryView::Bits64);
    const std::string key = "SOFTWARE\\ZRNViewProbe";
    own.delete_key(platform::kHklm, key);
    other.delete_key(platform::kHklm, key);
    {
        platform::ScopedKey k(other);
        ASSERT_EQ(other.create_key(platform::kHklm, key, "", k.out(), nullptr), platform::kRegOk);
        platform::set_sz(other, k.get(), "Side", "other");
    }
    platform::ScopedKey seen(own);
    EXPECT_NE(own.open_key(platform::kHklm, key, false, seen.out()), platform::kRegOk)
        << "written in the other view only";
    platform::ScopedKey back(other);
    ASSERT_EQ(other.open_key(platform::kHklm, key, false, back.out()), platform::kRegOk);
    std::string side;
    EXPECT_EQ(platform::query_text(other, back.get(), "Side", 64, &side), platform::kRegOk);
    EXPECT_EQ(side, "other");
    if (is64) {
        // What a 32-bit program sees as its HKLM\SOFTWARE.
        platform::ScopedKey redirected(own);
        EXPECT_EQ(own.open_key(platform::kHklm, "SOFTWARE\\Wow6432Node\\ZRNViewProbe", false, redirected.out()),
                  platform::kRegOk);
    }
    EXPECT_EQ(other.delete_key(platform::kHklm, key), platform::kRegOk);
}

// Unmapped ports of the prefix may open, but only onto Wine's device stub:
// no serial line behind them.
TEST(WinePrefix, PortsReachNothingUsable) {
    for (const char* port : {"\\\\.\\COM1", "\\\\.\\COM2", "\\\\.\\COM3", "\\\\.\\COM4", "\\\\.\\COM5",
                             "\\\\.\\COM256", "\\\\.\\LPT1", "\\\\.\\LPT2"}) {
        HANDLE h = CreateFileA(port, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) continue;
        DCB dcb = {};
        dcb.DCBlength = sizeof dcb;
        EXPECT_FALSE(GetCommState(h, &dcb)) << port << " has a serial line behind it";
        DWORD status = 0;
        EXPECT_FALSE(GetCommModemStatus(h, &status)) << port;
        CloseHandle(h);
    }
}

TEST(Win32Clock, LocalTimeIsConsistent) {
    win32::Win32Clock c;
    const auto t = c.local_time();
    // The day of the year counted by Windows' own calendar: days since the
    // first of January of the same year.
    auto file_day = [](int year, int month, int day) {
        SYSTEMTIME st{};
        st.wYear = static_cast<WORD>(year);
        st.wMonth = static_cast<WORD>(month);
        st.wDay = static_cast<WORD>(day);
        FILETIME ft{};
        EXPECT_TRUE(SystemTimeToFileTime(&st, &ft));
        const ULONGLONG ticks = (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
        return static_cast<int>(ticks / 864000000000ULL);
    };
    EXPECT_EQ(t.yday, file_day(t.year, t.month, t.day) - file_day(t.year, 1, 1));
    // And across the calendar's awkward days, leap years and the century rule.
    for (const auto& [y, m, d] : {std::array{2024, 2, 29}, std::array{2024, 12, 31}, std::array{2023, 3, 1},
                                  std::array{2100, 3, 1}, std::array{2000, 12, 31}, std::array{1999, 1, 1}})
        EXPECT_EQ(platform::day_of_year(y, m, d), file_day(y, m, d) - file_day(y, 1, 1)) << y << '-' << m << '-' << d;
    // Wine refreshes the tick count on its own schedule, which lags under
    // load: the clock must move with sleeps, not within one of them.
    const auto before = c.monotonic_ms();
    for (int i = 0; i < 100 && c.monotonic_ms() < before + 10; ++i) c.sleep_ms(20);
    EXPECT_GE(c.monotonic_ms(), before + 10);
}

// The configuration lock between programs: a holder on another thread (as
// another program) keeps it until it lets go; one who waits in vain learns
// who holds it; a holder that ends without letting go leaves it to the next.
TEST(Win32ConfigLock, OneHolderAtATimeNamedToTheOthersAndAnAbandonedLockIsTakenOver) {
    using Status = platform::ConfigLock::Status;
    win32::Win32ConfigLock ours;
    std::string holder;
    HANDLE taken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE let_go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread other([&] {
        win32::Win32ConfigLock theirs;
        std::string h;
        EXPECT_EQ(theirs.acquire(5000, "zrncd config import", &h), Status::Acquired) << h;
        EXPECT_EQ(theirs.acquire(0, "zrncd config import", &h), Status::Acquired) << "taken again while held";
        theirs.release();
        SetEvent(taken);
        WaitForSingleObject(let_go, 20000);
        theirs.release();
    });
    ASSERT_EQ(WaitForSingleObject(taken, 20000), WAIT_OBJECT_0);
    EXPECT_EQ(ours.acquire(200, "QVTUtility", &holder), Status::Busy);
    const std::string process = "(process " + std::to_string(GetCurrentProcessId()) + ", since ";
    EXPECT_EQ(holder.rfind("zrncd config import " + process, 0), 0u) << holder;
    SetEvent(let_go);
    other.join();
    EXPECT_EQ(ours.acquire(5000, "QVTUtility", &holder), Status::Acquired) << holder;
    ours.release();

    // Ended holding it, as a killed program does: the next one takes it.
    struct Holder {
        static DWORD WINAPI run(void*) {
            // Never let go, never closed: as much as a killed program leaves.
            auto* theirs = new win32::Win32ConfigLock;
            std::string h;
            return theirs->acquire(5000, "zrncd config import", &h) == Status::Acquired ? 0 : 1;
        }
    };
    HANDLE killed = CreateThread(nullptr, 0, &Holder::run, nullptr, 0, nullptr);
    ASSERT_NE(killed, nullptr);
    ASSERT_EQ(WaitForSingleObject(killed, 20000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeThread(killed, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(killed);
    EXPECT_EQ(ours.acquire(5000, "QVTUtility", &holder), Status::Acquired) << holder;
    ours.release();
    CloseHandle(taken);
    CloseHandle(let_go);
}

// A program shows which call failed and why, not just that something did.
TEST(Win32LastError, AdaptersKeepTheFailingCallAndItsCode) {
    win32::Win32Registry reg;
    EXPECT_FALSE(reg.last_error()) << "nothing failed yet";
    platform::RegKey key = 0;
    ASSERT_EQ(reg.open_key(platform::kHklm, "SOFTWARE\\ZRNNoSuchKey", false, &key), ERROR_FILE_NOT_FOUND);
    win32::LastError e = reg.last_error();
    EXPECT_EQ(e.operation, "RegOpenKeyExA \"SOFTWARE\\ZRNNoSuchKey\"");
    EXPECT_EQ(e.code, static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(win32::describe(e).rfind("RegOpenKeyExA \"SOFTWARE\\ZRNNoSuchKey\" failed: Win32 error 2", 0), 0u)
        << win32::describe(e);

    // The end of an enumeration is no failure: the earlier one stays.
    ASSERT_EQ(reg.open_key(platform::kHklm, "SOFTWARE", false, &key), ERROR_SUCCESS);
    std::string name;
    EXPECT_EQ(reg.enum_key(key, 1000000, &name), ERROR_NO_MORE_ITEMS);
    reg.close_key(key);
    EXPECT_EQ(reg.last_error().operation, e.operation);
    reg.clear_last_error();
    EXPECT_FALSE(reg.last_error());
    EXPECT_EQ(win32::describe(reg.last_error()), "");

    win32::Win32Files files;
    bool held = true;
    EXPECT_EQ(files.open_existing_for_write("C:\\ZRNNoSuchFolder\\x.log", &held), platform::Files::kInvalid);
    EXPECT_FALSE(held);
    e = files.last_error();
    EXPECT_EQ(e.operation, "CreateFileA \"C:\\ZRNNoSuchFolder\\x.log\"");
    EXPECT_EQ(e.code, static_cast<std::uint32_t>(ERROR_PATH_NOT_FOUND));

    // A failed write says so, and the adapter keeps which call it was.
    EXPECT_EQ(files.write(platform::Files::Handle{0}, "x", 1), static_cast<platform::FileStatus>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(files.last_error().operation, "WriteFile");
    EXPECT_EQ(files.last_error().code, static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));

    EXPECT_FALSE(win32::Win32Threads().last_error());
}

TEST(Win32Threads, RunsDetachedWork) {
    win32::Win32Threads th;
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(th.start([done] { SetEvent(done); }));
    EXPECT_EQ(WaitForSingleObject(done, 10000), WAIT_OBJECT_0);
    CloseHandle(done);
}

}  // namespace
}  // namespace zrn::testing
