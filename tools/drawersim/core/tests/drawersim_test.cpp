#include "zrn/drawersim/drawersim.h"

#include <gtest/gtest.h>

#include <mutex>
#include <sstream>

#include "zrn/device_types.h"
#include "zrn/fakes/fake_clock.h"
#include "zrn/fakes/fake_threads.h"
#include "zrn/portdrv/port_driver.h"
#include "zrn/text.h"

namespace zrn::drawersim {
namespace {

Parsed parse_line(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> args;
    for (std::string w; in >> w;) args.push_back(w);
    return parse(args);
}

Command must_parse(const std::string& line) {
    const Parsed p = parse_line(line);
    EXPECT_TRUE(p.command) << line << ": " << p.error;
    return p.command.value_or(Command{});
}

// Runs one command line on the block, as the shell does with a holder.
Effect run(sim::SimState& s, const std::string& line) {
    return execute(must_parse(line), s, true);
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

TEST(DrawersimParse, CommandsAndTheirArguments) {
    Command c = must_parse("close com3 --unit 2 --sense ri");
    EXPECT_EQ(c.verb, Verb::Close);
    EXPECT_EQ(c.target.kind, Target::Com);
    EXPECT_EQ(c.target.index, 2);
    EXPECT_EQ(c.unit, 1) << "unit 2 is the second slot";
    EXPECT_EQ(c.sense, 0x40);
    c = must_parse("--json open COM1 --unit=10 --sense=cts+RI");
    EXPECT_TRUE(c.json && c.verb == Verb::Open && c.unit == 9 && c.sense == 0x50);
    EXPECT_FALSE(must_parse("open COM4").sense) << "no --sense keeps the unit's own";
    EXPECT_EQ(must_parse("lines COM2 cts+dsr").word, 0x30);
    c = must_parse("received LPT2 --reset");
    EXPECT_TRUE(c.target.kind == Target::Lpt && c.target.index == 1 && c.reset);
    EXPECT_TRUE(must_parse("fail-open lpt1 ON").on);
    EXPECT_FALSE(must_parse("ignore-fires off").on);
    EXPECT_EQ(must_parse("status -h").verb, Verb::Help) << "help wins over any command";

    // Showing and then emptying the received bytes is a change.
    EXPECT_FALSE(changes_block(must_parse("received COM1")));
    EXPECT_TRUE(changes_block(must_parse("received COM1 --reset")));
    EXPECT_FALSE(changes_block(must_parse("status")));
}

TEST(DrawersimParse, BadInputIsRefusedWithTheCulpritNamed) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "no command"},
        {"shake COM1", "shake"},
        {"open", "usage"},
        {"status now", "no arguments"},
        {"open COM5", "COM5"},
        {"open LPT1", "LPT1"},
        {"received USB", "USB"},
        {"open COM1 --unit 11", "--unit"},
        {"open COM1 --unit +2", "+2"},
        {"open COM1 --unit 1 --unit 2", "twice"},
        {"open USB --unit 2", "COM"},
        {"close COM1 --sense 0x08", "0x08"},
        {"status --sense cts", "only for open and close"},
        {"fail-open COM1 maybe", "maybe"},
        {"status --verbose", "--verbose"},
    };
    for (const auto& [line, culprit] : cases) {
        const Parsed p = parse_line(line);
        EXPECT_FALSE(p.command) << line;
        EXPECT_NE(p.error.find(culprit), std::string::npos) << line << ": " << p.error;
    }
}

TEST(DrawersimParse, ModemLineNamesAndNumbers) {
    EXPECT_EQ(parse_lines("DSR+ring"), 0x60);
    EXPECT_EQ(parse_lines("dcd+none"), 0x80);
    EXPECT_EQ(parse_lines("all"), 0xF0);
    EXPECT_EQ(parse_lines("16+0x20"), 0x30);
    for (const char* bad : {"", "+", "cts++ri", "0x", "0x1g", "15", "0x10000000f0", "-16"})
        EXPECT_FALSE(parse_lines(bad)) << bad;
    // Every word a port can show reads back as itself.
    for (std::int32_t w = 0; w <= 0xF0; w += 0x10) EXPECT_EQ(parse_lines(lines_text(w)), w) << w;
    EXPECT_EQ(lines_text(0x50), "cts+ri");
    EXPECT_EQ(lines_text(0x13), "cts+0x03") << "bits that are no line are still shown";
}

