#include "zrn/device_config.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zrn/fakes/fake_registry.h"
#include "zrn/fakes/key_values.h"
#include "zrn/text.h"

namespace zrn::config {
namespace {

using platform::kHklm;
using platform::kRegOk;
using platform::ScopedKey;

// One stored value as the registry enumerates it: name, type and text.
struct Stored {
    std::string name;
    std::uint32_t type;
    std::string text;
    bool operator==(const Stored&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Stored& v) {
    return os << "{\"" << v.name << "\", " << v.type << ", \"" << v.text << "\"}";
}

std::vector<Stored> values_of(platform::Registry& reg, const std::string& path) {
    std::vector<Stored> out;
    for (const auto& [name, data] : fakes::key_values(reg, path).value_or(std::vector<fakes::NamedValue>{})) {
        // Texts are stored with their terminating zero.
        if (data.type == kRegTypeSz) {
            EXPECT_EQ(data.bytes.back(), 0) << name;
        }
        if (data.type == kRegTypeDword) {
            EXPECT_EQ(data.bytes.size(), 4u) << name;
        }
        out.push_back({name, data.type, value_as_text(data.type, data.bytes)});
    }
    return out;
}

std::string entry_path(const std::string& key) {
    return std::string(kDeviceClassKey) + "\\" + key;
}

const DeviceType& type(std::string_view key) {
    return *device_type_of(key);
}

constexpr std::uint32_t SZ = kRegTypeSz;
constexpr std::uint32_t DW = kRegTypeDword;

std::vector<Stored> common_head(const std::string& key, std::int32_t id, const std::string& desc) {
    return {{"", SZ, "ZRNOPOSCD.SO"},
            {"ADKConfig", SZ, "ZRN 3.38.1_CCO"},
            {"ServiceVersion", SZ, "3.38.1_CCO"},
            {"ServiceDesc", SZ, std::string(kServiceDesc)},
            {"DeviceDesc", SZ, desc},
            {"DeviceName", SZ, key},
            {"DeviceID", DW, std::to_string(id)},
            {"DeviceState", DW, "0"}};
}

std::vector<Stored> operator+(std::vector<Stored> a, const std::vector<Stored>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const std::vector<Stored> kSerialSettings = {
    {"PortSel", SZ, "1,2,3,4"},   {"Port", DW, "1"},       {"BaudRateSel", SZ, "1,2,3,4,5,6"}, {"BaudRate", DW, "5"},
    {"DataBitLenSel", SZ, "7,8"}, {"DataBitLen", DW, "8"}, {"StopBitsSel", SZ, "1,2"},         {"StopBits", DW, "1"},
    {"ParitySel", SZ, "0,1,2"},   {"Parity", DW, "0"},     {"HandShakingSel", SZ, "0,1,2"},    {"HandShaking", DW, "0"},
    {"StatusSel", SZ, "0,1,2,3"}, {"Status", DW, "0"}};

TEST(DeviceConfigWrite, NewEntriesHoldTheirTypesValuesInOrder) {
    fakes::FakeRegistry reg;
    for (const DeviceType& t : kDeviceTypes) ASSERT_TRUE(write_device_entry(reg, default_entry(t.key, t)));
    ASSERT_TRUE(write_device_entry(reg, default_entry("CD926-2", type("CD926"))));

    EXPECT_EQ(values_of(reg, entry_path("CD926")),
              (common_head("CD926", 0, "ZRN Model 926A SerialLINE(r) II Interface") + kSerialSettings +
               std::vector<Stored>{{"FirstOC", SZ, "7"}, {"TimeOut", DW, "1000"}}));
    EXPECT_EQ(values_of(reg, entry_path("CD347")),
              (common_head("CD347", 1, "Model 347A Smart SerialLINE(r) Interface") + kSerialSettings +
               std::vector<Stored>{{"FirstOC", SZ, "91"},
                                   {"SecondOC", SZ, "91"},
                                   {"DrawerNoSel", SZ, "1,2"},
                                   {"DrawerNo", DW, "1"},
                                   {"TimeOut", DW, "1000"}}));
    EXPECT_EQ(values_of(reg, entry_path("CD615")), (common_head("CD615", 2, "Model 615 ParallelLINE(tm) Interface") +
                                                    std::vector<Stored>{{"PortSel", SZ, "1,2"},
                                                                        {"Port", DW, "1"},
                                                                        {"StatusSel", SZ, "0,1,2,3"},
                                                                        {"Status", DW, "0"},
                                                                        {"FirstOC", SZ, "91"},
                                                                        {"SecondOC", SZ, "91"},
                                                                        {"DrawerNoSel", SZ, "1,2"},
                                                                        {"DrawerNo", DW, "1"},
                                                                        {"TimeOut", DW, "1000"}}));
    EXPECT_EQ(values_of(reg, entry_path("CD730")), (common_head("CD730", 3, "Model 730 USBLine(tm) Interface") +
                                                    std::vector<Stored>{{"PortSel", SZ, "USB"},
                                                                        {"Port", DW, "0"},
                                                                        {"StatusSel", SZ, "0,1,2,3"},
                                                                        {"Status", DW, "0"},
                                                                        {"TimeOut", DW, "1000"}}));
    // An indexed key names itself, with its type's description.
    const std::vector<Stored> second = values_of(reg, entry_path("CD926-2"));
    ASSERT_EQ(second.size(), 24u);
    EXPECT_EQ(second[5], (Stored{"DeviceName", SZ, "CD926-2"}));
    EXPECT_EQ(second[4].text, "ZRN Model 926A SerialLINE(r) II Interface");
}

TEST(DeviceConfigWrite, SettingsOfAnEntryAndRewritesKeepTheirPlace) {
    fakes::FakeRegistry reg;
    DeviceEntry e = default_entry("CD347-3", type("CD347"));
    e.Port = 4;
    e.BaudRate = 6;
    e.Parity = 2;
    e.HandShaking = 1;
    e.Status = 2;
    e.FirstOC = "27";
    e.SecondOC = "";
    e.DrawerNo = 2;
    ASSERT_TRUE(write_device_entry(reg, e));
    ASSERT_TRUE(write_device_value(reg, "CD347-3", "FirstOC", std::string_view("12")));
    ASSERT_TRUE(write_device_value(reg, "CD347-3", "Status", 3));

    const std::vector<Stored> v = values_of(reg, entry_path("CD347-3"));
    ASSERT_EQ(v.size(), 27u);
    EXPECT_EQ(v[9], (Stored{"Port", DW, "4"}));
    EXPECT_EQ(v[11], (Stored{"BaudRate", DW, "6"}));
    EXPECT_EQ(v[17], (Stored{"Parity", DW, "2"}));
    EXPECT_EQ(v[19], (Stored{"HandShaking", DW, "1"}));
    EXPECT_EQ(v[21], (Stored{"Status", DW, "3"}));
    EXPECT_EQ(v[22], (Stored{"FirstOC", SZ, "12"}));
    EXPECT_EQ(v[23], (Stored{"SecondOC", SZ, ""}));
    EXPECT_EQ(v[25], (Stored{"DrawerNo", DW, "2"}));

    // What the Service Object reads back is what was written.
    DeviceConfig c;
    ASSERT_EQ(read_device_entry(reg, "CD347-3", &c), EntryRead::Ok);
    // DeviceID, Port, BaudRate, DataBitLen, StopBits, Parity, HandShaking, Status, DrawerNo
    EXPECT_EQ((std::vector<std::int32_t>{c.DeviceID, c.Port, c.BaudRate, c.DataBitLen, c.StopBits, c.Parity,
                                         c.HandShaking, c.Status, c.DrawerNo}),
              (std::vector<std::int32_t>{1, 4, 6, 8, 1, 2, 1, 3, 2}));
    EXPECT_EQ((std::vector<std::string>{c.FirstOC, c.SecondOC, c.DeviceName}),
              (std::vector<std::string>{"12", "", "CD347-3"}));
    EXPECT_TRUE(c.CapStatus);
    EXPECT_TRUE(c.CapStatusMultiDrawerDetect);

    // A DeviceID that is no type writes nothing.
    DeviceEntry odd = default_entry("CD999", type("CD926"));
    odd.DeviceID = 7;
    ScopedKey key(reg);
    ASSERT_EQ(reg.create_key(kHklm, entry_path("CD999"), "", key.out(), nullptr), kRegOk);
    EXPECT_FALSE(write_entry_values(reg, key.get(), odd));
    EXPECT_TRUE(values_of(reg, entry_path("CD999")).empty());
}

TEST(DeviceConfigRead, ValuesAsText) {
    fakes::FakeRegistry reg;
    ASSERT_TRUE(write_device_value(reg, "CD926", "FirstOC", 7));
    ASSERT_TRUE(write_device_value(reg, "CD926", "Status", -3));
    ASSERT_TRUE(write_device_value(reg, "CD926", "DeviceDesc", std::string_view("Front till")));
    ScopedKey key(reg);
    ASSERT_EQ(reg.open_key(kHklm, entry_path("CD926"), true, key.out()), kRegOk);
    platform::RegData bin;
    bin.type = 3;  // REG_BINARY
    bin.bytes = {0x37, 0, 0, 0};
    ASSERT_EQ(reg.set_value(key.get(), "Parity", bin), kRegOk);
    ASSERT_EQ(reg.set_value(key.get(), "Long", platform::RegData{kRegTypeSz, std::vector<std::uint8_t>(1025, 'x')}),
              kRegOk);

    std::string text = "unchanged";
    EXPECT_EQ(read_text(reg, key.get(), "FirstOC", &text), kRegOk);
    EXPECT_EQ(text, "7") << "a REG_DWORD opening code reads as its decimal text";
    EXPECT_EQ(read_text(reg, key.get(), "Status", &text), kRegOk);
    EXPECT_EQ(text, "-3");
    EXPECT_EQ(read_text(reg, key.get(), "DeviceDesc", &text), kRegOk);
    EXPECT_EQ(text, "Front till");
    EXPECT_EQ(read_text(reg, key.get(), "Parity", &text), kRegOk);
    EXPECT_EQ(text, "?") << "binary data";
    text = "unchanged";
    EXPECT_NE(read_text(reg, key.get(), "Missing", &text), kRegOk);
    EXPECT_NE(read_text(reg, key.get(), "Long", &text), kRegOk) << "larger than the 1024-byte buffer";
    EXPECT_EQ(text, "unchanged");

    // The entry reader takes both the same way: "7" and "?" (0).
    ASSERT_TRUE(write_device_value(reg, "CD926", "DeviceID", 0));
    DeviceConfig c;
    ASSERT_EQ(read_device_entry(reg, "CD926", &c), EntryRead::Ok);
    EXPECT_EQ(c.FirstOC, "7");
    EXPECT_EQ(c.Parity, 0);
    EXPECT_EQ(c.Status, -3);
}

TEST(DeviceConfigRead, EntryByDeviceId) {
    fakes::FakeRegistry reg;
    DeviceConfig c;
    EXPECT_EQ(read_device_entry(reg, "CD926", &c), EntryRead::NoKey);

    // USB: only Status, DeviceDesc and DeviceName, whatever else is stored.
    ASSERT_TRUE(write_device_entry(reg, default_entry("CD730", type("CD730"))));
    ASSERT_TRUE(write_device_value(reg, "CD730", "FirstOC", std::string_view("27")));
    ASSERT_TRUE(write_device_value(reg, "CD730", "Status", 1));
    ASSERT_EQ(read_device_entry(reg, "CD730", &c), EntryRead::Ok);
    EXPECT_EQ(c.DeviceID, 3);
    EXPECT_EQ(c.Status, 1);
    EXPECT_EQ(c.Port, -1);
    EXPECT_EQ(c.FirstOC, "");
    EXPECT_EQ(c.DeviceName, "CD730");
    EXPECT_EQ(c.DeviceDesc, "Model 730 USBLine(tm) Interface");

    // Too long for its field: refused and left alone; a long description is shortened.
    ASSERT_TRUE(write_device_entry(reg, default_entry("CD615", type("CD615"))));
    ASSERT_TRUE(write_device_value(reg, "CD615", "SecondOC", std::string_view("12345678")));
    ASSERT_TRUE(write_device_value(reg, "CD615", "DeviceDesc", std::string_view(std::string(60, 'd'))));
    DeviceConfig p;
    EXPECT_EQ(read_device_entry(reg, "CD615", &p), EntryRead::BadText);
    EXPECT_EQ(p.SecondOC, "");
    EXPECT_EQ(p.FirstOC, "91");
    EXPECT_EQ(p.DeviceDesc, std::string(49, 'd'));
    EXPECT_FALSE(p.CapStatus);
}

TEST(DeviceConfigSettings, TargetPathWithoutQuotesAndTraceSwitch) {
    fakes::FakeRegistry reg;
    ServiceSettings s{"kept", 9};
    EXPECT_FALSE(read_service_settings(reg, &s));
    EXPECT_EQ(s.TargetPath, "kept");
    EXPECT_EQ(s.TraceEnabled, 9);

    ASSERT_TRUE(write_service_settings(reg, {"\"C:\\Program Files\\Drivers\"", 2}));
    ASSERT_TRUE(read_service_settings(reg, &s));
    EXPECT_EQ(s.TargetPath, "C:\\Program Files\\Drivers");
    EXPECT_EQ(s.TraceEnabled, 2);
    EXPECT_EQ(values_of(reg, std::string(kServiceSettingsKey)),
              (std::vector<Stored>{{"TargetPath", SZ, "\"C:\\Program Files\\Drivers\""}, {"TraceEnabled", DW, "2"}}));

    ASSERT_TRUE(write_service_settings(reg, {"C:\\\"Drv\"", -1}));
    ASSERT_TRUE(read_service_settings(reg, &s));
    EXPECT_EQ(s.TargetPath, "C:\\Drv");
    EXPECT_EQ(s.TraceEnabled, -1);

    // The trace's retention: missing means every file is kept.
    EXPECT_EQ(read_trace_keep_days(reg), 0);
    platform::ScopedKey key(reg);
    ASSERT_EQ(reg.open_key(platform::kHklm, kServiceSettingsKey, true, key.out()), platform::kRegOk);
    ASSERT_EQ(write_number(reg, key.get(), "TraceKeepDays", 30), platform::kRegOk);
    EXPECT_EQ(read_trace_keep_days(reg), 30);
    ASSERT_EQ(write_text(reg, key.get(), "TraceKeepDays", "14"), platform::kRegOk);
    EXPECT_EQ(read_trace_keep_days(reg), 14) << "a number stored as text, as the entries' numbers are read";
    fakes::FakeRegistry empty;
    EXPECT_EQ(read_trace_keep_days(empty), 0) << "no settings key";
}

TEST(DeviceConfigLogicalNames, TableAndCaseSensitiveTranslation) {
    fakes::FakeRegistry reg;
    EXPECT_TRUE(read_logical_names(reg).empty());
    ASSERT_TRUE(write_logical_name(reg, "CashDrawer", "CD730"));
    ASSERT_TRUE(write_logical_name(reg, "Note", "not a device"));
    ASSERT_TRUE(write_logical_name(reg, "Front", "CD926-2"));
    ASSERT_TRUE(write_logical_name(reg, "Back", "CD926"));
    ASSERT_TRUE(write_logical_name(reg, "Front", "CD347"));  // overwritten in place
    {
        ScopedKey key(reg);
        ASSERT_EQ(reg.open_key(kHklm, kDeviceClassKey, true, key.out()), kRegOk);
        ASSERT_EQ(write_number(reg, key.get(), "Count", 2), kRegOk);
    }

    const LogicalNames names = read_logical_names(reg);
    EXPECT_EQ(names, (LogicalNames{{"CashDrawer", "CD730"}, {"Front", "CD347"}, {"Back", "CD926"}}));
    EXPECT_EQ(translate_device_name(names, "CashDrawer"), "CD730");
    EXPECT_EQ(translate_device_name(names, "cashdrawer"), "cashdrawer");
    EXPECT_EQ(translate_device_name(names, "CASHDRAWER"), "CASHDRAWER");
    EXPECT_EQ(translate_device_name(names, "Note"), "Note") << "data without a type key is no logical name";
    EXPECT_EQ(translate_device_name(names, "CD615"), "CD615");
    // The first equal name wins.
    EXPECT_EQ(translate_device_name({{"A", "CD926"}, {"A", "CD347"}}, "A"), "CD926");
}

TEST(DeviceConfigSettings, ValueListsAndOpeningCodes) {
    // The settings each type holds, in the order they are stored.
    const auto names = [](std::int32_t id) {
        std::string out;
        for (const Setting& s : settings_of(id)) out += std::string(s.name) + (s.number ? "#" : "$") + " ";
        return out;
    };
    EXPECT_EQ(names(0), "Port# BaudRate# DataBitLen# StopBits# Parity# HandShaking# Status# FirstOC$ ");
    EXPECT_EQ(names(1),
              "Port# BaudRate# DataBitLen# StopBits# Parity# HandShaking# Status# FirstOC$ SecondOC$ DrawerNo# ");
    EXPECT_EQ(names(2), "Port# Status# FirstOC$ SecondOC$ DrawerNo# ");
    EXPECT_EQ(names(3), "Port# Status# ");
    EXPECT_EQ(names(4), "");
    EXPECT_EQ(names(-1), "");
    ASSERT_NE(find_setting(2, "Port"), nullptr);
    EXPECT_EQ(find_setting(2, "Port")->sel, "1,2");
    EXPECT_EQ(find_setting(2, "BaudRate"), nullptr);
    EXPECT_EQ(find_setting(0, "port"), nullptr);

    EXPECT_TRUE(code_allowed("1,2,3,4,5,6", 6));
    EXPECT_FALSE(code_allowed("1,2,3,4,5,6", 7));
    EXPECT_FALSE(code_allowed("1,2,3,4,5,6", 0));
    EXPECT_TRUE(code_allowed("7,8", 7));
    EXPECT_FALSE(code_allowed("7,8", 78));
    EXPECT_TRUE(code_allowed("USB", 0));
    EXPECT_FALSE(code_allowed("USB", 1));
    EXPECT_FALSE(code_allowed("", 0));

    for (const char* ok : {"0", "7", "91", "255", "007"}) EXPECT_TRUE(valid_open_code(ok)) << ok;
    for (const char* bad : {"", "256", "-1", "+7", "1000", "a", "9 ", " 9", "0x1"})
        EXPECT_FALSE(valid_open_code(bad)) << bad;
}

TEST(DeviceConfigRead, StoredEntryTellsWhatIsMissingOrOfAnotherType) {
    fakes::FakeRegistry reg;
    DeviceEntry e = default_entry("CD347-2", type("CD347"));
    e.Port = 3;
    e.SecondOC = "27";
    ASSERT_TRUE(write_device_entry(reg, e));
    StoredEntry s;
    ASSERT_TRUE(read_stored_entry(reg, "CD347-2", &s));
    EXPECT_EQ(s.prog_id, "ZRNOPOSCD.SO");
    EXPECT_EQ(s.entry.DeviceName, "CD347-2");
    EXPECT_EQ(s.entry.Port, 3);
    EXPECT_EQ(s.entry.BaudRate, 5);
    EXPECT_EQ(s.entry.SecondOC, "27");
    EXPECT_EQ(s.entry.DrawerNo, 1);
    EXPECT_TRUE(s.missing.empty());
    EXPECT_TRUE(s.other_type.empty());

    {
        ScopedKey k(reg);
        ASSERT_EQ(reg.open_key(kHklm, entry_path("CD347-2"), true, k.out()), kRegOk);
        ASSERT_EQ(reg.delete_value(k.get(), "DrawerNo"), kRegOk);
        ASSERT_EQ(platform::set_sz(reg, k.get(), "BaudRate", "4"), kRegOk);
        ASSERT_EQ(platform::set_dword(reg, k.get(), "FirstOC", 7), kRegOk);
    }
    ASSERT_TRUE(read_stored_entry(reg, "CD347-2", &s));
    EXPECT_EQ(s.missing, std::vector<std::string>{"DrawerNo"});
    EXPECT_EQ(s.other_type, (std::vector<std::string>{"BaudRate", "FirstOC"}));
    EXPECT_EQ(s.entry.BaudRate, 4);
    EXPECT_EQ(s.entry.FirstOC, "7");
    EXPECT_FALSE(read_stored_entry(reg, "CD926", &s));
}

}  // namespace
}  // namespace zrn::config
