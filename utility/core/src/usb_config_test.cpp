#include "zrn/utility/usb_config.h"

#include <gtest/gtest.h>

#include "usb_file.h"
#include "zrn/fakes/fake_files.h"
#include "zrn/fakes/forwarding_files.h"

namespace zrn::utility {
namespace {

using namespace testing;
using Strings = std::vector<std::string>;

const std::string kEmpty = kUsbRoot + kUsbEnd;

class UsbConfigTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(files.open_handles(), 0) << "the file was left open"; }

    fakes::FakeFiles files;
    UsbConfig config{files};
};

TEST_F(UsbConfigTest, ComposesTheFileByteForByte) {
    const std::string two = UsbConfig::compose({"USB0", "USB3"}, {"5", "12"});
    EXPECT_EQ(two,
              "<ZRNUSB730Config Version=\"1.0\"><HIDID UPort=\"USB0\" ID=\"5\"/><HIDID UPort=\"USB3\" ID=\"12\"/>"
              "</ZRNUSB730Config>");
    EXPECT_EQ(two.size(), 106u);
    const std::string none = UsbConfig::compose({}, {});
    EXPECT_EQ(none, "<ZRNUSB730Config Version=\"1.0\"></ZRNUSB730Config>");
    EXPECT_EQ(none.size(), 49u);
    // What is composed parses back to the same pairs.
    EXPECT_EQ(config.parse(two), UsbConfig::kParsed);
    EXPECT_EQ(config.slot_names(), (Strings{"USB0", "USB3"}));
    EXPECT_EQ(config.identifiers(), (Strings{"5", "12"}));
}

