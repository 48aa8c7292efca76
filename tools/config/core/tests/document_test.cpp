#include "zrn/cfg/document.h"

#include <gtest/gtest.h>

#include <vector>

#include "zrn/device_types.h"
#include "zrn/fakes/fake_registry.h"

namespace zrn::cfg {
namespace {

using platform::kHklm;
using platform::kRegOk;
using platform::ScopedKey;

void write_sample(platform::Registry& reg) {
    config::DeviceEntry a = config::default_entry("CD347", *device_type_of("CD347"));
    a.Port = 2;
    a.BaudRate = 6;
    a.SecondOC = "";
    config::DeviceEntry b = config::default_entry("CD615-3", *device_type_of("CD615"));
    b.Port = 2;
    b.FirstOC = "27";
    config::DeviceEntry u = config::default_entry("CD730", *device_type_of("CD730"));
    u.Status = 3;
    ASSERT_TRUE(config::write_device_entry(reg, a));
    ASSERT_TRUE(config::write_device_entry(reg, b));
    ASSERT_TRUE(config::write_device_entry(reg, u));
    ASSERT_TRUE(config::write_logical_name(reg, "FrontDrawer", "CD347"));
    ASSERT_TRUE(config::write_logical_name(reg, "CashDrawer", "CD730"));
    ASSERT_TRUE(config::write_service_settings(reg, {"C:\\Program Files\\ZRN\\OPOS CashDrawer", 1}));
}

json::Value parsed(const std::string& text) {
    json::Value v;
    std::string error;
    EXPECT_TRUE(json::parse(text, &v, &error)) << error;
    return v;
}

std::vector<std::string> errors_of(const std::string& text) {
    Configuration c;
    std::vector<std::string> errors;
    EXPECT_FALSE(from_json(parsed(text), &c, &errors)) << text;
    return errors;
}

const std::string kHead = R"({"schema":"zrn-opos-cashdrawer-configuration","version":1,)";

TEST(Document, ExportReadsEveryEntryNameAndSettingAndImportGivesItBack) {
    fakes::FakeRegistry reg;
    write_sample(reg);
    const Configuration c = read_configuration(reg);
    ASSERT_EQ(c.devices.size(), 3u);
    EXPECT_EQ(c.devices[0].entry.DeviceName, "CD347");
    EXPECT_EQ(c.devices[1].entry.DeviceName, "CD615-3");
    EXPECT_EQ(c.devices[2].entry.Status, 3);
    EXPECT_TRUE(c.devices[0].missing.empty());
    ASSERT_TRUE(c.service.TargetPath);
    EXPECT_EQ(c.service.numbers, (std::vector<std::pair<std::string, std::int32_t>>{{"TraceEnabled", 1}}));

    const std::string text = json::dump(to_json(c), true);
    EXPECT_NE(text.find("\"schema\": \"zrn-opos-cashdrawer-configuration\""), std::string::npos);
    EXPECT_NE(text.find("\"BaudRate\": 6"), std::string::npos);
    EXPECT_NE(text.find("\"SecondOC\": \"\""), std::string::npos);
    EXPECT_NE(text.find("{\n      \"name\": \"FrontDrawer\",\n      \"device\": \"CD347\"\n    }"), std::string::npos);

    Configuration back;
    std::vector<std::string> errors;
    ASSERT_TRUE(from_json(parsed(text), &back, &errors)) << errors.front();
    EXPECT_TRUE(differences(c, "a", back, "b").empty());
    EXPECT_EQ(json::dump(to_json(back)), json::dump(to_json(c)));
}

TEST(Document, LeftOutSettingsTakeTheTypesDefaultsAndTextsStandForCodes) {
    Configuration c;
    std::vector<std::string> errors;
    ASSERT_TRUE(from_json(parsed(kHead + R"("devices":[{"key":"CD926-2","Port":"com3","BaudRate":"19200",
        "Parity":"Even","HandShaking":"XOn/XOff","Status":"none"}]})"),
                          &c, &errors))
        << errors.front();
    const config::DeviceEntry& e = c.devices.at(0).entry;
    EXPECT_EQ(e.DeviceDesc, "ZRN Model 926A SerialLINE(r) II Interface");
    EXPECT_EQ(e.FirstOC, "7");
    // DeviceID, Port, BaudRate, Parity, HandShaking, Status, DataBitLen
    EXPECT_EQ((std::vector<std::int32_t>{e.DeviceID, e.Port, e.BaudRate, e.Parity, e.HandShaking, e.Status,
                                         e.DataBitLen}),
              (std::vector<std::int32_t>{0, 3, 6, 2, 2, 3, 8}));
    EXPECT_FALSE(c.service.TargetPath);
}

