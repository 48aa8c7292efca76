#pragma once

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "zrn/platform/files.h"

namespace zrn::fakes {

// In-memory files with exclusive opens. Paths compare without regard to
// case; the drive root "C:" always exists.
class FakeFiles final : public platform::Files {
public:
    Handle open_existing_for_write(const std::string& path, bool* held) override;
    Handle create_new_for_write(const std::string& path) override;
    Handle open_existing_read_write(const std::string& path, platform::FileStatus* status) override;
    Handle create_always_read_write(const std::string& path, platform::FileStatus* status) override;
    bool create_directory(const std::string& path) override;
    void seek_end(Handle h) override;
    bool read(Handle h, void* data, std::size_t max, std::size_t* got) override;
    platform::FileStatus write(Handle h, const void* data, std::size_t size) override;
    platform::FileStatus flush(Handle h) override;
    void close(Handle h) override;
    platform::FileStatus replace(const std::string& from, const std::string& to) override;
    platform::FileStatus remove(const std::string& path) override;
    bool list_files(const std::string& folder, std::vector<std::string>* names) override;
    bool is_reparse_point(const std::string& path) override;

    bool exists(const std::string& path) const;
    bool dir_exists(const std::string& path) const;
    std::string content(const std::string& path) const;
    void put(const std::string& path, const std::string& content);
    // Another writer holds the file open (or lets it go again).
    void hold(const std::string& path, bool held);
    // Directory creation fails from now on (a read-only or full disk).
    void deny_directories(bool deny) { deny_dirs_ = deny; }
    // The disk takes this many more bytes, then is full; negative: no limit.
    void disk_space(long long bytes) {
        std::lock_guard lock(mu_);
        space_ = bytes;
    }
    // The path becomes a link to somewhere else (a junction or symbolic link
    // another user made): a folder when folder is set, else a file.
    void make_link(const std::string& path, bool folder);
    int open_handles() const;
    std::size_t file_count() const;

private:
    struct File {
        std::string name;  // the last part of the path, as first written
        std::string content;
        bool open = false;
    };
    struct Open {
        std::string key;
        std::size_t pos = 0;
    };
    static std::string key_of(const std::string& path);
    static std::string parent_of(const std::string& key);
    Handle open_locked(const std::string& key);
    // Why a file cannot be opened: missing, its folder missing, or held.
    platform::FileStatus open_status(const std::string& key) const;
    File& file_at(const std::string& path);

    mutable std::mutex mu_;
    std::map<std::string, File> files_;
    std::set<std::string> dirs_{"C:"};
    std::set<std::string> links_;
    std::map<Handle, Open> opens_;
    Handle next_ = 100;
    bool deny_dirs_ = false;
    long long space_ = -1;
};

}  // namespace zrn::fakes
