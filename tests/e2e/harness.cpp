#include "harness.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

static std::string tool_path()
{
    const char* overridden = getenv("CLIPSPOUT_TEST_TOOL");
    return overridden && *overridden ? overridden : CLIPSPOUT_TOOL;
}

run_result run_tool(const std::vector<std::string>& args, const run_options& options)
{
    std::vector<std::string> argv;
    const char* launcher = getenv("CLIPSPOUT_TEST_LAUNCHER");
    if (launcher && *launcher) {
        std::istringstream words(launcher);
        for (std::string word; words >> word;)
            argv.push_back(word);
    }
    argv.push_back(tool_path());
    argv.insert(argv.end(), args.begin(), args.end());

    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0)
        abort();
    pid_t pid = fork();
    if (pid == 0) {
        if (!options.stdout_path.empty()) {
            int fd = open(options.stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(fd, 1);
        } else {
            dup2(out_pipe[1], 1);
        }
        dup2(err_pipe[1], 2);
        close(out_pipe[0]);
        close(out_pipe[1]);
        close(err_pipe[0]);
        close(err_pipe[1]);
        setenv("LD_LIBRARY_PATH", options.library_dir.c_str(), 1);
        for (const std::string& setting : options.env)
            putenv(strdup(setting.c_str()));
        std::vector<char*> cargv;
        for (std::string& a : argv)
            cargv.push_back(&a[0]);
        cargv.push_back(nullptr);
        execvp(cargv[0], cargv.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);

    run_result result;
    int out_fd = out_pipe[0], err_fd = err_pipe[0];
    char buffer[65536];
    while (out_fd >= 0 || err_fd >= 0) {
        pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
        poll(fds, 2, -1);
        for (int i = 0; i < 2; ++i) {
            int& fd = i == 0 ? out_fd : err_fd;
            if (fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            size_t want = sizeof buffer;
            if (i == 0 && options.stdout_limit >= 0)
                want = std::min(want, static_cast<size_t>(options.stdout_limit) - result.out.size());
            ssize_t n = want ? read(fd, buffer, want) : 0;
            if (n > 0)
                (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
            bool limit_reached = i == 0 && options.stdout_limit >= 0 &&
                                 result.out.size() >= static_cast<size_t>(options.stdout_limit);
            if (n <= 0 || limit_reached) {
                close(fd);
                fd = -1;
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
    return result;
}

std::string write_script(const std::string& name, const std::string& text)
{
    static std::string folder;
    if (folder.empty()) {
        char templ[] = "/tmp/clipspout-test-XXXXXX";
        folder = mkdtemp(templ);
        atexit([] { std::filesystem::remove_all(folder); });
    }
    std::string path = folder + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

std::string read_file(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string shell(const std::string& command, int* status)
{
    // bash with pipefail: a pipeline fails when the tool in it fails.
    std::string quoted = "'";
    for (char c : command)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    quoted += "'";
    std::string output;
    FILE* pipe = popen(("bash -o pipefail -c " + quoted).c_str(), "r");
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    int rc = pclose(pipe);
    if (status)
        *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return output;
}

std::string tool_command(const run_options& options)
{
    const char* launcher = getenv("CLIPSPOUT_TEST_LAUNCHER");
    std::string command = "LD_LIBRARY_PATH='" + options.library_dir + "' ";
    if (launcher && *launcher)
        command += std::string(launcher) + " ";
    return command + "'" + tool_path() + "'";
}

uint32_t framecrc_adler(const std::string& bytes)
{
    uint32_t a = 0, b = 0;
    for (unsigned char c : bytes) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

long long number_after(const std::string& text, const std::string& prefix)
{
    size_t at = text.find(prefix);
    if (at == std::string::npos)
        return -1;
    return strtoll(text.c_str() + at + prefix.size(), nullptr, 10);
}

cut_short_runs run_cut_short(const std::vector<std::string>& args)
{
    run_options closing, disk_full;
    closing.stdout_limit = 1000;
    disk_full.stdout_path = "/dev/full";
    return {run_tool(args, closing), run_tool(args, disk_full)};
}