TEST(Document, EveryFaultOfAFileIsListedWithItsPlace) {
    const auto errors = errors_of(kHead + R"("devices":[
        {"key":"CD926","Port":5,"Baudrate":5,"FirstOC":"256"},
        {"key":"CD615","BaudRate":5,"DeviceID":0},
        {"key":"CD926-1"},
        {"key":"CD730-2"},
        {"key":"cd926"},
        {"key":"CD347","SecondOC":"","DrawerNo":3,"DeviceDesc":"01234567890123456789012345678901234567890123456789"}],
      "logicalNames":[{"name":"A","device":"CD926"},{"name":"a","device":"CD615"},{"name":"B","device":"CD999"},
        {"name":" C","device":"CD926"}],
      "service":{"TargetPath":"","TraceEnabled":"1","Colour":2}})");
    const std::vector<std::string> expected = {
        "service: the service settings has no member \"Colour\"",
        "service.TargetPath: must be a folder name",
        "service.TraceEnabled: must be a whole number of 32 bits",
        "devices[0]: CD926 has no setting \"Baudrate\"",
        "devices[0].Port: '5' is not allowed; use COM1, COM2, COM3, COM4 (or the codes 1 2 3 4)",
        "devices[0].FirstOC: '256' is no opening code; give a decimal character code from 0 to 255",
        "devices[1]: CD615 has no setting \"BaudRate\"",
        "devices[1].DeviceID: must be 2 for CD615",
        "devices[2].key: 'CD926-1' is no device key name: CD926, CD347 or CD615 alone or with -2 to -9, or CD730",
        "devices[3].key: 'CD730-2' is no device key name: CD926, CD347 or CD615 alone or with -2 to -9, or CD730",
        "devices[4].key: 'cd926' is no device key name: CD926, CD347 or CD615 alone or with -2 to -9, or CD730",
        "devices[5].DeviceDesc: longer than 49 characters",
        "devices[5].DrawerNo: '3' is not allowed; use one of the codes 1 2",
        "logicalNames[1].name: 'a' is given twice (the registry ignores case in names)",
        "logicalNames[2].device: 'CD999' is none of the document's devices",
        "logicalNames[3].name: ' C' is no logical name: 1 to 127 characters, no blank at either end",
    };
    EXPECT_EQ(errors, expected);
    EXPECT_EQ(errors_of(kHead + R"("devices":[{"key":"CD926"},{"key":"CD926"}]})"),
              std::vector<std::string>{"devices[1].key: 'CD926' is given twice"});
}

// What the registry cannot hold as given is refused: a name with a zero
// byte would be stored cut short at it and reported as done.
TEST(Document, ControlCharactersInNamesAndTextsAreRefused) {
    const auto errors = errors_of(kHead + R"("devices":[{"key":"CD926","DeviceDesc":"Front\u0007drawer"}],
      "logicalNames":[{"name":"Till\u0000B","device":"CD926"},{"name":"Till\tC","device":"CD926"},
        {"name":"Ok","device":"CD\u0000926"}],
      "service":{"TargetPath":"C:\\ZRN\r\nD:\\"}})");
    const std::vector<std::string> expected = {
        "service.TargetPath: holds a control character, which no folder name has",
        "devices[0].DeviceDesc: holds a control character; the registry would not keep it as given",
        "logicalNames[0].name: 'Till\\u0000B' is no logical name: it holds a control character, which the registry "
        "would not keep as given",
        "logicalNames[1].name: 'Till\\tC' is no logical name: it holds a control character, which the registry would "
        "not keep as given",
        "logicalNames[2].device: 'CD\\u0000926' is none of the document's devices",
    };
    EXPECT_EQ(errors, expected);
}

