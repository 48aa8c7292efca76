#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zrn::platform {

// The file operations the trace log needs. Paths are Windows paths.
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
    // Creates one directory; false when it exists already or cannot be made.
    virtual bool create_directory(const std::string& path) = 0;
    virtual void seek_end(Handle h) = 0;
    virtual void write(Handle h, const void* data, std::size_t size) = 0;
    virtual void close(Handle h) = 0;
};

}  // namespace zrn::platform
