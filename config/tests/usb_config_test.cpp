#include "zrn/config/usb_config.h"

#include <gtest/gtest.h>

#include "usb_file.h"
#include "zrn/fakes/fake_files.h"
#include "zrn/fakes/forwarding_files.h"

namespace zrn::config {
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
        // Only the utility's own form and the same with blanks between the
        // elements are taken in whole.
        EXPECT_EQ(config.complete(), &c == &cases[0] || &c == &cases[1] || &c == &cases[2] || &c == &cases[11])
            << config.incomplete_reason();
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
        {kUsbRoot + usb_element("USB0", "5") + usb_element("USB2", "6") + usb_element("USB9", "7") + kUsbEnd, "CD730-3",
         kUsbRoot + usb_element("USB0", "5") + usb_element("USB9", "7") + kUsbEnd},
        {kUsbRoot + "<HIDID ID=\"7\" UPort=\"USB2\"/>" + usb_element("USB4", "255") + kUsbEnd, "CD730-5",
         kUsbRoot + usb_element("USB2", "7") + kUsbEnd},
        // Line breaks and indentation another program wrote lose nothing.
        {kUsbRoot + "\r\n  " + usb_element("USB0", "1") + "\r\n  " + usb_element("USB1", "2") + "\r\n" + kUsbEnd + "\r\n",
         "CD730", kUsbRoot + usb_element("USB1", "2") + kUsbEnd},
        // A file without the slot is not touched at all.
        {kUsbRoot + "\r\n" + usb_element("USB3", "12") + kUsbEnd, "CD730", kUsbRoot + "\r\n" + usb_element("USB3", "12") + kUsbEnd},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before + " less " + c.device);
        files.put(kUsbFile, c.before);
        EXPECT_TRUE(config.release_slot(c.device).done());
        EXPECT_EQ(files.content(kUsbFile), c.after);
    }
}

// Whatever the rewrite would not carry over (another program's declaration,
// element or attribute, a slot or identifier it cannot write back, more than
// is read) keeps the whole file as it is, and the caller is told why.
TEST_F(UsbConfigTest, AFileNotUnderstoodWholeIsNeverRewritten) {
    const std::string first = kUsbRoot + usb_element("USB0", "5");
    const std::string padded = first + std::string(2047 - first.size(), ' ') + usb_element("USB3", "12") + kUsbEnd;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"<?xml version=\"1.0\"?>" + kUsbRoot + usb_element("USB0", "5") + usb_element("USB1", "6") + kUsbEnd,
         "it begins with an XML declaration"},
        {"<?xml version=\"1.0\"?>\r\n" + kUsbRoot + kUsbEnd, "it begins with an XML declaration"},
        {kUsbRoot + usb_element("USB0", "5") + "<Other/>" + usb_element("USB2", "6") + kUsbEnd,
         "it holds an element other than HIDID (<Other>)"},
        {kUsbRoot + "<!-- tills 1 to 4 -->" + usb_element("USB0", "5") + kUsbEnd,
         "it holds an element other than HIDID (<!-->)"},
        {padded, "it is longer than the 2047 bytes this program reads"},
        {kUsbRoot + usb_element("USB0", "5") + "<HIDID Vendor=\"x\" UPort=\"USB1\" ID=\"9\"/>" + kUsbEnd,
         "it holds an attribute other than UPort and ID (Vendor)"},
        {kUsbRoot + usb_element("USB0", "5") + usb_element("USB1", "300") + kUsbEnd,
         "it holds an identifier other than 1 to 255 (ID=\"300\")"},
        {kUsbRoot + usb_element("USB0", "5") + usb_element("USB10", "4") + kUsbEnd,
         "it holds a slot other than USB0 to USB9 (UPort=\"USB10\")"},
        {kUsbRoot + usb_element("USB0", "5") + usb_element("USB2", "7") + usb_element("USB2", "9") + kUsbEnd,
         "it lists the slot USB2 twice"},
        {kUsbRoot + usb_element("USB0", "5") + "<HIDID UPort=\"USB1\"/>" + usb_element("USB2", "7") + kUsbEnd,
         "it holds an element without exactly one UPort and one ID"},
        {kUsbRoot + usb_element("USB0", "5") + "note" + kUsbEnd, "it holds text outside the elements"},
        {kUsbRoot + usb_element("USB0", "5"), "its root element is not closed"},
        {kUsbRoot + usb_element("USB0", "5") + ">" + kUsbEnd, "it holds a '>' outside a tag"},
        {kUsbRoot + usb_element("USB0", "5") + kUsbEnd + "<Extra/>", "it holds more after the end of </ZRNUSB730Config>"},
    };
    for (const auto& [before, reason] : cases) {
        SCOPED_TRACE(before);
        files.put(kUsbFile, before);
        const UsbConfig::ReleaseOutcome out = config.release_slot("CD730");
        EXPECT_EQ(out.result, UsbConfig::Release::NotUnderstood);
        EXPECT_EQ(out.reason, reason);
        EXPECT_EQ(config.why(out), reason + ", which this program would not write back");
        EXPECT_EQ(files.content(kUsbFile), before) << "left as it is";
        EXPECT_EQ(config.check_release().result, UsbConfig::Release::NotUnderstood);
    }
    // An empty file holds nothing to lose.
    files.put(kUsbFile, "");
    EXPECT_TRUE(config.release_slot("CD730").done());
}

