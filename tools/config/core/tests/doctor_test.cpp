#include "zrn/cfg/doctor.h"

#include <gtest/gtest.h>

#include "zrn/platform/noting_registry.h"

#include <map>
#include <set>

#include "test_pe.h"
#include "zrn/cfg/pe_image.h"
#include "zrn/cfg/snapshot.h"
#include "zrn/device_config.h"
#include "zrn/fakes/fake_files.h"
#include "zrn/fakes/fake_registry.h"
#include "zrn/json.h"

using namespace zrn;
using namespace zrn::cfg;
using zrn::cfg::testing::make_pe;

namespace {

const std::string kClsid = "{AC43260D-DC30-4858-B7DC-0B4BE815D34B}";
const std::string kLibid = "{5F1C0E7A-2B44-4E19-9D3C-7A8B6C5D4E3F}";
const std::string kDir32 = "C:\\Program Files (x86)\\ZRN\\OPOS CashDrawer";
const std::string kDir64 = "C:\\Program Files\\ZRN\\OPOS CashDrawer";
const std::string kOcx = "C:\\OPOS\\CashDrawer.ocx";

const std::vector<std::string> kPortNames = {"CVersion", "OpenCom", "CloseCom", "PutCom", "GetComStat",
                                             "OpenLpt",  "CloseLpt", "PutLpt", "StartStatusCCapture"};
const std::vector<std::string> kUsbNames = {"UVersion",   "OpenUPort", "OpenUCashDrawer", "UCashDrawerStatus",
                                            "CloseUPort", "StartStatusUCapture"};

class Files final : public DoctorFiles {
public:
    std::map<std::string, std::vector<std::uint8_t>> files;
    std::set<std::string> unreadable;
    std::map<std::string, std::string> load_errors;
    std::vector<std::string> loaded;
    std::set<std::string> links;

    bool exists(const std::string& path) override { return files.count(path) > 0; }
    bool read(const std::string& path, std::vector<std::uint8_t>* bytes, std::size_t max,
              std::string* error) override {
        const auto it = files.find(path);
        if (it == files.end() || unreadable.count(path)) {
            *error = "CreateFile failed: error 5 (Access is denied)";
            return false;
        }
        bytes->assign(it->second.begin(), it->second.begin() + std::min(max, it->second.size()));
        return true;
    }
    bool load(const std::string& path, std::string* error) override {
        loaded.push_back(path);
        const auto it = load_errors.find(path);
        if (it == load_errors.end()) return true;
        *error = it->second;
        return false;
    }
    bool is_reparse_point(const std::string& path) override { return links.count(path) > 0; }
};

void set_default(platform::Registry& reg, const std::string& path, const std::string& value,
                 const std::string& name = "") {
    platform::ScopedKey key(reg);
    ASSERT_EQ(reg.create_key(platform::kHklm, path, "", key.out(), nullptr), platform::kRegOk) << path;
    ASSERT_EQ(platform::set_sz(reg, key.get(), name, value), platform::kRegOk);
}

void delete_value(platform::Registry& reg, const std::string& path, const std::string& name) {
    platform::ScopedKey key(reg);
    ASSERT_EQ(reg.open_key(platform::kHklm, path, true, key.out()), platform::kRegOk) << path;
    ASSERT_EQ(reg.delete_value(key.get(), name), platform::kRegOk) << name;
}

void delete_tree(platform::Registry& reg, const std::string& path) {
    ASSERT_TRUE(cfg::delete_tree(reg, platform::kHklm, path)) << path;
}

std::string entry_path(const std::string& key) { return std::string(kDeviceClassKey) + "\\" + key; }

config::DeviceEntry entry_of(const std::string& key, std::int32_t port) {
    config::DeviceEntry e = config::default_entry(key, *device_type_of(key));
    e.Port = port;
    return e;
}

// One view of a healthy till: the Service Object registered, TargetPath at
// the drivers, five drawers (two smart-serial units sharing COM2), a logical
// name, and the Control Object.
void install(platform::Registry& reg, Files& files, const std::string& view) {
    const std::string dir = view == "32" ? kDir32 : kDir64;
    const std::uint16_t machine = view == "32" ? kPeMachineI386 : kPeMachineAmd64;
    const std::string so = dir + "\\ZRNOPOSCD.dll";
    set_default(reg, kServiceProgIdKey, kClsid);
    set_default(reg, "SOFTWARE\\Classes\\CLSID\\" + kClsid + "\\InprocServer32", so);
    set_default(reg, "SOFTWARE\\Classes\\CLSID\\" + kClsid + "\\TypeLib", kLibid);
    set_default(reg, "SOFTWARE\\Classes\\TypeLib\\" + kLibid + "\\1.0\\0\\" + (view == "32" ? "win32" : "win64"), so);
    files.files[so] = make_pe({machine, true, {"DllCanUnloadNow", "DllGetClassObject"}});
    files.files[dir + "\\PortDrawerSO.DLL"] = make_pe({machine, true, kPortNames});
    files.files[dir + "\\USB730SO.DLL"] = make_pe({machine, true, kUsbNames});
    ASSERT_TRUE(config::write_service_settings(reg, {dir, 0}));
    ASSERT_TRUE(config::write_device_entry(reg, entry_of("CD926", 1)));
    ASSERT_TRUE(config::write_device_entry(reg, entry_of("CD347", 2)));
    ASSERT_TRUE(config::write_device_entry(reg, entry_of("CD347-2", 2)));
    ASSERT_TRUE(config::write_device_entry(reg, entry_of("CD615", 1)));
    ASSERT_TRUE(config::write_device_entry(reg, entry_of("CD730", 0)));
    ASSERT_TRUE(config::write_logical_name(reg, "FrontDrawer", "CD926"));
    set_default(reg, kControlProgIdKey, kControlObjectClsid);
    set_default(reg, std::string("SOFTWARE\\Classes\\CLSID\\") + kControlObjectClsid + "\\InprocServer32", kOcx);
    files.files[kOcx] = {'M', 'Z'};
}

class Doctor : public ::testing::Test {
protected:
    fakes::FakeRegistry r32, r64;
    Files files;

