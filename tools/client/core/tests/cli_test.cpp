#include "zrn/cli/cli.h"

#include <gtest/gtest.h>

#include "device_entries.h"
#include "zrn/fakes/fake_registry.h"

namespace zrn::cli {
namespace {

Options parsed(const std::vector<std::string>& args) {
    Options o;
    const std::string err = parse(args, &o);
    EXPECT_EQ(err, "") << "for the arguments given";
    return o;
}

std::string error_of(const std::vector<std::string>& args) {
    Options o;
    return parse(args, &o);
}

TEST(CliParse, StepsWithDefaultsAndGivenNumbers) {
    const Options o = parsed({"--json", "open", "CD926", "claim", "enable", "wait", "2000", "800", "fire",
                              "directio", "7", "3", "ESC", "health", "watch", "250", "close"});
    EXPECT_TRUE(o.json);
    EXPECT_FALSE(o.keep_going);
    ASSERT_EQ(o.steps.size(), 9u);
    EXPECT_EQ(o.steps[0].verb, Verb::Open);
    EXPECT_EQ(o.steps[0].text, "CD926");
    EXPECT_EQ(o.steps[1].numbers, std::vector<std::int32_t>({1000}));
    EXPECT_EQ(o.steps[3].numbers, std::vector<std::int32_t>({2000, 800, 500, 1000})) << "partly given";
    EXPECT_EQ(o.steps[5].numbers, std::vector<std::int32_t>({7, 3}));
    EXPECT_EQ(o.steps[5].text, "ESC");
    EXPECT_EQ(o.steps[6].numbers, std::vector<std::int32_t>({1}));
    EXPECT_EQ(o.steps[7].numbers, std::vector<std::int32_t>({250}));

    // A text right after a step that takes numbers is the next step, not a value.
    const Options d = parsed({"directio", "1", "close"});
    ASSERT_EQ(d.steps.size(), 2u);
    EXPECT_EQ(d.steps[0].text, "");
    EXPECT_EQ(d.steps[1].verb, Verb::Close);
    EXPECT_TRUE(parsed({"--json", "list"}).list);
    EXPECT_TRUE(parsed({"--help"}).help);
    EXPECT_EQ(parsed({"claim", "-1"}).steps[0].numbers[0], -1);
}

TEST(CliParse, BadArgumentsAreNamed) {
    EXPECT_EQ(error_of({}), "no steps given");
    EXPECT_EQ(error_of({"--verbose", "fire"}), "unknown option '--verbose'");
    EXPECT_EQ(error_of({"open", "CD926", "shoot"}), "unknown step 'shoot'");
    EXPECT_EQ(error_of({"open"}), "'open' needs a device name");
    EXPECT_EQ(error_of({"open", "claim"}), "'open' needs a device name");
    EXPECT_EQ(error_of({"sleep", "soon"}), "'sleep' needs a number, got 'soon'");
    EXPECT_EQ(error_of({"directio"}), "'directio' needs a number, got nothing");
    EXPECT_EQ(error_of({"claim", "99999999999", "fire"}), "'claim': number out of range: 99999999999");
    EXPECT_EQ(error_of({"fire", "7"}), "unknown step '7'") << "a number where no step takes one";
    EXPECT_EQ(error_of({"list", "fire"}), "'list' takes no further steps");
}

TEST(CliParse, ToolWordMayFollowOptions) {
    using Args = std::vector<std::string>;
    Args rest;
    EXPECT_EQ(tool_of({"config", "list"}, &rest), Tool::Config);
    EXPECT_EQ(rest, (Args{"list"}));
    EXPECT_EQ(tool_of({"--json", "config", "list"}, &rest), Tool::Config);
    EXPECT_EQ(rest, (Args{"--json", "list"})) << "the option goes on to the tool's parser";
    EXPECT_EQ(tool_of({"--view", "32", "--json", "doctor"}, &rest), Tool::Doctor);
    EXPECT_EQ(rest, (Args{"--view", "32", "--json"}));
    // A device of that name is a step's argument, not the tool.
    EXPECT_EQ(tool_of({"open", "doctor", "fire"}, &rest), Tool::Steps);
    EXPECT_EQ(rest, (Args{"open", "doctor", "fire"}));
    EXPECT_EQ(tool_of({"--json", "list"}, &rest), Tool::Steps);
    EXPECT_EQ(tool_of({}, &rest), Tool::Steps);
    EXPECT_EQ(tool_of({"--view"}, &rest), Tool::Steps) << "an option missing its value";
    EXPECT_TRUE(rest == Args{"--view"});
}

TEST(CliFormat, StepsAndEventsAsTextAndJson) {
    StepReport r;
    r.step = "claim";
    r.device = "CD926";
    r.rc = 102;
    r.rce = 0;
    r.ok = false;
    r.add("Claimed", 0);
    r.add("Text", std::string("say \"hi\"\n"));
    EXPECT_EQ(format_step(r, true),
              "{\"step\":\"claim\",\"device\":\"CD926\",\"ok\":false,\"rc\":102,\"rc_name\":\"OPOS_E_CLAIMED\","
              "\"rce\":0,\"Claimed\":0,\"Text\":\"say \\\"hi\\\"\\n\"}");
    EXPECT_EQ(format_step(r, false),
              "FAIL claim CD926: 102 OPOS_E_CLAIMED (extended 0)\n       Claimed = 0\n       Text = say \"hi\"\n");

    EventReport e{"StatusUpdate", 1, 0, "", "10:00:00.125", 42};
    EXPECT_EQ(format_event(e, true), "{\"event\":\"StatusUpdate\",\"time\":\"10:00:00.125\",\"status\":1,\"thread\":42}");
    EXPECT_EQ(format_event(e, false), "[10:00:00.125] event StatusUpdate 1 (drawer open)");
    EventReport d{"DirectIO", 3, 0, "", "10:00:01.000", 7};
    EXPECT_EQ(format_event(d, true),
              "{\"event\":\"DirectIO\",\"time\":\"10:00:01.000\",\"number\":3,\"data\":0,\"text\":\"\",\"thread\":7}");

    EXPECT_STREQ(result_name(0), "OPOS_SUCCESS");
    EXPECT_STREQ(result_name(114), "OPOS_E_EXTENDED");
    EXPECT_STREQ(result_name(-1), "OPOS_UNKNOWN");
    EXPECT_EQ(json_escape(std::string("a\x01\xe9")), "a\\u0001\\u00e9");
}

TEST(CliRegistry, ListingAndResolvingAsAControlObjectDoes) {
    fakes::FakeRegistry reg;
    so::testing::write_device(reg, "CD926", 0, 3);
    so::testing::write_device(reg, "CD730", 3);
    so::testing::write_logical(reg, "Front", "CD926");
    std::vector<DeviceListing> devices;
    std::vector<LogicalListing> names;
    list_devices(reg, &devices, &names);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].key, "CD730") << "keys enumerate in name order";
    EXPECT_EQ(devices[1].prog_id, "ZRNOPOSCD.SO");
    EXPECT_EQ(devices[1].device_id, 0);
    EXPECT_EQ(devices[1].port, 3);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].target, "CD926");
    const std::string text = format_listing(devices, names, false);
    EXPECT_NE(text.find("CD926  COM3  ZRNOPOSCD.SO"), std::string::npos) << text;
    EXPECT_NE(text.find("logical name Front -> CD926"), std::string::npos) << text;
    EXPECT_NE(format_listing(devices, names, true).find("{\"logical_name\":\"Front\",\"device\":\"CD926\"}"),
              std::string::npos);

    const Resolved front = resolve(reg, "Front");
    EXPECT_TRUE(front.found);
    EXPECT_EQ(front.key, "CD926");
    EXPECT_EQ(front.prog_id, "ZRNOPOSCD.SO");
    const Resolved none = resolve(reg, "CD347");
    EXPECT_FALSE(none.found);
    EXPECT_EQ(none.key, "CD347");

    fakes::FakeRegistry empty;
    list_devices(empty, &devices, &names);
    EXPECT_EQ(format_listing(devices, names, false), "no cash drawer devices configured\n");
}

}  // namespace
}  // namespace zrn::cli
