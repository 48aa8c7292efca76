#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "so_fixture.h"
#include "zrn/so/method_call.h"
#include "zrn/device_types.h"
#include "zrn/driver_exports.h"
#include "zrn/opos.h"

namespace zrn::so::testing {
namespace {

// Two threads meet here once per round. Not std::barrier: the MinGW
// library's wait checks the phase outside its lock and can sleep through the
// wake-up for good.
class Meeting {
public:
    void arrive_and_wait() {
        std::unique_lock lock(mu_);
        const unsigned round = round_;
        if (++arrived_ == 2) {
            arrived_ = 0;
            ++round_;
            cv_.notify_all();
            return;
        }
        cv_.wait(lock, [&] { return round_ != round; });
    }

private:
    std::mutex mu_;
    std::condition_variable cv_;
    int arrived_ = 0;
    unsigned round_ = 0;
};

TEST_F(SoTest, BindingLoadsBothLibrariesAndRegistersTheCallbackLast) {
    settings("\"C:\\Drivers\"", 1);  // quotes in TargetPath are ignored
    auto so = create();
    EXPECT_EQ(p->loader.loads, (std::vector<std::string>{"C:\\Drivers\\PortDrawerSO.DLL", "C:\\Drivers\\USB730SO.DLL"}));
    EXPECT_TRUE(so->port_driver_bound());
    EXPECT_TRUE(so->usb_driver_bound());
    EXPECT_EQ(drivers.capture_order, (std::vector<std::string>{"U", "C"}));
    ASSERT_EQ(drivers.c_capture.size(), 1u);
    EXPECT_EQ(drivers.c_capture[0].first, 1);
    EXPECT_NE(drivers.c_capture[0].second, nullptr);
    const std::string t = p->trace_text();
    EXPECT_NE(t.find("_________________________________________________\r\n\r\n["), std::string::npos);
    EXPECT_NE(t.find("] ZRNOPOS_Initialization\r\n"), std::string::npos);
    EXPECT_NE(t.find("] ZRNOPOS_PortDrawerSO.DLL: Loaded\r\n"), std::string::npos);
    EXPECT_NE(t.find("] ZRNOPOS_USB730SO.DLL: Loaded\r\n"), std::string::npos);
    // Every method before an open finds the creation state.
    EXPECT_EQ(so->ResultCode(), -1);
    EXPECT_EQ(so->ResultCodeExtended(), -1);
}

TEST_F(SoTest, MissingLibrariesOrNamesFailOpenWith104) {
    settings("", 0);
    auto a = create();
    EXPECT_EQ(p->loader.loads, (std::vector<std::string>{"\\PortDrawerSO.DLL"})) << "USB not tried";
    EXPECT_EQ(a->OpenService("CashDrawer", "CD926", co), OPOS_E_NOSERVICE);
    EXPECT_EQ(a->ResultCode(), 111);
    EXPECT_EQ(a->ResultCodeExtended(), 111);

    settings("C:\\Drivers", 1);
    p->loader.libraries["C:\\Drivers\\USB730SO.DLL"].erase("CloseUPort");
    auto b = create();
    EXPECT_TRUE(b->port_driver_bound());
    EXPECT_FALSE(b->usb_driver_bound());
    EXPECT_EQ(p->loader.released, (std::vector<std::string>{"C:\\Drivers\\USB730SO.DLL"}));
    EXPECT_TRUE(drivers.capture_order.empty()) << "no callback unless both are bound";
    device("CD926", 0);
    EXPECT_EQ(b->OpenService("CashDrawer", "CD926", co), OPOS_E_NOSERVICE);

    p->loader.libraries["C:\\Drivers\\PortDrawerSO.DLL"].erase("PutLpt");
    p->loader.loads.clear();
    auto c = create();
    EXPECT_FALSE(c->port_driver_bound());
    EXPECT_EQ(p->loader.loads.size(), 1u);

    settings(std::string(240, 'x'), 1);  // the library path would exceed 255 characters
    p->loader.loads.clear();
    auto d = create();
    EXPECT_TRUE(p->loader.loads.empty());
    EXPECT_FALSE(d->port_driver_bound());
}

TEST_F(SoTest, EveryDriverFunctionIsLookedUpByItsExportedNameAndRequired) {
    settings("C:\\Drivers", 0);
    auto so = create();
    ASSERT_TRUE(so->usb_driver_bound());
    EXPECT_EQ(p->loader.looked_up,
              (std::vector<std::string>{"CVersion", "OpenCom", "CloseCom", "PutCom", "GetComStat", "OpenLpt",
                                        "CloseLpt", "PutLpt", "StartStatusCCapture", "UVersion", "OpenUPort",
                                        "OpenUCashDrawer", "UCashDrawerStatus", "CloseUPort",
                                        "StartStatusUCapture"}));
    EXPECT_EQ(std::string(kPortDriverFile), "PortDrawerSO.DLL");
    EXPECT_EQ(std::string(kUsbDriverFile), "USB730SO.DLL");

    // Each name the shared lists give is needed: without it that library is
    // refused and released.
    const auto refused_without = [&](const std::string& file, const char* name) {
        const std::string path = "C:\\Drivers\\" + file;
        void* const kept = p->loader.libraries[path][name];
        p->loader.libraries[path].erase(name);
        p->loader.released.clear();
        auto other = create();
        p->loader.libraries[path][name] = kept;
        const bool bound = file == kPortDriverFile ? other->port_driver_bound() : other->usb_driver_bound();
        return !bound && p->loader.released == std::vector<std::string>{path};
    };
    for (const char* name : kPortDriverExports) EXPECT_TRUE(refused_without(kPortDriverFile, name)) << name;
    for (const char* name : kUsbDriverExports) EXPECT_TRUE(refused_without(kUsbDriverFile, name)) << name;

    // Every function reaches its own slot.
    device("CD926", 0);
    device("CD615", 2);
    device("CD730", 3);
    auto serial = ready("CD926");
    EXPECT_EQ(serial->OpenDrawer(), OPOS_SUCCESS);
    EXPECT_EQ(serial->GetPropertyNumber(PIDX_DrawerOpened), 0);
    serial->SetPropertyNumber(PIDX_DeviceEnabled, 0);
    serial->ReleaseDevice();
    serial->CloseService();
    auto usb = ready("CD730");
    EXPECT_EQ(usb->OpenDrawer(), OPOS_SUCCESS);
    EXPECT_EQ(usb->GetPropertyNumber(PIDX_DrawerOpened), 0);
    usb->SetPropertyNumber(PIDX_DeviceEnabled, 0);
    usb->CloseService();
    auto lpt = ready("CD615");
    EXPECT_EQ(lpt->OpenDrawer(), OPOS_SUCCESS);
    lpt->SetPropertyNumber(PIDX_DeviceEnabled, 0);
    EXPECT_EQ(drivers.calls,
              (std::vector<std::string>{"OpenCom CD926 unit=0", "PutCom 07 0d 0a", "GetComStat", "CloseCom CD926",
                                        "OpenUPort unit=0", "OpenUCashDrawer unit=0", "UCashDrawerStatus unit=0",
                                        "CloseUPort unit=0", "OpenLpt unit=0", "PutLpt 5b 5b", "CloseLpt",
                                        "OpenLpt unit=0", "CloseLpt"}));
}

TEST_F(SoTest, StateMachineResultCodes) {
    device("CD347-2", 1);
    auto so = create();
    EXPECT_EQ(so->OpenService("CashDrawer", "NoSuchDevice", co), OPOS_E_NOEXIST);
    EXPECT_EQ(so->ResultCode(), 111);
    EXPECT_EQ(so->OpenService("CashDrawer", "CD347-2", co), 0);
    EXPECT_EQ(so->block().PortHandle, 0);
    EXPECT_EQ(so->ReleaseDevice(), OPOS_E_ILLEGAL);
    EXPECT_EQ(so->ClaimDevice(0), 0);
    EXPECT_EQ(so->ClaimDevice(0), 0);  // already held: at once
    EXPECT_EQ(so->GetPropertyNumber(PIDX_Claimed), 1);

    so->SetPropertyNumber(PIDX_DeviceEnabled, 1);
    EXPECT_EQ(so->ResultCode(), 0);
    EXPECT_EQ(drivers.calls, (std::vector<std::string>{"OpenCom CD347-2 unit=1"}));
    EXPECT_EQ(p->clock.sleeps(), (std::vector<std::uint32_t>{250}));
    so->SetPropertyNumber(PIDX_DeviceEnabled, 1);
    EXPECT_EQ(drivers.count("OpenCom"), 1) << "a second enable opens nothing";
    EXPECT_EQ(so->ResultCode(), 0);
    EXPECT_EQ(so->GetPropertyNumber(PIDX_DeviceEnabled), 1);

    so->SetPropertyNumber(PIDX_DeviceEnabled, 0);
    EXPECT_EQ(drivers.last("CloseCom"), "CloseCom CD347-2");
    EXPECT_EQ(so->GetPropertyNumber(PIDX_DeviceEnabled), 0);
    EXPECT_EQ(so->ReleaseDevice(), 0);
    EXPECT_EQ(so->CloseService(), 0);

    drivers.open_com = 0;
    auto b = create();
    ASSERT_EQ(b->OpenService("CashDrawer", "CD347-2", co), 0);
    b->SetPropertyNumber(PIDX_DeviceEnabled, 1);  // nobody claimed: allowed, but the port fails
    EXPECT_EQ(b->ResultCode(), OPOS_E_FAILURE);
    EXPECT_EQ(b->ResultCodeExtended(), 0);
    EXPECT_EQ(b->GetPropertyNumber(PIDX_DeviceEnabled), 0);
    b->SetPropertyNumber(PIDX_DeviceEnabled, 0);
    EXPECT_EQ(drivers.count("CloseCom"), 1) << "nothing to close after a failed open";
    // A driver that opened the port and then failed (line settings refused):
    // the port is closed again, so the next enable opens it afresh.
    drivers.open_com_keeps_port = true;
    b->SetPropertyNumber(PIDX_DeviceEnabled, 1);
    EXPECT_EQ(b->ResultCode(), OPOS_E_FAILURE);
    EXPECT_EQ(drivers.count("CloseCom"), 2);
    EXPECT_EQ(drivers.ports_open, 0) << "a failed enable leaves no port open";
    EXPECT_EQ(b->block().PortHandle, 0);
    drivers.open_com = 1;
    b->SetPropertyNumber(PIDX_DeviceEnabled, 1);
    EXPECT_EQ(b->ResultCode(), 0);
    EXPECT_EQ(b->CloseService(), 0);
    EXPECT_EQ(drivers.ports_open, 0);
}

TEST_F(SoTest, OpenTableEntriesAreFreedByTheirOwnObject) {
    device("CD926", 0);
    // Opens that never enable, and opens that fail, leave no entry behind.
    for (int i = 0; i < 15; ++i) {
        auto so = create();
        ASSERT_EQ(so->OpenService("CashDrawer", "CD926", co), 0) << i;
        EXPECT_EQ(so->CloseService(), 0);
        auto bad = create();
        EXPECT_EQ(bad->OpenService("CashDrawer", "Missing", co), OPOS_E_NOEXIST);
    }
    {
        auto destroyed_open = create();
        ASSERT_EQ(destroyed_open->OpenService("CashDrawer", "CD926", co), 0);
    }
    EXPECT_EQ(p->module->open_table_used(), 0);

    std::vector<std::unique_ptr<ServiceObject>> held;
    for (int i = 0; i < 10; ++i) {
        held.push_back(create());
        ASSERT_EQ(held.back()->OpenService("CashDrawer", "CD926", co), 0);
    }
    auto eleventh = create();
    EXPECT_EQ(eleventh->OpenService("CashDrawer", "CD926", co), OPOS_E_ILLEGAL);
    EXPECT_EQ(eleventh->ResultCodeExtended(), OPOS_E_ILLEGAL);
    held[3]->SetPropertyNumber(PIDX_DeviceEnabled, 1);
    held[7]->SetPropertyNumber(PIDX_DeviceEnabled, 0);  // another object disables the device
    EXPECT_EQ(p->module->open_table_used(), 9) << "only the disabling object's entry is freed";
    EXPECT_EQ(eleventh->OpenService("CashDrawer", "CD926", co), 0);
}

TEST_F(SoTest, ResettingTheEnabledStateClosesTheOpenPort) {
    device("CD347-2", 1);
    device("CD926", 0);
    device("CD730", 3);
    auto a = ready("CD347-2");
    ASSERT_EQ(drivers.count("OpenCom"), 1);
    // Creating another object disables the device for the whole process.
    auto b = create();
    EXPECT_FALSE(p->module->enabled());
    EXPECT_EQ(drivers.count("CloseCom"), 1);
    // Opening again while enabled.
    a->SetPropertyNumber(PIDX_DeviceEnabled, 1);
    ASSERT_EQ(drivers.count("OpenCom"), 2);
    ASSERT_EQ(a->OpenService("CashDrawer", "CD347-2", co), 0);
    EXPECT_EQ(drivers.count("CloseCom"), 2);
    // Another object opening, and the enabling object released while enabled.
    a->SetPropertyNumber(PIDX_DeviceEnabled, 1);
    ASSERT_EQ(drivers.count("OpenCom"), 3);
    ASSERT_EQ(b->OpenService("CashDrawer", "CD347-2", co), 0);
    EXPECT_EQ(drivers.count("CloseCom"), 3);
    a->SetPropertyNumber(PIDX_DeviceEnabled, 1);
    ASSERT_EQ(drivers.count("OpenCom"), 4);
    a.reset();
    EXPECT_EQ(drivers.count("CloseCom"), 4);
    EXPECT_FALSE(p->module->enabled());
    // Another object's disable closes the enabling object's port, once.
    auto c = ready("CD347-2");
    b->SetPropertyNumber(PIDX_DeviceEnabled, 0);
    EXPECT_EQ(drivers.count("CloseCom"), 5);
    c->SetPropertyNumber(PIDX_DeviceEnabled, 0);
    EXPECT_EQ(drivers.count("CloseCom"), 5);
    c->CloseService();

    // Another object's enable closes this object's port: the block forgets
    // the handle, so a later fire cannot write to a closed (or reused) one.
    auto first = ready("CD347-2");
    auto second = ready("CD926");
    ASSERT_TRUE(p->module->enabled());
    first->OpenDrawer();
    EXPECT_EQ(drivers.put_com_handle, 0) << "the driver refuses a block without a port";
    second->CloseService();
    first->CloseService();

    auto u = ready("CD730");
    ASSERT_EQ(drivers.count("OpenUPort"), 1);
    ASSERT_EQ(u->OpenService("CashDrawer", "CD730", co), 0);
    EXPECT_EQ(drivers.count("CloseUPort"), 1);
    u.reset();

    // Two objects on two threads (the object is free-threaded): enabling,
    // disabling and releasing at once never leaves a port open, nor closes
    // one through an object another thread has released.
    ASSERT_EQ(drivers.ports_open, 0);
    drivers.open_com_real_us = 2000;
    Meeting meet;
    auto worker = [&](const char* name, int seed) {
        for (int i = 0; i < 150; ++i) {
            auto so = create();
            const bool opened = so->OpenService("CashDrawer", name, co) == 0;
            meet.arrive_and_wait();  // both enable at once
            if (!opened) continue;
            so->SetPropertyNumber(PIDX_DeviceEnabled, 1);
            so->OpenDrawer();
            if ((i + seed) % 3 == 0) so->SetPropertyNumber(PIDX_DeviceEnabled, 0);
            if ((i + seed) % 2 == 0) so->CloseService();
        }
    };
    std::thread t1(worker, "CD926", 0), t2(worker, "CD347-2", 1);
    t1.join();
    t2.join();
    EXPECT_EQ(drivers.ports_open, 0) << "a port nobody will close";
    EXPECT_FALSE(p->module->enabled());
}

TEST_F(SoTest, NamesInAnotherCaseOpenTheEntryUnderItsStoredName) {
    device("CD926", 0);
    device("CD730", 3);
    auto so = create();
    ASSERT_EQ(so->OpenService("CashDrawer", "cd926", co), 0);
    EXPECT_EQ(so->open_name(), "CD926");
    ASSERT_EQ(so->ClaimDevice(0), 0);
    // Another process sees the claim under the stored name.
    ClaimTable other(claim_block, claim_lock);
    EXPECT_TRUE(other.Contains("CD926"));
    EXPECT_EQ(other.Add("CD926"), ClaimAdd::Present);
    // The driver's report, made under the stored name, reaches the object.
    so->SetPropertyNumber(PIDX_DeviceEnabled, 1);
    ASSERT_EQ(so->ResultCode(), 0);
    drivers.c_capture.back().second("CD926", 1);
    p->threads.run_pending();
    EXPECT_EQ(p->sink.status_values(), (std::vector<std::int32_t>{1}));
    so->SetPropertyNumber(PIDX_DeviceEnabled, 0);
    EXPECT_EQ(so->ReleaseDevice(), 0);
    EXPECT_FALSE(other.Contains("CD926"));
    ASSERT_EQ(so->OpenService("CashDrawer", "Cd730", co), 0);
    EXPECT_EQ(so->open_name(), "CD730");
    // A name with a zero inside opens nothing and claims nothing.
    auto nul = create();
    EXPECT_EQ(nul->OpenService("CashDrawer", std::string("CD926\0x", 7), co), OPOS_E_NOEXIST);
    EXPECT_FALSE(other.Contains("CD926"));
}

TEST_F(SoTest, EmptyNamesAndNamesWithAPathOpenNothing) {
    device("CD926", 0);
    value("CD926\\Sub", "DeviceID", 0u);
    auto so = create();
    for (const std::string name : {"", "\\", "CD926\\", "CD926\\Sub", "\\CD926"}) {
        EXPECT_EQ(so->OpenService("CashDrawer", name, co), OPOS_E_NOEXIST) << name;
        EXPECT_EQ(so->ResultCode(), OPOS_E_FAILURE) << name;
        EXPECT_EQ(p->module->open_table_used(), 0) << name;
    }
    EXPECT_EQ(so->OpenService("CashDrawer", "CD926", co), 0);
}

TEST_F(SoTest, LogicalNamesAndOverlongInput) {
    device("CD730", 3);
    logical("CashDrawer", "CD730");
    logical("Printer", "EPSON");  // data not beginning with a type key: no logical name
    logical(std::string(40, 'L'), "CD730");
    auto so = create();
    ASSERT_EQ(so->OpenService("CashDrawer", "CashDrawer", co), 0);
    EXPECT_EQ(so->open_name(), "CD730");
    std::string name;
    ASSERT_TRUE(so->GetPropertyString(PIDX_DeviceName, &name));
    EXPECT_EQ(name, "CD730");
    EXPECT_EQ(so->OpenService("CashDrawer", "cashdrawer", co), OPOS_E_NOEXIST) << "translation is case-sensitive";
    EXPECT_EQ(so->OpenService("CashDrawer", "Printer", co), OPOS_E_NOEXIST);
    EXPECT_EQ(so->OpenService("CashDrawer", std::string(40, 'L'), co), 0) << "long logical names are not cut";

    // Status reports reach a device opened by its logical name.
    ASSERT_EQ(so->OpenService("CashDrawer", "CashDrawer", co), 0);
    so->SetPropertyNumber(PIDX_DeviceEnabled, 1);
    drivers.u_capture.at(0).second("CD730", 1);
    p->threads.run_pending();
    EXPECT_EQ(p->sink.status_values(), (std::vector<std::int32_t>{1}));

    // Names that fit no field are refused, never shortened.
    EXPECT_EQ(so->OpenService("CashDrawer", "CD926-1234567890", co), OPOS_E_NOEXIST);
    device("CD926", 0);
    value("CD926", "FirstOC", std::string("12345"));
    EXPECT_EQ(so->OpenService("CashDrawer", "CD926", co), OPOS_E_ILLEGAL);
    EXPECT_EQ(so->config().DeviceID, 3) << "a refused entry changes nothing";
    value("CD926", "FirstOC", std::string("7"));
    value("CD926", "DeviceName", std::string(31, 'N'));
    EXPECT_EQ(so->OpenService("CashDrawer", "CD926", co), OPOS_E_ILLEGAL);
    value("CD926", "DeviceName", std::string("CD926"));
    value("CD926", "DeviceDesc", std::string(80, 'D'));
    ASSERT_EQ(so->OpenService("CashDrawer", "CD926", co), 0);
    std::string desc;
    so->GetPropertyString(PIDX_DeviceDescription, &desc);
    EXPECT_EQ(desc, std::string(49, 'D')) << "a description is only shortened";
    so->SetPropertyNumber(PIDX_DeviceEnabled, 1);
    drivers.calls.clear();
    const std::string long_cmd(32, 'x');
    EXPECT_EQ(so->DirectIO(1, nullptr, &long_cmd), OPOS_E_ILLEGAL);
    EXPECT_TRUE(drivers.calls.empty()) << "nothing cut reaches the hardware";
}

TEST_F(SoTest, OpeningCodesPerModel) {
    device("CD926", 0);
    auto so = ready("CD926");
    drivers.calls.clear();
    EXPECT_EQ(so->OpenDrawer(), 0);
    EXPECT_EQ(drivers.calls, (std::vector<std::string>{"PutCom 07 0d 0a"}));
    value("CD926", "SecondOC", std::string("91"));  // not read for a serial II device
    value("CD926", "FirstOC", 7u);                   // a DWORD reads as the same text
    reopen(*so, "CD926");
    drivers.calls.clear();
    so->OpenDrawer();
    EXPECT_EQ(drivers.last("PutCom"), "PutCom 07 0d 0a");

    device("CD347", 1);
    so = ready("CD347");
    const struct {
        std::string first, second, sent, why;
    } codes[] = {
        {"27", "112", "PutCom 1b 70", "two codes"},
        {"300", "", "PutCom 2c", "300 gives byte 44"},
        {"256", "7", "PutCom ", "a zero byte ends the command"},
    };
    for (const auto& c : codes) {
        value("CD347", "FirstOC", c.first);
        value("CD347", "SecondOC", c.second);
        reopen(*so, "CD347");
        so->OpenDrawer();
        EXPECT_EQ(drivers.last("PutCom"), c.sent) << c.why;
    }
    drivers.put_com = 0;
    EXPECT_EQ(so->OpenDrawer(), OPOS_E_FAILURE);
    EXPECT_EQ(so->ResultCodeExtended(), 0);
    value("CD347", "FirstOC", std::string(""));
    reopen(*so, "CD347");
    drivers.calls.clear();
    EXPECT_EQ(so->OpenDrawer(), OPOS_E_ILLEGAL);
    EXPECT_TRUE(drivers.calls.empty());

    device("CD615", 2);
    so = ready("CD615");
    drivers.calls.clear();
    p->clock.clear_sleeps();
    drivers.put_lpt = 0;
    EXPECT_EQ(so->OpenDrawer(), OPOS_E_FAILURE);
    EXPECT_EQ(drivers.calls, (std::vector<std::string>{"PutLpt 5b 5b", "CloseLpt", "OpenLpt unit=0"}));
    EXPECT_EQ(p->clock.sleeps(), (std::vector<std::uint32_t>{50}));

    device("CD730", 3);
    value("CD730", "FirstOC", std::string(""));
    so = ready("CD730");
    p->clock.clear_sleeps();
    EXPECT_EQ(so->OpenDrawer(), 0) << "the USB model needs no opening code";
    EXPECT_EQ(drivers.last("OpenUCashDrawer"), "OpenUCashDrawer unit=0");
    EXPECT_EQ(p->clock.sleeps(), (std::vector<std::uint32_t>{200}));
    const std::pair<std::int32_t, std::array<std::int32_t, 3>> mapping[] = {
        {0, {111, 111, 0}}, {-1, {107, 107, 0}}, {-2, {111, 114, 10001}}, {-3, {111, 114, 10002}},
        {-4, {111, 114, 10003}}, {-9, {111, 111, 0}}};
    for (const auto& [driver, want] : mapping) {
        drivers.open_ucash = driver;
        EXPECT_EQ(so->OpenDrawer(), want[0]) << driver;
        EXPECT_EQ(so->ResultCode(), want[1]) << driver;
        EXPECT_EQ(so->ResultCodeExtended(), want[2]) << driver;
    }
}

TEST_F(SoTest, DrawerStatusQueryPerModelAndSetting) {
    device("CD926", 0);
    auto so = create();
    ASSERT_EQ(so->OpenService("CashDrawer", "CD926", co), 0);
    EXPECT_EQ(so->GetPropertyNumber(PIDX_DrawerOpened), 0);
    EXPECT_EQ(so->ResultCode(), OPOS_E_DISABLED);
    so->SetPropertyNumber(PIDX_DeviceEnabled, 1);
    struct Case {
        std::uint32_t status, handshaking;
        std::int32_t closed_value;
    };
    for (const Case c : {Case{0, 0, 16}, Case{1, 0, 64}, Case{2, 0, 80}, Case{1, 1, 240}, Case{7, 0, 0}}) {
        value("CD926", "Status", c.status);
        value("CD926", "HandShaking", c.handshaking);
        reopen(*so, "CD926");
        drivers.com_status = c.closed_value;
        EXPECT_EQ(so->GetPropertyNumber(PIDX_DrawerOpened), 0) << c.status << "/" << c.handshaking;
        drivers.com_status = c.closed_value + 1;
        EXPECT_EQ(so->GetPropertyNumber(PIDX_DrawerOpened), 1) << c.status << "/" << c.handshaking;
    }
    value("CD926", "Status", 3u);  // 999: never closed
    reopen(*so, "CD926");
    drivers.com_status = 16;
    p->clock.clear_sleeps();
    EXPECT_EQ(so->GetPropertyNumber(PIDX_DrawerOpened), 1);
    EXPECT_EQ(p->clock.sleeps(), (std::vector<std::uint32_t>{200}));
    drivers.get_com_stat = 0;
    drivers.com_status = -3;
    EXPECT_EQ(so->GetPropertyNumber(PIDX_DrawerOpened), 0);
    EXPECT_EQ(so->ResultCode(), OPOS_E_EXTENDED);
    EXPECT_EQ(so->ResultCodeExtended(), 10002);
    drivers.com_status = 5;
    so->GetPropertyNumber(PIDX_DrawerOpened);
    EXPECT_EQ(so->ResultCode(), OPOS_E_NOHARDWARE);

    device("CD615", 2);
    so = ready("CD615");
    p->clock.clear_sleeps();
    EXPECT_EQ(so->GetPropertyNumber(PIDX_DrawerOpened), 0);
    EXPECT_EQ(p->clock.sleeps(), (std::vector<std::uint32_t>{200}));

    device("CD730", 3);
    so = ready("CD730");
    p->clock.clear_sleeps();
    drivers.ucash_status = 2;
    EXPECT_EQ(so->GetPropertyNumber(PIDX_DrawerOpened), 0);
    EXPECT_EQ(p->clock.sleeps(), (std::vector<std::uint32_t>{250}));
    drivers.ucash_status = 1;
    EXPECT_EQ(so->GetPropertyNumber(PIDX_DrawerOpened), 1);
    drivers.ucash_status = -4;
    EXPECT_EQ(so->GetPropertyNumber(PIDX_DrawerOpened), 0);
    EXPECT_EQ(so->ResultCodeExtended(), 10003);
    value("CD730", "Status", 1u);
    reopen(*so, "CD730");
    drivers.ucash_status = 2;
    EXPECT_EQ(so->GetPropertyNumber(PIDX_DrawerOpened), 1) << "Status 1 on USB: always open";
}

TEST_F(SoTest, WaitForDrawerCloseTimingAndEnds) {
    device("CD730", 3);
    auto so = ready("CD730");
    const auto report = drivers.u_capture.at(0).second;
    EXPECT_EQ(so->WaitForDrawerClose(0, 1000, 100, 500), 0) << "closed drawer: at once";

    // BeepTimeout 0: a beep on every pass, passes 750 ms apart (plus the beep).
    report("CD730", 1);
    p->clock.clear_sleeps();
    p->beeper.on_beep = [&] {
        if (p->beeper.beeps.size() == 3) report("CD730", 2);
    };
    EXPECT_EQ(so->WaitForDrawerClose(0, 1000, 100, 500), 0);
    EXPECT_EQ(p->clock.sleeps(), (std::vector<std::uint32_t>{500, 250, 500, 250, 500, 250}));
    EXPECT_EQ(p->beeper.beeps, (std::vector<std::pair<std::int32_t, std::int32_t>>(3, {1000, 100})));

    // BeepTimeout 1000: two quiet passes of 450 ms, then beeps every delay + 250.
    report("CD730", 1);
    p->clock.clear_sleeps();
    p->beeper.beeps.clear();
    p->beeper.on_beep = [&] {
        if (p->beeper.beeps.size() == 2) report("CD730", 2);
    };
    EXPECT_EQ(so->WaitForDrawerClose(1000, 800, 50, 300), 0);
    EXPECT_EQ(p->clock.sleeps(), (std::vector<std::uint32_t>{200, 250, 200, 250, 300, 250}));
    EXPECT_EQ(p->beeper.beeps.size(), 2u);

    // The device going offline ends the wait with 107.
    report("CD730", 1);
    p->beeper.on_beep = [&] { report("CD730", -1); };
    EXPECT_EQ(so->WaitForDrawerClose(0, 1000, 10, 0), OPOS_E_NOHARDWARE);
    EXPECT_EQ(so->WaitForDrawerClose(0, 1000, 10, 0), OPOS_E_NOHARDWARE) << "offline: no wait";
    report("CD730", 2);
    p->beeper.on_beep = nullptr;

    // A serial drawer that reads open is waited for too, until it reads closed.
    device("CD926-2", 0);
    auto serial = ready("CD926-2");
    drivers.com_status = 0;  // no line active: open
    p->clock.clear_sleeps();
    p->beeper.beeps.clear();
    p->beeper.on_beep = [&] { drivers.com_status = 16; };
    EXPECT_EQ(serial->WaitForDrawerClose(0, 500, 20, -5), 0);
    EXPECT_EQ(p->clock.sleeps(), (std::vector<std::uint32_t>{0, 250})) << "a negative delay waits 0 ms";
    value("CD926-2", "Status", 3u);  // no sense line: nothing to wait for
    serial->OpenService("CashDrawer", "CD926-2", co);
    serial->SetPropertyNumber(PIDX_DeviceEnabled, 1);
    drivers.com_status = 0;
    p->beeper.beeps.clear();
    EXPECT_EQ(serial->WaitForDrawerClose(0, 500, 20, 0), 0);
    EXPECT_TRUE(p->beeper.beeps.empty());
    serial->SetPropertyNumber(PIDX_DeviceEnabled, 0);
    EXPECT_EQ(serial->WaitForDrawerClose(0, 500, 20, 0), OPOS_E_DISABLED);
    // Disabled from elsewhere during the wait.
    value("CD926-2", "Status", 0u);
    serial->OpenService("CashDrawer", "CD926-2", co);
    serial->SetPropertyNumber(PIDX_DeviceEnabled, 1);
    p->beeper.on_beep = [&] { p->module->mark_disabled(); };
    EXPECT_EQ(serial->WaitForDrawerClose(0, 500, 20, 0), OPOS_E_DISABLED);
    p->beeper.on_beep = nullptr;
}

TEST_F(SoTest, FreezeQueueKeepsFirst49AndNewest) {
    device("CD730", 3);
    auto so = ready("CD730");
    so->SetPropertyNumber(PIDX_FreezeEvents, 1);
    for (int i = 0; i < 60; ++i) p->module->raise_status_update(i, co);
    EXPECT_TRUE(p->sink.calls.empty());
    EXPECT_EQ(p->module->queued_events(), 50);
    so->SetPropertyNumber(PIDX_FreezeEvents, 0);
    std::vector<std::int32_t> want;
    for (int i = 0; i < 49; ++i) want.push_back(i);
    want.push_back(59);
    EXPECT_EQ(p->sink.status_values(), want);
    EXPECT_EQ(p->module->queued_events(), 0);

    // A handler that freezes again stops the flush; the next goes on with
    // the first undelivered event.
    p->sink.calls.clear();
    so->SetPropertyNumber(PIDX_FreezeEvents, 1);
    for (int i = 0; i < 3; ++i) p->module->raise_status_update(100 + i, co);
    p->sink.on_deliver = [&](const SinkCall&) {
        if (p->sink.calls.size() == 1) p->module->set_frozen(true);
    };
    so->SetPropertyNumber(PIDX_FreezeEvents, 0);
    EXPECT_EQ(p->sink.status_values(), (std::vector<std::int32_t>{100}));
    EXPECT_EQ(p->module->queued_events(), 2);
    p->sink.on_deliver = nullptr;
    so->SetPropertyNumber(PIDX_FreezeEvents, 0);
    EXPECT_EQ(p->sink.status_values(), (std::vector<std::int32_t>{100, 101, 102}));

}

TEST_F(SoTest, FlushInterruptedByHandlersLosesAndRepeatsNothing) {
    device("CD730", 3);
    auto so = ready("CD730");
    so->SetPropertyNumber(PIDX_FreezeEvents, 1);
    for (int i = 0; i < 5; ++i) p->module->raise_status_update(i, co);
    // The second handler freezes again and raises an event of its own, which
    // is queued behind the three still undelivered.
    p->sink.on_deliver = [&](const SinkCall&) {
        if (p->sink.calls.size() == 2) {
            p->module->set_frozen(true);
            p->module->raise_status_update(10, co);
        }
    };
    so->SetPropertyNumber(PIDX_FreezeEvents, 0);
    EXPECT_EQ(p->sink.status_values(), (std::vector<std::int32_t>{0, 1}));
    EXPECT_EQ(p->module->queued_events(), 4);
    // The fourth handler freezes again; one more event arrives while frozen.
    p->sink.on_deliver = [&](const SinkCall&) {
        if (p->sink.calls.size() == 4) p->module->set_frozen(true);
    };
    so->SetPropertyNumber(PIDX_FreezeEvents, 0);
    p->module->raise_status_update(11, co);
    EXPECT_EQ(p->sink.status_values(), (std::vector<std::int32_t>{0, 1, 2, 3}));
    p->sink.on_deliver = nullptr;
    so->SetPropertyNumber(PIDX_FreezeEvents, 0);
    EXPECT_EQ(p->sink.status_values(), (std::vector<std::int32_t>{0, 1, 2, 3, 4, 10, 11}));
    EXPECT_EQ(p->module->queued_events(), 0);

    // A full queue still keeps the first 49 and the newest across a flush
    // that stops half way.
    p->sink.calls.clear();
    so->SetPropertyNumber(PIDX_FreezeEvents, 1);
    for (int i = 0; i < 55; ++i) p->module->raise_status_update(i, co);
    p->sink.on_deliver = [&](const SinkCall&) {
        if (p->sink.calls.size() == 20) p->module->set_frozen(true);
    };
    so->SetPropertyNumber(PIDX_FreezeEvents, 0);
    p->sink.on_deliver = nullptr;
    so->SetPropertyNumber(PIDX_FreezeEvents, 0);
    std::vector<std::int32_t> want;
    for (int i = 0; i < 49; ++i) want.push_back(i);
    want.push_back(54);
    EXPECT_EQ(p->sink.status_values(), want);

    // An event raised while the queue is being flushed (here by the handler
    // of the first) goes behind the queued ones, not ahead of them.
    p->sink.calls.clear();
    so->SetPropertyNumber(PIDX_FreezeEvents, 1);
    p->module->raise_status_update(1, co);
    p->module->raise_status_update(0, co);
    p->sink.on_deliver = [&](const SinkCall&) {
        if (p->sink.calls.size() == 1) p->module->raise_status_update(1, co);
    };
    so->SetPropertyNumber(PIDX_FreezeEvents, 0);
    EXPECT_EQ(p->sink.status_values(), (std::vector<std::int32_t>{1, 0, 1}));
    p->sink.on_deliver = nullptr;

    // A second thread clearing FreezeEvents while a flush is under way
    // leaves the queue to it: no two threads deliver at once, none overtakes.
    auto other = create();  // creating an object empties the queue: before it fills
    p->sink.calls.clear();
    so->SetPropertyNumber(PIDX_FreezeEvents, 1);
    for (int i = 0; i < 3; ++i) p->module->raise_status_update(i, co);
    std::mutex mu;
    std::condition_variable cv;
    bool in_first = false, go_on = false;
    std::atomic<int> inside{0}, most_inside{0};
    p->sink.on_deliver = [&](const SinkCall& c) {
        most_inside = std::max(most_inside.load(), ++inside);
        if (c.args[0].value == 0) {
            std::unique_lock l(mu);
            in_first = true;
            cv.notify_all();
            cv.wait(l, [&] { return go_on; });
        }
        --inside;
    };
    std::thread flusher([&] { so->SetPropertyNumber(PIDX_FreezeEvents, 0); });
    {
        std::unique_lock l(mu);
        cv.wait(l, [&] { return in_first; });
    }
    std::thread second([&] {
        other->SetPropertyNumber(PIDX_FreezeEvents, 0);
        p->module->raise_status_update(3, co);
    });
    second.join();
    EXPECT_EQ(p->sink.calls.size(), 1u) << "the second thread delivered nothing itself";
    {
        std::lock_guard l(mu);
        go_on = true;
        cv.notify_all();
    }
    flusher.join();
    EXPECT_EQ(p->sink.status_values(), (std::vector<std::int32_t>{0, 1, 2, 3}));
    EXPECT_EQ(most_inside.load(), 1);
    p->sink.on_deliver = nullptr;
}

TEST_F(SoTest, EventsInFlightWhenTheObjectIsReleasedReachNobody) {
    device("CD730", 3);
    auto so = ready("CD730");
    const auto report = drivers.u_capture.back().second;
    report("CD730", 1);
    ASSERT_EQ(p->threads.pending(), 1);
    so.reset();  // released without a close, the event thread not yet run
    p->threads.run_pending();
    EXPECT_TRUE(p->sink.calls.empty()) << "delivered to a Control Object that let go";
    p->module->raise_status_update(1, co);
    EXPECT_TRUE(p->sink.calls.empty()) << "nor later";
    // Another object's Control Object is left alone.
    auto a = ready("CD730");
    auto b = create();
    b.reset();
    p->module->raise_status_update(1, co);
    EXPECT_EQ(p->sink.status_values(), (std::vector<std::int32_t>{1}));
    // Two objects opened by one Control Object: it is let go with the last.
    const ControlObject shared = reinterpret_cast<ControlObject>(0x5678);
    auto c = create();
    auto d = create();
    ASSERT_EQ(c->OpenService("CashDrawer", "CD730", shared), 0);
    ASSERT_EQ(d->OpenService("CashDrawer", "CD730", shared), 0);
    c->CloseService();
    p->module->raise_status_update(0, shared);
    EXPECT_EQ(p->sink.calls.back().co, shared);
    d.reset();
    p->sink.calls.clear();
    p->module->raise_status_update(1, shared);
    EXPECT_TRUE(p->sink.calls.empty());
}

// A delivery under way when the Control Object closes or lets go: the close
// waits for it (bounded), and nothing reaches the Control Object afterwards.
TEST_F(SoTest, CloseAndFinalReleaseWaitForDeliveriesUnderWay) {
    device("CD730", 3);
    struct Gate {
        std::mutex mu;
        std::condition_variable cv;
        bool entered = false, open = false;
        void enter_and_wait() {
            std::unique_lock l(mu);
            entered = true;
            cv.notify_all();
            cv.wait(l, [&] { return open; });
        }
        void wait_entered() {
            std::unique_lock l(mu);
            cv.wait(l, [&] { return entered; });
        }
        void release() {
            std::lock_guard l(mu);
            open = true;
            cv.notify_all();
        }
    };
    {
        auto so = ready("CD730");
        Gate gate;
        p->sink.on_deliver = [&](const SinkCall&) { gate.enter_and_wait(); };
        std::thread event([&] { p->module->raise_status_update(1, co); });
        gate.wait_entered();
        p->clock.set_stepped(true);
        std::atomic<bool> closed{false};
        std::thread closer([&] {
            so->CloseService();
            closed = true;
        });
        // A close that does not wait never sleeps: it has returned already.
        const bool waits = p->clock.wait_for_sleepers(1, 2000);
        EXPECT_TRUE(waits) << "CloseService returned under the handler";
        if (waits) {
            p->clock.advance(100);
            EXPECT_TRUE(p->clock.wait_for_sleepers(1));
            EXPECT_FALSE(closed) << "returned while the handler still runs";
        }
        gate.release();
        event.join();
        while (!closed) {
            p->clock.advance(kDeliveryPollMs);
            std::this_thread::yield();
        }
        closer.join();
        p->clock.set_stepped(false);
        p->sink.on_deliver = nullptr;
        p->module->raise_status_update(0, co);
        EXPECT_EQ(p->sink.status_values(), (std::vector<std::int32_t>{1})) << "nothing after CloseService";
    }
    {
        // A handler that never returns holds the final release only for the bound.
        p->sink.calls.clear();
        auto so = ready("CD730");
        Gate gate;
        p->sink.on_deliver = [&](const SinkCall&) { gate.enter_and_wait(); };
        std::thread event([&] { p->module->raise_status_update(1, co); });
        gate.wait_entered();
        p->clock.clear_sleeps();
        so.reset();
        std::uint32_t waited = 0;
        for (auto ms : p->clock.sleeps()) waited += ms;
        EXPECT_EQ(waited, kDeliveryWaitMs);
        gate.release();
        event.join();
        p->sink.on_deliver = nullptr;
    }
    {
        // The handler itself closes and releases: no wait for its own delivery.
        p->sink.calls.clear();
        auto so = ready("CD730");
        p->clock.clear_sleeps();
        p->sink.on_deliver = [&](const SinkCall&) {
            EXPECT_EQ(so->CloseService(), 0);
            so.reset();
        };
        p->module->raise_status_update(1, co);
        EXPECT_EQ(so, nullptr);
        EXPECT_TRUE(p->clock.sleeps().empty());
        p->sink.on_deliver = nullptr;
    }
}

TEST_F(SoTest, StatusCallbackRules) {
    device("CD730", 3);
    device("CD926-2", 0);
    auto so = create();
    const auto report = drivers.u_capture.at(0).second;
    ASSERT_EQ(so->OpenService("CashDrawer", "CD730", co), 0);
    report("CD730", 1);  // before any enable: trace lines only
    EXPECT_EQ(p->threads.pending(), 0);
    so->SetPropertyNumber(PIDX_DeviceEnabled, 1);
    report("CD730", 1);
    report("CD730", 1);
    p->threads.run_pending();
    report("CD730", 2);
    p->threads.run_pending();
    EXPECT_EQ(p->sink.status_values(), (std::vector<std::int32_t>{1, 0}));
    EXPECT_EQ(p->module->usb_drawer_status(), 2);
    EXPECT_EQ(p->sink.calls[0].co, co);
    EXPECT_EQ(p->clock.sleeps().back(), 100u) << "each event thread pauses 100 ms";

    report("CD730", 3);  // any other value reads as closed: no change
    EXPECT_EQ(p->threads.pending(), 0);
    // Offline: State 4 and an event; the next report brings the device back.
    report("CD730", -1);
    p->threads.run_pending();
    EXPECT_TRUE(p->module->offline());
    EXPECT_EQ(so->GetPropertyNumber(PIDX_State), OPOS_S_ERROR);
    EXPECT_EQ(so->ResultCode(), OPOS_E_NOHARDWARE);
    EXPECT_EQ(so->CheckHealth(1), OPOS_E_NOHARDWARE);
    report("CD730", 2);
    p->threads.run_pending();
    EXPECT_EQ(so->GetPropertyNumber(PIDX_State), OPOS_S_IDLE);
    EXPECT_EQ(p->sink.status_values(), (std::vector<std::int32_t>{1, 0, 1, 0}));

    // A re-enable makes an unchanged report an event again.
    so->SetPropertyNumber(PIDX_DeviceEnabled, 0);
    so->SetPropertyNumber(PIDX_DeviceEnabled, 1);
    report("CD730", 2);
    p->threads.run_pending();
    EXPECT_EQ(p->sink.status_values().size(), 5u);

    // Serial: only the opened unit's name counts.
    auto serial = create();
    ASSERT_EQ(serial->OpenService("CashDrawer", "CD926-2", co), 0);
    serial->SetPropertyNumber(PIDX_DeviceEnabled, 1);
    p->sink.calls.clear();
    const auto com = drivers.c_capture.back().second;
    com("CD926", 1);
    EXPECT_EQ(p->threads.pending(), 0);
    com("CD926-2", 1);
    p->threads.run_pending();
    EXPECT_EQ(p->sink.status_values(), (std::vector<std::int32_t>{1}));
    com("CD615", 1);
    com("XX999", 1);
    EXPECT_EQ(p->threads.pending(), 0);

    // A thread that cannot start is not reported; the state moves on.
    p->threads.fail_next(1);
    com("CD926-2", 0);
    EXPECT_EQ(p->module->reported_drawer_state(), 0);
    EXPECT_EQ(p->module->active_event_threads(), 0);

    // Event threads that run in another order than their reports still
    // raise their events in the order of the reports: the application's
    // last event is the drawer's last state.
    p->sink.calls.clear();
    com("CD926-2", 1);
    com("CD926-2", 0);
    auto work = p->threads.take_pending();
    ASSERT_EQ(work.size(), 2u);
    std::atomic<bool> entered{false};
    std::thread later([&] {
        entered = true;
        work[1]();
    });
    while (!entered) std::this_thread::yield();
    work[0]();
    later.join();
    EXPECT_EQ(p->sink.status_values(), (std::vector<std::int32_t>{1, 0}));
    // A thread that never started does not hold the ones after it.
    p->sink.calls.clear();
    p->threads.fail_next(1);
    com("CD926-2", 1);
    com("CD926-2", 0);
    p->threads.run_pending();
    EXPECT_EQ(p->sink.status_values(), (std::vector<std::int32_t>{0}));
}

TEST_F(SoTest, ClaimsAcrossTwoProcessesSharingOneBlock) {
    device("CD347", 1);
    auto a = ready("CD347");
    Process other(registry, claim_block, claim_lock);
    auto b = std::make_unique<ServiceObject>(*other.module);
    ASSERT_EQ(b->OpenService("CashDrawer", "CD347", co), 0);
    EXPECT_EQ(b->ClaimDevice(5000), OPOS_E_CLAIMED);
    EXPECT_EQ(other.clock.now(), 0u) << "never waits, whatever the timeout";
    b->SetPropertyNumber(PIDX_DeviceEnabled, 1);
    EXPECT_EQ(b->ResultCode(), OPOS_E_CLAIMED);
    EXPECT_EQ(b->OpenDrawer(), OPOS_E_CLAIMED);
    EXPECT_EQ(a->ReleaseDevice(), 0);
    EXPECT_EQ(b->ClaimDevice(0), 0);
    b.reset();  // destruction removes a claim still held
    EXPECT_EQ(a->ClaimDevice(0), 0);

    // Two objects of one process: the table is consulted for the second.
    auto c = create();
    ASSERT_EQ(c->OpenService("CashDrawer", "CD347", co), 0);
    EXPECT_EQ(c->ClaimDevice(0), OPOS_E_CLAIMED);
    a->CloseService();
    EXPECT_EQ(c->ClaimDevice(0), 0);

    // Claims released after a reclaim do not linger past CloseService.
    EXPECT_EQ(c->ReleaseDevice(), 0);
    EXPECT_EQ(c->ClaimDevice(0), 0);
    c->CloseService();
    ClaimTable t(claim_block, claim_lock);
    EXPECT_FALSE(t.Contains("CD347"));
}

// A claim that could not be recorded is refused, never reported as held:
// another process would get the drawer too.
TEST_F(SoTest, ClaimDeviceNeverReportsAClaimItDidNotRecord) {
    device("CD347", 1);
    class SwitchedLock final : public ClaimLock {
    public:
        Outcome lock() override {
            if (outcome == Outcome::Locked) mu.lock();
            return outcome;
        }
        void unlock() override { mu.unlock(); }
        Outcome outcome = Outcome::Locked;
        std::mutex mu;
    } lock;
    std::uint8_t block[kClaimTableSize] = {};
    Process other(registry, block, lock);
    auto so = std::make_unique<ServiceObject>(*other.module);
    ASSERT_EQ(so->OpenService("CashDrawer", "CD347", co), 0);

    lock.outcome = ClaimLock::Outcome::Busy;
    EXPECT_EQ(so->ClaimDevice(0), OPOS_E_CLAIMED) << "the lock is held elsewhere";
    EXPECT_EQ(so->ResultCodeExtended(), 0);
    EXPECT_EQ(so->GetPropertyNumber(PIDX_Claimed), 0);
    lock.outcome = ClaimLock::Outcome::Unavailable;
    EXPECT_EQ(so->ClaimDevice(0), OPOS_E_FAILURE);
    EXPECT_EQ(so->ResultCodeExtended(), kExtendedClaimNotRecorded);
    EXPECT_EQ(so->GetPropertyNumber(PIDX_Claimed), 0);
    EXPECT_NE(other.trace_text().find("< ClaimDevice=111"), std::string::npos);

    lock.outcome = ClaimLock::Outcome::Locked;
    ClaimTable t(block, lock);
    for (int i = 0; i < 10; ++i) ASSERT_EQ(t.Add("CD926-" + std::to_string(i + 1)), ClaimAdd::Added);
    EXPECT_EQ(so->ClaimDevice(0), OPOS_E_FAILURE) << "ten drawers claimed already";
    EXPECT_EQ(so->ResultCodeExtended(), kExtendedClaimTableFull);
    EXPECT_EQ(so->ReleaseDevice(), OPOS_E_ILLEGAL) << "nothing was claimed";
    t.Remove("CD926-5");
    EXPECT_EQ(so->ClaimDevice(0), 0);
    EXPECT_TRUE(t.Contains("CD347"));
}

// A till application killed while it holds a drawer: the restarted one
// claims it at once, though another process kept the table alive.
TEST_F(SoTest, ClaimOfAKilledProcessDoesNotOutliveIt) {
    device("CD926", 0);
    FakeProcesses system;
    std::uint8_t block[kClaimTableSize] = {};
    auto pos = system.process(4242, 1000);
    auto utility = system.process(77, 900);
    auto restarted = system.process(4243, 2000);
    Process killed(registry, block, claim_lock, &pos);
    auto held = std::make_unique<ServiceObject>(*killed.module);
    ASSERT_EQ(held->OpenService("CashDrawer", "CD926", co), 0);
    ASSERT_EQ(held->ClaimDevice(0), 0);
    Process keeps_table(registry, block, claim_lock, &utility);
    auto probe = std::make_unique<ServiceObject>(*keeps_table.module);
    ASSERT_EQ(probe->OpenService("CashDrawer", "CD926", co), 0);
    EXPECT_EQ(probe->ClaimDevice(0), OPOS_E_CLAIMED) << "the holder still runs";

    system.end(4242);  // killed: no release, no destructor
    Process again(registry, block, claim_lock, &restarted);
    auto so = std::make_unique<ServiceObject>(*again.module);
    ASSERT_EQ(so->OpenService("CashDrawer", "CD926", co), 0);
    EXPECT_EQ(so->ClaimDevice(0), 0);
    so->SetPropertyNumber(PIDX_DeviceEnabled, 1);
    EXPECT_EQ(so->ResultCode(), 0);
    EXPECT_EQ(probe->ClaimDevice(0), OPOS_E_CLAIMED) << "the new holder's claim counts";
    // A release ends only the releasing process's own claim.
    EXPECT_EQ(held->ReleaseDevice(), 0);
    EXPECT_EQ(probe->ClaimDevice(0), OPOS_E_CLAIMED);
}

TEST(MethodCall, WorkCutShortByAnExceptionReadsAsFailure) {
    std::int32_t rc = -7;
    EXPECT_EQ(run_method([&] { rc = 0; }, &rc), MethodOutcome::Done);
    EXPECT_EQ(rc, 0);

    rc = -7;
    EXPECT_EQ(run_method([] { throw std::bad_alloc(); }, &rc), MethodOutcome::OutOfMemory);
    EXPECT_EQ(rc, OPOS_E_FAILURE);
    rc = -7;
    EXPECT_EQ(run_method([] { throw std::runtime_error("registry"); }, &rc), MethodOutcome::Failed);
    EXPECT_EQ(rc, OPOS_E_FAILURE);
    rc = -7;
    EXPECT_EQ(run_method([] { throw 5; }, &rc), MethodOutcome::Failed);
    EXPECT_EQ(rc, OPOS_E_FAILURE);
    // The out-value written before the exception is overwritten too.
    rc = -7;
    EXPECT_EQ(run_method(
                  [&] {
                      rc = OPOS_SUCCESS;
                      throw std::length_error("text");
                  },
                  &rc),
              MethodOutcome::Failed);
    EXPECT_EQ(rc, OPOS_E_FAILURE);
    // Methods without a result out-value.
    EXPECT_EQ(run_method([] { throw std::bad_alloc(); }, nullptr), MethodOutcome::OutOfMemory);
}

TEST(ClaimTable, AddRemoveContainsAndConcurrentClaims) {
    std::uint8_t block[kClaimTableSize] = {};
    InProcessClaimLock lock;
    ClaimTable t(block, lock);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(t.Add("CD347-" + std::to_string(i + 1)), ClaimAdd::Added);
    EXPECT_EQ(t.Add("CD347-1"), ClaimAdd::Present);
    EXPECT_EQ(t.Add("CD926"), ClaimAdd::Full);
    EXPECT_FALSE(t.Contains("CD926"));
    t.Remove("CD347-4");
    EXPECT_EQ(t.Add("CD926"), ClaimAdd::Added);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block + 3 * 32)), "CD926");
    t.Remove("CD926");
    EXPECT_EQ(t.Add(std::string(16, 'x')), ClaimAdd::NotRecorded) << "a name that does not fit is never cut";
    EXPECT_EQ(t.Add(std::string(15, 'x')), ClaimAdd::Added);
    t.Remove(std::string(15, 'x'));
    EXPECT_EQ(t.Add("CD926"), ClaimAdd::Added);
    EXPECT_TRUE(t.Contains("CD926"));
    EXPECT_FALSE(t.Contains("cd926"));

    std::uint8_t shared[kClaimTableSize] = {};
    ClaimTable x(shared, lock), y(shared, lock);
    for (int round = 0; round < 200; ++round) {
        std::atomic<int> wins{0};
        std::thread tx([&] { wins += x.Add("CD730") == ClaimAdd::Added; });
        std::thread ty([&] { wins += y.Add("CD730") == ClaimAdd::Added; });
        tx.join();
        ty.join();
        EXPECT_EQ(wins.load(), 1);
        x.Remove("CD730");
    }
}

