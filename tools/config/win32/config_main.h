#pragma once

#include <functional>
#include <string>
#include <vector>

namespace zrn::cfg {

// `zrncd config ...` on Windows: args are what follows "config". Returns the
// exit status. after_write: called after every registry write that went
// through (a test stops the program there, as a kill would).
int config_main(const std::vector<std::string>& args, const std::function<void()>& after_write = {});

}  // namespace zrn::cfg
