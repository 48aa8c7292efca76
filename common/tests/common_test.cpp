#include <gtest/gtest.h>

#include <cstring>

#include "zrn/device_types.h"
#include "zrn/opos.h"
#include "zrn/param_block.h"
#include "zrn/text.h"

namespace zrn {
namespace {

TEST(ParamBlock, FieldsLandAtTheirByteOffsets) {
    // The static asserts pin offsetof; this checks the bytes a foreign
    // reader sees, little-endian, through a raw view of the block.
    DriverParamBlock b;
    std::memset(&b, 0, sizeof b);
    b.PortHandle = -1;
    b.Device.BaudRate = 0x01020304;
    b.Device.DrawerNo = 2;
    copy_field(b.Device.DeviceName, "CD347-10");
    const auto* raw = reinterpret_cast<const unsigned char*>(&b);
    EXPECT_EQ(raw[0], 0xFF);
    EXPECT_EQ(raw[3], 0xFF);
    EXPECT_EQ(raw[96], 0x04);
    EXPECT_EQ(raw[99], 0x01);
    EXPECT_EQ(raw[564], 2);
    EXPECT_EQ(std::memcmp(raw + 185, "CD347-10", 9), 0);
}

TEST(BoundedCopy, FitsTruncatesAndAlwaysTerminates) {
    char field[31];
    std::memset(field, 'x', sizeof field);
    const std::string thirty(30, 'A');
    EXPECT_TRUE(copy_field(field, thirty));
    EXPECT_EQ(field[29], 'A');
    EXPECT_EQ(field[30], '\0');  // a 30-character name ends on the field's last byte

    EXPECT_FALSE(copy_field(field, thirty + "B"));
    EXPECT_EQ(field[30], '\0');
    EXPECT_EQ(field_text(field), thirty);

    char tiny[1] = {'x'};
    EXPECT_FALSE(copy_field(tiny, "a"));
    EXPECT_EQ(tiny[0], '\0');
    EXPECT_TRUE(bounded_copy(nullptr, 0, ""));
    EXPECT_FALSE(bounded_copy(nullptr, 0, "a"));
}

TEST(FieldText, StopsAtTerminatorOrFieldWidth) {
    char f[4] = {'a', 'b', '\0', 'z'};
    EXPECT_EQ(field_text(f), "ab");
    char g[3] = {'a', 'b', 'c'};  // unterminated: never read past the field
    EXPECT_EQ(field_text(g), "abc");
}

TEST(DecimalValue, ParsesLikeTheRegistryReaders) {
    EXPECT_EQ(decimal_value("7"), 7);
    EXPECT_EQ(decimal_value("  91"), 91);
    EXPECT_EQ(decimal_value("\t-12x"), -12);
    EXPECT_EQ(decimal_value("+300"), 300);
    EXPECT_EQ(decimal_value("12 34"), 12);
    EXPECT_EQ(decimal_value("?"), 0);
    EXPECT_EQ(decimal_value(""), 0);
    EXPECT_EQ(decimal_value("-"), 0);
    EXPECT_EQ(decimal_value("x5"), 0);
    EXPECT_EQ(decimal_value("99999999999999999999"), 2147483647);
    EXPECT_EQ(decimal_value("-99999999999999999999"), -2147483647 - 1);
    EXPECT_EQ(decimal_value("-2147483648"), -2147483647 - 1);
}

TEST(ParseInt32, TakesOnlyAWholeNumberInRange) {
    std::int32_t v = 5;
    EXPECT_TRUE(parse_int32("0", &v) && v == 0);
    EXPECT_TRUE(parse_int32("-12", &v) && v == -12);
    EXPECT_TRUE(parse_int32("+300", &v) && v == 300);
    EXPECT_TRUE(parse_int32("2147483647", &v) && v == 2147483647);
    EXPECT_TRUE(parse_int32("-2147483648", &v) && v == -2147483647 - 1);
    v = 5;
    for (const char* bad : {"", "-", "+", " 7", "7 ", "12x", "0x10", "2147483648", "-2147483649",
                            "99999999999999999999", "1.0"}) {
        EXPECT_FALSE(parse_int32(bad, &v)) << bad;
        EXPECT_EQ(v, 5) << bad;
    }
}

TEST(TextHelpers, CaseFoldingTouchesOnlyAsciiLettersAndTrimTakesBlanksAndTabs) {
    EXPECT_EQ(ascii_lower("CashDrawer-7\xC9"), "cashdrawer-7\xC9");
    EXPECT_EQ(ascii_upper("cd926-2"), "CD926-2");
    EXPECT_TRUE(equal_ignoring_case("Front", "fRONT"));
    EXPECT_FALSE(equal_ignoring_case("Front", "Fronts"));
    EXPECT_FALSE(equal_ignoring_case("\xC9", "\xE9")) << "only ASCII letters fold";
    EXPECT_EQ(trim_blanks(" \tTill 7\t "), "Till 7");
    EXPECT_EQ(trim_blanks(" \t "), "");
    EXPECT_EQ(join({"a", "b", "c"}), "a, b, c");
    EXPECT_EQ(join({"a"}, " "), "a");
    EXPECT_EQ(join({}, " "), "");
}

TEST(UnitIndex, ServiceObjectRuleReadsTheDash) {
    EXPECT_EQ(so_unit_index("CD926"), 0);
    EXPECT_EQ(so_unit_index("CD347-2"), 1);
    EXPECT_EQ(so_unit_index("CD347-10"), 9);
    EXPECT_EQ(so_unit_index("CD347x2"), 0);  // no dash at position 5
    EXPECT_EQ(so_unit_index("CD3"), 0);
    EXPECT_EQ(so_unit_index(""), 0);
    EXPECT_EQ(so_unit_index("CD347-"), -1);
    EXPECT_EQ(so_unit_index("CD347-123"), -1) << "never another unit";
}

TEST(UnitIndex, PortDriverRuleReadsTheLength) {
    EXPECT_EQ(port_unit_index(""), 0);
    EXPECT_EQ(port_unit_index("CD926"), 0);
    EXPECT_EQ(port_unit_index("CD9"), 0);
    EXPECT_EQ(port_unit_index("CD926-"), -1);  // 6 characters
    EXPECT_EQ(port_unit_index("CD926-2"), 1);
    EXPECT_EQ(port_unit_index("CD926-9"), 8);
    EXPECT_EQ(port_unit_index("CD926-10"), 9);
    EXPECT_EQ(port_unit_index("CD926-100"), -1);
    EXPECT_EQ(port_unit_index("CD926-1x"), 0);
    // For the names the system uses both rules agree.
    for (const char* n : {"CD926", "CD347-2", "CD347-5", "CD926-10"}) EXPECT_EQ(port_unit_index(n), so_unit_index(n)) << n;
}

TEST(ValueAsText, ConvertsByRegistryType) {
    const std::uint8_t sz[] = {'9', '1', 0};
    EXPECT_EQ(value_as_text(kRegTypeSz, sz), "91");
    const std::uint8_t unterminated[] = {'a', 'b'};
    EXPECT_EQ(value_as_text(kRegTypeSz, unterminated), "ab");
    const std::uint8_t early_zero[] = {'a', 0, 'b', 0};
    EXPECT_EQ(value_as_text(kRegTypeSz, early_zero), "a");
    const std::uint8_t seven[] = {7, 0, 0, 0};
    EXPECT_EQ(value_as_text(kRegTypeDword, seven), "7");
    const std::uint8_t minus_one[] = {0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(value_as_text(kRegTypeDword, minus_one), "-1");
    const std::uint8_t short_dword[] = {7, 0};
    EXPECT_EQ(value_as_text(kRegTypeDword, short_dword), "?");
    EXPECT_EQ(value_as_text(3 /* REG_BINARY */, seven), "?");
    EXPECT_EQ(value_as_text(7 /* REG_MULTI_SZ */, sz), "?");
    EXPECT_EQ(decimal_value(value_as_text(3, seven)), 0);
}

TEST(DeviceTypes, TypeFromTheFirstFiveCharacters) {
    ASSERT_NE(device_type_of("CD347-2"), nullptr);
    EXPECT_EQ(device_type_of("CD347-2")->DeviceID, kDeviceIdSmartSerial);
    EXPECT_EQ(device_type_of("CD730")->default_desc, "Model 730 USBLine(tm) Interface");
    EXPECT_EQ(device_type_of("CD615xyz")->DeviceID, kDeviceIdParallel);
    EXPECT_EQ(device_type_of("CD926")->DeviceID, kDeviceIdSerialII);
    EXPECT_EQ(device_type_of("cd926"), nullptr);  // compared exactly
    EXPECT_EQ(device_type_of("CD92"), nullptr);
    EXPECT_EQ(device_type_of("CashDrawer"), nullptr);
}

TEST(OposCodes, ExtendedCodesMapDriverStatus) {
    EXPECT_EQ(extended_from_driver_code(-2), 10001);
    EXPECT_EQ(extended_from_driver_code(-3), 10002);
    EXPECT_EQ(extended_from_driver_code(-4), 10003);
}

}  // namespace
}  // namespace zrn
