// Running a command-line program from a test and collecting what it printed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ProgramResult {
    int status;  // exit status, or -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Runs `command` through the shell with stdout and stderr captured.
ProgramResult runProgram(const std::string& command);
// Runs brom-play with `arguments` (already quoted as needed).
ProgramResult runBromPlay(const std::string& arguments);
// The bytes of a file; empty when it cannot be read.
std::vector<uint8_t> readFileBytes(const std::string& path);
// Writes `bytes` to a new file in the test's temporary folder and returns its path.
std::string writeTempFile(const std::string& name, const std::vector<uint8_t>& bytes);
