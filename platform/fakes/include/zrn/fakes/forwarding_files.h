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
    Handle open_existing_read_write(const std::string& p) override { return target_.open_existing_read_write(p); }
    Handle create_always_read_write(const std::string& p) override { return target_.create_always_read_write(p); }
    bool create_directory(const std::string& p) override { return target_.create_directory(p); }
    void seek_end(Handle h) override { target_.seek_end(h); }
    bool read(Handle h, void* d, std::size_t max, std::size_t* got) override { return target_.read(h, d, max, got); }
    void write(Handle h, const void* d, std::size_t n) override { target_.write(h, d, n); }
    void close(Handle h) override { target_.close(h); }

private:
    platform::Files& target_;
};

}  // namespace zrn::fakes
