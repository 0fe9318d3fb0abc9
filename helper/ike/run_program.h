#pragma once
#include <chrono>
#include <string>
#include <vector>

namespace hw::ike {

// Runs a program to completion with an argv array (never a shell), bounded by
// a timeout that sends TERM, then KILL, to its process group. Answers the exit
// code, or -1 when it could not start, was killed or timed out. stdout and
// stderr go to *output when given.
int runProgram(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
               std::string* output = nullptr);

}  // namespace hw::ike
