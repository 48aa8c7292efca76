#include "zrn/cfg/pe_image.h"

#include <gtest/gtest.h>

#include "test_pe.h"

using namespace zrn::cfg;
using zrn::cfg::testing::make_pe;
using zrn::cfg::testing::PeLayout;
using zrn::cfg::testing::PeSpec;
using zrn::cfg::testing::put32;

namespace {

TEST(PeImage, ReadsMachineKindAndExportNamesOfBothBitnesses) {
    for (const std::uint16_t machine : {kPeMachineI386, kPeMachineAmd64}) {
        const auto bytes = make_pe({machine, true, {"CVersion", "OpenCom", "StartStatusCCapture"}});
        PeImage image;
        std::string error;
        ASSERT_TRUE(read_pe_image(bytes, &image, &error)) << error;
        EXPECT_EQ(image.machine, machine);
        EXPECT_EQ(image.pe32_plus, machine == kPeMachineAmd64);
        EXPECT_TRUE(image.dll);
        EXPECT_EQ(image.exports, (std::vector<std::string>{"CVersion", "OpenCom", "StartStatusCCapture"}));
        EXPECT_TRUE(has_export(image, "OpenCom"));
        EXPECT_FALSE(has_export(image, "opencom")) << "export names are exact";
    }
    EXPECT_EQ(machine_name(kPeMachineI386), "i386");
    EXPECT_EQ(machine_name(kPeMachineAmd64), "amd64");
    EXPECT_EQ(machine_name(0xAA64), "0xAA64");
}

TEST(PeImage, AnImageWithoutExportsIsValidAndEmpty) {
    PeImage image;
    std::string error;
    ASSERT_TRUE(read_pe_image(make_pe({kPeMachineI386, false, {}}), &image, &error)) << error;
    EXPECT_FALSE(image.dll);
    EXPECT_TRUE(image.exports.empty());
}

TEST(PeImage, RefusesDamagedHeadersAndOffsetsOutsideTheFile) {
    PeLayout l;
    const auto good = make_pe({kPeMachineAmd64, true, {"UVersion", "OpenUPort"}}, &l);
    const auto refused = [](std::vector<std::uint8_t> b, const char* why) {
        PeImage image;
        std::string error;
        EXPECT_FALSE(read_pe_image(b, &image, &error)) << why;
        EXPECT_FALSE(error.empty()) << why;
        return error;
    };
    EXPECT_EQ(refused({}, "empty"), "no MZ header");
    EXPECT_EQ(refused(std::vector<std::uint8_t>(good.begin(), good.begin() + 0x30), "short"), "no MZ header");
    auto b = good;
    b[0] = 'X';
    EXPECT_EQ(refused(b, "no MZ"), "no MZ header");
    b = good;
    put32(b, 0x3C, 0xFFFFFFF0u);
    EXPECT_EQ(refused(b, "e_lfanew far out"), "no PE signature");
    b = good;
    b[l.pe] = 'N';
    EXPECT_EQ(refused(b, "signature"), "no PE signature");
    b = good;
    b[l.optional] = 0x07;
    EXPECT_EQ(refused(b, "magic"), "unknown optional header");
    b = good;
    put32(b, l.pe + 4 + 2, 0xFFFF);  // section count: the table runs past the end
    EXPECT_EQ(refused(b, "sections"), "section table cut short");
    b = good;
    put32(b, l.optional + 112, 0x7FFFFFF0u);  // export directory RVA in no section
    EXPECT_EQ(refused(b, "export rva"), "export directory outside the file");
    b = good;
    put32(b, l.export_dir + 24, 0x7FFFFFFFu);  // absurd name count
    EXPECT_EQ(refused(b, "name count"), "too many export names");
    b = good;
    put32(b, l.export_dir + 24, 60000);  // the name table would run out of the section
    EXPECT_EQ(refused(b, "names outside"), "export names outside the file");
    b = good;
    put32(b, l.names, 0x1000 + 0x5000);  // one name's RVA beyond the section's data
    EXPECT_EQ(refused(b, "name rva"), "export name outside the file");
    // A name longer than any export name may be.
    b = good;
    b.resize(0x200 + 0x400);
    put32(b, l.sections + 16, 0x400);
    std::fill(b.begin() + 0x200 + 40 + 12, b.end(), 'A');
    EXPECT_EQ(refused(b, "unterminated"), "export name too long");
}

TEST(PeImage, ANameCutByTheEndOfTheFileIsRefusedNotOverread) {
    PeLayout l;
    auto b = make_pe({kPeMachineI386, true, {"Abc"}}, &l);
    const std::size_t name_at = l.export_dir + 40 + 6;
    b.resize(name_at + 2);  // "Ab", no terminator, end of file
    put32(b, l.sections + 16, static_cast<std::uint32_t>(b.size() - l.export_dir));
    PeImage image;
    std::string error;
    EXPECT_FALSE(read_pe_image(b, &image, &error));
    EXPECT_EQ(error, "export name cut short");
}

}  // namespace
