#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zrn::platform {

// The file operations the trace log and the utility's USB configuration file
// need. Paths are Windows paths. Every open is exclusive: while one handle is
// open, any other open or create of the same file fails.
class Files {
public:
    using Handle = std::intptr_t;
    static constexpr Handle kInvalid = -1;

    virtual ~Files() = default;
    // Opens an existing file for writing only, shared with nobody. When the
    // open fails because another writer holds the file, *held is set (it is
    // cleared otherwise).
    virtual Handle open_existing_for_write(const std::string& path, bool* held) = 0;
    // Creates a new file for writing only, shared with nobody; fails if it exists.
    virtual Handle create_new_for_write(const std::string& path) = 0;
    // Opens an existing file for reading and writing, shared with nobody,
    // positioned at its start.
    virtual Handle open_existing_read_write(const std::string& path) = 0;
    // Creates the file for reading and writing, shared with nobody, replacing
    // (emptying) an existing one. Fails while another handle holds it.
    virtual Handle create_always_read_write(const std::string& path) = 0;
    // Creates one directory; false when it exists already or cannot be made.
    virtual bool create_directory(const std::string& path) = 0;
    virtual void seek_end(Handle h) = 0;
    // Reads at most max bytes from the current position. *got is the count
    // read, 0 at the end of the file; false when the read failed.
    virtual bool read(Handle h, void* data, std::size_t max, std::size_t* got) = 0;
    virtual void write(Handle h, const void* data, std::size_t size) = 0;
    virtual void close(Handle h) = 0;
};

}  // namespace zrn::platform