TEST(DrawersimUnits, ClosedDrawersShowTheirSenseLinesOnTheSharedPort) {
    sim::SimState s;
    sim::init_state(&s);
    EXPECT_EQ(s.com[0].modem, 0x10) << "unit 1 starts closed on CTS";

    run(s, "close COM1 --unit 2 --sense ri");
    EXPECT_EQ(s.com[0].modem, 0x50);
    run(s, "open COM1");
    EXPECT_EQ(s.com[0].modem, 0x40) << "unit 2 still closed";
    run(s, "open COM1 --unit 2");
    EXPECT_EQ(s.com[0].modem, 0);
    run(s, "close COM1 --unit 2");
    EXPECT_EQ(s.com[0].modem, 0x40) << "unit 2 keeps its sense lines";

    // Two drawers on the same line: the line stays while either is closed.
    run(s, "close COM1 --unit 2 --sense cts");
    run(s, "close COM1");
    run(s, "open COM1 --unit 2");
    EXPECT_EQ(s.com[0].modem, 0x10);
    run(s, "open COM1");
    EXPECT_EQ(s.com[0].modem, 0);

    // A unit named for the first time has a drawer on CTS.
    run(s, "close COM1 --unit 7");
    EXPECT_EQ(s.com[0].modem, 0x10);
    EXPECT_EQ(s.com_units[0][6].sense, 0x10);
    run(s, "open COM1 --unit 7");

    // Lines no drawer senses are left alone; a changed sense drops the old line.
    run(s, "lines COM1 dsr");
    run(s, "close COM1");
    EXPECT_EQ(s.com[0].modem, 0x30);
    run(s, "close COM1 --sense ri");
    EXPECT_EQ(s.com[0].modem, 0x60);
    run(s, "close COM1 --sense none");
    EXPECT_EQ(s.com[0].modem, 0x20) << "a drawer sensed on no line shows nothing";

    for (int p = 1; p < 4; ++p) EXPECT_EQ(s.com[p].modem, 0x10) << "other ports untouched, COM" << p + 1;
}

class Lock final : public sim::SimLock {
public:
    void lock() override { mu_.lock(); }
    void unlock() override { mu_.unlock(); }
    std::mutex mu_;
};

std::vector<std::pair<std::string, int>> g_reports;
void ZRN_STDCALL record(const char* n, std::int32_t v) {
    g_reports.emplace_back(n, v);
}

DriverParamBlock smart_unit(const char* name, std::int32_t status) {
    DriverParamBlock b{};
    copy_field(b.Device.DeviceName, name);
    b.Device.DeviceID = kDeviceIdSmartSerial;
    b.Device.Port = 2;
    b.Device.Status = status;
    return b;
}

TEST(DrawersimUnits, TheRealPortDriverReportsEachUnitFromTheSharedLines) {
    sim::SimState s;
    sim::init_state(&s);
    Lock lock;
    sim::SimSerialPorts ports(&s, lock);
    fakes::FakeClock clock;
    fakes::FakeThreads threads;
    portdrv::PortDriver d(ports, clock, threads);
    d.StartStatusCCapture(1, record);
    DriverParamBlock first = smart_unit("CD347", 0);     // sensed on CTS
    DriverParamBlock second = smart_unit("CD347-2", 1);  // sensed on RI
    ASSERT_EQ(d.OpenCom(&first, 0), 1);
    ASSERT_EQ(d.OpenCom(&second, 1), 1);

    run(s, "open COM2 --unit 2 --sense ri");
    g_reports.clear();
    d.sweep();
    EXPECT_EQ(g_reports, (std::vector<std::pair<std::string, int>>{{"CD347", 0}}))
        << "CTS alone: the first unit closed, the second's word is not its own";
    g_reports.clear();
    run(s, "open COM2");
    d.sweep();
    EXPECT_EQ(g_reports, (std::vector<std::pair<std::string, int>>{{"CD347", 1}, {"CD347-2", 1}}));
    g_reports.clear();
    run(s, "close COM2 --unit 2");
    d.sweep();
    EXPECT_EQ(g_reports, (std::vector<std::pair<std::string, int>>{{"CD347-2", 0}}));
    d.CloseCom(&second);
    d.CloseCom(&first);
}

TEST(DrawersimUsb, ReportsOnlyRealChangesOfAPluggedInDrawer) {
    sim::SimState s;
    sim::init_state(&s);
    EXPECT_FALSE(run(s, "close USB").usb_report) << "already closed";
    EXPECT_TRUE(run(s, "open USB").usb_report);
    EXPECT_EQ(s.usb.drawer_state, 1);
    EXPECT_TRUE(run(s, "unplug").usb_report) << "the driver's outstanding read must fail";
    EXPECT_FALSE(run(s, "unplug").usb_report);
    EXPECT_FALSE(run(s, "close USB").usb_report) << "an unplugged drawer sends nothing";
    EXPECT_EQ(s.usb.drawer_state, 2);
    EXPECT_EQ(s.usb.seq, 2u) << "one count per report sent";
    EXPECT_TRUE(run(s, "replug").usb_report) << "a replugged drawer reports its state";
    EXPECT_EQ(s.usb.present, 1);
    EXPECT_EQ(s.usb.seq, 3u);
    run(s, "ignore-fires on");
    EXPECT_EQ(s.usb.ignore_fires, 1);
}