    std::vector<Finding> run(const std::string& own = "64", std::vector<std::string> only = {"32", "64"}) {
        DoctorInput in;
        in.all_views = {{"32", &r32}, {"64", &r64}};
        for (const auto& v : only) in.views.push_back({v, v == "32" ? &r32 : &r64});
        in.own_view = own;
        in.files = &files;
        auto out = run_doctor(in);
        EXPECT_EQ(r32.open_handles(), 0) << "every key is closed again";
        EXPECT_EQ(r64.open_handles(), 0) << "every key is closed again";
        return out;
    }
    void install_both() {
        install(r32, files, "32");
        install(r64, files, "64");
    }
};

std::vector<Finding> of(const std::vector<Finding>& all, const std::string& view, const std::string& check,
                        Severity s) {
    std::vector<Finding> out;
    for (const auto& f : all)
        if (f.view == view && f.check == check && f.severity == s) out.push_back(f);
    return out;
}

std::string table(const std::vector<Finding>& f) { return format_table(f); }

bool has(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

// Exactly one finding of the view's check with that severity, and its text
// holds `part`.
::testing::AssertionResult one_saying(const std::vector<Finding>& all, const std::string& view,
                                      const std::string& check, Severity s, const std::string& part) {
    const auto found = of(all, view, check, s);
    if (found.size() != 1) return ::testing::AssertionFailure() << found.size() << " such findings\n" << table(all);
    if (!has(found[0].text, part)) return ::testing::AssertionFailure() << found[0].text;
    return ::testing::AssertionSuccess();
}

TEST_F(Doctor, AHealthyTillWithBothViewsPassesEveryCheck) {
    install_both();
    const auto f = run();
    EXPECT_EQ(doctor_exit_code(f), 0) << table(f);
    for (const auto& x : f) EXPECT_EQ(x.severity, Severity::ok) << table(f);
    for (const std::string view : {"32", "64"}) {
        for (const char* c : {check::kServiceObject, check::kTypeLibrary, check::kTargetPath, check::kLogicalName,
                              check::kPorts, check::kControlObject, check::kTrace})
            EXPECT_EQ(of(f, view, c, Severity::ok).size(), 1u) << view << " " << c << "\n" << table(f);
        EXPECT_EQ(of(f, view, check::kDriver, Severity::ok).size(), 2u) << table(f);
        EXPECT_EQ(of(f, view, check::kEntry, Severity::ok).size(), 5u) << table(f);
    }
    const auto ports = of(f, "64", check::kPorts, Severity::ok);
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_TRUE(has(ports[0].text, "CD347 and CD347-2 share COM2 as units 1 and 2 of one line")) << ports[0].text;
    EXPECT_EQ(of(f, "", check::kViews, Severity::ok).size(), 1u) << table(f);
    // Only the drivers of the program's own bitness are loaded; the others are read.
    EXPECT_EQ(files.loaded, (std::vector<std::string>{kDir64 + "\\PortDrawerSO.DLL", kDir64 + "\\USB730SO.DLL"}));
    const auto drivers32 = of(f, "32", check::kDriver, Severity::ok);
    EXPECT_TRUE(has(drivers32[0].text, "i386, all 9 exports")) << drivers32[0].text;
    EXPECT_FALSE(has(drivers32[0].text, "loads")) << drivers32[0].text;
    EXPECT_TRUE(has(of(f, "64", check::kDriver, Severity::ok)[1].text, "amd64, all 6 exports, loads"));
}

// What the trace writes and how long it keeps its files, per view; a link
// in the trace folder's place fails while the trace is on.
TEST_F(Doctor, TraceSettingsAreShownAndALinkInTheFoldersPlaceFails) {
    install_both();
    auto f = run();
    EXPECT_TRUE(one_saying(f, "64", check::kTrace, Severity::ok,
                           "trace: off (TraceEnabled 0); every daily file is kept (TraceKeepDays not set)"));
    platform::ScopedKey key(r64);
    ASSERT_EQ(r64.open_key(platform::kHklm, kServiceSettingsKey, true, key.out()), platform::kRegOk);
    ASSERT_EQ(config::write_number(r64, key.get(), "TraceEnabled", 1), platform::kRegOk);
    ASSERT_EQ(config::write_number(r64, key.get(), "TraceKeepDays", 30), platform::kRegOk);
    key.reset();
    f = run();
    EXPECT_TRUE(one_saying(f, "64", check::kTrace, Severity::ok,
                           "trace: every line (TraceEnabled 1), one file a day in C:\\ZRN; files older than 30 days "
                           "are deleted (TraceKeepDays 30)"));
    EXPECT_TRUE(one_saying(f, "32", check::kTrace, Severity::ok, "trace: off (TraceEnabled 0)"));
    EXPECT_TRUE(one_saying(f, "", check::kViews, Severity::fail, "the service settings differ"));

    files.links.insert("C:\\ZRN");
    f = run();
    EXPECT_TRUE(one_saying(f, "64", check::kTrace, Severity::fail, "C:\\ZRN is a link"));
    EXPECT_TRUE(has(of(f, "64", check::kTrace, Severity::fail)[0].advice, "reinstall the x64 package"));
    EXPECT_TRUE(one_saying(f, "32", check::kTrace, Severity::ok, "trace: off")) << "no trace, nothing to refuse";
    EXPECT_EQ(doctor_exit_code(f), 1);
}

TEST_F(Doctor, AViewWithNothingOfOursIsSkippedAndTheTillIsHealthy) {
    install(r64, files, "64");
    // What Windows shows the 32-bit view: the shared program identifier only.
    set_default(r32, kServiceProgIdKey, kClsid);
    const auto f = run();
    EXPECT_EQ(doctor_exit_code(f), 0) << table(f);
    std::size_t of32 = 0;
    for (const auto& x : f) of32 += x.view == "32";
    EXPECT_EQ(of32, 1u) << "one skip, no other check of that view\n" << table(f);
    const auto skip = of(f, "32", check::kInstalled, Severity::skip);
    ASSERT_EQ(skip.size(), 1u) << table(f);
    EXPECT_TRUE(has(skip[0].advice, "x86 package")) << skip[0].advice;
    EXPECT_TRUE(of(f, "", check::kViews, Severity::ok).empty()) << "no views to compare";
    EXPECT_TRUE(of(f, "", check::kViews, Severity::fail).empty());
}

TEST_F(Doctor, ConfigurationWithoutTheServiceObjectFailsWithRegistrationAdvice) {
    install_both();
    // The 32-bit view keeps its drawers but lost its Service Object's class
    // (the program identifier is shared with the 64-bit view).
    delete_tree(r32, "SOFTWARE\\Classes\\CLSID\\" + kClsid);
    auto f = run();
    EXPECT_EQ(doctor_exit_code(f), 1);
    auto so = of(f, "32", check::kServiceObject, Severity::fail);
    ASSERT_EQ(so.size(), 1u) << table(f);
    EXPECT_TRUE(has(so[0].text, "no InprocServer32 file in this view")) << so[0].text;
    // Neither view has the program identifier.
    install(r32, files, "32");
    ASSERT_EQ(r32.delete_key(platform::kHklm, kServiceProgIdKey), platform::kRegOk);
    ASSERT_EQ(r64.delete_key(platform::kHklm, kServiceProgIdKey), platform::kRegOk);
    f = run();
    EXPECT_EQ(doctor_exit_code(f), 1);
    so = of(f, "32", check::kServiceObject, Severity::fail);
    ASSERT_EQ(so.size(), 1u) << table(f);
    EXPECT_TRUE(has(so[0].advice, "C:\\Windows\\SysWOW64\\regsvr32.exe \"" + kDir32 + "\\ZRNOPOSCD.dll\""))
        << so[0].advice;
    EXPECT_TRUE(has(so[0].advice, "x86 package")) << so[0].advice;
    EXPECT_TRUE(of(f, "32", check::kInstalled, Severity::skip).empty()) << "configuration makes it installed";

    // The 64-bit view: the registered file is gone; then one of the wrong bitness.
    install(r64, files, "64");
    files.files.erase(kDir64 + "\\ZRNOPOSCD.dll");
    f = run();
    so = of(f, "64", check::kServiceObject, Severity::fail);
    ASSERT_EQ(so.size(), 1u) << table(f);
    EXPECT_TRUE(has(so[0].text, "does not exist")) << so[0].text;
    EXPECT_TRUE(has(so[0].advice, "regsvr32 \"")) << so[0].advice;
    EXPECT_FALSE(has(so[0].advice, "SysWOW64")) << so[0].advice;

    files.files[kDir64 + "\\ZRNOPOSCD.dll"] = make_pe({kPeMachineI386, true, {}});
    f = run();
    ASSERT_TRUE(one_saying(f, "64", check::kServiceObject, Severity::fail,
                           "built for i386, but 64-bit applications need amd64"));

    files.files[kDir64 + "\\ZRNOPOSCD.dll"] = {'n', 'o', 't', ' ', 'a', ' ', 'd', 'l', 'l'};
    f = run();
    ASSERT_TRUE(one_saying(f, "64", check::kServiceObject, Severity::fail, "is no Windows DLL (no MZ header)"));

    // The class without its server path.
    install(r64, files, "64");
    delete_value(r64, "SOFTWARE\\Classes\\CLSID\\" + kClsid + "\\InprocServer32", "");
    f = run();
    ASSERT_TRUE(one_saying(f, "64", check::kServiceObject, Severity::fail, "no InprocServer32"));
}

TEST_F(Doctor, TypeLibraryIsLookedUpForTheViewsPlatformInEitherView) {
    install_both();
    // The shared key: the 32-bit registration seen only through the 64-bit view.
    const std::string win32_key = "SOFTWARE\\Classes\\TypeLib\\" + kLibid + "\\1.0\\0\\win32";
    ASSERT_EQ(r32.delete_key(platform::kHklm, win32_key), platform::kRegOk);
    set_default(r64, win32_key, kDir32 + "\\ZRNOPOSCD.dll");
    auto f = run();
    EXPECT_EQ(of(f, "32", check::kTypeLibrary, Severity::ok).size(), 1u) << table(f);

    ASSERT_EQ(r64.delete_key(platform::kHklm, win32_key), platform::kRegOk);
    f = run();
    auto tl = of(f, "32", check::kTypeLibrary, Severity::fail);
    ASSERT_EQ(tl.size(), 1u) << table(f);
    EXPECT_TRUE(has(tl[0].text, kLibid + " is not registered for win32")) << tl[0].text;
    EXPECT_EQ(of(f, "64", check::kTypeLibrary, Severity::ok).size(), 1u) << "win64 is still there";

    // Registered, but the file it names is gone.
    set_default(r32, win32_key, "C:\\gone\\ZRNOPOSCD.dll");
    f = run();
    ASSERT_TRUE(
        one_saying(f, "32", check::kTypeLibrary, Severity::fail, "C:\\gone\\ZRNOPOSCD.dll, which does not exist"));

    delete_value(r64, "SOFTWARE\\Classes\\CLSID\\" + kClsid + "\\TypeLib", "");
    f = run();
    ASSERT_TRUE(one_saying(f, "64", check::kTypeLibrary, Severity::fail, "names no type library"));
}

TEST_F(Doctor, TargetPathAndDriversEachSayWhatToDo) {
    install_both();
    // TargetPath gone: no driver can be checked.
    {
        platform::ScopedKey key(r64);
        ASSERT_EQ(r64.open_key(platform::kHklm, kServiceSettingsKey, true, key.out()), platform::kRegOk);
        ASSERT_EQ(r64.delete_value(key.get(), "TargetPath"), platform::kRegOk);
    }
    auto f = run();
    EXPECT_EQ(of(f, "64", check::kTargetPath, Severity::fail).size(), 1u) << table(f);
    EXPECT_TRUE(of(f, "64", check::kDriver, Severity::ok).empty());
    EXPECT_TRUE(of(f, "64", check::kDriver, Severity::fail).empty());
    EXPECT_EQ(doctor_exit_code(f), 1);

    // Too long for the Service Object's 255-character paths.
    ASSERT_TRUE(config::write_service_settings(r64, {"C:\\" + std::string(240, 'x'), 0}));
    f = run();
    ASSERT_TRUE(one_saying(f, "64", check::kTargetPath, Severity::fail, "too long"));

    ASSERT_TRUE(config::write_service_settings(r64, {kDir64, 0}));
    files.files.erase(kDir64 + "\\USB730SO.DLL");
    f = run();
    auto d = of(f, "64", check::kDriver, Severity::fail);
    ASSERT_EQ(d.size(), 1u) << table(f);
    EXPECT_EQ(d[0].text, "USB730SO.DLL is missing from " + kDir64);
    EXPECT_TRUE(has(d[0].advice, "copy USB730SO.DLL into " + kDir64)) << d[0].advice;
    EXPECT_EQ(of(f, "64", check::kDriver, Severity::ok).size(), 1u) << "the port driver is still fine";

    // A driver without one of its exports; one that does not load.
    std::vector<std::string> fewer = kPortNames;
    fewer.erase(fewer.begin() + 7);  // PutLpt
    files.files[kDir64 + "\\PortDrawerSO.DLL"] = make_pe({kPeMachineAmd64, true, fewer});
    files.files[kDir64 + "\\USB730SO.DLL"] = make_pe({kPeMachineAmd64, true, kUsbNames});
    files.load_errors[kDir64 + "\\USB730SO.DLL"] = "error 126: a DLL it needs is missing";
    f = run();
    d = of(f, "64", check::kDriver, Severity::fail);
    ASSERT_EQ(d.size(), 2u) << table(f);
    EXPECT_TRUE(has(d[0].text, "PortDrawerSO.DLL lacks the exports PutLpt")) << d[0].text;
    EXPECT_TRUE(has(d[1].text, "cannot be loaded: error 126: a DLL it needs is missing")) << d[1].text;

    // The other view: a driver of the wrong bitness is found by reading, not loading.
    files.files[kDir32 + "\\USB730SO.DLL"] = make_pe({kPeMachineAmd64, true, kUsbNames});
    files.loaded.clear();
    f = run();
    ASSERT_TRUE(
        one_saying(f, "32", check::kDriver, Severity::fail, "built for amd64, but 32-bit applications need i386"));
    for (const auto& l : files.loaded) EXPECT_FALSE(has(l, kDir32)) << l;

    // The program of the other bitness loads the 32-bit drivers instead.
    files.files[kDir32 + "\\USB730SO.DLL"] = make_pe({kPeMachineI386, true, kUsbNames});
    files.loaded.clear();
    f = run("32");
    EXPECT_EQ(files.loaded, (std::vector<std::string>{kDir32 + "\\PortDrawerSO.DLL", kDir32 + "\\USB730SO.DLL"}));

    files.unreadable.insert(kDir32 + "\\PortDrawerSO.DLL");
    f = run();
    ASSERT_TRUE(one_saying(f, "32", check::kDriver, Severity::fail,
                           "PortDrawerSO.DLL cannot be read: CreateFile failed: error 5 (Access is denied)"));
}

TEST_F(Doctor, IncompleteOrOutOfRangeEntriesAreReportedWithTheCommandThatMendsThem) {
    install(r64, files, "64");
    delete_value(r64, entry_path("CD926"), "BaudRate");
    delete_value(r64, entry_path("CD926"), "FirstOC");
    auto f = run();
    EXPECT_EQ(doctor_exit_code(f), 1);
    auto e = of(f, "64", check::kEntry, Severity::fail);
    ASSERT_EQ(e.size(), 1u) << table(f);
    EXPECT_EQ(e[0].text, "CD926 is incomplete: it lacks BaudRate, FirstOC");
    EXPECT_EQ(e[0].advice, "set them with zrncd config --view 64 change CD926 BaudRate=5 FirstOC=7");
    EXPECT_EQ(of(f, "64", check::kEntry, Severity::ok).size(), 4u) << "the other entries are fine";
    EXPECT_TRUE(has(of(f, "64", check::kPorts, Severity::ok)[0].text, "CD347 and CD347-2")) << table(f);

    // Values out of their lists, of another type, names that do not match.
    install(r64, files, "64");
    ASSERT_TRUE(config::write_device_value(r64, "CD926", "Port", 7));
    ASSERT_TRUE(config::write_device_value(r64, "CD347", "FirstOC", std::string_view("abc")));
    ASSERT_TRUE(config::write_device_value(r64, "CD347", "SecondOC", std::string_view("")));  // may be empty
    ASSERT_TRUE(config::write_device_value(r64, "CD615", "DrawerNo", std::string_view("1")));
    ASSERT_TRUE(config::write_device_value(r64, "CD347-2", "DeviceName", std::string_view("CD347")));
    ASSERT_TRUE(config::write_device_value(r64, "CD730", "DeviceID", 1));
    set_default(r64, entry_path("CD730"), "OTHER.SO");
    {
        platform::ScopedKey k(r64);
        ASSERT_EQ(r64.open_key(platform::kHklm, entry_path("CD615"), true, k.out()), platform::kRegOk);
        ASSERT_EQ(r64.set_value(k.get(), "Status", platform::RegData{3, {1, 0}}), platform::kRegOk);
    }
    f = run();
    e = of(f, "64", check::kEntry, Severity::fail);
    const std::string t = table(f);
    ASSERT_EQ(e.size(), 6u) << t;
    ASSERT_EQ(of(f, "64", check::kEntry, Severity::warn).size(), 1u) << t;
    EXPECT_TRUE(has(t, "CD615: Status is stored with registry type 3 and reads as \"?\"")) << t;
    EXPECT_TRUE(has(t, "/v \"Status\" /t REG_DWORD /d 0 /reg:64 /f")) << t;
    EXPECT_TRUE(has(t, "CD926: Port 7 is not one of 1,2,3,4")) << t;
    EXPECT_TRUE(has(t, "set it with zrncd config --view 64 change CD926 Port=1")) << t;
    EXPECT_TRUE(has(t, "CD347: FirstOC \"abc\" is no opening code")) << t;
    EXPECT_FALSE(has(t, "SecondOC")) << t;
    EXPECT_TRUE(has(t, "warn   CD615: DrawerNo is stored as REG_SZ where the format has REG_DWORD; it reads the same"))
        << t;
    EXPECT_TRUE(has(t, "CD347-2: DeviceName \"CD347\" differs from the key name")) << t;
    EXPECT_TRUE(has(t, "write it with reg add \"HKLM\\SOFTWARE\\OLEforRetail\\ServiceOPOS\\CashDrawer\\CD347-2\" /v \"DeviceName\" /t REG_SZ /d \"CD347-2\" /reg:64 /f")) << t;
    EXPECT_TRUE(has(t, "CD730: DeviceID 1 does not match its name (CD730 is DeviceID 3)")) << t;
    EXPECT_TRUE(has(t, "CD730: its default value is \"OTHER.SO\"")) << t;

    // A key of no type; a name no driver takes a unit from.
    install(r64, files, "64");
    {
        platform::ScopedKey k(r64);
        ASSERT_EQ(r64.create_key(platform::kHklm, entry_path("Printer"), "", k.out(), nullptr), platform::kRegOk);
    }
    ASSERT_TRUE(config::write_device_entry(r64, entry_of("CD615-123", 2)));
    f = run();
    e = of(f, "64", check::kEntry, Severity::fail);
    ASSERT_EQ(e.size(), 2u) << table(f);
    EXPECT_TRUE(has(table(f), "CD615-123: the drivers derive no unit number from this name")) << table(f);
    EXPECT_TRUE(has(table(f), "Printer is no device entry")) << table(f);
    EXPECT_TRUE(has(table(f), "zrncd config --view 64 remove Printer")) << table(f);

    // An entry the registry will not open is named with the refused call and
    // the system's words for why.
    install(r64, files, "64");
    class Refusing final : public platform::ForwardingRegistry {
    public:
        using ForwardingRegistry::ForwardingRegistry;
        platform::RegStatus open_key(platform::RegKey p, std::string_view s, bool w, platform::RegKey* out) override {
            if (s == entry_path("CD615")) return platform::kRegAccessDenied;
            return ForwardingRegistry::open_key(p, s, w, out);
        }
    } refusing(r64);
    DoctorInput in;
    in.all_views = {{"32", &r32}, {"64", &refusing}};
    in.views = {{"64", &refusing}};
    in.own_view = "64";
    in.files = &files;
    f = run_doctor(in);
    EXPECT_TRUE(has(table(f), "fail   CD615 cannot be opened: RegOpenKeyExA \"" + entry_path("CD615") +
                                  "\" failed: Windows error 5\n"))
        << table(f);
    EXPECT_EQ(r64.open_handles(), 0) << "every key is closed again";
}

TEST_F(Doctor, DanglingLogicalNamesAndSharedPortsFail) {
    install(r64, files, "64");
    ASSERT_TRUE(config::write_logical_name(r64, "Ghost", "CD926-3"));
    ASSERT_TRUE(config::write_logical_name(r64, "Lower", "cd615"));  // the registry finds keys whatever the case
    auto f = run();
    auto n = of(f, "64", check::kLogicalName, Severity::fail);
    ASSERT_EQ(n.size(), 1u) << table(f);
    EXPECT_EQ(n[0].text, "the logical name Ghost points at CD926-3, which has no entry");
    EXPECT_EQ(n[0].advice, "remove it: zrncd config --view 64 names remove CD926-3 \"Ghost\" (or add the device CD926-3)");
    EXPECT_TRUE(of(f, "64", check::kLogicalName, Severity::ok).empty());

    // A serial-II drawer on the smart-serial line: not units of one line.
    install(r64, files, "64");
    ASSERT_TRUE(config::write_device_entry(r64, entry_of("CD926-2", 2)));
    ASSERT_TRUE(config::write_device_entry(r64, entry_of("CD615-2", 1)));
    f = run();
    auto p = of(f, "64", check::kPorts, Severity::fail);
    ASSERT_EQ(p.size(), 2u) << table(f);
    EXPECT_EQ(p[0].text, "CD347, CD347-2 and CD926-2 share COM2");
    EXPECT_EQ(p[0].advice, "give one of them another port: zrncd config --view 64 change CD926-2 Port=3");
    EXPECT_EQ(p[1].text, "CD615 and CD615-2 share LPT1");
    EXPECT_EQ(p[1].advice, "give one of them another port: zrncd config --view 64 change CD615-2 Port=2");
    EXPECT_TRUE(of(f, "64", check::kPorts, Severity::ok).empty());

    // An entry with other faults still holds its port.
    ASSERT_EQ(r64.delete_key(platform::kHklm, entry_path("CD926-2")), platform::kRegOk);
    ASSERT_EQ(r64.delete_key(platform::kHklm, entry_path("CD615-2")), platform::kRegOk);
    ASSERT_TRUE(config::write_device_value(r64, "CD347-2", "Port", 1));
    delete_value(r64, entry_path("CD926"), "StopBits");
    f = run();
    p = of(f, "64", check::kPorts, Severity::fail);
    ASSERT_EQ(p.size(), 1u) << table(f);
    EXPECT_EQ(p[0].text, "CD347-2 and CD926 share COM1");
    ASSERT_TRUE(config::write_device_value(r64, "CD347-2", "Port", 2));
    ASSERT_TRUE(config::write_device_value(r64, "CD926", "StopBits", 1));

    // Two smart-serial entries the drivers take for the same unit.
    ASSERT_TRUE(config::write_device_entry(r64, entry_of("CD347-1", 2)));
    f = run();
    ASSERT_TRUE(one_saying(f, "64", check::kPorts, Severity::fail, "share COM2"));
}

TEST_F(Doctor, ViewsOutOfStepAreListedWithTheSyncCommand) {
    install_both();
    ASSERT_TRUE(config::write_device_entry(r32, entry_of("CD926-2", 3)));
    ASSERT_TRUE(config::write_logical_name(r64, "Back", "CD615"));
    auto f = run();
    EXPECT_EQ(doctor_exit_code(f), 1);
    const auto v = of(f, "", check::kViews, Severity::fail);
    ASSERT_EQ(v.size(), 1u) << table(f);
    EXPECT_EQ(v[0].text,
              "the views differ: CD926-2 is only in the 32-bit view; logical name Back is only in the 64-bit view");
    EXPECT_TRUE(has(v[0].advice, "zrncd config --view 64 sync")) << v[0].advice;

    // TargetPath differs by design; one view checked alone compares nothing.
    install_both();
    f = run("64", {"64"});
    EXPECT_EQ(doctor_exit_code(f), 0) << table(f);
    for (const auto& x : f) EXPECT_EQ(x.view, "64");
}

TEST_F(Doctor, OnA32BitWindowsTheAdviceNamesNoViewAndThePlainRegsvr32) {
    install(r32, files, "32");
    ASSERT_EQ(r32.delete_key(platform::kHklm, kServiceProgIdKey), platform::kRegOk);
    delete_value(r32, entry_path("CD926"), "BaudRate");
    ASSERT_TRUE(config::write_device_value(r32, "CD730", "DeviceID", 2));
    DoctorInput in;
    in.views = in.all_views = {{"32", &r32}};
    in.own_view = "32";
    in.two_views = false;
    in.files = &files;
    const auto f = run_doctor(in);
    const std::string t = format_table(f);
    EXPECT_EQ(doctor_exit_code(f), 1);
    EXPECT_TRUE(has(t, "-> reinstall the x86 package, or register the Service Object: regsvr32 \"" + kDir32)) << t;
    EXPECT_TRUE(has(t, "-> set it with zrncd config change CD926 BaudRate=5\n")) << t;
    EXPECT_TRUE(has(t, "-> zrncd config remove CD730, then reinstall the x86 package, which writes the USB entry"))
        << t;
    EXPECT_FALSE(has(t, "/reg:")) << t;
    EXPECT_FALSE(has(t, "--view")) << t;
    // The drivers of the one view are this program's own: loaded.
    EXPECT_EQ(files.loaded, (std::vector<std::string>{kDir32 + "\\PortDrawerSO.DLL", kDir32 + "\\USB730SO.DLL"}));
}

TEST_F(Doctor, AMissingControlObjectOnlyWarns) {
    install(r64, files, "64");
    files.files.erase(kOcx);
    auto f = run();
    EXPECT_EQ(doctor_exit_code(f), 0) << table(f);
    auto c = of(f, "64", check::kControlObject, Severity::warn);
    ASSERT_EQ(c.size(), 1u) << table(f);
    EXPECT_EQ(c[0].text,
              "POS applications of this bitness cannot open a drawer until the OPOS CashDrawer Control Object is "
              "installed");
    // Found by its class id alone, without the program identifier.
    files.files[kOcx] = {'M', 'Z'};
    ASSERT_EQ(r64.delete_key(platform::kHklm, kControlProgIdKey), platform::kRegOk);
    f = run();
    EXPECT_EQ(of(f, "64", check::kControlObject, Severity::ok).size(), 1u) << table(f);
}

TEST_F(Doctor, TableAndJsonCarryEveryFindingAndItsAdvice) {
    install(r64, files, "64");
    files.files.erase(kDir64 + "\\USB730SO.DLL");
    const auto f = run();
    const std::string t = format_table(f);
    EXPECT_EQ(t.rfind("VIEW CHECK", 0), 0u) << t;
    EXPECT_TRUE(has(t, "\n32   installed      skip   not installed in this view")) << t;
    EXPECT_TRUE(has(t, "\n64   driver         fail   USB730SO.DLL is missing from " + kDir64 + "\n" +
                           std::string(27, ' ') + "-> copy USB730SO.DLL into"))
        << t;
    EXPECT_TRUE(has(t, "1 fail, 1 skip: this till needs attention")) << t;

    const std::string js = format_json(f);
    std::size_t lines = 0, pos = 0;
    while (pos < js.size()) {
        const std::size_t nl = js.find('\n', pos);
        ASSERT_NE(nl, std::string::npos);
        json::Value v;
        std::string error;
        ASSERT_TRUE(json::parse(js.substr(pos, nl - pos), &v, &error)) << error;
        ASSERT_TRUE(v.is_object());
        EXPECT_EQ(v.find("view")->as_string(), f[lines].view);
        EXPECT_EQ(v.find("check")->as_string(), f[lines].check);
        EXPECT_EQ(v.find("status")->as_string(), severity_name(f[lines].severity));
        EXPECT_EQ(v.find("text")->as_string(), f[lines].text);
        EXPECT_EQ(v.find("advice")->as_string(), f[lines].advice);
        ++lines;
        pos = nl + 1;
    }
    EXPECT_EQ(lines, f.size());
}

TEST(DoctorArgs, OptionsAndBadArguments) {
    DoctorOptions o;
    EXPECT_EQ(parse_doctor_args({}, &o), "");
    EXPECT_FALSE(o.json);
    EXPECT_EQ(o.view, "");
    EXPECT_EQ(parse_doctor_args({"--json", "--view", "32"}, &o), "");
    EXPECT_TRUE(o.json);
    EXPECT_EQ(o.view, "32");
    EXPECT_EQ(parse_doctor_args({"--help"}, &o), "");
    EXPECT_TRUE(o.help);
    EXPECT_FALSE(o.no_restore);
    EXPECT_EQ(parse_doctor_args({"--no-restore"}, &o), "");
    EXPECT_TRUE(o.no_restore);
    EXPECT_EQ(parse_doctor_args({"--view"}, &o), "--view needs 32 or 64");
    EXPECT_EQ(parse_doctor_args({"--view", "16"}, &o), "--view takes 32 or 64, not \"16\"");
    EXPECT_EQ(parse_doctor_args({"--view", "32", "--view", "64"}, &o), "--view given twice");
    EXPECT_EQ(parse_doctor_args({"--verbose"}, &o), "unknown option --verbose");
    EXPECT_EQ(parse_doctor_args({"CD926"}, &o), "doctor takes no argument \"CD926\"");
    EXPECT_TRUE(has(doctor_usage(), "usage: zrncd doctor [--json] [--view 32|64]"));
}

// The doctor looks for a change of the configuration stopped part-way before
// its checks: it puts the view back, or (--no-restore) names the command.
TEST(DoctorRecovery, AChangeStoppedPartWayIsPutBackOrNamedWithItsCommand) {
    fakes::FakeFiles disk;
    ASSERT_TRUE(disk.create_directory("C:\\Program Files"));
    ASSERT_TRUE(disk.create_directory("C:\\Program Files\\Common Files"));
    fakes::FakeRegistry r64, r32;
    ASSERT_TRUE(config::write_device_entry(r64, config::default_entry("CD926", *device_type_of("CD926"))));
    ASSERT_TRUE(config::write_logical_name(r64, "Front", "CD926"));
    const Configuration before = read_configuration(r64);
    Snapshot snap;
    ASSERT_TRUE(snap.capture(r64, kDeviceClassKey));
    ASSERT_TRUE(snap.capture(r64, kServiceSettingsKey));
    Backups backups(disk);
    ASSERT_EQ(backups.begin("64", snap, before, "import till.json"), platform::kFileOk);
    ASSERT_TRUE(cfg::delete_tree(r64, platform::kHklm, kDeviceClassKey));  // the import got this far
    const std::vector<RecoveryView> views = {{"32", "the 32-bit view", &r32}, {"64", "the 64-bit view", &r64}};

    std::vector<Finding> f = recovery_findings(recover(backups, views, false));
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].view, "64");
    EXPECT_EQ(f[0].check, std::string(check::kInterruptedChange));
    EXPECT_EQ(f[0].severity, Severity::fail);
    EXPECT_EQ(f[0].text, "a change (import till.json) was stopped part-way; the configuration may be incomplete");
    EXPECT_EQ(f[0].advice, "run 'zrncd config --view 64 restore' to put back the configuration it had before");
    EXPECT_TRUE(read_configuration(r64).devices.empty()) << "left as it is";

    f = recovery_findings(recover(backups, views, true));
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].severity, Severity::warn);
    EXPECT_TRUE(differences(before, "before", read_configuration(r64), "after").empty());
    EXPECT_EQ(read_configuration(r64).names, before.names);
    EXPECT_TRUE(recover(backups, views, true).empty()) << "the marker went";

    // A backup that is not one cannot be put back: a failure saying so.
    ASSERT_EQ(backups.begin("32", snap, before, "sync from the 64-bit view"), platform::kFileOk);
    disk.put(backup_path("32"), "{}");
    f = recovery_findings(recover(backups, views, true), "");
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].severity, Severity::fail);
    EXPECT_TRUE(has(f[0].text, "is no backup of the 32-bit view")) << f[0].text;
    EXPECT_EQ(f[0].advice, "import the configuration this till should have, then delete " + marker_path("32"));
    f = recovery_findings({}, "the configuration is locked by QVTUtility (process 7, since 10:00:00)");
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].severity, Severity::fail);
}

}  // namespace
