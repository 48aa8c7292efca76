#include "files_contract.h"

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
    const Files::Handle h = files_->create_always_read_write(path(name));
    ASSERT_NE(h, Files::kInvalid) << path(name);
    files_->write(h, content.data(), content.size());
    files_->close(h);
}

std::string FilesContract::content(const std::string& name) {
    const Files::Handle h = files_->open_existing_read_write(path(name));
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
    EXPECT_EQ(f.open_existing_read_write(path("cfg.xml")), Files::kInvalid) << "missing file";

    put("cfg.xml", "hello world");
    const Files::Handle h = f.open_existing_read_write(path("CFG.XML"));
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
    EXPECT_EQ(f.create_always_read_write(sub + "\\cfg.xml"), Files::kInvalid);
    EXPECT_TRUE(f.create_directory(sub));
    EXPECT_FALSE(f.create_directory(sub)) << "exists already";
    const Files::Handle c = f.create_always_read_write(sub + "\\cfg.xml");
    ASSERT_NE(c, Files::kInvalid);
    f.close(c);
    EXPECT_EQ(f.create_always_read_write(sub), Files::kInvalid) << "a folder is no file";
}

TEST_P(FilesContract, ExclusiveOpensKeepOthersOut) {
    Files& f = *files_;
    put("cfg.xml", "keep");
    const Files::Handle first = f.open_existing_read_write(path("cfg.xml"));
    ASSERT_NE(first, Files::kInvalid);

    EXPECT_EQ(f.open_existing_read_write(path("cfg.xml")), Files::kInvalid);
    EXPECT_EQ(f.create_always_read_write(path("cfg.xml")), Files::kInvalid) << "no replacing a held file";
    bool held = false;
    EXPECT_EQ(f.open_existing_for_write(path("cfg.xml"), &held), Files::kInvalid);
    EXPECT_TRUE(held);
    f.close(first);

    EXPECT_EQ(content("cfg.xml"), "keep") << "the refused create emptied nothing";

    // A file being created is held as well.
    const Files::Handle made = f.create_always_read_write(path("new.xml"));
    ASSERT_NE(made, Files::kInvalid);
    EXPECT_EQ(f.open_existing_read_write(path("new.xml")), Files::kInvalid);
    f.close(made);
    const Files::Handle again = f.open_existing_read_write(path("new.xml"));
    EXPECT_NE(again, Files::kInvalid);
    f.close(again);
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

}  // namespace zrn::testing
