#pragma once

#include <string>
#include <vector>

// `zrncd doctor [--json] [--view 32|64]`: args are those after "doctor".
// Returns the exit status.
int run_doctor(const std::vector<std::string>& args);
