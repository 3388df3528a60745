// One whole run, from the command line to the reports. Throws Failure.
#pragma once

#include "driver/output.h"

int run(int argc, const char* const* argv, Out& out, Out& err);