// Checking stays in one pass over the document: many devices or names given
// twice are each named once, never once per earlier copy, and a document of
// some megabytes is read and checked whole.
TEST(Document, LargeDocumentsAndManyDuplicatesAreCheckedInOnePass) {
    std::string devices;
    std::string names;
    for (int i = 0; i < 10000; ++i) {
        devices += std::string(i ? "," : "") + R"({"key":"CD926","Port":1})";
        names += std::string(i ? "," : "") + R"({"name":"Till","device":"CD926"})";
    }
    const auto errors = errors_of(kHead + R"("devices":[)" + devices + R"(],"logicalNames":[)" + names + "]}");
    ASSERT_EQ(errors.size(), 2u * 9999u);
    EXPECT_EQ(errors[0], "devices[1].key: 'CD926' is given twice");
    EXPECT_EQ(errors[9998], "devices[9999].key: 'CD926' is given twice");
    EXPECT_EQ(errors[9999], "logicalNames[1].name: 'Till' is given twice (the registry ignores case in names)");

    // 4 MB: 40,000 distinct names for the drawers of one document.
    names.clear();
    for (int i = 0; i < 40000; ++i)
        names += std::string(i ? "," : "") + R"({"name":"Till)" + std::to_string(i) + std::string(80, 'x') +
                 R"(","device":")" + (i % 2 ? "CD926" : "CD347") + "\"}";
    const std::string big = kHead + R"("devices":[{"key":"CD926"},{"key":"CD347","Port":2}],"logicalNames":[)" + names +
                            "]}";
    ASSERT_GT(big.size(), 4u * 1024 * 1024);
    Configuration c;
    std::vector<std::string> none;
    ASSERT_TRUE(from_json(parsed(big), &c, &none)) << (none.empty() ? "" : none[0]);
    EXPECT_EQ(c.names.size(), 40000u);
    EXPECT_EQ(c.names.back().second, "CD926");
}

TEST(Document, TheSchemaAndVersionAreCheckedFirst) {
    EXPECT_EQ(errors_of(R"({"version":1,"devices":[]})"),
              std::vector<std::string>{
                  "schema: this is no cash drawer configuration (expected \"zrn-opos-cashdrawer-configuration\")"});
    EXPECT_EQ(errors_of(R"({"schema":"zrn-opos-cashdrawer-configuration","version":2,"devices":[]})"),
              std::vector<std::string>{
                  "version: 2 is newer than this zrncd reads (1); use the zrncd that wrote it, or a newer one"});
    EXPECT_EQ(errors_of(R"({"schema":"zrn-opos-cashdrawer-configuration","version":0})").size(), 1u);
    EXPECT_EQ(errors_of(kHead + R"("extra":1})"),
              (std::vector<std::string>{"document: the document has no member \"extra\"",
                                        "devices: must be a list of device entries"}));
    EXPECT_EQ(errors_of("[]"), std::vector<std::string>{"document: must be a JSON object"});
}

TEST(Document, DifferencesIgnoreTargetPathAndNameEachDeviceAndName) {
    fakes::FakeRegistry a, b;
    write_sample(a);
    write_sample(b);
    ASSERT_TRUE(config::write_service_settings(b, {"C:\\Program Files (x86)\\ZRN\\OPOS CashDrawer", 1}));
    EXPECT_TRUE(differences(read_configuration(a), "A", read_configuration(b), "B").empty());

    ASSERT_TRUE(config::write_device_value(b, "CD347", "Port", 3));
    ASSERT_TRUE(config::write_logical_name(b, "FrontDrawer", "CD615-3"));
    ASSERT_TRUE(config::write_logical_name(a, "Back", "CD347"));
    config::DeviceEntry extra = config::default_entry("CD926", *device_type_of("CD926"));
    ASSERT_TRUE(config::write_device_entry(b, extra));
    {
        ScopedKey k(a);
        ASSERT_EQ(a.open_key(kHklm, std::string(kDeviceClassKey) + "\\CD615-3", true, k.out()), kRegOk);
        ASSERT_EQ(a.delete_value(k.get(), "DrawerNo"), kRegOk);
    }
    const Configuration ca = read_configuration(a);
    EXPECT_EQ(ca.devices[1].missing, std::vector<std::string>{"DrawerNo"});
    EXPECT_EQ(differences(ca, "A", read_configuration(b), "B"),
              (std::vector<std::string>{"CD347 differs in Port", "CD615-3 differs in DrawerNo", "CD926 is only in B",
                                        "logical name FrontDrawer stands for CD347 in A but for CD615-3 in B",
                                        "logical name Back is only in A"}));
    // A missing setting is left out of the export, not written as 0.
    EXPECT_EQ(to_json(ca).find("devices")->items()[1].find("DrawerNo"), nullptr);
}

TEST(Document, SharedPortsAreNamedPerPairAndKind) {
    Configuration c;
    std::vector<std::string> errors;
    ASSERT_TRUE(from_json(parsed(kHead + R"("devices":[{"key":"CD926","Port":"COM1"},{"key":"CD347","Port":1},
        {"key":"CD615","Port":"LPT1"},{"key":"CD347-2","Port":"COM2"},{"key":"CD730"}]})"),
                          &c, &errors));
    EXPECT_EQ(shared_ports(c), std::vector<std::string>{"CD926 and CD347 both use COM1"});
}

}  // namespace
}  // namespace zrn::cfg
