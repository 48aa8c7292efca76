#include "zrn/utility/usb_config.h"

#include <gtest/gtest.h>

#include "zrn/fakes/fake_files.h"
#include "zrn/fakes/forwarding_files.h"

namespace zrn::utility {
namespace {

using Strings = std::vector<std::string>;

const std::string kPath(kUsbConfigPath);
const std::string kFolder(kUsbConfigFolder);
const std::string kRoot = "<ZRNUSB730Config Version=\"1.0\">";
const std::string kEnd = "</ZRNUSB730Config>";
const std::string kEmpty = kRoot + kEnd;

std::string element(const std::string& slot, const std::string& id) {
    return "<HIDID UPort=\"" + slot + "\" ID=\"" + id + "\"/>";
}

class UsbConfigTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(files.open_handles(), 0) << "the file was left open"; }
    // The installation's shared folder exists, the utility's own may not.
    void common_files_folder() {
        ASSERT_TRUE(files.create_directory("C:\\Program Files"));
        ASSERT_TRUE(files.create_directory("C:\\Program Files\\Common Files"));
    }

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
        {kRoot + element("USB0", "5") + element("USB3", "12") + kEnd, UsbConfig::kParsed, {"USB0", "USB3"},
         {"5", "12"}},
        {kRoot + "\r\n  " + element("USB0", "5") + "\r\n\t" + element("USB3", "12") + "\r\n" + kEnd + "\r\n",
         UsbConfig::kParsed, {"USB0", "USB3"}, {"5", "12"}},
        {kRoot + "<HIDID ID=\"7\" UPort=\"USB2\"/>" + kEnd, UsbConfig::kParsed, {"USB2"}, {"7"}},
        {kRoot + "<HIDID Vendor=\"x\" UPort =\"USB1\"  ID=\"9\" />" + kEnd, UsbConfig::kParsed, {"USB1"}, {"9"}},
        {"<?xml version=\"1.0\"?>" + kRoot + element("USB0", "5") + kEnd, UsbConfig::kNoRootStart, {}, {}},
        {"<ZRNUSB730Config Version=\"1.1\">" + element("USB0", "5") + kEnd, UsbConfig::kNoRootStart, {}, {}},
        {kRoot + element("USB0", "5") + "<HIDID UPort=\"USB1\" <ID=\"6\"/>" + kEnd, UsbConfig::kOpenInsideTag,
         {"USB0"}, {"5"}},
        {kRoot + element("USB0", "5") + "x>" + element("USB1", "6") + kEnd, UsbConfig::kCloseOutsideTag, {"USB0"},
         {"5"}},
        {kRoot + element("USB0", "5") + "<Device UPort=\"USB1\" ID=\"6\"/>" + element("USB2", "7") + kEnd,
         UsbConfig::kOtherElement, {"USB0"}, {"5"}},
        // Nothing after the root end tag is read, and a text may end without it.
        {kRoot + element("USB0", "5") + kEnd + "<<>" + element("USB1", "6"), UsbConfig::kParsed, {"USB0"}, {"5"}},
        {kRoot + element("USB4", "8"), UsbConfig::kParsed, {"USB4"}, {"8"}},
        {"", UsbConfig::kParsed, {}, {}},
        {std::string(kRoot + element("USB0", "5") + '\0' + element("USB1", "6") + kEnd), UsbConfig::kParsed,
         {"USB0"}, {"5"}},
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
    EXPECT_EQ(config.parse(kRoot + element("USB1", std::string(300, '7')) + kEnd), UsbConfig::kParsed);
    ASSERT_EQ(config.identifiers().size(), 1u);
    EXPECT_EQ(config.identifiers()[0], std::string(UsbConfig::kAttributeMax, '7'));

    // A tag of 2000 characters keeps its first 511: the attribute cut off with
    // the rest is lost, and the elements after it are read as usual.
    const std::string longtag = "<HIDID UPort=\"USB1\" Note=\"" + std::string(2000, 'n') + "\" ID=\"3\"/>";
    EXPECT_EQ(config.parse(kRoot + longtag + element("USB2", "4") + kEnd), UsbConfig::kParsed);
    EXPECT_EQ(config.slot_names(), (Strings{"USB1", "USB2"}));
    EXPECT_EQ(config.identifiers(), Strings{"4"});
}