TEST(ClaimTable, NameWithAZeroInsideIsNeverStored) {
    std::uint8_t block[kClaimTableSize] = {};
    InProcessClaimLock lock;
    ClaimTable t(block, lock);
    const std::string name("CD926\0x", 7);
    EXPECT_EQ(t.Add(name), ClaimAdd::NotRecorded);
    t.Remove(name);
    EXPECT_FALSE(t.Contains("CD926")) << "a claim no Remove can end";
    EXPECT_EQ(t.Add("CD926"), ClaimAdd::Added);
}

// A lock held elsewhere beyond its bound, or no lock at all: a claim is
// refused rather than risk two holders, a release still goes through, and
// the lock is never released by an operation that did not hold it.
TEST(ClaimTable, LockNotHadWithinItsBound) {
    class FailingLock final : public ClaimLock {
    public:
        Outcome lock() override {
            ++attempts;
            return outcome;
        }
        void unlock() override { ++unlocks; }
        Outcome outcome = Outcome::Busy;
        int attempts = 0, unlocks = 0;
    } lock;
    std::uint8_t block[kClaimTableSize] = {};
    std::memcpy(block, "CD347", 6);
    ClaimTable t(block, lock);
    EXPECT_TRUE(t.Contains("CD926")) << "unknown without the lock: claimed";
    EXPECT_EQ(t.Add("CD926"), ClaimAdd::LockBusy);
    lock.outcome = ClaimLock::Outcome::Unavailable;
    EXPECT_TRUE(t.Contains("CD926"));
    EXPECT_EQ(t.Add("CD926"), ClaimAdd::NotRecorded);
    EXPECT_EQ(block[32], 0) << "nothing written without the lock";
    t.Remove("CD347");
    EXPECT_EQ(block[0], 0) << "a release goes through";
    EXPECT_EQ(lock.attempts, 5);
    EXPECT_EQ(lock.unlocks, 0);
}

