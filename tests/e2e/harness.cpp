#include "harness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
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

static const char* windows_build()
{
    const char* dir = getenv("CLIPSPOUT_TEST_WINDOWS_BUILD");
    return dir && *dir ? dir : nullptr;
}

std::string helper_program(const std::string& name)
{
    if (windows_build())
        return server_path(std::string(windows_build()) + "/tests/" + name + ".exe");
    return std::string(TEST_BUILD_DIR) + "/tests/" + name;
}

bool testing_windows_build()
{
    return windows_build() != nullptr;
}

std::string real_frameserver()
{
    const char* dir = getenv("CLIPSPOUT_TEST_REAL_FRAMESERVER");
    return dir && *dir ? dir : "";
}

std::string build_folder(const std::string& name)
{
    if (!name.empty() && name[0] == '/')
        return name;
    return std::string(windows_build() ? windows_build() : TEST_BUILD_DIR) + "/" + name;
}

std::string print_plugin()
{
    return server_path(build_folder("plugins") + (windows_build() ? "/print_plugin.dll" : "/print_plugin.so"));
}

// AviSynth+ 3.7.5's ColorBars frees the samples it took with new[] through
// delete, which the address sanitizer stops at when the clip is released.
// Neither the tool nor the stand-in has an array new, so only runs against
// the real library pass over that one check.
static std::string sanitizer_settings(const run_options& options)
{
    if (real_frameserver().empty() || options.frameserver != real_frameserver())
        return {};
    const char* before = getenv("ASAN_OPTIONS");
    return std::string(before && *before ? before + std::string(":") : "") + "alloc_dealloc_mismatch=0";
}

std::string frameserver_library()
{
    return windows_build() ? "avisynth.dll" : "libavisynth.so";
}

std::string platform_text(const std::string& text)
{
    if (!windows_build())
        return text;
    std::string crlf;
    for (char c : text)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return crlf;
}

std::string lf_text(const std::string& text)
{
    if (!windows_build())
        return text;
    std::string lf;
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            lf += text[i];
    return lf;
}

static std::string tool_path(const run_options& options)
{
    return windows_build() ? build_folder(options.frameserver) + "/clipspout.exe" : CLIPSPOUT_TOOL;
}

static std::vector<std::string> launcher_words()
{
    std::vector<std::string> words;
    const char* launcher = getenv("CLIPSPOUT_TEST_LAUNCHER");
    std::istringstream text(launcher ? launcher : "");
    for (std::string word; text >> word;)
        words.push_back(word);
    return words;
}