TEST(DrawersimPorts, ReceivedBytesAndFailingOpens) {
    sim::SimState s;
    sim::init_state(&s);
    Lock lock;
    sim::SimSerialPorts ports(&s, lock);
    const portdrv::PortHandle h = ports.open("LPT2");
    std::size_t n = 0;
    ASSERT_TRUE(ports.write(h, "\x1b\x70\x00\xff", 4, &n));
    EXPECT_EQ(run(s, "received LPT2").output, "LPT2 received 4 bytes: 1b7000ff\n");
    EXPECT_EQ(run(s, "received LPT1").output, "LPT1 received 0 bytes\n");
    EXPECT_EQ(
        run(s, "received LPT2 --json --reset").output,
        "{\"kind\":\"received\",\"port\":\"LPT2\",\"received\":4,\"kept\":4,\"hex\":\"1b7000ff\",\"reset\":true}\n");
    EXPECT_EQ(s.lpt[1].written_total, 0u);

    // More than the block keeps: the count is the true one.
    const std::string big(sim::kSimWrittenMax + 3, 'A');
    ASSERT_TRUE(ports.write(h, "\x07", 1, &n));
    ASSERT_TRUE(ports.write(h, big.data(), big.size(), &n));
    const std::string out = run(s, "received LPT2").output;
    EXPECT_NE(out.find("received 1028 bytes, the first 1024 kept: 0741"), std::string::npos) << out;
    EXPECT_EQ(out.size(), out.find(": ") + 2 + 2 * sim::kSimWrittenMax + 1);

    run(s, "fail-open COM3 on");
    run(s, "fail-open LPT1 on");
    EXPECT_EQ(ports.open("COM3"), portdrv::kInvalidPort);
    EXPECT_EQ(ports.open("LPT1"), portdrv::kInvalidPort);
    // A change prints the changed port's state.
    EXPECT_EQ(run(s, "fail-open COM3 off")
                  .output.rfind("COM3 lines cts (0x10); port closed, opened 0 times; "
                                "fail-open off; 9600 8N1",
                                0),
              0u);
    EXPECT_NE(ports.open("COM3"), portdrv::kInvalidPort);
}

TEST(DrawersimStatus, OneLinePerPartWithTheBlocksValues) {
    sim::SimState s;
    sim::init_state(&s);
    Lock lock;
    sim::SimSerialPorts ports(&s, lock);
    ASSERT_NE(ports.open("COM3"), portdrv::kInvalidPort);
    run(s, "close COM3 --unit 3 --sense ri");
    run(s, "open COM3");
    run(s, "unplug");
    s.com[2].baud = 19200;
    s.com[2].parity = 2;

    const std::vector<std::string> json = lines_of(status_text(s, false, true));
    ASSERT_EQ(json.size(), 8u) << "block, four COM, two LPT, USB";
    for (const std::string& l : json) EXPECT_TRUE(l.front() == '{' && l.back() == '}') << l;
    EXPECT_EQ(json[0], "{\"kind\":\"block\",\"held\":false}");
    const std::string& com3 = json[3];
    for (const char* field : {"\"port\":\"COM3\"", "\"modem\":64", "\"lines\":\"ri\"", "\"open\":true", "\"opens\":1",
                              "\"baud\":19200", "\"parity\":2",
                              "\"units\":[{\"unit\":1,\"drawer\":\"open\",\"sense\":16,\"sense_lines\":\"cts\"},"
                              "{\"unit\":3,\"drawer\":\"closed\",\"sense\":64,\"sense_lines\":\"ri\"}]"})
        EXPECT_NE(com3.find(field), std::string::npos) << field << " in " << com3;
    EXPECT_NE(json[7].find("\"present\":false"), std::string::npos) << json[7];
    EXPECT_NE(json[7].find("\"reports_sent\":1"), std::string::npos) << json[7];

    const std::vector<std::string> text = lines_of(execute(must_parse("status"), s, true).output);
    ASSERT_EQ(text.size(), 13u) << "a line per attached unit: unit 1 of each port, unit 3 of COM3";
    EXPECT_EQ(text[0], "block held by another process");
    EXPECT_EQ(text[5].rfind("COM3 lines ri (0x40); port open, opened 1 time; fail-open off; 19200 8E1", 0), 0u)
        << text[5];
    EXPECT_EQ(text[7], "COM3 unit 3: drawer closed, sense ri");
}

}  // namespace
}  // namespace zrn::drawersim
