#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "files_contract.h"
#include "registry_contract.h"
#include "zrn/fakes/fake_clock.h"
#include "zrn/fakes/fake_files.h"
#include "zrn/fakes/fake_registry.h"
#include "zrn/fakes/fake_threads.h"
#include "zrn/fakes/key_values.h"
#include "zrn/text.h"

namespace zrn::testing {
namespace {

INSTANTIATE_TEST_SUITE_P(Fake, RegistryContract,
                         ::testing::Values(RegistryImpl{"fake", [] { return std::make_unique<fakes::FakeRegistry>(); }}),
                         [](const auto& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(Fake, FilesContract,
                         ::testing::Values(FilesImpl{"fake", [] { return std::make_unique<fakes::FakeFiles>(); }}),
                         [](const auto& info) { return info.param.name; });

TEST(FakeRegistry, ValuesEnumerateInCreationOrderAndHandlesAreCounted) {
    fakes::FakeRegistry r;
    platform::RegKey k = 0;
    ASSERT_EQ(r.create_key(platform::kHklm, "SOFTWARE\\X", "", &k, nullptr), platform::kRegOk);
    for (const char* n : {"z", "a", "m"}) platform::set_sz(r, k, n, n);
    platform::set_sz(r, k, "A", "again");  // overwrite keeps the slot
    std::vector<std::string> names;
    std::string n;
    for (std::uint32_t i = 0; r.enum_value(k, i, &n, nullptr) == platform::kRegOk; ++i) names.push_back(n);
    EXPECT_EQ(names, (std::vector<std::string>{"z", "a", "m"}));
    EXPECT_EQ(r.open_handles(), 1);
    r.close_key(k);
    EXPECT_EQ(r.open_handles(), 0);

    // A handle to a deleted key reports it.
    ASSERT_EQ(r.create_key(platform::kHklm, "SOFTWARE\\Y", "", &k, nullptr), platform::kRegOk);
    ASSERT_EQ(r.delete_key(platform::kHklm, "SOFTWARE\\Y"), platform::kRegOk);
    EXPECT_EQ(platform::set_sz(r, k, "v", "x"), platform::kRegKeyDeleted);
    r.close_key(k);
    EXPECT_EQ(r.enum_key(0x12345, 0, &n), platform::kRegInvalidHandle);
}

TEST(FakeRegistry, KeyValuesReadsEveryValueInOrderAndClosesTheKey) {
    fakes::FakeRegistry r;
    EXPECT_FALSE(fakes::key_values(r, "SOFTWARE\\Missing").has_value());
    platform::RegKey k = 0;
    ASSERT_EQ(r.create_key(platform::kHklm, "SOFTWARE\\V", "", &k, nullptr), platform::kRegOk);
    ASSERT_EQ(platform::set_sz(r, k, "name", "Front"), platform::kRegOk);
    ASSERT_EQ(platform::set_dword(r, k, "Port", 3), platform::kRegOk);
    ASSERT_EQ(r.set_value(k, "", platform::RegData{3, {0x41, 0x00, 0x42}}), platform::kRegOk);
    r.close_key(k);

    const auto values = fakes::key_values(r, "software\\v");
    ASSERT_TRUE(values.has_value());
    ASSERT_EQ(values->size(), 3u);
    EXPECT_EQ((*values)[0].name, "name");
    EXPECT_EQ((*values)[0].data.type, kRegTypeSz);
    EXPECT_EQ((*values)[0].data.bytes, (std::vector<std::uint8_t>{'F', 'r', 'o', 'n', 't', 0}));
    EXPECT_EQ((*values)[1].name, "Port");
    EXPECT_EQ((*values)[1].data.type, kRegTypeDword);
    EXPECT_EQ((*values)[1].data.bytes, (std::vector<std::uint8_t>{3, 0, 0, 0}));
    EXPECT_EQ((*values)[2].name, "");
    EXPECT_EQ((*values)[2].data.bytes, (std::vector<std::uint8_t>{0x41, 0x00, 0x42}));
    EXPECT_EQ(r.open_handles(), 0);

    EXPECT_TRUE(fakes::key_values(r, "SOFTWARE")->empty()) << "a key with subkeys only";
}

TEST(FakeClock, InstantModeAdvancesByEverySleep) {
    fakes::FakeClock c;
    c.set_local_time({2012, 12, 31, 365, 23, 59, 59});
    c.sleep_ms(250);
    c.sleep_ms(750);
    EXPECT_EQ(c.now(), 1000u);
    EXPECT_EQ(c.sleeps(), (std::vector<std::uint32_t>{250, 750}));
    const auto t = c.local_time();
    EXPECT_EQ((std::vector<int>{t.year, t.month, t.day, t.yday, t.hour, t.minute, t.second}),
              (std::vector<int>{2013, 1, 1, 0, 0, 0, 0}))
        << "year, month, day, day of the year, hour, minute, second";
    c.set_local_time({2012, 2, 29, 0, 9, 3, 7});
    EXPECT_EQ(c.local_time().yday, 59);
    EXPECT_EQ(c.local_time().minute, 3);
}

TEST(FakeClock, SteppedModeHoldsSleepersUntilAdvanced) {
    fakes::FakeClock c;
    c.set_stepped(true);
    std::atomic<int> woke{0};
    std::thread t([&] {
        c.sleep_ms(100);
        woke = 1;
        c.sleep_ms(50);
        woke = 2;
    });
    ASSERT_TRUE(c.wait_for_sleepers(1));
    c.advance(99);
    EXPECT_EQ(woke.load(), 0);
    c.advance(1);
    ASSERT_TRUE(c.wait_for_sleepers(1));  // the second sleep
    EXPECT_EQ(woke.load(), 1);
    EXPECT_TRUE(c.advance_to_next_wakeup());
    t.join();
    EXPECT_EQ(woke.load(), 2);
    EXPECT_EQ(c.now(), 150u);
    EXPECT_FALSE(c.advance_to_next_wakeup());
}

TEST(PlatformCalendar, DayOfYear) {
    EXPECT_EQ(platform::day_of_year(2012, 1, 1), 0);
    EXPECT_EQ(platform::day_of_year(2012, 12, 31), 365);
    EXPECT_EQ(platform::day_of_year(2013, 12, 31), 364);
    EXPECT_EQ(platform::day_of_year(1900, 3, 1), 59);  // 1900 was no leap year
    EXPECT_EQ(platform::day_of_year(2000, 3, 1), 60);
}

TEST(FakeThreads, DeferredRunsInOrderAndCanFail) {
    fakes::FakeThreads th;
    std::vector<int> order;
    th.start([&] {
        order.push_back(1);
        th.start([&] { order.push_back(3); });
    });
    th.start([&] { order.push_back(2); });
    th.fail_next(1);
    EXPECT_FALSE(th.start([&] { order.push_back(99); }));
    EXPECT_EQ(th.pending(), 2);
    EXPECT_EQ(th.run_pending(), 3);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(th.started(), 3);
}

TEST(FakeFiles, ExclusiveOpensAndDirectories) {
    fakes::FakeFiles f;
    EXPECT_EQ(f.create_new_for_write("C:\\ZRN\\a.log"), platform::Files::kInvalid) << "no directory yet";
    EXPECT_TRUE(f.create_directory("C:\\ZRN"));
    EXPECT_FALSE(f.create_directory("c:\\zrn"));
    const auto h = f.create_new_for_write("C:\\ZRN\\a.log");
    ASSERT_NE(h, platform::Files::kInvalid);
    bool held = false;
    EXPECT_EQ(f.open_existing_for_write("C:\\zrn\\A.LOG", &held), platform::Files::kInvalid) << "shared with nobody";
    EXPECT_TRUE(held);
    f.write(h, "abc", 3);
    f.close(h);
    const auto h2 = f.open_existing_for_write("C:\\zrn\\A.LOG", &held);
    ASSERT_NE(h2, platform::Files::kInvalid);
    EXPECT_FALSE(held);
    EXPECT_EQ(f.open_existing_for_write("C:\\zrn\\missing.log", &held), platform::Files::kInvalid);
    EXPECT_FALSE(held) << "missing is not held";
    f.seek_end(h2);
    f.write(h2, "de", 2);
    f.close(h2);
    EXPECT_EQ(f.content("C:\\ZRN\\a.log"), "abcde");
    EXPECT_EQ(f.create_new_for_write("C:\\ZRN\\a.log"), platform::Files::kInvalid) << "exists";
    EXPECT_EQ(f.open_handles(), 0);
}

}  // namespace
}  // namespace zrn::testing
