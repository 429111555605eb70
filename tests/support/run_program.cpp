#include "tests/support/run_program.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

ProgramResult runProgram(const std::string& command) {
    // Tests run in parallel processes: keep each one's captures apart.
    std::string stem = testing::TempDir() + "program-" + std::to_string(getpid());
    std::string out = stem + ".out";
    std::string err = stem + ".err";
    int raw = std::system((command + " >" + out + " 2>" + err).c_str());
    ProgramResult result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = readFile(out);
    result.err = readFile(err);
    return result;
}

ProgramResult runBromPlay(const std::string& arguments) {
    return runProgram(std::string(BROM_PLAY_PATH) + " " + arguments);
}

std::vector<uint8_t> readFileBytes(const std::string& path) {
    const std::string text = readFile(path);
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::string writeTempFile(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::string path = testing::TempDir() + std::to_string(getpid()) + "-" + name;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return path;
}
