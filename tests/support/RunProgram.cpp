#include "tests/support/RunProgram.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "tests/support/Files.h"

extern char** environ;

namespace korvex::test {

namespace {

std::string nameOf(const std::string& entry) {
    return entry.substr(0, entry.find('='));
}

}  // namespace

pid_t startProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::vector<std::string>& extraEnv, const std::string& outPath,
                   const std::string& errPath) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        bool replaced = false;
        for (const std::string& x : extraEnv)
            replaced = replaced || nameOf(entry) == nameOf(x);
        if (!replaced)
            env.push_back(entry);
    }
    for (const std::string& x : extraEnv) {
        if (x.find('=') != std::string::npos)
            env.push_back(x);
    }

    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    if (errPath == outPath) {
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
    }
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::filesystem::path& scratch,
                     const std::vector<std::string>& extraEnv) {
    static std::atomic<int> counter{0};
    const int n = counter.fetch_add(1);
    const std::string outPath = (scratch / ("run" + std::to_string(n) + ".out")).string();
    const std::string errPath = (scratch / ("run" + std::to_string(n) + ".err")).string();
    RunResult r;
    const pid_t pid = startProgram(program, args, extraEnv, outPath, errPath);
    if (pid < 0) {
        r.err = "cannot start " + program;
        return r;
    }
    int wstatus = 0;
    while (::waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(wstatus))
        r.status = WEXITSTATUS(wstatus);
    r.out = readText(outPath);
    r.err = readText(errPath);
    return r;
}

std::string programFromEnv(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? v : "";
}

}  // namespace korvex::test
