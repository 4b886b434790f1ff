// The platform's processes, pipes and interrupts: the program the tool
// starts to read its stream, and Ctrl-C.

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "common/diag.h"
#include "common/platform.h"
#include "common/platform_internal.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <psapi.h>
#include <shellapi.h>
#else
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <langinfo.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

static volatile sig_atomic_t interrupts = 0;

// Once the program is to see the end of its input, the pipe's write end
// goes; descriptor 1 stays open, on the null device, so that nothing the
// tool opens later takes its place.
static void move_stdout_to_null_device()
{
    fflush(stdout);
#ifdef _WIN32
    const int null = _open("NUL", _O_WRONLY | _O_BINARY);
#else
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
#endif
    if (null >= 0) {
        dup2(null, 1);
        close(null);
    }
}

bool interrupt_requested()
{
    return interrupts > 0;
}

bool is_named_pipe_name(const std::string& name)
{
#ifdef _WIN32
    static const char prefix[] = "\\\\.\\pipe\\";
    return name.size() > sizeof prefix - 1 && _strnicmp(name.c_str(), prefix, sizeof prefix - 1) == 0;
#else
    (void)name;
    return false;
#endif
}

std::string describe_program_end(const started_program& program, const program_end& end)
{
    char text[160];
    if (end.by_signal) {
#ifdef _WIN32
        snprintf(text, sizeof text, "%s was ended by signal %lld", program.name.c_str(), end.code);
#else
        snprintf(text, sizeof text, "%s was ended by signal %lld (%s)", program.name.c_str(), end.code,
                 strsignal(static_cast<int>(end.code)));
#endif
    } else {
        // Windows gives crashes as NTSTATUS codes: 0xC0000005 reads better
        // than -1073741819.
        snprintf(text, sizeof text, end.code > 0xFFFF ? "%s ended with status 0x%llX" : "%s ended with status %lld",
                 program.name.c_str(), end.code);
    }
    return text;
}

#ifdef _WIN32

static std::wstring to_wide(const std::string& text)
{
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(size > 0 ? size : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], size);
    wide.resize(wide.size() - 1);
    return wide;
}

static std::string system_reason(DWORD error)
{
    char text[512] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text, sizeof text,
                   nullptr);
    std::string reason = text[0] ? text : "error " + std::to_string(error);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.'))
        reason.pop_back();
    return reason;
}

std::vector<std::string> read_program_arguments(char** argv, int first, int argc)
{
    std::vector<std::string> args;
    for (int i = first; i < argc; ++i) {
        const std::wstring wide = wide_argument(i);
        args.push_back(wide.empty() && argv[i][0] ? std::string(argv[i]) : to_utf8(wide.c_str()));
    }
    return args;
}

// One argument as the C runtime's parser gives it back: quoted where it
// holds a space, a tab or a quote, or is empty; a quote escaped by a
// backslash, and the backslashes before a quote or the closing quote
// doubled (a backslash elsewhere stands for itself).
static std::wstring quoted_argument(const std::wstring& arg)
{
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return arg;
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

static bool is_file(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

static std::wstring environment_text(const wchar_t* name, const wchar_t* fallback)
{
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0)
        return fallback;
    std::wstring text(size, L'\0');
    text.resize(GetEnvironmentVariableW(name, &text[0], size));
    return text;
}

static std::vector<std::wstring> split(const std::wstring& text)
{
    std::vector<std::wstring> parts;
    size_t at = 0;
    for (size_t end; (end = text.find(L';', at)) != std::wstring::npos; at = end + 1)
        if (end > at)
            parts.push_back(text.substr(at, end - at));
    if (at < text.size())
        parts.push_back(text.substr(at));
    return parts;
}

// The program's file as cmd.exe finds it: the path given, else each folder
// of PATH; a name without an extension takes each of PATHEXT's. Only
// programs (.exe, .com) are started: a batch file needs cmd /c and its
// quoting.
static std::wstring find_program(const std::wstring& name)
{
    const size_t last = name.find_last_of(L"\\/:");
    const bool has_extension = name.find(L'.', last == std::wstring::npos ? 0 : last) != std::wstring::npos;
    std::vector<std::wstring> extensions = {L""};
    if (!has_extension)
        extensions = split(environment_text(L"PATHEXT", L".COM;.EXE;.BAT;.CMD"));
    std::vector<std::wstring> folders = {L""};
    if (last == std::wstring::npos)
        folders = split(environment_text(L"PATH", L""));
    for (const std::wstring& folder : folders) {
        for (const std::wstring& extension : extensions) {
            std::wstring path = folder;
            if (!path.empty() && path.back() != L'\\' && path.back() != L'/')
                path += L'\\';
            path += name + extension;
            const size_t dot = path.find_last_of(L'.');
            const std::wstring kind = dot == std::wstring::npos ? L"" : path.substr(dot);
            if ((_wcsicmp(kind.c_str(), L".exe") == 0 || _wcsicmp(kind.c_str(), L".com") == 0) && is_file(path))
                return path;
        }
    }
    return L"";
}

static HANDLE inheritable_copy(HANDLE handle)
{
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
        return nullptr;
    return copy;
}

// Standard output becomes handle (which the tool then owns), through the C
// runtime's descriptor 1 and the process's standard handle alike.
static bool stdout_becomes(HANDLE handle)
{
    fflush(stdout);
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY | _O_WRONLY);
    if (fd < 0) {
        CloseHandle(handle);
        return false;
    }
    const bool ok = _dup2(fd, 1) == 0;
    _close(fd);
    if (ok)
        SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(1)));
    return ok;
}

