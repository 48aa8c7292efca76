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

TEST(TraceNaming, AgeOfADailyFileFromItsName) {
    const LocalTime today{2026, 1, 2, 1, 10, 0, 0};
    int age = -1;
    EXPECT_TRUE(trace_file_age("OPOSTrace26001.log", today, &age));
    EXPECT_EQ(age, 0);
    EXPECT_TRUE(trace_file_age("opostrace26000.LOG", today, &age)) << "names compare in any case";
    EXPECT_EQ(age, 1);
    EXPECT_TRUE(trace_file_age("OPOSTrace25364.log", today, &age)) << "31 December of the year before";
    EXPECT_EQ(age, 2);
    EXPECT_TRUE(trace_file_age("OPOSTrace24365.log", today, &age)) << "31 December of a leap year";
    EXPECT_EQ(age, 367);
    EXPECT_TRUE(trace_file_age("OPOSTrace27001.log", today, &age)) << "a key after this year's is a century old";
    EXPECT_EQ(age, 36160);
    for (const char* other : {"OPOSTrace25365.log",  // no 366th day in 2025
                              "OPOSTrace26002.log",  // tomorrow
                              "OPOSTrace2600.log", "OPOSTrace260011.log", "OPOSTrace26a01.log", "OPOSTrace26001.log.bak",
                              "OPOSTrace26001.txt", "XOPOSTrace6001.log", "notes.txt", ""})
        EXPECT_FALSE(trace_file_age(other, today, &age)) << other;
    EXPECT_TRUE(trace_file_age("OPOSTrace24365.log", {2025, 1, 1, 0, 0, 0, 0}, &age));
    EXPECT_EQ(age, 1);
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

// TraceKeepDays: the writer that starts a day deletes the daily files more
// than that many days old, and nothing else in the folder.
TEST_F(TraceFixture, KeepDaysDeletesOnlyOldDailyFilesWhenTheDayStarts) {
    // Deleted on 3 January 2026 with three days kept: 4 to 7 days old.
    const std::vector<std::string> old = {"OPOSTrace25360.log", "OPOSTRACE25361.LOG", "opostrace25362.log",
                                          "OPOSTrace25363.log"};
    const std::vector<std::string> kept = {
        "OPOSTrace25364.log",  // three days old
        "OPOSTrace26000.log",  // two
        "OPOSTrace26300.log",  // a day of this year not yet come (a clock set back)
        "OPOSTrace25365.log",  // no day of 2025
        "OPOSTrace25360.log.bak", "OPOSTrace2536.log", "notes.txt", "OPOSTrace25360.log.txt", "USB730SO.xml"};
    for (const auto& n : old) files.put("C:\\ZRN\\" + n, "old");
    for (const auto& n : kept) files.put("C:\\ZRN\\" + n, "keep");
    files.put("C:\\ZRN\\OPOSTrace24200.log", "old");
    files.hold("C:\\ZRN\\OPOSTrace24200.log", true);       // a viewer holds it: it stays, nothing breaks
    files.create_directory("C:\\ZRN\\OPOSTrace25001.log");  // a folder of that name is no daily file
    clock.set_local_time({2026, 1, 2, 1, 8, 0, 0});

    log.message("keep everything");  // no retention set: the day starts, nothing goes
    for (const auto& n : old) EXPECT_TRUE(files.exists("C:\\ZRN\\" + n)) << n;

    log.set_keep_days(3);
    log.message("same day");  // the day's file exists: the day was started already
    for (const auto& n : old) EXPECT_TRUE(files.exists("C:\\ZRN\\" + n)) << n;

    clock.set_local_time({2026, 1, 3, 2, 8, 0, 0});
    log.message("next day");
    for (const auto& n : old) EXPECT_FALSE(files.exists("C:\\ZRN\\" + n)) << n;
    for (const auto& n : kept) EXPECT_TRUE(files.exists("C:\\ZRN\\" + n)) << n;
    EXPECT_TRUE(files.exists("C:\\ZRN\\OPOSTrace26001.log")) << "yesterday's";
    EXPECT_TRUE(files.exists("C:\\ZRN\\OPOSTrace24200.log")) << "held: not deleted";
    EXPECT_TRUE(files.dir_exists("C:\\ZRN\\OPOSTrace25001.log"));
    EXPECT_EQ(files.content("C:\\ZRN\\OPOSTrace26002.log"), "ZRN OPOSTrace: v3.3.8.1\r\n[01/03-08:00:00] next day\r\n");
    EXPECT_EQ(files.open_handles(), 0);

    // Zero or less keeps everything again.
    files.hold("C:\\ZRN\\OPOSTrace24200.log", false);
    for (const int keep : {0, -5}) {
        log.set_keep_days(keep);
        clock.sleep_ms(24 * 3600 * 1000);
        log.message("kept");
        EXPECT_TRUE(files.exists("C:\\ZRN\\OPOSTrace24200.log")) << keep;
    }
}

// A junction or symbolic link in the folder's or the file's place (made by
// another user) is never written through: the line is dropped.
TEST_F(TraceFixture, LinkInPlaceOfTheFolderOrFileIsNeverWrittenThrough) {
    clock.set_local_time({2026, 1, 5, 4, 9, 3, 7});
    files.make_link("C:\\ZRN", true);
    clock.clear_sleeps();
    log.message("redirected");
    EXPECT_EQ(files.file_count(), 0u) << "no file made behind the link";
    EXPECT_TRUE(clock.sleeps().empty()) << "dropped at once";

    fakes::FakeFiles other;
    other.make_link("C:\\ZRN\\OPOSTrace26004.log", false);
    TraceLog writer(other, clock);
    writer.message("into a linked file");
    EXPECT_EQ(other.content("C:\\ZRN\\OPOSTrace26004.log"), "") << "the link's target is never written";
    EXPECT_EQ(other.open_handles(), 0);
    other.remove("C:\\ZRN\\OPOSTrace26004.log");
    writer.message("a plain file again");
    EXPECT_EQ(other.content("C:\\ZRN\\OPOSTrace26004.log"),
              "ZRN OPOSTrace: v3.3.8.1\r\n[01/05-09:03:07] a plain file again\r\n");
}

// The installer gives the trace folder these rights: a POS application's
// account may write its trace and delete old files, but can neither remove
// nor rename the folder (to put a link in its place) nor change its rights.
TEST(TraceFolder, UsersWriteTheTraceButCannotReplaceTheFolder) {
    const std::string sddl(kTraceFolderSecurity);
    ASSERT_TRUE(sddl.starts_with("D:P(")) << "protected: nothing inherited from the drive's root";
    struct Ace {
        std::string flags;
        std::uint32_t rights;
        std::string who;
    };
    std::vector<Ace> aces;
    const std::regex ace(R"(\(A;([A-Z]*);(FA|0x[0-9a-f]+);;;([A-Z]+)\))");
    std::string rest = sddl.substr(3);
    for (std::smatch m; std::regex_search(rest, m, ace) && m.position(0) == 0; rest = m.suffix())
        aces.push_back({m[1], m[2] == "FA" ? 0x1F01FFu : static_cast<std::uint32_t>(std::stoul(m[2], nullptr, 16)), m[3]});
    ASSERT_EQ(rest, "") << "every entry an allow entry: " << sddl;
    constexpr std::uint32_t kList = 0x1, kAddFile = 0x2, kAddFolder = 0x4, kTraverse = 0x20, kDeleteChild = 0x40,
                            kWriteAttributes = 0x100, kWriteEa = 0x10, kDelete = 0x10000, kWriteDac = 0x40000,
                            kWriteOwner = 0x80000, kWriteData = 0x2, kAppend = 0x4, kRead = 0x1;
    std::uint32_t users_folder = 0, users_files = 0;
    for (const Ace& a : aces) {
        if (a.who == "SY" || a.who == "BA") {
            EXPECT_EQ(a.rights, 0x1F01FFu) << a.who;
            EXPECT_EQ(a.flags, "OICI") << a.who;
            continue;
        }
        ASSERT_EQ(a.who, "AU") << "no one else has rights: " << sddl;
        EXPECT_EQ(a.flags.find("CI"), std::string::npos) << "no rights for folders inside: users make none";
        if (a.flags.find("IO") == std::string::npos) users_folder |= a.rights;
        if (a.flags.find("OI") != std::string::npos) users_files |= a.rights;
    }
    EXPECT_EQ(users_folder & (kList | kAddFile | kTraverse), kList | kAddFile | kTraverse);
    EXPECT_EQ(users_folder & (kDelete | kDeleteChild | kAddFolder | kWriteDac | kWriteOwner | kWriteAttributes | kWriteEa),
              0u);
    EXPECT_EQ(users_files & (kRead | kWriteData | kAppend | kDelete), kRead | kWriteData | kAppend | kDelete);
    EXPECT_EQ(users_files & (kWriteDac | kWriteOwner), 0u);
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
