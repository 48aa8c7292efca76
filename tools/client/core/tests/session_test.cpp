#include "zrn/cli/session.h"

#include <gtest/gtest.h>

#include <map>

#include "device_entries.h"
#include "zrn/fakes/fake_clock.h"
#include "zrn/fakes/fake_registry.h"
#include "zrn/opos.h"

namespace zrn::cli {
namespace {

// A Service Object that records the calls made to it and answers from a
// script.
class FakeServiceObject final : public ServiceObjectPort {
public:
    std::string create_error;
    std::int32_t open_rc = OPOS_SUCCESS;
    std::int32_t version = 1013001;
    bool property_fails = false;
    std::map<std::int32_t, std::int32_t> numbers;
    std::int32_t rc = OPOS_SUCCESS, rce = 0;
    std::vector<std::string> calls;

    std::string create(const std::string& prog_id) override {
        calls.push_back("create " + prog_id);
        created_ = create_error.empty();
        return create_error;
    }
    bool created() const override { return created_; }
    void release_object() override {
        if (created_) calls.push_back("release_object");
        created_ = false;
    }
    std::int32_t open_service(const std::string& key) override {
        calls.push_back("open " + key);
        return open_rc;
    }
    std::int32_t claim(std::int32_t t) override { return note("claim " + std::to_string(t)); }
    std::int32_t release_device() override { return note("release"); }
    std::int32_t close_service() override { return note("close"); }
    std::int32_t open_drawer() override { return note("fire"); }
    std::int32_t wait_for_drawer_close(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) override {
        return note("wait " + std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(c) + " " +
                    std::to_string(d));
    }
    std::int32_t check_health(std::int32_t level) override { return note("health " + std::to_string(level)); }
    std::int32_t direct_io(std::int32_t command, std::int32_t* data, std::string* text) override {
        note("directio " + std::to_string(command) + " " + std::to_string(*data) + " " + *text);
        *data += 1;
        *text += "!";
        return rc;
    }
    std::int32_t get_number(std::int32_t index, bool* ok) override {
        *ok = !property_fails;
        if (index == PIDX_ServiceObjectVersion) return version;
        return numbers[index];
    }
    void set_number(std::int32_t index, std::int32_t value) override {
        calls.push_back("set " + std::to_string(index) + "=" + std::to_string(value));
    }
    std::string get_string(std::int32_t index, bool* ok) override {
        *ok = !property_fails;
        return "text " + std::to_string(index);
    }
    std::int32_t result_code() override { return rc; }
    std::int32_t result_code_extended() override { return rce; }

private:
    std::int32_t note(const std::string& call) {
        calls.push_back(call);
        return rc;
    }
    bool created_ = false;
};

Step step(Verb verb, std::vector<std::int32_t> numbers = {}, std::string text = {}) {
    Step s;
    s.verb = verb;
    s.numbers = std::move(numbers);
    s.text = std::move(text);
    return s;
}

std::string field(const StepReport& r, const std::string& name) {
    for (const auto& [n, v] : r.fields)
        if (n == name) return v;
    return "(none)";
}

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        so::testing::write_device(reg, "CD926", 0, 3);
        so::testing::write_logical(reg, "Front", "CD926");
    }
    fakes::FakeRegistry reg;
    fakes::FakeClock clock;
    FakeServiceObject so;
    Session session{reg, so, clock};
};