bool start_program_on_stdout(const std::vector<std::string>& args, started_program* program, std::string* reason)
{
    program->name = args[0];
    const std::wstring path = find_program(to_wide(args[0]));
    if (path.empty()) {
        *reason = "no such program (.exe or .com) in the folder given or on PATH";
        return false;
    }
    std::wstring command_line;
    for (const std::string& arg : args)
        command_line += (command_line.empty() ? L"" : L" ") + quoted_argument(to_wide(arg));

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inherit, 1 << 20)) {
        *reason = system_reason(GetLastError());
        return false;
    }
    SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, 0);
    HANDLE out = inheritable_copy(GetStdHandle(STD_OUTPUT_HANDLE));
    HANDLE err = inheritable_copy(GetStdHandle(STD_ERROR_HANDLE));

    // Only these three reach the program, whatever else the tool holds.
    HANDLE handles[3] = {read_end, out, err};
    DWORD handle_count = 1;
    for (HANDLE h : {out, err})
        if (h)
            handles[handle_count++] = h;
    SIZE_T list_size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &list_size);
    std::vector<unsigned char> list(list_size);
    STARTUPINFOEXW info{};
    info.StartupInfo.cb = sizeof info;
    info.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    info.StartupInfo.hStdInput = read_end;
    info.StartupInfo.hStdOutput = out;
    info.StartupInfo.hStdError = err;
    info.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list.data());
    DWORD flags = CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT;
    if (InitializeProcThreadAttributeList(info.lpAttributeList, 1, 0, &list_size) &&
        UpdateProcThreadAttribute(info.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles,
                                  handle_count * sizeof(HANDLE), nullptr, nullptr))
        flags |= EXTENDED_STARTUPINFO_PRESENT;

    PROCESS_INFORMATION started{};
    const BOOL ok = CreateProcessW(path.c_str(), &command_line[0], nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                                   &info.StartupInfo, &started);
    const DWORD error = GetLastError();
    if (flags & EXTENDED_STARTUPINFO_PRESENT)
        DeleteProcThreadAttributeList(info.lpAttributeList);
    CloseHandle(read_end);
    for (HANDLE h : {out, err})
        if (h)
            CloseHandle(h);
    if (!ok) {
        CloseHandle(write_end);
        *reason = system_reason(error);
        return false;
    }
    CloseHandle(started.hThread);
    program->process = started.hProcess;
    if (!stdout_becomes(write_end)) {
        *reason = "cannot write to its pipe";
        return false;
    }
    return true;
}

program_end wait_for_program(started_program& program)
{
    move_stdout_to_null_device();
    program_end end;
    DWORD code = 0;
    WaitForSingleObject(program.process, INFINITE);
    GetExitCodeProcess(program.process, &code);
    CloseHandle(program.process);
    program.process = nullptr;
    end.code = code;
    return end;
}

unsigned long long bytes_left_unread(started_program&)
{
    // An anonymous pipe's write end tells nothing of what is left in it.
    return 0;
}

bool make_stdout(FILE* file)
{
    fflush(stdout);
    const bool ok = _dup2(_fileno(file), 1) == 0;
    fclose(file);
    if (ok)
        SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(1)));
    return ok;
}

bool serve_named_pipe_on_stdout(char** argv, int index, size_t skip, std::string* reason)
{
    const std::wstring wide = wide_argument(index);
    const std::wstring name = wide.size() >= skip ? wide.substr(skip) : to_wide(argv[index] + skip);
    HANDLE pipe = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_OUTBOUND | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                   PIPE_TYPE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 1 << 20, 1 << 20, 0,
                                   nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
        *reason = system_reason(GetLastError());
        return false;
    }
    diag_print(DIAG_INFO, "waiting for a reader on %s\n", to_utf8(name.c_str()).c_str());
    if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) {
        *reason = system_reason(GetLastError());
        CloseHandle(pipe);
        return false;
    }
    if (!stdout_becomes(pipe)) {
        *reason = "cannot write to it";
        return false;
    }
    return true;
}

void drain_stdout_to_reader()
{
    HANDLE out = reinterpret_cast<HANDLE>(_get_osfhandle(1));
    if (GetFileType(out) == FILE_TYPE_PIPE)
        FlushFileBuffers(out);
}

