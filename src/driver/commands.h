// The subcommands beside the default run: each takes the arguments after
// its name and returns the exit status, or throws Failure.
#pragma once

#include "io/output.h"

// preassign predict STRUCTURE --site CHAIN:NUMBER ...: predicted PREs.
int run_predict(int argc, const char* const* argv, Out& out, Out& err);

// preassign import (--site DIA PARA)... | (--ratios FILE)...: measured PREs;
// (--pcs TABLE)... | (--pcs-lists DIA PARA)...: measured PCS.
int run_import(int argc, const char* const* argv, Out& out, Out& err);

// preassign label MAP TABLE: the diamagnetic list again, assigned.
int run_label(int argc, const char* const* argv, Out& out, Out& err);
