#include "files_contract.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>

namespace zrn::testing {

using platform::Files;

void FilesContract::SetUp() {
    files_ = GetParam().make();
    std::string parent = "C:";
    if (GetParam().on_disk) {
        parent = std::filesystem::temp_directory_path().string();
        while (!parent.empty() && (parent.back() == '\\' || parent.back() == '/')) parent.pop_back();
    }
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    folder_ = parent + "\\zrnfiles" + std::to_string(stamp) + "_" + std::to_string(counter++);
    ASSERT_TRUE(files_->create_directory(folder_)) << folder_;
}

void FilesContract::TearDown() {
    if (GetParam().on_disk && !folder_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }
}

void FilesContract::put(const std::string& name, const std::string& content) {
    const Files::Handle h = files_->create_always_read_write(path(name), nullptr);
    ASSERT_NE(h, Files::kInvalid) << path(name);
    files_->write(h, content.data(), content.size());
    files_->close(h);
}

std::string FilesContract::content(const std::string& name) {
    const Files::Handle h = files_->open_existing_read_write(path(name), nullptr);
    if (h == Files::kInvalid) return "<not opened>";
    std::string all;
    char buf[7];  // small on purpose: several reads per file
    std::size_t got = 0;
    while (files_->read(h, buf, sizeof buf, &got) && got > 0) all.append(buf, got);
    files_->close(h);
    return all;
}

TEST_P(FilesContract, CreateReplaceAndBoundedReads) {
    Files& f = *files_;
    platform::FileStatus st = platform::kFileOk;
    EXPECT_EQ(f.open_existing_read_write(path("cfg.xml"), &st), Files::kInvalid) << "missing file";
    EXPECT_TRUE(platform::file_missing(st)) << st;
    EXPECT_EQ(f.open_existing_read_write(folder() + "\\NoFolder\\cfg.xml", &st), Files::kInvalid);
    EXPECT_TRUE(platform::file_missing(st)) << "a missing folder is missing too: " << st;

    put("cfg.xml", "hello world");
    const Files::Handle h = f.open_existing_read_write(path("CFG.XML"), &st);
    EXPECT_EQ(st, platform::kFileOk);
    ASSERT_NE(h, Files::kInvalid) << "names compare without regard to case";
    char buf[32] = {};
    std::size_t got = 99;
    ASSERT_TRUE(f.read(h, buf, 4, &got));
    EXPECT_EQ(std::string(buf, got), "hell");
    ASSERT_TRUE(f.read(h, buf, sizeof buf, &got));
    EXPECT_EQ(std::string(buf, got), "o world");
    ASSERT_TRUE(f.read(h, buf, sizeof buf, &got));
    EXPECT_EQ(got, 0u) << "end of file";
    f.close(h);

    // Replacing empties the file: no tail of the longer old content remains.
    put("cfg.xml", "xy");
    EXPECT_EQ(content("cfg.xml"), "xy");
    put("empty.xml", "");
    EXPECT_EQ(content("empty.xml"), "");

    // Creation needs the folder; a folder is made once.
    const std::string sub = folder() + "\\Shared";
    EXPECT_EQ(f.create_always_read_write(sub + "\\cfg.xml", &st), Files::kInvalid);
    EXPECT_TRUE(platform::file_missing(st)) << st;
    EXPECT_TRUE(f.create_directory(sub));
    EXPECT_FALSE(f.create_directory(sub)) << "exists already";
    const Files::Handle c = f.create_always_read_write(sub + "\\cfg.xml", &st);
    ASSERT_NE(c, Files::kInvalid);
    EXPECT_EQ(st, platform::kFileOk);
    f.close(c);
    EXPECT_EQ(f.create_always_read_write(sub, &st), Files::kInvalid) << "a folder is no file";
    EXPECT_FALSE(platform::file_missing(st) || platform::file_held(st)) << st;
}

TEST_P(FilesContract, ExclusiveOpensKeepOthersOut) {
    Files& f = *files_;
    put("cfg.xml", "keep");
    const Files::Handle first = f.open_existing_read_write(path("cfg.xml"), nullptr);
    ASSERT_NE(first, Files::kInvalid);

    // Held is told apart from missing, so a held file is never made anew.
    platform::FileStatus st = platform::kFileOk;
    EXPECT_EQ(f.open_existing_read_write(path("cfg.xml"), &st), Files::kInvalid);
    EXPECT_TRUE(platform::file_held(st)) << st;
    EXPECT_EQ(f.create_always_read_write(path("cfg.xml"), &st), Files::kInvalid) << "no replacing a held file";
    EXPECT_TRUE(platform::file_held(st)) << st;
    bool held = false;
    EXPECT_EQ(f.open_existing_for_write(path("cfg.xml"), &held), Files::kInvalid);
    EXPECT_TRUE(held);
    put("cfg.new", "other");
    const platform::FileStatus replaced = f.replace(path("cfg.new"), path("cfg.xml"));
    EXPECT_TRUE(platform::file_held(replaced)) << "no replacing it in one step either: " << replaced;
    EXPECT_TRUE(platform::file_held(f.remove(path("cfg.xml"))));
    f.close(first);

    EXPECT_EQ(content("cfg.xml"), "keep") << "the refused create emptied nothing";

    // A file being created is held as well.
    const Files::Handle made = f.create_always_read_write(path("new.xml"), nullptr);
    ASSERT_NE(made, Files::kInvalid);
    EXPECT_EQ(f.open_existing_read_write(path("new.xml"), nullptr), Files::kInvalid);
    f.close(made);
    const Files::Handle again = f.open_existing_read_write(path("new.xml"), nullptr);
    EXPECT_NE(again, Files::kInvalid);
    f.close(again);
}

TEST_P(FilesContract, WholeFilesAreReplacedInOneStepAndEveryWriteIsChecked) {
    Files& f = *files_;
    put("cfg.xml", "old content");
    // Through a temporary file: flushed, then in the file's place.
    EXPECT_EQ(platform::replace_file_content(f, path("cfg.xml"), "new"), platform::kFileOk);
    EXPECT_EQ(content("cfg.xml"), "new");
    EXPECT_EQ(content("cfg.xml.new"), "<not opened>") << "no temporary file is left";
    EXPECT_EQ(platform::replace_file_content(f, path("made.xml"), "first"), platform::kFileOk) << "a new file";
    EXPECT_EQ(content("made.xml"), "first");

    // A file another program holds keeps its content, and no temporary file stays.
    const Files::Handle held = f.open_existing_read_write(path("cfg.xml"), nullptr);
    ASSERT_NE(held, Files::kInvalid);
    EXPECT_TRUE(platform::file_held(platform::replace_file_content(f, path("cfg.xml"), "lost?")));
    f.close(held);
    EXPECT_EQ(content("cfg.xml"), "new");
    EXPECT_EQ(content("cfg.xml.new"), "<not opened>");

    // Reading back: bounded, telling a longer file from one that fits.
    std::string text;
    bool longer = true;
    EXPECT_EQ(platform::read_file_content(f, path("cfg.xml"), 3, &text, &longer), platform::kFileOk);
    EXPECT_EQ(text, "new");
    EXPECT_FALSE(longer);
    EXPECT_EQ(platform::read_file_content(f, path("cfg.xml"), 2, &text, &longer), platform::kFileOk);
    EXPECT_EQ(text, "ne");
    EXPECT_TRUE(longer);
    EXPECT_TRUE(platform::file_missing(platform::read_file_content(f, path("none.xml"), 9, &text)));

    EXPECT_EQ(f.remove(path("made.xml")), platform::kFileOk);
    EXPECT_TRUE(platform::file_missing(f.remove(path("made.xml"))));
    EXPECT_TRUE(platform::file_missing(f.replace(path("none.xml"), path("cfg.xml"))));
    EXPECT_EQ(content("cfg.xml"), "new");
    EXPECT_FALSE(f.error_text(platform::kFileSharingViolation).empty());
}

TEST_P(FilesContract, TraceStyleAppend) {
    Files& f = *files_;
    const Files::Handle h = f.create_new_for_write(path("trace.log"));
    ASSERT_NE(h, Files::kInvalid);
    f.write(h, "one\r\n", 5);
    f.close(h);
    EXPECT_EQ(f.create_new_for_write(path("trace.log")), Files::kInvalid) << "exists";

    bool held = true;
    const Files::Handle w = f.open_existing_for_write(path("trace.log"), &held);
    ASSERT_NE(w, Files::kInvalid);
    EXPECT_FALSE(held);
    f.seek_end(w);
    f.write(w, "two\r\n", 5);
    f.close(w);
    EXPECT_EQ(content("trace.log"), "one\r\ntwo\r\n");

    EXPECT_EQ(f.open_existing_for_write(path("missing.log"), &held), Files::kInvalid);
    EXPECT_FALSE(held) << "missing is not held";
}

// What the trace's retention needs: the files of a folder by name, folders
// left out, and deleting one that nobody holds.
TEST_P(FilesContract, ListAndRemoveFiles) {
    Files& f = *files_;
    std::vector<std::string> names{"stale"};
    ASSERT_TRUE(f.list_files(folder(), &names));
    EXPECT_TRUE(names.empty()) << "an empty folder";
    put("OPOSTrace26001.log", "a");
    put("notes.txt", "b");
    ASSERT_TRUE(f.create_directory(path("OPOSTrace26002.log")));
    ASSERT_TRUE(f.list_files(folder(), &names));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"OPOSTrace26001.log", "notes.txt"})) << "files only, as named";
    EXPECT_FALSE(f.list_files(path("missing"), &names));
    EXPECT_FALSE(f.is_reparse_point(folder()));
    EXPECT_FALSE(f.is_reparse_point(path("notes.txt")));
    EXPECT_FALSE(f.is_reparse_point(path("missing")));

    const Files::Handle held = f.open_existing_read_write(path("notes.txt"), nullptr);
    ASSERT_NE(held, Files::kInvalid);
    EXPECT_NE(f.remove(path("notes.txt")), platform::kFileOk) << "held by a writer";
    f.close(held);
    EXPECT_EQ(f.remove(path("NOTES.TXT")), platform::kFileOk);
    EXPECT_TRUE(platform::file_missing(f.remove(path("notes.txt")))) << "gone";
    ASSERT_TRUE(f.list_files(folder(), &names));
    EXPECT_EQ(names, (std::vector<std::string>{"OPOSTrace26001.log"}));
}

}  // namespace zrn::testing
