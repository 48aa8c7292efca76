#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zrn::platform {

// Outcomes of file operations are the Windows error codes the file API
// returns; 0 is success.
using FileStatus = std::uint32_t;
constexpr FileStatus kFileOk = 0;
constexpr FileStatus kFileNotFound = 2;
constexpr FileStatus kFilePathNotFound = 3;
constexpr FileStatus kFileAccessDenied = 5;
constexpr FileStatus kFileSharingViolation = 32;
constexpr FileStatus kFileLockViolation = 33;
constexpr FileStatus kFileDiskFull = 112;

// Another program has the file open (a virus scanner, an editor): it exists
// and must be neither recreated nor replaced.
inline bool file_held(FileStatus s) { return s == kFileSharingViolation || s == kFileLockViolation; }
// The file, or its folder, is not there.
inline bool file_missing(FileStatus s) { return s == kFileNotFound || s == kFilePathNotFound; }

// The file operations the trace log, the utility's USB configuration file
// and the configuration backups need. Paths are Windows paths. Every open is
// exclusive: while one handle is open, any other open or create of the same
// file fails.
class Files {
public:
    using Handle = std::intptr_t;
    static constexpr Handle kInvalid = -1;

    virtual ~Files() = default;
    // Opens an existing file for writing only, shared with nobody. When the
    // open fails because another writer holds the file, *held is set (it is
    // cleared otherwise). A file that is a reparse point (a symbolic link) is
    // not opened: it could send the lines anywhere.
    virtual Handle open_existing_for_write(const std::string& path, bool* held) = 0;
    // Creates a new file for writing only, shared with nobody; fails if it exists.
    virtual Handle create_new_for_write(const std::string& path) = 0;
    // Opens an existing file for reading and writing, shared with nobody,
    // positioned at its start. On failure *status (may be null) says why.
    virtual Handle open_existing_read_write(const std::string& path, FileStatus* status) = 0;
    // Creates the file for reading and writing, shared with nobody, replacing
    // (emptying) an existing one. Fails while another handle holds it; on
    // failure *status (may be null) says why.
    virtual Handle create_always_read_write(const std::string& path, FileStatus* status) = 0;
    // Creates one directory; false when it exists already or cannot be made.
    virtual bool create_directory(const std::string& path) = 0;
    virtual void seek_end(Handle h) = 0;
    // Reads at most max bytes from the current position. *got is the count
    // read, 0 at the end of the file; false when the read failed.
    virtual bool read(Handle h, void* data, std::size_t max, std::size_t* got) = 0;
    // Writes all size bytes; anything short of that (a full disk) is a failure.
    virtual FileStatus write(Handle h, const void* data, std::size_t size) = 0;
    // Makes what was written reach the disk before the call returns.
    virtual FileStatus flush(Handle h) = 0;
    virtual void close(Handle h) = 0;
    // Puts the file from in the place of the file to in one step, replacing
    // it when it exists: a reader sees either the old or the new content,
    // never a part. Both lie in one folder.
    virtual FileStatus replace(const std::string& from, const std::string& to) = 0;
    // Deletes a file.
    virtual FileStatus remove(const std::string& path) = 0;
    // The system's words for a status, as a message box shows them.
    virtual std::string error_text(FileStatus status) const;

    // The names (without the folder) of the files in a folder, folders left
    // out, in no particular order. False when the folder cannot be listed.
    virtual bool list_files(const std::string& folder, std::vector<std::string>* names) = 0;
    // Whether the path names a reparse point: a junction, a symbolic link or
    // a mount point, which lead somewhere else than the path says.
    virtual bool is_reparse_point(const std::string& path) = 0;
};

// Replaces the whole content of a file so that a crash, a full disk or a
// reader never finds it empty or half-written: the text goes into a
// temporary file in the same folder, is flushed, and then takes the file's
// place in one step. Every write is checked; on any failure the file is as
// it was and the temporary file is gone. kFileOk or the failing status.
FileStatus replace_file_content(Files& files, const std::string& path, std::string_view content);

// Reads at most max bytes of an existing file into *content through an
// exclusive open. A file longer than max gives its first max bytes and sets
// *longer (may be null).
FileStatus read_file_content(Files& files, const std::string& path, std::size_t max, std::string* content,
                             bool* longer = nullptr);

}  // namespace zrn::platform
