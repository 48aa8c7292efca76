#pragma once

#include <map>
#include <mutex>
#include <set>
#include <string>

#include "zrn/platform/files.h"

namespace zrn::fakes {

// In-memory files with exclusive opens. Paths compare without regard to
// case; the drive root "C:" always exists.
class FakeFiles final : public platform::Files {
public:
    Handle open_existing_for_write(const std::string& path, bool* held) override;
    Handle create_new_for_write(const std::string& path) override;
    Handle open_existing_read_write(const std::string& path) override;
    Handle create_always_read_write(const std::string& path) override;
    bool create_directory(const std::string& path) override;
    void seek_end(Handle h) override;
    bool read(Handle h, void* data, std::size_t max, std::size_t* got) override;
    void write(Handle h, const void* data, std::size_t size) override;
    void close(Handle h) override;

    bool exists(const std::string& path) const;
    bool dir_exists(const std::string& path) const;
    std::string content(const std::string& path) const;
    void put(const std::string& path, const std::string& content);
    // Another writer holds the file open (or lets it go again).
    void hold(const std::string& path, bool held);
    // Directory creation fails from now on (a read-only or full disk).
    void deny_directories(bool deny) { deny_dirs_ = deny; }
    int open_handles() const;
    std::size_t file_count() const;

private:
    struct File {
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

    mutable std::mutex mu_;
    std::map<std::string, File> files_;
    std::set<std::string> dirs_{"C:"};
    std::map<Handle, Open> opens_;
    Handle next_ = 100;
    bool deny_dirs_ = false;
};

}  // namespace zrn::fakes
