#pragma once

#include "zrn/platform/files.h"

namespace zrn::fakes {

// Forwards every file operation to another Files; a test derives from it and
// overrides the one operation where it stages another program's move (a file
// held, created or let go at a chosen moment).
class ForwardingFiles : public platform::Files {
public:
    explicit ForwardingFiles(platform::Files& target) : target_(target) {}
    Handle open_existing_for_write(const std::string& p, bool* held) override {
        return target_.open_existing_for_write(p, held);
    }
    Handle create_new_for_write(const std::string& p) override { return target_.create_new_for_write(p); }
    Handle open_existing_read_write(const std::string& p, platform::FileStatus* st) override {
        return target_.open_existing_read_write(p, st);
    }
    Handle create_always_read_write(const std::string& p, platform::FileStatus* st) override {
        return target_.create_always_read_write(p, st);
    }
    bool create_directory(const std::string& p) override { return target_.create_directory(p); }
    void seek_end(Handle h) override { target_.seek_end(h); }
    bool read(Handle h, void* d, std::size_t max, std::size_t* got) override { return target_.read(h, d, max, got); }
    platform::FileStatus write(Handle h, const void* d, std::size_t n) override { return target_.write(h, d, n); }
    platform::FileStatus flush(Handle h) override { return target_.flush(h); }
    void close(Handle h) override { target_.close(h); }
    platform::FileStatus replace(const std::string& from, const std::string& to) override {
        return target_.replace(from, to);
    }
    platform::FileStatus remove(const std::string& p) override { return target_.remove(p); }
    std::string error_text(platform::FileStatus st) const override { return target_.error_text(st); }
    bool list_files(const std::string& folder, std::vector<std::string>* names) override {
        return target_.list_files(folder, names);
    }
    bool is_reparse_point(const std::string& p) override { return target_.is_reparse_point(p); }

private:
    platform::Files& target_;
};

}  // namespace zrn::fakes
