// Runs the built pelkat as a child process in a given folder, with its standard input
// fed from a pipe (not a terminal), and collects its standard output and exit code.
#pragma once
#include <string>
#include <vector>

struct ProcessResult {
    std::string output;
    int exit_code;  // -1 when the process did not exit normally
};

ProcessResult run_pelkat(const std::string& folder, const std::vector<std::string>& arguments,
                         const std::string& keys = "");