// A holder that ended without releasing (killed, crashed) loses its claims
// the next time any process checks one; a live holder, a holder the system
// will not tell about, and an entry without a holder keep theirs.
TEST(ClaimTable, ClaimsOfDepartedProcessesAreClearedWhenAClaimIsChecked) {
    FakeProcesses system;
    std::uint8_t block[kClaimTableSize] = {};
    InProcessClaimLock lock;
    auto a = system.process(100, 5000);
    auto b = system.process(200, 6000);
    ClaimTable ta(block, lock, &a), tb(block, lock, &b);
    ASSERT_EQ(ta.Add("CD926"), ClaimAdd::Added);
    // The layout both builds share: name, then holder id and start time.
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block)), "CD926");
    EXPECT_EQ(block[16] | block[17] << 8, 100);
    EXPECT_EQ(block[24] | block[25] << 8, 5000);
    EXPECT_EQ(ta.holder(0), (ClaimHolder{100, 5000}));
    EXPECT_EQ(tb.Add("CD926"), ClaimAdd::Present);

    system.end(100);
    EXPECT_FALSE(tb.Contains("CD926")) << "the killed holder's claim went with it";
    EXPECT_EQ(tb.Add("CD926"), ClaimAdd::Added);
    EXPECT_EQ(tb.holder(0), (ClaimHolder{200, 6000}));

    // The holder's id given to a later process is not the holder.
    system.end(200);
    auto c = system.process(200, 7000);
    ClaimTable tc(block, lock, &c);
    EXPECT_EQ(tc.Add("CD926"), ClaimAdd::Added);

    // Still running, or not to be asked: the claim stands.
    system.unknown.insert(200);
    system.end(200);
    EXPECT_TRUE(ta.Contains("CD926"));
    system.unknown.clear();
    std::memcpy(block + 32, "CD347", 6);  // recorded by a module that keeps no holder
    EXPECT_FALSE(ta.Contains("CD926"));
    EXPECT_TRUE(ta.Contains("CD347"));
}