// Nothing the suite inherits reaches the programs it starts (the tool,
// under Wine its loader, and every shell command): ctest hands each test
// its own log file, and two tests run at once. Marked before any test runs;
// the suite's own descriptors are opened close-on-exec.
static const bool inherited_descriptors_closed_on_exec = [] {
    long last = sysconf(_SC_OPEN_MAX);
    for (int fd = 3; fd < (last > 0 && last < 65536 ? last : 65536); ++fd) {
        int flags = fcntl(fd, F_GETFD);
        if (flags >= 0)
            fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
    return true;
}();

static void split_frameserver_note(run_result& result)
{
    static const std::string start = "clipspout [info]: the frame server", end = "from frame properties are left out.\n";
    const size_t at = result.err.find(start);
    const size_t stop = at == std::string::npos ? at : result.err.find(end, at);
    if (stop == std::string::npos || result.err.find('\n', at) != stop + end.size() - 1)
        return;
    result.frameserver_note = result.err.substr(at, stop + end.size() - at);
    result.err.erase(at, stop + end.size() - at);
}

static run_result launch(std::vector<std::string> argv, const run_options& options)
{
    int out_pipe[2], err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0)
        abort();
    pid_t pid = fork();
    if (pid == 0) {
        if (!options.stdout_path.empty()) {
            int fd = open(options.stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            dup2(fd, 1);
        } else {
            dup2(out_pipe[1], 1);
        }
        dup2(err_pipe[1], 2);
        if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0)
            _exit(126);
        for (int fd : {options.close_stdin ? 0 : -1, options.close_stdout ? 1 : -1, options.close_stderr ? 2 : -1})
            if (fd >= 0)
                close(fd);
        setenv("LD_LIBRARY_PATH", build_folder(options.frameserver).c_str(), 1);
        if (!sanitizer_settings(options).empty())
            setenv("ASAN_OPTIONS", sanitizer_settings(options).c_str(), 1);
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
    int status = 0;
    bool exited = false;
    char buffer[65536];
    using test_clock = std::chrono::steady_clock;
    const test_clock::time_point started = test_clock::now();
    test_clock::time_point condition_met{}, last_signal{};
    bool condition = false;
    // Sends the signals as the options ask, once their moment has come.
    auto signal_when_due = [&] {
        if (!options.signal || exited || result.signals_sent >= options.signal_count)
            return;
        const test_clock::time_point now = test_clock::now();
        if (!condition && (options.signal_on_stderr.empty() || result.err.find(options.signal_on_stderr) !=
                                                                     std::string::npos)) {
            condition = true;
            condition_met = now;
        }
        if (!condition || now - condition_met < std::chrono::milliseconds(options.signal_after_ms) ||
            (result.signals_sent > 0 && now - last_signal < std::chrono::milliseconds(200)))
            return;
        kill(pid, options.signal);
        ++result.signals_sent;
        last_signal = now;
    };
    // Reads until both pipes close; a process the tool leaves behind holding
    // them (a launcher's helper service) must not hang the test, so once the
    // tool has exited whatever is left is drained and reading stops.
    while (out_fd >= 0 || err_fd >= 0) {
        signal_when_due();
        if (!exited && !result.timed_out && test_clock::now() - started > std::chrono::seconds(options.timeout_seconds)) {
            result.timed_out = true;
            kill(pid, SIGKILL);
        }
        pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
        int ready = poll(fds, 2, options.signal ? 10 : 200);
        if (ready == 0 && !exited && waitpid(pid, &status, WNOHANG) == pid) {
            exited = true;
            for (int fd : {out_fd, err_fd})
                if (fd >= 0)
                    fcntl(fd, F_SETFL, O_NONBLOCK);
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            int& fd = i == 0 ? out_fd : err_fd;
            if (fd < 0 || !(exited || (fds[i].revents & (POLLIN | POLLHUP | POLLERR))))
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
    if (!exited)
        waitpid(pid, &status, 0);
    if (WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
    result.err = lf_text(result.err);
    split_frameserver_note(result);
    return result;
}

std::string wine_failure_signature(const run_result& result)
{
    // The tool never exits with 1, and never silently.
    if (result.status == 1 && result.out.empty() && result.err.empty())
        return "status 1 with nothing on stdout or stderr";
    std::istringstream lines(result.err);
    for (std::string line; std::getline(lines, line);) {
        // "wine: Unhandled page fault ..." is the program's own crash, not
        // Wine's plumbing: never retried.
        bool wine_line = line.rfind("wine client error", 0) == 0 ||
                         (line.rfind("wine: ", 0) == 0 && line.find("Unhandled") == std::string::npos);
        if (wine_line)
            return line;
    }
    return "";
}

// Wine's own plumbing fails now and then while thousands of short Windows
// processes come and go; such a launch, and only such a launch, is tried
// once more. Each retry is announced on stderr and, for the run's summary,
// in the file named by CLIPSPOUT_TEST_RETRY_LOG.
static void announce_wine_retry(const std::vector<std::string>& argv, const std::string& signature)
{
    std::string command;
    for (const std::string& word : argv)
        command += (command.empty() ? "" : " ") + word;
    std::string line = "!! WINE RETRY: " + command + ": " + signature + "\n";
    fputs(line.c_str(), stderr);
    const char* log = getenv("CLIPSPOUT_TEST_RETRY_LOG");
    if (log && *log) {
        int fd = open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd >= 0) {
            if (write(fd, line.data(), line.size()) < 0)
                fputs("cannot log the retry\n", stderr);
            close(fd);
        }
    }
}

run_result run_tool(const std::vector<std::string>& args, const run_options& options)
{
    std::vector<std::string> argv = launcher_words();
    argv.push_back(tool_path(options));
    argv.insert(argv.end(), args.begin(), args.end());

    run_result result = launch(argv, options);
    if (windows_build()) {
        std::string signature = wine_failure_signature(result);
        if (!signature.empty()) {
            announce_wine_retry(argv, signature);
            result = launch(argv, options);
        }
    }
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
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

std::string write_program(const std::string& name, const std::string& text)
{
    const std::string path = write_script(name, text);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add);
    return path;
}

std::string server_path(const std::string& path)
{
    if (!windows_build())
        return path;
    std::string latin1 = "Z:";
    for (size_t i = 0; i < path.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(path[i]);
        if ((c == 0xC2 || c == 0xC3) && i + 1 < path.size())
            latin1 += static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(path[++i]) & 0x3F));
        else
            latin1 += c == '/' ? '\\' : path[i];
    }
    return latin1;
}

void expect_twins_agree(const std::string& text, const run_options& options)
{
    std::string ascii = write_script("twin/ascii.avs", text);
    std::string unicode = write_script("日本語_Кириллица/テスト_Тест.avs", text);
    for (const char* mode : {"info", "x264bd", "video", "audio"}) {
        run_result expected = run_tool({mode, ascii}, options);
        run_result r = run_tool({mode, unicode}, options);
        EXPECT_EQ(expected.status, 0) << mode << expected.err;
        EXPECT_EQ(r.status, 0) << mode << r.err;
        EXPECT_EQ(r.err, expected.err) << mode;
        EXPECT_TRUE(r.out == expected.out) << mode << ": output differs from the ASCII twin's";
    }
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
    std::string command = "LD_LIBRARY_PATH='" + build_folder(options.frameserver) + "' ";
    if (!sanitizer_settings(options).empty())
        command += "ASAN_OPTIONS='" + sanitizer_settings(options) + "' ";
    for (const std::string& word : launcher_words())
        command += word + " ";
    return command + "'" + tool_path(options) + "'";
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

cut_short_runs run_cut_short(const std::vector<std::string>& args, const run_options& base)
{
    run_options closing = base, disk_full = base;
    closing.stdout_limit = 1000;
    disk_full.stdout_path = "/dev/full";
    return {run_tool(args, closing), run_tool(args, disk_full)};
}

int real_server_interface()
{
    static int version = [] {
        if (real_frameserver().empty())
            return 0;
        run_options options;
        options.frameserver = real_frameserver();
        const run_result r = run_tool({"--version"}, options);
        const long long found = number_after(r.out, "interface version: ");
        return found > 0 ? static_cast<int>(found) : 0;
    }();
    return version;
}

bool real_server_gives_properties()
{
    return real_server_interface() >= 9;
}
