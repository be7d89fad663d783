#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace jxcli {

// The process arguments after the program's name.
std::vector<std::string> arguments_of(int argc, char** argv);

// Why an argument cannot be used, for the one-line refusal: "argument 2 is empty",
// "argument 3 is not valid UTF-8"; nothing when it can. `position` counts from 1.
std::optional<std::string> argument_problem(const std::string& argument, std::size_t position);

// The first problem among the arguments, skipping the positions in `allowed_empty`.
std::optional<std::string> first_argument_problem(const std::vector<std::string>& arguments,
                                                  const std::vector<std::size_t>& allowed_empty = {});

// Prints "<program>: <why>\n" on the stream and ends the run with status 2.
[[noreturn]] void refuse(std::FILE* stream, const char* program, const std::string& why);

// The run's exit status once the directories of its outputs and standard output are
// flushed: a name that may not survive a crash, or a report or message that could not be
// written, turns a success into status 1, with a line on standard error.
int finish(const char* program, int status);

// Runs a program's body; an exception that escapes it ends the run with one line on standard
// error and status 1.
int guarded(const char* program, int (*body)(int, char**), int argc, char** argv);

}  // namespace jxcli
