// What every command line of this program shares: how CLI11 is run, what a
// misuse says, and the checks that every option taking a value gets.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "io/output.h"
#include "io/output_file.h"

// A value left empty by a script ("$TABLE" unset) is a slip, not a choice.
const CLI::Validator& given();

// Parses argv[1..argc-1]. False when help or the version was printed to
// `out`; throws Failure with the usage status on misuse, `usage` for a
// missing required argument.
bool parse_command(CLI::App& app, int argc, const char* const* argv, Out& out, const std::string& usage);

// Throws Failure with the usage status when a result path names the same
// file as another path: {option, path} pairs, empty paths skipped.
void refuse_clashes(const std::vector<std::pair<std::string, std::string>>& results,
                    const std::vector<std::pair<std::string, std::string>>& others);

// A command's result: to its file, whole, where one was named, else to
// standard output.
void deliver(std::optional<OutputFile>& file, const std::string& text, Out& out);