// Every process joins the table that exists, in whichever namespace, before
// it creates one: a standard user's POS that started first and an elevated
// tool that comes later (or the other way round, or both at once) meet in
// one table.
TEST(ClaimTable, OneTableWhateverOrderAndElevation) {
    struct Kernel {
        std::mutex mu;
        bool exists[2] = {false, false};
    };
    class Spaces final : public ClaimSpaces {
    public:
        Spaces(Kernel& k, bool elevated) : k_(k), elevated_(elevated) {}
        bool join(ClaimSpace s) override {
            std::lock_guard g(k_.mu);
            return k_.exists[index(s)];
        }
        bool create(ClaimSpace s) override {
            std::lock_guard g(k_.mu);
            // A standard user may not create the global section.
            if (s == ClaimSpace::Global && !elevated_) return false;
            k_.exists[index(s)] = true;
            return true;
        }

    private:
        static int index(ClaimSpace s) { return s == ClaimSpace::Global ? 0 : 1; }
        Kernel& k_;
        bool elevated_;
    };
    {
        Kernel k;
        Spaces standard(k, false), elevated(k, true);
        EXPECT_EQ(choose_claim_space(standard), ClaimSpace::Session);
        EXPECT_EQ(choose_claim_space(elevated), ClaimSpace::Session) << "the elevated tool joins the POS's table";
    }
    {
        Kernel k;
        Spaces standard(k, false), elevated(k, true);
        EXPECT_EQ(choose_claim_space(elevated), ClaimSpace::Global);
        EXPECT_EQ(choose_claim_space(standard), ClaimSpace::Global);
    }
    // Both at once: the choice is made under the claim lock, one after the other.
    for (int round = 0; round < 200; ++round) {
        Kernel k;
        std::mutex claim_lock;
        Spaces standard(k, false), elevated(k, true);
        ClaimSpace got[2];
        std::thread ts([&] {
            std::lock_guard g(claim_lock);
            got[0] = choose_claim_space(standard);
        });
        std::thread te([&] {
            std::lock_guard g(claim_lock);
            got[1] = choose_claim_space(elevated);
        });
        ts.join();
        te.join();
        EXPECT_EQ(got[0], got[1]);
        EXPECT_NE(got[0], ClaimSpace::None);
    }
    {
        Kernel k;
        class Nothing final : public ClaimSpaces {
            bool join(ClaimSpace) override { return false; }
            bool create(ClaimSpace) override { return false; }
        } nothing;
        EXPECT_EQ(choose_claim_space(nothing), ClaimSpace::None);
    }
}

