#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "zrn/platform/files.h"

namespace zrn::testing {

// One implementation of the Files port under test. The same contract runs
// against the in-memory fake and against the real file system (Windows
// builds, under Wine), so the two cannot drift apart.
struct FilesImpl {
    std::string name;
    std::function<std::unique_ptr<platform::Files>()> make;
    // True for a real file system: each test then works in a folder of its
    // own under the system's temporary folder and removes it afterwards.
    // The fake starts empty and works under "C:".
    bool on_disk = false;
};
inline void PrintTo(const FilesImpl& impl, std::ostream* os) { *os << impl.name; }

class FilesContract : public ::testing::TestWithParam<FilesImpl> {
protected:
    void SetUp() override;
    void TearDown() override;
    // A fresh, existing folder for this test, without a trailing backslash.
    const std::string& folder() const { return folder_; }
    std::string path(const std::string& name) const { return folder_ + "\\" + name; }
    // Writes content into a new or replaced file.
    void put(const std::string& name, const std::string& content);
    // The whole content, read through an exclusive open.
    std::string content(const std::string& name);

    std::unique_ptr<platform::Files> files_;

private:
    std::string folder_;
};

}  // namespace zrn::testing