TEST_F(SessionTest, OpensByLogicalNameAndCallsAsAControlObjectDoes) {
    StepReport r = session.run(step(Verb::Open, {}, "Front"));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.step, "open");
    EXPECT_EQ(r.device, "CD926");
    EXPECT_EQ(field(r, "ProgID"), "ZRNOPOSCD.SO");
    EXPECT_EQ(field(r, "ServiceObjectVersion"), "1013001");

    EXPECT_TRUE(session.run(step(Verb::Claim, {1000})).ok);
    session.run(step(Verb::Enable));
    session.run(step(Verb::Freeze));
    so.numbers[PIDX_DrawerOpened] = 1;
    r = session.run(step(Verb::Status));
    EXPECT_EQ(field(r, "DrawerOpened"), "1");
    EXPECT_EQ(r.device, "CD926");
    session.run(step(Verb::Wait, {1000, 1000, 500, 1000}));
    r = session.run(step(Verb::DirectIO, {7, 3}, "ESC"));
    EXPECT_EQ(field(r, "Data"), "4");
    EXPECT_EQ(field(r, "Text"), "ESC!");
    r = session.run(step(Verb::Health, {1}));
    EXPECT_EQ(field(r, "CheckHealthText"), "text " + std::to_string(PIDX_CheckHealthText));
    session.run(step(Verb::Close));
    EXPECT_EQ(so.calls, (std::vector<std::string>{"create ZRNOPOSCD.SO", "open CD926", "claim 1000",
                                                  "set " + std::to_string(PIDX_DeviceEnabled) + "=1",
                                                  "set " + std::to_string(PIDX_FreezeEvents) + "=1",
                                                  "wait 1000 1000 500 1000", "directio 7 3 ESC", "health 1", "close",
                                                  "release_object"}));
    // After the close, a call is answered as before any open.
    r = session.run(step(Verb::Fire));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.rc, OPOS_E_CLOSED);
    EXPECT_EQ(r.device, "");
}

TEST_F(SessionTest, FailedOpensLetTheObjectGoAndSayWhy) {
    StepReport r = session.run(step(Verb::Open, {}, "CD347"));
    EXPECT_EQ(r.rc, OPOS_E_NOEXIST);
    EXPECT_EQ(field(r, "error"), "no device entry CD347");
    EXPECT_TRUE(so.calls.empty());

    so.create_error = "the Service Object cannot be created: 0x800401F3";
    r = session.run(step(Verb::Open, {}, "CD926"));
    EXPECT_EQ(r.rc, OPOS_E_NOSERVICE);
    EXPECT_EQ(field(r, "error"), so.create_error);
    EXPECT_FALSE(so.created());

    so.create_error.clear();
    so.open_rc = OPOS_E_NOEXIST;
    so.rce = 111;
    so.calls.clear();
    r = session.run(step(Verb::Open, {}, "CD926"));
    EXPECT_EQ(r.rc, OPOS_E_NOEXIST);
    EXPECT_EQ(r.rce, 111);
    EXPECT_EQ(so.calls, (std::vector<std::string>{"create ZRNOPOSCD.SO", "open CD926", "release_object"}))
        << "a failed open is not closed";

    // A Service Object of another major version is closed and let go.
    so.open_rc = OPOS_SUCCESS;
    so.version = 2000001;
    so.calls.clear();
    r = session.run(step(Verb::Open, {}, "CD926"));
    EXPECT_EQ(r.rc, OPOS_E_NOSERVICE);
    EXPECT_EQ(field(r, "error"), "unsupported Service Object version");
    EXPECT_EQ(so.calls, (std::vector<std::string>{"create ZRNOPOSCD.SO", "open CD926", "close", "release_object"}));
    EXPECT_FALSE(session.run(step(Verb::Claim, {0})).ok);
}

TEST_F(SessionTest, CapsFailWhenAPropertyCannotBeReadAndTimeComesFromTheClock) {
    ASSERT_TRUE(session.run(step(Verb::Open, {}, "CD926")).ok);
    StepReport r = session.run(step(Verb::Caps));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(field(r, "DeviceName"), "text " + std::to_string(PIDX_DeviceName));
    so.property_fails = true;
    r = session.run(step(Verb::Caps));
    EXPECT_EQ(r.rc, OPOS_E_NOSERVICE);
    EXPECT_EQ(field(r, "error"), "a property could not be read");
    so.property_fails = false;

    r = session.run(step(Verb::Watch, {250}));
    EXPECT_EQ(field(r, "ms"), "250");
    r = session.run(step(Verb::Sleep, {-5}));
    EXPECT_EQ(field(r, "ms"), "0");
    EXPECT_EQ(clock.sleeps(), (std::vector<std::uint32_t>{250, 0}));

    // Letting go closes the open device first.
    so.calls.clear();
    session.let_go();
    EXPECT_EQ(so.calls, (std::vector<std::string>{"close", "release_object"}));
}

}  // namespace
}  // namespace zrn::cli