TEST_F(UsbConfigTest, ParseResultsAndWhatStaysInTheLists) {
    struct Case {
        std::string text;
        std::int32_t result;
        Strings slots;
        Strings ids;
    };
    const std::vector<Case> cases = {
        {kUsbRoot + usb_element("USB0", "5") + usb_element("USB3", "12") + kUsbEnd,
         UsbConfig::kParsed,
         {"USB0", "USB3"},
         {"5", "12"}},
        {kUsbRoot + "\r\n  " + usb_element("USB0", "5") + "\r\n\t" + usb_element("USB3", "12") + "\r\n" + kUsbEnd +
             "\r\n",
         UsbConfig::kParsed,
         {"USB0", "USB3"},
         {"5", "12"}},
        {kUsbRoot + "<HIDID ID=\"7\" UPort=\"USB2\"/>" + kUsbEnd, UsbConfig::kParsed, {"USB2"}, {"7"}},
        {kUsbRoot + "<HIDID Vendor=\"x\" UPort =\"USB1\"  ID=\"9\" />" + kUsbEnd, UsbConfig::kParsed, {"USB1"}, {"9"}},
        {"<?xml version=\"1.0\"?>" + kUsbRoot + usb_element("USB0", "5") + kUsbEnd, UsbConfig::kNoRootStart, {}, {}},
        {"<ZRNUSB730Config Version=\"1.1\">" + usb_element("USB0", "5") + kUsbEnd, UsbConfig::kNoRootStart, {}, {}},
        {kUsbRoot + usb_element("USB0", "5") + "<HIDID UPort=\"USB1\" <ID=\"6\"/>" + kUsbEnd,
         UsbConfig::kOpenInsideTag,
         {"USB0"},
         {"5"}},
        {kUsbRoot + usb_element("USB0", "5") + "x>" + usb_element("USB1", "6") + kUsbEnd,
         UsbConfig::kCloseOutsideTag,
         {"USB0"},
         {"5"}},
        {kUsbRoot + usb_element("USB0", "5") + "<Device UPort=\"USB1\" ID=\"6\"/>" + usb_element("USB2", "7") + kUsbEnd,
         UsbConfig::kOtherElement,
         {"USB0"},
         {"5"}},
        // Nothing after the root end tag is read, and a text may end without it.
        {kUsbRoot + usb_element("USB0", "5") + kUsbEnd + "<<>" + usb_element("USB1", "6"),
         UsbConfig::kParsed,
         {"USB0"},
         {"5"}},
        {kUsbRoot + usb_element("USB4", "8"), UsbConfig::kParsed, {"USB4"}, {"8"}},
        {"", UsbConfig::kParsed, {}, {}},
        {std::string(kUsbRoot + usb_element("USB0", "5") + '\0' + usb_element("USB1", "6") + kUsbEnd),
         UsbConfig::kParsed,
         {"USB0"},
         {"5"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(config.parse(c.text), c.result);
        EXPECT_EQ(config.slot_names(), c.slots);
        EXPECT_EQ(config.identifiers(), c.ids);
    }
}

TEST_F(UsbConfigTest, OverlongTagsAndValuesAreCut) {
    // An identifier of 300 digits keeps its first 127.
    EXPECT_EQ(config.parse(kUsbRoot + usb_element("USB1", std::string(300, '7')) + kUsbEnd), UsbConfig::kParsed);
    ASSERT_EQ(config.identifiers().size(), 1u);
    EXPECT_EQ(config.identifiers()[0], std::string(UsbConfig::kAttributeMax, '7'));

    // A tag of 2000 characters keeps its first 511: the attribute cut off with
    // the rest is lost, and the elements after it are read as usual.
    const std::string longtag = "<HIDID UPort=\"USB1\" Note=\"" + std::string(2000, 'n') + "\" ID=\"3\"/>";
    EXPECT_EQ(config.parse(kUsbRoot + longtag + usb_element("USB2", "4") + kUsbEnd), UsbConfig::kParsed);
    EXPECT_EQ(config.slot_names(), (Strings{"USB1", "USB2"}));
    EXPECT_EQ(config.identifiers(), Strings{"4"});
}

TEST_F(UsbConfigTest, ReadCreatesTheFolderAndTheEmptyConfiguration) {
    common_files_folder(files);
    EXPECT_EQ(config.read(), 1);
    EXPECT_TRUE(files.dir_exists(kUsbFolder));
    EXPECT_EQ(files.content(kUsbFile), kEmpty);
    EXPECT_TRUE(config.slot_names().empty());

    // An existing file is read, not replaced.
    files.put(kUsbFile, kUsbRoot + usb_element("USB0", "5") + usb_element("USB3", "12") + kUsbEnd);
    EXPECT_EQ(config.read(), 1);
    EXPECT_EQ(config.slot_names(), (Strings{"USB0", "USB3"}));
    EXPECT_EQ(config.identifiers(), (Strings{"5", "12"}));
    EXPECT_EQ(files.content(kUsbFile), kUsbRoot + usb_element("USB0", "5") + usb_element("USB3", "12") + kUsbEnd);

    // Only the first 2047 bytes are read.
    const std::string first = kUsbRoot + usb_element("USB1", "6");
    const std::string within = first + std::string(2047 - first.size() - usb_element("USB2", "7").size(), ' ');
    files.put(kUsbFile, within + usb_element("USB2", "7") + usb_element("USB3", "8") + kUsbEnd);
    EXPECT_EQ(config.read(), 1);
    EXPECT_EQ(config.slot_names(), (Strings{"USB1", "USB2"}));
}

TEST_F(UsbConfigTest, ReleaseRewritesTheFileWithoutTheSlot) {
    struct Case {
        std::string before;
        std::string device;
        std::string after;
    };
    const std::vector<Case> cases = {
        {kUsbRoot + usb_element("USB0", "5") + usb_element("USB3", "12") + kUsbEnd, "CD730",
         kUsbRoot + usb_element("USB3", "12") + kUsbEnd},
        {kUsbRoot + usb_element("USB1", "300") + kUsbEnd, "CD730", kUsbRoot + usb_element("USB1", "44") + kUsbEnd},
        {kUsbRoot + usb_element("USB2", "7") + usb_element("USB0", "1") + usb_element("USB2", "9") + kUsbEnd, "CD730",
         kUsbRoot + usb_element("USB2", "9") + kUsbEnd},
        {kUsbRoot + usb_element("USB0", "5") + usb_element("USB2", "6") + usb_element("USB9", "7") + kUsbEnd, "CD730-3",
         kUsbRoot + usb_element("USB0", "5") + usb_element("USB9", "7") + kUsbEnd},
        {kUsbRoot + "<HIDID ID=\"7\" UPort=\"USB2\"/>" + kUsbEnd, "CD730",
         kUsbRoot + usb_element("USB2", "7") + kUsbEnd},
        // Identifiers that are 0, not numeric or a multiple of 256 and slot
        // names other than USB0 to USB9 go.
        {kUsbRoot + usb_element("USB1", "0") + usb_element("USB2", "abc") + usb_element("USB3", "512") +
             usb_element("USB10", "4") + usb_element("COM1", "4") + usb_element("USB4", "255") + kUsbEnd,
         "CD730", kUsbRoot + usb_element("USB4", "255") + kUsbEnd},
        // The walk ends at the first empty slot name.
        {kUsbRoot + usb_element("USB1", "5") + usb_element("", "6") + usb_element("USB2", "7") + kUsbEnd, "CD730",
         kUsbRoot + usb_element("USB1", "5") + kUsbEnd},
        // An XML declaration stops the parse before anything is kept.
        {"<?xml version=\"1.0\"?>" + kUsbRoot + usb_element("USB1", "5") + kUsbEnd, "CD730", kEmpty},
        {"<?xml version=\"1.0\"?>\r\n" + kUsbRoot + kUsbEnd, "CD730", kEmpty},
        // Entries before a parse error are kept; the file comes out well formed.
        {kUsbRoot + usb_element("USB1", "5") + "<Other/>" + usb_element("USB2", "6") + kUsbEnd, "CD730",
         kUsbRoot + usb_element("USB1", "5") + kUsbEnd},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before + " less " + c.device);
        files.put(kUsbFile, c.before);
        config.release_slot(c.device);
        EXPECT_EQ(files.content(kUsbFile), c.after);
    }
}

TEST_F(UsbConfigTest, AFileHeldElsewhereOrNotCreatableIsLeftAlone) {
    const std::string original = kUsbRoot + usb_element("USB0", "5") + usb_element("USB3", "12") + kUsbEnd;
    files.put(kUsbFile, original);
    files.hold(kUsbFile, true);
    EXPECT_EQ(config.read(), 0);
    EXPECT_TRUE(config.slot_names().empty());
    config.release_slot("CD730");
    files.hold(kUsbFile, false);
    EXPECT_EQ(files.content(kUsbFile), original);
    EXPECT_EQ(files.file_count(), 1u);

    // The other program lets go just after the utility's read gave up: the
    // release must not write the empty lists over the slots it never saw.
    class LetGoAfterRead final : public fakes::ForwardingFiles {
    public:
        explicit LetGoAfterRead(fakes::FakeFiles& f) : ForwardingFiles(f), f_(f) {}
        Handle open_existing_read_write(const std::string& p) override {
            const Handle h = f_.open_existing_read_write(p);
            if (h == kInvalid && ++failed_opens_ == 2) f_.hold(p, false);  // the read's last try
            return h;
        }

    private:
        fakes::FakeFiles& f_;
        int failed_opens_ = 0;
    };
    files.hold(kUsbFile, true);
    LetGoAfterRead racing(files);
    UsbConfig raced{racing};
    raced.release_slot("CD730");
    EXPECT_EQ(files.content(kUsbFile), original);

    // No folder and none can be made: no file, no lists, nothing written.
    fakes::FakeFiles bare;
    bare.deny_directories(true);
    UsbConfig other{bare};
    EXPECT_EQ(other.read(), 0);
    other.release_slot("CD730");
    EXPECT_EQ(bare.file_count(), 0u);
    EXPECT_EQ(bare.open_handles(), 0);
    EXPECT_EQ(other.write(kEmpty), 0);
}

}  // namespace
}  // namespace zrn::utility
