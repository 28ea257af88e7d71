#include "process_runner.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

ProcessResult run_pelkat(const std::string& folder, const std::vector<std::string>& arguments,
                         const std::string& keys) {
    int input[2], output[2];
    if (pipe(input) != 0 || pipe(output) != 0) std::abort();
    pid_t child = fork();
    if (child == 0) {
        dup2(input[0], 0);
        dup2(output[1], 1);
        close(input[0]);
        close(input[1]);
        close(output[0]);
        close(output[1]);
        if (chdir(folder.c_str()) != 0) _exit(127);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(PELKAT_PROGRAM));
        for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(PELKAT_PROGRAM, argv.data());
        _exit(127);
    }
    close(input[0]);
    close(output[1]);
    if (!keys.empty() && write(input[1], keys.data(), keys.size()) < 0) std::abort();
    close(input[1]);

    ProcessResult result{"", -1};
    char buffer[4096];
    ssize_t n;
    while ((n = read(output[0], buffer, sizeof buffer)) > 0)
        result.output.append(buffer, static_cast<size_t>(n));
    close(output[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
    return result;
}
