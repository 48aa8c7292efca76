#pragma once

#include <gtest/gtest.h>

#include <string>

#include "zrn/fakes/fake_files.h"
#include "zrn/config/usb_config.h"

namespace zrn::config::testing {

// The USB configuration file, its folder and its parts as the utility writes
// them.
inline const std::string kUsbFile(kUsbConfigPath);
inline const std::string kUsbFolder(kUsbConfigFolder);
inline const std::string kUsbRoot = "<ZRNUSB730Config Version=\"1.0\">";
inline const std::string kUsbEnd = "</ZRNUSB730Config>";

inline std::string usb_element(const std::string& slot, const std::string& id) {
    return "<HIDID UPort=\"" + slot + "\" ID=\"" + id + "\"/>";
}

// The installation's shared folder, which every till has; the utility's own
// folder below it may be missing.
inline void common_files_folder(fakes::FakeFiles& files) {
    ASSERT_TRUE(files.create_directory("C:\\Program Files"));
    ASSERT_TRUE(files.create_directory("C:\\Program Files\\Common Files"));
}

}  // namespace zrn::config::testing