TEST_F(SoTest, PropertiesTable) {
    device("CD347", 1);
    auto so = create();
    ASSERT_EQ(so->OpenService("CashDrawer", "CD347", co), 0);
    EXPECT_EQ(so->GetPropertyNumber(PIDX_ServiceObjectVersion), 1007011);
    EXPECT_EQ(so->GetPropertyNumber(PIDX_CapStatus), 1);
    EXPECT_EQ(so->GetPropertyNumber(PIDX_CapStatusMultiDrawerDetect), 1);
    EXPECT_EQ(so->GetPropertyNumber(PIDX_CapPowerReporting), 0);
    EXPECT_EQ(so->GetPropertyNumber(PIDX_DataEventEnabled), 106);
    EXPECT_EQ(so->ResultCode(), 106);
    EXPECT_EQ(so->ResultCodeExtended(), -1);
    so->CheckHealth(1);
    EXPECT_EQ(so->GetPropertyNumber(999), 106);
    EXPECT_EQ(so->ResultCode(), 0) << "unknown index leaves the result alone";
    EXPECT_EQ(so->GetPropertyNumber(PIDX_ResultCode), 0);
    so->SetPropertyNumber(PIDX_Claimed, 1);
    EXPECT_EQ(so->ResultCode(), 106);
    EXPECT_EQ(so->ResultCodeExtended(), -1);
    EXPECT_EQ(so->GetPropertyNumber(PIDX_Claimed), 0);
    so->SetPropertyNumber(PIDX_BinaryConversion, 5);
    EXPECT_EQ(so->GetPropertyNumber(PIDX_BinaryConversion), 0);
    so->SetPropertyNumber(PIDX_BinaryConversion, 1);
    EXPECT_EQ(so->GetPropertyNumber(PIDX_BinaryConversion), 1);

    std::string s = "untouched";
    EXPECT_FALSE(so->GetPropertyString(1000099, &s));
    EXPECT_EQ(s, "untouched");
    EXPECT_TRUE(so->GetPropertyString(PIDX_CheckHealthText, &s));
    EXPECT_EQ(s, "Cash Drawer CHealth INTERNAL: Successful");
    EXPECT_EQ(so->CheckHealth(2), 106);
    EXPECT_EQ(so->ResultCodeExtended(), 106);
    so->GetPropertyString(PIDX_CheckHealthText, &s);
    EXPECT_EQ(s, "Cash Drawer CHealth INTERNAL: Successful") << "kept by an unsupported level";

    // Two objects in one process share DeviceEnabled.
    auto other = create();
    reopen(*so, "CD347");
    EXPECT_EQ(other->GetPropertyNumber(PIDX_DeviceEnabled), 1);
    auto third = create();
    EXPECT_EQ(so->GetPropertyNumber(PIDX_DeviceEnabled), 0) << "creating an object resets the process state";
}