process_usage read_process_usage()
{
    process_usage usage;
    PROCESS_MEMORY_COUNTERS memory{};
    if (GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory)) {
        usage.peak_megabytes = memory.PeakWorkingSetSize / 1048576.0;
        usage.resident_megabytes = memory.WorkingSetSize / 1048576.0;
    }
    FILETIME created, ended, kernel, user;
    if (GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) {
        auto seconds = [](const FILETIME& t) {
            return (static_cast<unsigned long long>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e7;
        };
        usage.user_seconds = seconds(user);
        usage.system_seconds = seconds(kernel);
    }
    return usage;
}

double resident_megabytes()
{
    PROCESS_MEMORY_COUNTERS memory{};
    return GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory) ? memory.WorkingSetSize / 1048576.0 : 0;
}

bool stdout_shows_utf8()
{
    DWORD mode = 0;
    return !GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) || GetConsoleOutputCP() == CP_UTF8;
}

static BOOL WINAPI on_console_event(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    if (++interrupts > 1)
        ExitProcess(2);
    return TRUE;
}

void catch_interrupts()
{
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

#else

std::vector<std::string> read_program_arguments(char** argv, int first, int argc)
{
    return std::vector<std::string>(argv + first, argv + argc);
}

bool start_program_on_stdout(const std::vector<std::string>& args, started_program* program, std::string* reason)
{
    program->name = args[0];
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        *reason = strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[0], 0);
    // The tool ignores SIGPIPE and catches interrupts; the program starts
    // with the defaults, in a process group of its own.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal_number : {SIGPIPE, SIGINT, SIGTERM})
        sigaddset(&defaults, signal_number);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(ends[0]);
    if (error != 0) {
        close(ends[1]);
        *reason = strerror(error);
        return false;
    }
    program->pid = pid;
    fflush(stdout);
    const bool ok = dup2(ends[1], 1) == 1;
    close(ends[1]);
    if (!ok)
        *reason = strerror(errno);
    return ok;
}

program_end wait_for_program(started_program& program)
{
    move_stdout_to_null_device();
    int status = program.status;
    while (!program.ended && waitpid(static_cast<pid_t>(program.pid), &status, 0) < 0 && errno == EINTR)
        ;
    program.pid = 0;
    program_end end;
    end.by_signal = WIFSIGNALED(status);
    end.code = end.by_signal ? WTERMSIG(status) : WEXITSTATUS(status);
    return end;
}

unsigned long long bytes_left_unread(started_program& program)
{
    fflush(stdout);
    for (;;) {
        int unread = 0;
        if (ioctl(1, FIONREAD, &unread) != 0 || unread == 0)
            return 0;
        if (!program.ended && waitpid(static_cast<pid_t>(program.pid), &program.status, WNOHANG) > 0)
            program.ended = true;
        if (program.ended)
            return static_cast<unsigned long long>(unread);
        usleep(2000);
    }
}

bool make_stdout(FILE* file)
{
    fflush(stdout);
    const bool ok = dup2(fileno(file), 1) == 1;
    fclose(file);
    return ok;
}

bool serve_named_pipe_on_stdout(char**, int, size_t, std::string* reason)
{
    *reason = "named pipes of this form are Windows'";
    return false;
}

void drain_stdout_to_reader()
{
}

process_usage read_process_usage()
{
    process_usage usage;
    struct rusage self {};
    if (getrusage(RUSAGE_SELF, &self) == 0) {
#ifdef __APPLE__
        usage.peak_megabytes = self.ru_maxrss / 1048576.0;  // bytes there
#else
        usage.peak_megabytes = self.ru_maxrss / 1024.0;  // KiB
#endif
        usage.user_seconds = self.ru_utime.tv_sec + self.ru_utime.tv_usec / 1e6;
        usage.system_seconds = self.ru_stime.tv_sec + self.ru_stime.tv_usec / 1e6;
    }
    usage.resident_megabytes = resident_megabytes();
    return usage;
}

double resident_megabytes()
{
    // The second field of /proc/self/statm: resident pages.
    FILE* statm = fopen("/proc/self/statm", "r");
    long long pages = 0, resident = 0;
    const bool read = statm && fscanf(statm, "%lld %lld", &pages, &resident) == 2;
    if (statm)
        fclose(statm);
    return read ? resident * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0 : 0;
}

bool stdout_shows_utf8()
{
    if (!isatty(1))
        return true;
    // The terminal's character set is the environment's locale's; the
    // process runs in "C" otherwise, and goes back to it.
    const std::string before = setlocale(LC_CTYPE, nullptr);
    setlocale(LC_CTYPE, "");
    const std::string codeset = nl_langinfo(CODESET);
    setlocale(LC_CTYPE, before.c_str());
    return codeset == "UTF-8" || codeset == "utf8";
}

static void on_interrupt(int)
{
    // A second one ends the process at once (a frame server can take its
    // time over one frame).
    if (++interrupts > 1) {
        static const char message[] = "clipspout [error]: interrupted.\n";
        if (write(2, message, sizeof message - 1) < 0) {
        }
        _exit(2);
    }
}

void catch_interrupts()
{
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

#endif
