// Helpers shared by the tests: temporary files and running the built binary.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "profiles/profile.h"

std::string testdata(const std::string& rel);
std::string read_file(const std::string& path);
// A fresh file holding `content`; removed when the test binary exits.
std::string temp_file(const std::string& content);

// A fresh folder holding sim.txt and obs.txt with these contents.
std::string temp_case(const std::string& sim, const std::string& obs);

struct Proc {
    int status = -1;
    std::string out, err;
};
// Runs build/preassign with `args` in `cwd`; stdout goes to `stdout_path`
// when given.
Proc run_binary(const std::vector<std::string>& args, const std::string& stdout_path = "",
                const std::string& cwd = "", const std::string& stderr_path = "");

// The message of the Failure that `body` throws, or "no failure".
std::string failure(const std::function<void()>& body);