TEST_F(SoTest, DirectIOEventsAndUsbUnit) {
    device("CD730-2", 3);
    auto so = create();
    ASSERT_EQ(so->OpenService("CashDrawer", "CD730-2", co), 0);
    const std::string text = "ignored";
    std::int32_t data = 0;
    EXPECT_EQ(so->DirectIO(9, &data, &text), 0) << "no claim or enable needed";
    EXPECT_EQ(drivers.last("OpenUCashDrawer"), "OpenUCashDrawer unit=1") << "unit from the device name";
    EXPECT_EQ(so->DirectIO(9, &data, nullptr), 0);
    EXPECT_EQ(so->DirectIO(9, &data, &text), 0);
    ASSERT_EQ(p->sink.calls.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        const SinkCall& c = p->sink.calls[i];
        EXPECT_EQ(c.method, "SODirectIO");
        ASSERT_EQ(c.args.size(), 3u);
        EXPECT_EQ(c.args[2].kind, ArgKind::I4);
        EXPECT_EQ(c.args[2].value, i + 1);
        EXPECT_EQ(c.args[1].kind, ArgKind::RefI4);
        EXPECT_EQ(c.args[0].kind, ArgKind::RefBstr);
    }
    drivers.open_ucash = -1;
    EXPECT_EQ(so->DirectIO(9, &data, &text), OPOS_E_ILLEGAL) << "a missing device is no success";
    drivers.open_ucash = 1;
    p->sink.unknown.insert("SODirectIO");
    EXPECT_EQ(so->DirectIO(9, &data, &text), 0) << "a Control Object without the name still succeeds";

    device("CD347", 1);
    so->OpenService("CashDrawer", "CD347", co);
    const std::string cmd = "\x1b\x70";
    EXPECT_EQ(so->DirectIO(1, &data, &cmd), 0);
    EXPECT_EQ(drivers.last("PutCom"), "PutCom 1b 70");
    drivers.put_com = 0;
    EXPECT_EQ(so->DirectIO(1, &data, &cmd), OPOS_E_ILLEGAL);

    // A parallel drawer nobody enabled: the command finds no port, and no
    // port is opened behind it that nobody would ever close.
    device("CD615", 2);
    ASSERT_EQ(so->OpenService("CashDrawer", "CD615", co), 0);
    drivers.calls.clear();
    drivers.put_lpt = 0;
    EXPECT_EQ(so->DirectIO(1, &data, &cmd), OPOS_E_ILLEGAL);
    EXPECT_EQ(drivers.calls, (std::vector<std::string>{"PutLpt 1b 70"}));
    EXPECT_EQ(drivers.ports_open, 0);
}

