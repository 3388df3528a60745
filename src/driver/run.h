// One whole run, from the command line to the reports, and the edge where a
// failure becomes one line of error.
#pragma once

#include <functional>

#include "io/output.h"

// Throws Failure, or whatever the library lets through.
int run(int argc, const char* const* argv, Out& out, Out& err);

// body()'s status, or, when it throws anything, "preassign: <message>" on
// `msg` and the failure's status (1 for anything but a Failure).
int report_failures(Out& msg, const std::function<int()>& body);