TEST_F(UsbConfigTest, ReadCreatesTheFolderAndTheEmptyConfiguration) {
    common_files_folder();
    EXPECT_EQ(config.read(), 1);
    EXPECT_TRUE(files.dir_exists(kFolder));
    EXPECT_EQ(files.content(kPath), kEmpty);
    EXPECT_TRUE(config.slot_names().empty());

    // An existing file is read, not replaced.
    files.put(kPath, kRoot + element("USB0", "5") + element("USB3", "12") + kEnd);
    EXPECT_EQ(config.read(), 1);
    EXPECT_EQ(config.slot_names(), (Strings{"USB0", "USB3"}));
    EXPECT_EQ(config.identifiers(), (Strings{"5", "12"}));
    EXPECT_EQ(files.content(kPath), kRoot + element("USB0", "5") + element("USB3", "12") + kEnd);

    // Only the first 2047 bytes are read.
    const std::string first = kRoot + element("USB1", "6");
    const std::string within = first + std::string(2047 - first.size() - element("USB2", "7").size(), ' ');
    files.put(kPath, within + element("USB2", "7") + element("USB3", "8") + kEnd);
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
        {kRoot + element("USB0", "5") + element("USB3", "12") + kEnd, "CD730", kRoot + element("USB3", "12") + kEnd},
        {kRoot + element("USB1", "300") + kEnd, "CD730", kRoot + element("USB1", "44") + kEnd},
        {kRoot + element("USB2", "7") + element("USB0", "1") + element("USB2", "9") + kEnd, "CD730",
         kRoot + element("USB2", "9") + kEnd},
        {kRoot + element("USB0", "5") + element("USB2", "6") + element("USB9", "7") + kEnd, "CD730-3",
         kRoot + element("USB0", "5") + element("USB9", "7") + kEnd},
        {kRoot + "<HIDID ID=\"7\" UPort=\"USB2\"/>" + kEnd, "CD730", kRoot + element("USB2", "7") + kEnd},
        // Identifiers that are 0, not numeric or a multiple of 256 and slot
        // names other than USB0 to USB9 go.
        {kRoot + element("USB1", "0") + element("USB2", "abc") + element("USB3", "512") + element("USB10", "4") +
             element("COM1", "4") + element("USB4", "255") + kEnd,
         "CD730", kRoot + element("USB4", "255") + kEnd},
        // The walk ends at the first empty slot name.
        {kRoot + element("USB1", "5") + element("", "6") + element("USB2", "7") + kEnd, "CD730",
         kRoot + element("USB1", "5") + kEnd},
        // An XML declaration stops the parse before anything is kept.
        {"<?xml version=\"1.0\"?>" + kRoot + element("USB1", "5") + kEnd, "CD730", kEmpty},
        {"<?xml version=\"1.0\"?>\r\n" + kRoot + kEnd, "CD730", kEmpty},
        // Entries before a parse error are kept; the file comes out well formed.
        {kRoot + element("USB1", "5") + "<Other/>" + element("USB2", "6") + kEnd, "CD730",
         kRoot + element("USB1", "5") + kEnd},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before + " less " + c.device);
        files.put(kPath, c.before);
        config.release_slot(c.device);
        EXPECT_EQ(files.content(kPath), c.after);
    }
}

TEST_F(UsbConfigTest, AFileHeldElsewhereOrNotCreatableIsLeftAlone) {
    const std::string original = kRoot + element("USB0", "5") + element("USB3", "12") + kEnd;
    files.put(kPath, original);
    files.hold(kPath, true);
    EXPECT_EQ(config.read(), 0);
    EXPECT_TRUE(config.slot_names().empty());
    config.release_slot("CD730");
    files.hold(kPath, false);
    EXPECT_EQ(files.content(kPath), original);
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
    files.hold(kPath, true);
    LetGoAfterRead racing(files);
    UsbConfig raced{racing};
    raced.release_slot("CD730");
    EXPECT_EQ(files.content(kPath), original);

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