TEST_F(SoTest, TraceLinesByLevel) {
    device("CD926", 0);
    for (int level : {0, 1, 2}) {
        settings("C:\\Drivers", level);
        p = std::make_unique<Process>(registry, claim_block, claim_lock);
        {
            auto so = create();
            so->OpenService("CashDrawer", "CD926", co);
            so->ClaimDevice(7);
            value("CD926", "FirstOC", std::string(""));
            reopen(*so, "CD926");
            so->OpenDrawer();  // 106: an error line
            value("CD926", "FirstOC", std::string("7"));
            so->GetPropertyNumber(PIDX_DrawerOpened);
            so->CloseService();
        }
        const std::string t = p->trace_text();
        auto has = [&](const std::string& line) { return t.find("] " + line + "\r\n") != std::string::npos; };
        SCOPED_TRACE(level);
        EXPECT_EQ(has("ZRNOPOS_Initialization"), level > 0);
        EXPECT_EQ(has("ZRNOPOS_Termination"), level > 0);
        EXPECT_EQ(has("< OpenDrawer_Error: RC=106"), level > 0);
        EXPECT_EQ(has("> OpenService=CD926"), level == 1);
        EXPECT_EQ(has("> ClaimDevice=7"), level == 1);
        EXPECT_EQ(has("> DeviceEnabled=1"), level == 1);
        EXPECT_EQ(has("< DrawerOpened: RC=0"), level == 1);
        EXPECT_EQ(has("< DrawerOpened=0"), level == 1);
        EXPECT_EQ(has("> ReleaseDevice"), level == 1);
        EXPECT_EQ(has("< CloseService=0"), level == 1);
        EXPECT_EQ(has("ZRNOPOS_PortDrawerSO.DLL: Loaded"), level == 1);
        if (level == 0) {
            EXPECT_FALSE(p->files.dir_exists("C:\\ZRN"));
        }
    }

    // TraceKeepDays is read with the other settings when an object is
    // created; its first line of the day clears out the older files.
    settings("C:\\Drivers", 2);
    {
        platform::ScopedKey k(registry);
        registry.open_key(platform::kHklm, kServiceSettingsKey, true, k.out());
        platform::set_dword(registry, k.get(), "TraceKeepDays", 1);
    }
    p = std::make_unique<Process>(registry, claim_block, claim_lock);
    p->clock.set_local_time({2026, 5, 20, 139, 8, 0, 0});
    p->files.put("C:\\ZRN\\OPOSTrace26137.log", "two days old");
    p->files.put("C:\\ZRN\\OPOSTrace26138.log", "yesterday's");
    create();
    EXPECT_NE(p->trace_text().find("] ZRNOPOS_Initialization\r\n"), std::string::npos);
    EXPECT_FALSE(p->files.exists("C:\\ZRN\\OPOSTrace26137.log"));
    EXPECT_TRUE(p->files.exists("C:\\ZRN\\OPOSTrace26138.log"));
}

