#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "zrn/fakes/fake_clock.h"
#include "zrn/fakes/fake_files.h"
#include "zrn/fakes/forwarding_files.h"
#include "zrn/trace.h"

namespace zrn {
namespace {

using platform::LocalTime;

TEST(TraceNaming, DateKeyAndFileName) {
    EXPECT_EQ(trace_date_key({2012, 1, 1, 0, 0, 0, 0}), "12000");
    EXPECT_EQ(trace_date_key({2012, 12, 31, 365, 23, 59, 59}), "12365");
    EXPECT_EQ(trace_date_key({2026, 3, 15, 73, 14, 2, 7}), "26073");
    EXPECT_EQ(trace_date_key({2000, 2, 1, 31, 0, 0, 0}), "00031");
    EXPECT_EQ(trace_date_key({2899, 1, 1, 0, 0, 0, 0}), "99000");
    // Outside 2000..2899 the key still carries the year's last two digits.
    EXPECT_EQ(trace_date_key({1999, 1, 1, 0, 0, 0, 0}), "99000");
    EXPECT_EQ(trace_date_key({2905, 1, 1, 0, 0, 0, 0}), "05000");
    EXPECT_EQ(trace_file_name({2012, 1, 1, 0, 0, 0, 0}), "C:\\ZRN\\OPOSTrace12000.log");
}

class TraceFixture : public ::testing::Test {
protected:
    std::string file() { return trace_file_name(clock.local_time()); }
    fakes::FakeFiles files;
    fakes::FakeClock clock;
    TraceLog log{files, clock};
};

TEST_F(TraceFixture, FirstLineCreatesDirectoryFileAndBanner) {
    clock.set_local_time({2026, 1, 5, 4, 9, 3, 7});
    ASSERT_FALSE(files.dir_exists("C:\\ZRN"));
    log.message("> OpenDrawer");
    log.messagef("%s%ld", "< OpenDrawer=", 0L);
    EXPECT_TRUE(files.dir_exists("C:\\ZRN"));
    EXPECT_EQ(files.content("C:\\ZRN\\OPOSTrace26004.log"),
              "ZRN OPOSTrace: v3.3.8.1\r\n"
              "[01/05-09:03:07] > OpenDrawer\r\n"
              "[01/05-09:03:07] < OpenDrawer=0\r\n");
    EXPECT_EQ(files.open_handles(), 0) << "closed after every line";
}

TEST_F(TraceFixture, KindsSeparatorSectionBreakAndUnknown) {
    std::lock_guard lock(log.lock());
    log.set_pending("ignored");
    EXPECT_EQ(log.TraceWrite(kTraceSeparator), 1);
    EXPECT_EQ(log.TraceWrite(kTraceSectionBreak), 1);
    EXPECT_EQ(log.TraceWrite(3), 1);
    EXPECT_EQ(files.content(file()),
              "ZRN OPOSTrace: v3.3.8.1\r\n"
              "- - - - - -\r\n"
              "\r\n" +
                  std::string(49, '_') +
                  "\r\n"
                  "\r\n");
    EXPECT_EQ(log.TraceClose(), 0) << "nothing left open";
}

TEST_F(TraceFixture, NewDayStartsNewFile) {
    clock.set_local_time({2026, 12, 31, 364, 23, 59, 59});
    log.message("a");
    clock.sleep_ms(1000);
    log.message("b");
    EXPECT_EQ(files.content("C:\\ZRN\\OPOSTrace26364.log"), "ZRN OPOSTrace: v3.3.8.1\r\n[12/31-23:59:59] a\r\n");
    EXPECT_EQ(files.content("C:\\ZRN\\OPOSTrace27000.log"), "ZRN OPOSTrace: v3.3.8.1\r\n[01/01-00:00:00] b\r\n");
}

TEST_F(TraceFixture, FileHeldElsewhereOrNoDirectoryDropsTheLine) {
    log.message("first");
    files.hold(file(), true);
    clock.clear_sleeps();
    {
        std::lock_guard lock(log.lock());
        log.set_pending("dropped");
        EXPECT_EQ(log.TraceWrite(kTraceMessage), 0);
    }
    EXPECT_EQ(clock.sleeps(), std::vector<std::uint32_t>(kTraceOpenWaitMs / kTraceOpenRetryMs, kTraceOpenRetryMs))
        << "a held file is waited for within a bound, then the line is dropped";
    clock.clear_sleeps();
    log.message("not waited for");
    EXPECT_TRUE(clock.sleeps().empty()) << "held past the bound: no more waits until it can be opened";
    files.hold(file(), false);
    log.message("third");
    files.hold(file(), true);
    clock.clear_sleeps();
    log.message("waited for again");
    EXPECT_FALSE(clock.sleeps().empty()) << "an open that succeeded ends the spell without waits";
    files.hold(file(), false);
    const std::string c = files.content(file());
    EXPECT_EQ(c.find("dropped"), std::string::npos);
    EXPECT_NE(c.find("third"), std::string::npos);
    EXPECT_EQ(c.find("ZRN OPOSTrace"), c.rfind("ZRN OPOSTrace")) << "one banner only";

    fakes::FakeFiles readonly;
    readonly.deny_directories(true);
    TraceLog other(readonly, clock);
    other.message("nowhere");
    EXPECT_EQ(readonly.file_count(), 0u);
    EXPECT_EQ(readonly.open_handles(), 0);
}

// Another writer holds the file for a moment (its own line): the line waits
// for it instead of being lost.
TEST_F(TraceFixture, FileHeldForAMomentIsWaitedFor) {
    class ReleasedAfter final : public fakes::ForwardingFiles {
    public:
        ReleasedAfter(fakes::FakeFiles& f, std::string path, int opens)
            : ForwardingFiles(f), f_(f), path_(std::move(path)), left_(opens) {}
        Handle open_existing_for_write(const std::string& p, bool* held) override {
            if (--left_ == 0) f_.hold(path_, false);
            return f_.open_existing_for_write(p, held);
        }
        // The other writer creates the file (and holds it) just before we do.
        Handle create_new_for_write(const std::string& p) override {
            if (created_by_other_) {
                created_by_other_ = false;
                f_.put(path_, std::string(kTraceBanner) + "\r\n");
                f_.hold(path_, true);
            }
            return f_.create_new_for_write(p);
        }
        void create_race() { created_by_other_ = true; }

    private:
        fakes::FakeFiles& f_;
        std::string path_;
        int left_;
        bool created_by_other_ = false;
    };
    log.message("first");
    files.hold(file(), true);
    ReleasedAfter released(files, file(), 3);
    TraceLog other(released, clock);
    clock.clear_sleeps();
    other.message("second");
    EXPECT_EQ(clock.sleeps(), (std::vector<std::uint32_t>{kTraceOpenRetryMs, kTraceOpenRetryMs}));
    const std::string c = files.content(file());
    EXPECT_NE(c.find("] first\r\n["), std::string::npos) << c;
    EXPECT_NE(c.find("] second\r\n"), std::string::npos) << c;
    EXPECT_EQ(files.open_handles(), 0);

    // The day's first line: the other writer creates the file between our
    // failed open and our create, and holds it for a moment.
    clock.set_local_time({2027, 1, 1, 0, 0, 0, 0});
    ReleasedAfter racing(files, file(), 3);
    racing.create_race();
    TraceLog third(racing, clock);
    third.message("third");
    EXPECT_EQ(files.content(file()), "ZRN OPOSTrace: v3.3.8.1\r\n[01/01-00:00:00] third\r\n") << "one banner, no line lost";
    EXPECT_EQ(files.open_handles(), 0);
}

// Two writers start the day's file in a fresh folder: the other one makes the
// folder between our failed create and our own attempt to make it, and has
// not created the file yet. The line is still written, under one banner.
TEST_F(TraceFixture, FolderMadeByAnotherWriterMeanwhileLosesNoLine) {
    class FolderRace final : public fakes::ForwardingFiles {
    public:
        FolderRace(fakes::FakeFiles& f, std::string dir) : ForwardingFiles(f), f_(f), dir_(std::move(dir)) {}
        bool create_directory(const std::string& p) override {
            ++calls;
            f_.create_directory(dir_);  // the other writer's
            return f_.create_directory(p);
        }
        int calls = 0;

    private:
        fakes::FakeFiles& f_;
        std::string dir_;
    };
    clock.set_local_time({2026, 1, 5, 4, 9, 3, 7});
    FolderRace racing(files, "C:\\ZRN");
    TraceLog first(racing, clock);
    first.message("first");
    EXPECT_EQ(racing.calls, 1);
    EXPECT_EQ(files.content(file()), "ZRN OPOSTrace: v3.3.8.1\r\n[01/05-09:03:07] first\r\n");
    EXPECT_TRUE(clock.sleeps().empty()) << "nothing held, nothing waited for";

    // A folder that cannot be made still drops the line at once.
    clock.set_local_time({2026, 1, 6, 5, 9, 3, 7});
    fakes::FakeFiles bare;
    bare.deny_directories(true);
    TraceLog denied(bare, clock);
    denied.message("lost");
    EXPECT_EQ(bare.file_count(), 0u);
    EXPECT_TRUE(clock.sleeps().empty());
    EXPECT_EQ(bare.open_handles(), 0);
}

TEST_F(TraceFixture, LongMessagesAreBoundedAndFormatsStayIntact) {
    log.message(std::string(2000, 'x'));
    log.messagef("%s,%s,%ld", "OnStatusCapture=", "CD730", 2L);
    const std::string c = files.content(file());
    EXPECT_NE(c.find("] " + std::string(TraceLog::kPendingSize - 1, 'x') + "\r\n"), std::string::npos);
    EXPECT_NE(c.find("] OnStatusCapture=,CD730,2\r\n"), std::string::npos);
}

// A clock whose every reading is a second later: the file name and the time
// stamp come from two readings.
class TickingClock final : public platform::Clock {
public:
    void sleep_ms(std::uint32_t) override {}
    std::uint64_t monotonic_ms() override { return 0; }
    LocalTime local_time() override {
        const int s = second_++;
        return s == 0 ? LocalTime{2026, 12, 31, 364, 23, 59, 59} : LocalTime{2027, 1, 1, 0, 0, 0, 0};
    }

private:
    int second_ = 0;
};

TEST(TraceMidnight, StampOfTheNewDayInTheOldDaysFile) {
    fakes::FakeFiles files;
    TickingClock clock;
    TraceLog log(files, clock);
    log.message("late");
    EXPECT_EQ(files.content("C:\\ZRN\\OPOSTrace26364.log"), "ZRN OPOSTrace: v3.3.8.1\r\n[01/01-00:00:00] late\r\n");
}

TEST(TraceThreads, ConcurrentWritersNeverSplitALine) {
    fakes::FakeFiles files;
    fakes::FakeClock clock;
    TraceLog log(files, clock);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) log.messagef("thread%d line%02d", t, i);
        });
    for (auto& th : threads) th.join();
    const std::string c = files.content(trace_file_name(clock.local_time()));
    const std::regex line(R"(\[\d\d/\d\d-\d\d:\d\d:\d\d\] thread\d line\d\d)");
    int lines = 0;
    std::size_t pos = c.find("\r\n") + 2;  // after the banner
    for (std::size_t end; (end = c.find("\r\n", pos)) != std::string::npos; pos = end + 2, ++lines)
        EXPECT_TRUE(std::regex_match(c.substr(pos, end - pos), line)) << c.substr(pos, end - pos);
    EXPECT_EQ(lines, 200);
}

TEST(TraceSwitchLevels, AllOnlyAtOneErrorsAtAnyPositive) {
    EXPECT_FALSE(TraceSwitch{0}.error_lines());
    EXPECT_FALSE(TraceSwitch{-3}.error_lines());
    EXPECT_FALSE(TraceSwitch{-3}.every_line());
    EXPECT_TRUE(TraceSwitch{1}.every_line());
    EXPECT_TRUE(TraceSwitch{2}.error_lines());
    EXPECT_FALSE(TraceSwitch{2}.every_line());
}

}  // namespace
}  // namespace zrn