// The rewrite goes through a temporary file that takes the file's place in
// one step: a full disk or a program stopped in the middle leaves the old
// file whole, never an empty or half-written one.
TEST_F(UsbConfigTest, ARewriteThatFailsHalfWayLeavesTheFileWhole) {
    const std::string original = kUsbRoot + usb_element("USB0", "5") + usb_element("USB3", "12") + kUsbEnd;
    files.put(kUsbFile, original);
    files.disk_space(20);
    const UsbConfig::ReleaseOutcome full = config.release_slot("CD730");
    EXPECT_EQ(full.result, UsbConfig::Release::Failed);
    EXPECT_EQ(full.status, platform::kFileDiskFull);
    EXPECT_EQ(config.why(full), "it could not be read or written (Windows error 112)");
    EXPECT_EQ(files.content(kUsbFile), original);
    EXPECT_FALSE(files.exists(kUsbFile + ".new")) << "the temporary file went again";
    files.disk_space(-1);

    // Stopped after the new text was written but before it took the file's
    // place: the old file is whole, and the next release goes through.
    struct Stopped {};
    class StopAtReplace final : public fakes::ForwardingFiles {
    public:
        using ForwardingFiles::ForwardingFiles;
        platform::FileStatus replace(const std::string&, const std::string&) override { throw Stopped{}; }
    };
    StopAtReplace stopping(files);
    UsbConfig killed{stopping};
    EXPECT_THROW(killed.release_slot("CD730"), Stopped);
    EXPECT_EQ(files.content(kUsbFile), original);
    EXPECT_TRUE(config.release_slot("CD730").done());
    EXPECT_EQ(files.content(kUsbFile), kUsbRoot + usb_element("USB3", "12") + kUsbEnd);
    EXPECT_FALSE(files.exists(kUsbFile + ".new"));
}

TEST_F(UsbConfigTest, AFileHeldElsewhereOrNotCreatableIsLeftAlone) {
    const std::string original = kUsbRoot + usb_element("USB0", "5") + usb_element("USB3", "12") + kUsbEnd;
    files.put(kUsbFile, original);
    files.hold(kUsbFile, true);
    EXPECT_EQ(config.read(), 0);
    EXPECT_TRUE(platform::file_held(config.read_status()));
    EXPECT_TRUE(config.slot_names().empty());
    const UsbConfig::ReleaseOutcome held = config.release_slot("CD730");
    EXPECT_EQ(held.result, UsbConfig::Release::Held);
    EXPECT_EQ(config.why(held), "another program has it open (Windows error 32)");
    files.hold(kUsbFile, false);
    EXPECT_EQ(files.content(kUsbFile), original);
    EXPECT_EQ(files.file_count(), 1u);

    // The other program (a virus scanner, say) lets go just after the
    // utility's open found the file held: held is not missing, so the file
    // is neither made anew nor written over with the slots never read.
    class LetGoAfterFirstTry final : public fakes::ForwardingFiles {
    public:
        explicit LetGoAfterFirstTry(fakes::FakeFiles& f) : ForwardingFiles(f), f_(f) {}
        Handle open_existing_read_write(const std::string& p, platform::FileStatus* st) override {
            const Handle h = f_.open_existing_read_write(p, st);
            if (h == kInvalid && ++failed_opens_ == 1) f_.hold(p, false);
            return h;
        }

    private:
        fakes::FakeFiles& f_;
        int failed_opens_ = 0;
    };
    files.hold(kUsbFile, true);
    LetGoAfterFirstTry racing(files);
    UsbConfig raced{racing};
    EXPECT_EQ(raced.release_slot("CD730").result, UsbConfig::Release::Held);
    EXPECT_EQ(files.content(kUsbFile), original);

    // No folder and none can be made: no file, no lists, nothing written.
    fakes::FakeFiles bare;
    bare.deny_directories(true);
    UsbConfig other{bare};
    EXPECT_EQ(other.read(), 0);
    EXPECT_TRUE(platform::file_missing(other.read_status()));
    EXPECT_EQ(other.release_slot("CD730").result, UsbConfig::Release::Failed);
    EXPECT_EQ(bare.file_count(), 0u);
    EXPECT_EQ(bare.open_handles(), 0);
    EXPECT_EQ(other.write(kEmpty), 0);
}

}  // namespace
}  // namespace zrn::config