TEST_F(SoTest, RegistryReadersOnHostileValues) {
    // TraceEnabled of another type: its first bytes, zero-extended.
    {
        platform::ScopedKey k(registry);
        registry.create_key(platform::kHklm, kServiceSettingsKey, "", k.out(), nullptr);
        platform::set_sz(registry, k.get(), "TraceEnabled", "2");
    }
    config::ServiceSettings s;
    EXPECT_TRUE(config::read_service_settings(registry, &s));
    EXPECT_EQ(s.TraceEnabled, '2');
    EXPECT_EQ(s.TargetPath, "C:\\Drivers");
    {
        platform::ScopedKey k(registry);
        registry.open_key(platform::kHklm, kServiceSettingsKey, true, k.out());
        registry.delete_value(k.get(), "TraceEnabled");
        platform::set_sz(registry, k.get(), "TargetPath", std::string(300, 'p'));
    }
    config::ServiceSettings kept{"before", 5};
    EXPECT_FALSE(config::read_service_settings(registry, &kept));
    EXPECT_EQ(kept.TargetPath, "before") << "an over-long path is not read at all";
    EXPECT_EQ(kept.TraceEnabled, 5);

    // Wrong types read as "?" (0); missing values keep what was there.
    device("CD926", 0);
    value("CD926", "BaudRate", std::string("fast"));
    platform::RegData bin;
    bin.type = 3;
    bin.bytes = {9, 9};
    {
        platform::ScopedKey k(registry);
        registry.open_key(platform::kHklm, std::string(kDeviceClassKey) + "\\CD926", true, k.out());
        registry.set_value(k.get(), "Parity", bin);
        registry.delete_value(k.get(), "StopBits");
    }
    config::DeviceConfig c;
    DriverParamBlock b{};
    b.Device.StopBits = 42;
    ASSERT_EQ(read_device_entry(registry, "CD926", &c, &b), config::EntryRead::Ok);
    EXPECT_EQ(c.BaudRate, 0);
    EXPECT_EQ(c.Parity, 0);
    EXPECT_EQ(c.StopBits, -1);
    EXPECT_EQ(b.Device.StopBits, -1);
    EXPECT_EQ(c.FirstOC, "7");
    EXPECT_EQ(std::string(b.Device.FirstOC), "7");
    EXPECT_TRUE(c.CapStatus);
    EXPECT_FALSE(c.CapStatusMultiDrawerDetect);

    // A parallel entry after a serial one leaves the serial fields alone.
    device("CD615", 2);
    ASSERT_EQ(read_device_entry(registry, "CD615", &c, &b), config::EntryRead::Ok);
    EXPECT_EQ(b.Device.DataBitLen, 8);
    EXPECT_EQ(b.Device.DeviceID, 2);
    EXPECT_EQ(std::string(b.Device.SecondOC), "91");
    EXPECT_FALSE(c.CapStatus);
    EXPECT_EQ(read_device_entry(registry, "CD999", &c, &b), config::EntryRead::NoKey);

    // Logical names: only data beginning with a type key, however many.
    for (int i = 0; i < 25; ++i) logical("Till" + std::to_string(i), "CD347-" + std::to_string(i % 9 + 2));
    const config::LogicalNames names = config::read_logical_names(registry);
    EXPECT_EQ(names.size(), 25u);
    EXPECT_EQ(config::translate_device_name(names, "Till24"), "CD347-8");
    EXPECT_EQ(config::translate_device_name(names, "till24"), "till24");
}

}  // namespace
}  // namespace zrn::so::testing

namespace zrn::so::testing {
namespace {

TEST_F(SoTest, OfflineDisabledAndEventTracePaths) {
    device("CD730", 3);
    auto so = create();
    ASSERT_EQ(so->OpenService("CashDrawer", "CD730", co), 0);
    EXPECT_EQ(so->OpenDrawer(), OPOS_E_DISABLED);
    EXPECT_EQ(so->GetPropertyNumber(PIDX_DrawerOpened), 0);
    EXPECT_EQ(so->ResultCode(), OPOS_E_DISABLED);
    so->SetPropertyNumber(PIDX_DeviceEnabled, 1);
    const auto report = drivers.u_capture.at(0).second;
    report("CD730", 2);
    p->threads.run_pending();
    report("CD730", -1);
    p->threads.run_pending();
    drivers.calls.clear();
    EXPECT_EQ(so->OpenDrawer(), OPOS_E_NOHARDWARE);
    const std::string text = "x";
    EXPECT_EQ(so->DirectIO(1, nullptr, &text), OPOS_E_NOHARDWARE);
    EXPECT_EQ(so->GetPropertyNumber(PIDX_DrawerOpened), 0);
    EXPECT_EQ(so->ResultCode(), OPOS_E_NOHARDWARE);
    EXPECT_TRUE(drivers.calls.empty()) << "an offline device is not touched";
    report("CD730", 2);
    drivers.ucash_status = 77;  // no drawer state: no hardware
    EXPECT_EQ(so->GetPropertyNumber(PIDX_DrawerOpened), 0);
    EXPECT_EQ(so->ResultCode(), OPOS_E_NOHARDWARE);

    const std::string t = p->trace_text();
    EXPECT_NE(t.find("- - - - - -\r\n[03/15-14:02:07] OnStatusCapture=,CD730,2\r\n- - - - - -\r\n"), std::string::npos);
    EXPECT_NE(t.find("- - - - - -\r\n[03/15-14:02:07] < StatusUpdateEvent=0\r\n- - - - - -\r\n"), std::string::npos);
    EXPECT_NE(t.find("] < OpenDrawer=105\r\n"), std::string::npos);
    EXPECT_NE(t.find("] < DrawerOpened_Error: RC=107\r\n"), std::string::npos);
    EXPECT_NE(t.find("] < DrawerOpened_Failure: RC=107\r\n"), std::string::npos);
    EXPECT_EQ(t.find("] < OpenDrawer=107"), std::string::npos) << "no exit line when offline";

    // With no Control Object, events are traced and not delivered.
    p->sink.calls.clear();
    p->module->raise_status_update(1, nullptr);
    EXPECT_TRUE(p->sink.calls.empty());
}

}  // namespace
}  // namespace zrn::so::testing
