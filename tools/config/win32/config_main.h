#pragma once

#include <string>
#include <vector>

namespace zrn::cfg {

// `zrncd config ...` on Windows: args are what follows "config". Returns the
// exit status.
int config_main(const std::vector<std::string>& args);

}  // namespace zrn::cfg
