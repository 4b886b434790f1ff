// The platform on POSIX systems: standard output, library loading, the
// program the tool starts, signals and the process's usage.

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <langinfo.h>
#include <spawn.h>
#include <poll.h>
#include <pthread.h>
#include <time.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/diag.h"
#include "common/platform.h"
#include "common/platform_internal.h"

extern char** environ;

// Lock-free, so that the handler may count it and any thread read it.
static std::atomic<int> interrupts {0};
// The process group of the program the tool started, while it runs: a
// second signal stops it before the tool ends, so that none is orphaned.
static volatile sig_atomic_t program_group = 0;
// After an interrupt, a reader that took nothing for this long is given up
// (a program that never reads, a pipe no one drains).
constexpr int INTERRUPT_GRACE_MS = INTERRUPT_GRACE_SECONDS * 1000;
static bool writes_abandoned = false;

void end_process(int status)
{
    end_process_flush(&status);
    // Only the handlers registered for it run (the test double's checks).
    quick_exit(status);
}

// The stream's descriptor: 1 until set aside, then a copy of what standard
// output was, kept from the programs the tool starts unless handed to one.
static int stream_fd = 1;
static FILE* stream_file = nullptr;

FILE* stream_out()
{
    return stream_file ? stream_file : stdout;
}

// The stream's descriptor becomes a copy of fd (which stays open).
static bool stream_becomes(int fd)
{
    fflush(stream_out());
    if (dup2(fd, stream_fd) != stream_fd)
        return false;
    if (stream_fd != 1)
        fcntl(stream_fd, F_SETFD, FD_CLOEXEC);
    return true;
}

void set_stream_aside()
{
    const int kept = fcntl(1, F_DUPFD_CLOEXEC, 3);
    FILE* file = kept >= 0 ? fdopen(kept, "w") : nullptr;
    if (!file || dup2(2, 1) != 1) {
        if (file)
            fclose(file);
        else if (kept >= 0)
            close(kept);
        return;  // the stream stays on descriptor 1, unguarded
    }
    stream_fd = kept;
    stream_file = file;
    // What a plugin prints reaches standard error at once, in its place
    // among the tool's own lines, and none of it waits in a buffer that an
    // ending process never flushes.
    setvbuf(stdout, nullptr, _IONBF, 0);
}

// Once the program is to see the end of its input, the pipe's write end
// goes; the stream's descriptor stays open, on the null device, so that
// nothing the tool opens later takes its place.
static void move_stdout_to_null_device()
{
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        stream_becomes(null);
        close(null);
    }
}

bool interrupt_requested()
{
    return interrupts > 0;
}

bool is_named_pipe_name(const std::string&)
{
    return false;  // such a name is an ordinary file here
}

std::string describe_program_end(const started_program& program, const program_end& end)
{
    char text[160];
    if (end.by_signal)
        snprintf(text, sizeof text, "%s was ended by signal %lld (%s)", program.name.c_str(), end.code,
                 strsignal(static_cast<int>(end.code)));
    else
        snprintf(text, sizeof text, "%s ended with status %lld", program.name.c_str(), end.code);
    return text;
}


static bool descriptor_closed(int fd)
{
    return fcntl(fd, F_GETFD) == -1 && errno == EBADF;
}

bool open_standard_streams()
{
    // open() takes the lowest free descriptor: 0 first, and 2 only once 1
    // is known to be open.
    if (descriptor_closed(0) && open("/dev/null", O_RDONLY) != 0)
        return false;
    if (descriptor_closed(1))
        return false;
    if (descriptor_closed(2) && open("/dev/null", O_WRONLY) != 2)
        return false;
    return true;
}

bool set_stdout_binary()
{
    return true;  // POSIX streams never translate
}

void ignore_broken_pipe()
{
    signal(SIGPIPE, SIG_IGN);
}

void enlarge_stdout_pipe()
{
#ifdef F_SETPIPE_SZ
    struct stat st;
    if (fstat(stream_fd, &st) != 0 || !S_ISFIFO(st.st_mode))
        return;
    int size = 1 << 20;
    if (FILE* max = fopen("/proc/sys/fs/pipe-max-size", "r")) {
        if (fscanf(max, "%d", &size) != 1)
            size = 1 << 20;
        fclose(max);
    }
    fcntl(stream_fd, F_SETPIPE_SZ, size);
#endif
}

static long long monotonic_ms()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Whether standard output takes bytes again within the grace; a signal
// that breaks the wait (a nudge, a second thread's) does not end it early.
static bool wait_writable_within_grace()
{
    const long long deadline = monotonic_ms() + INTERRUPT_GRACE_MS;
    for (;;) {
        const long long left = deadline - monotonic_ms();
        if (left <= 0)
            return false;
        pollfd writable = {stream_fd, POLLOUT, 0};
        const int ready = poll(&writable, 1, static_cast<int>(left));
        if (ready > 0)
            return true;  // writable, or an error the next write reports
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

size_t write_stdout_chunks(const out_chunk* chunks, size_t count)
{
    // Anything stdio still holds must go first.
    if (fflush(stream_out()) != 0)
        return 0;
    size_t written = 0;
    iovec vec[IOV_MAX];
    size_t next = 0, offset = 0;  // first chunk not yet fully written, and how much of it is
    while (next < count) {
        int n = 0;
        for (size_t i = next; i < count && n < IOV_MAX; ++i, ++n) {
            size_t skip = i == next ? offset : 0;
            vec[n].iov_base = const_cast<char*>(static_cast<const char*>(chunks[i].data) + skip);
            vec[n].iov_len = chunks[i].size - skip;
        }
        // Once interrupted, the frame under way still goes out whole, but
        // no longer blocking: a reader that takes nothing within the grace
        // is given up.
        if (interrupt_requested())
            fcntl(stream_fd, F_SETFL, fcntl(stream_fd, F_GETFL) | O_NONBLOCK);
        ssize_t done = writev(stream_fd, vec, n);
        if (done < 0 && (errno == EINTR || errno == EAGAIN) && interrupt_requested()) {
            if (!wait_writable_within_grace()) {
                writes_abandoned = true;
                return written;
            }
            continue;
        }
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return written;
        written += static_cast<size_t>(done);
        size_t left = static_cast<size_t>(done);
        while (next < count && left >= chunks[next].size - offset) {
            left -= chunks[next].size - offset;
            offset = 0;
            ++next;
        }
        offset += left;
    }
    return written;
}

bool stderr_is_terminal()
{
    return isatty(2) != 0;
}

std::string frameserver_search_remedy()
{
#if defined(__APPLE__)
    return "looked for libavisynth.dylib where the dynamic linker looks: DYLD_LIBRARY_PATH, then /usr/local/lib and "
           "/usr/lib; install AviSynth+ (doc/avisynth.md says how), or name its library with --frameserver=PATH";
#else
    return "looked for libavisynth.so (and libavisynth.so.N) where the dynamic linker looks: LD_LIBRARY_PATH, then "
           "the folders of /etc/ld.so.conf; install AviSynth+ (doc/avisynth.md says how), or name its library with "
           "--frameserver=PATH";
#endif
}

void* open_library(const char* name, char* reason, size_t reason_size)
{
    void* library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (!library)
        copy_reason(reason, reason_size, dlerror());
    return library;
}

void* library_symbol(void* library, const char* name)
{
    return dlsym(library, name);
}

void* open_library_file(const std::string& given, const char* file_name, std::string* loaded, std::string* reason)
{
    std::string path = given;
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        path += std::string("/") + file_name;
    if (stat(path.c_str(), &st) != 0) {
        *reason = "it does not exist";
        return nullptr;
    }
    // A name without a folder would be searched for.
    if (path.find('/') == std::string::npos)
        path = "./" + path;
    *loaded = path;
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library)
        return library;
    const char* error = dlerror();
    const std::string text = error ? error : "dlopen failed";
    const bool tool64 = sizeof(void*) == 8;
    if (text.find(tool64 ? "ELFCLASS32" : "ELFCLASS64") != std::string::npos)
        *reason = tool64 ? "it is a 32-bit library for the 64-bit tool" : "it is a 64-bit library for the 32-bit tool";
    else if (text.find("invalid ELF header") != std::string::npos || text.find("file too short") != std::string::npos)
        *reason = "it is not a library";
    else
        *reason = text;
    return nullptr;
}

std::string library_file_name(void* library, const char* symbol)
{
    Dl_info info {};
    void* address = dlsym(library, symbol);
    return address && dladdr(address, &info) && info.dli_fname ? info.dli_fname : "";
}

std::vector<std::string> command_arguments(int argc, char** argv)
{
    return std::vector<std::string>(argv, argv + argc);
}

std::string frameserver_text(const std::string& text)
{
    return text;
}

FILE* create_output_file(const std::string& path)
{
    return fopen(path.c_str(), "wb");
}

// Where a name that does not exist yet would be created: a link to
// nowhere is followed to its target, and the folder resolved through its
// own links, so that ./out.y4m, out.y4m and a dangling link to it are one.
static std::string resolved_path(std::string name)
{
    for (int links = 0; links < 40; ++links) {
        char target[PATH_MAX];
        const ssize_t size = readlink(name.c_str(), target, sizeof target - 1);
        if (size <= 0)
            break;
        target[size] = '\0';
        const size_t slash = name.rfind('/');
        name = target[0] == '/' || slash == std::string::npos ? std::string(target) : name.substr(0, slash + 1) + target;
    }
    const size_t slash = name.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
    const std::string last = slash == std::string::npos ? name : name.substr(slash + 1);
    char real[PATH_MAX];
    if (!realpath(folder.c_str(), real))
        return name;
    return std::string(real) + (real[1] ? "/" : "") + last;
}

bool same_file(const std::string& a, const std::string& b)
{
    struct stat st_a, st_b;
    const bool a_exists = stat(a.c_str(), &st_a) == 0, b_exists = stat(b.c_str(), &st_b) == 0;
    if (a_exists && b_exists)
        return S_ISREG(st_a.st_mode) && S_ISREG(st_b.st_mode) && st_a.st_dev == st_b.st_dev &&
               st_a.st_ino == st_b.st_ino;
    return !a_exists && !b_exists && resolved_path(a) == resolved_path(b);
}

bool is_standard_output_file(const std::string& path)
{
    struct stat named, standard;
    return fstat(stream_fd, &standard) == 0 && S_ISREG(standard.st_mode) && stat(path.c_str(), &named) == 0 &&
           named.st_dev == standard.st_dev && named.st_ino == standard.st_ino;
}

bool file_held_open(const std::string& path)
{
    struct stat named;
    if (stat(path.c_str(), &named) != 0 || !S_ISREG(named.st_mode))
        return false;
    auto holds = [&](int fd) {
        struct stat open_file;
        return fd > 2 && fd != stream_fd && fstat(fd, &open_file) == 0 && open_file.st_dev == named.st_dev &&
               open_file.st_ino == named.st_ino;
    };
    // The system's list of this process's descriptors (Linux, and /dev/fd
    // elsewhere), else every number up to a bound.
    for (const char* listing : {"/proc/self/fd", "/dev/fd"}) {
        DIR* folder = opendir(listing);
        if (!folder)
            continue;
        bool held = false;
        while (dirent* entry = readdir(folder))
            held = held || (entry->d_name[0] != '.' && holds(atoi(entry->d_name)));
        closedir(folder);
        return held;
    }
    const long most = std::min(sysconf(_SC_OPEN_MAX), 65536L);
    for (int fd = 3; fd < most; ++fd)
        if (holds(fd))
            return true;
    return false;
}

script_path read_script_path(const std::string& name)
{
    script_path path;
    path.ansi = name;
    struct stat st;
    path.is_folder = stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    return path;
}




// The file a shell would run for name: name itself where it holds a "/",
// else the first executable file of that name along PATH.
static std::string program_file(const std::string& name)
{
    if (name.find('/') != std::string::npos)
        return name;
    const char* path = getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    for (size_t start = 0; start <= folders.size();) {
        const size_t end = std::min(folders.find(':', start), folders.size());
        const std::string folder = end > start ? folders.substr(start, end - start) : ".";
        const std::string file = folder + "/" + name;
        if (access(file.c_str(), X_OK) == 0)
            return file;
        start = end + 1;
    }
    return name;
}

static int spawn(pid_t* pid, const std::vector<std::string>& args, const posix_spawn_file_actions_t* actions,
                 const posix_spawnattr_t* attributes)
{
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    return posix_spawnp(pid, argv[0], actions, attributes, argv.data(), environ);
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
    // The program's standard output is what the tool's was, not where the
    // tool sends what plugins print.
    if (stream_fd != 1)
        posix_spawn_file_actions_adddup2(&actions, stream_fd, 1);
    // The tool ignores SIGPIPE and catches interrupts; the program starts
    // with the defaults, in a process group of its own.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal_number : {SIGPIPE, SIGINT, SIGTERM, SIGHUP})
        sigaddset(&defaults, signal_number);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    pid_t pid = 0;
    int error = spawn(&pid, args, &actions, &attributes);
    // An executable text file without "#!" is a shell script to a shell
    // (and to execvp), which runs it through sh.
    if (error == ENOEXEC) {
        std::vector<std::string> through_sh = {"/bin/sh", program_file(args[0])};
        through_sh.insert(through_sh.end(), args.begin() + 1, args.end());
        error = spawn(&pid, through_sh, &actions, &attributes);
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(ends[0]);
    if (error != 0) {
        close(ends[1]);
        *reason = strerror(error);
        return false;
    }
    program->pid = pid;
    program_group = pid;
    const bool ok = stream_becomes(ends[1]);
    close(ends[1]);
    if (!ok)
        *reason = strerror(errno);
    return ok;
}

// Tells a program that no longer reads to stop: SIGTERM to its group, and
// SIGKILL if it has not ended after a few seconds.
static void stop_program(started_program& program, int* status)
{
    kill(-static_cast<pid_t>(program.pid), SIGTERM);
    for (int waited = 0; waited < 3000; waited += 20) {
        if (waitpid(static_cast<pid_t>(program.pid), status, WNOHANG) == static_cast<pid_t>(program.pid)) {
            program.ended = true;
            return;
        }
        usleep(20000);
    }
    kill(-static_cast<pid_t>(program.pid), SIGKILL);
}

program_end wait_for_program(started_program& program)
{
    move_stdout_to_null_device();
    int status = program.status;
    if (!program.ended && writes_abandoned)
        stop_program(program, &status);
    while (!program.ended && waitpid(static_cast<pid_t>(program.pid), &status, 0) < 0 && errno == EINTR)
        ;
    program.ended = true;
    program_group = 0;
    program.pid = 0;
    program_end end;
    end.by_signal = WIFSIGNALED(status);
    end.code = end.by_signal ? WTERMSIG(status) : WEXITSTATUS(status);
    return end;
}

unsigned long long bytes_left_unread(started_program& program)
{
    fflush(stream_out());
    int last = -1, still = 0;
    for (;;) {
        int unread = 0;
        if (ioctl(stream_fd, FIONREAD, &unread) != 0 || unread == 0)
            return 0;
        if (!program.ended && waitpid(static_cast<pid_t>(program.pid), &program.status, WNOHANG) > 0)
            program.ended = true;
        if (program.ended)
            return static_cast<unsigned long long>(unread);
        // Interrupted, a program that takes nothing more is given up.
        still = unread == last ? still + 2 : 0;
        last = unread;
        if (interrupt_requested() && still >= INTERRUPT_GRACE_MS) {
            writes_abandoned = true;
            return static_cast<unsigned long long>(unread);
        }
        usleep(2000);
    }
}

bool make_stdout(FILE* file)
{
    const bool ok = stream_becomes(fileno(file));
    fclose(file);
    return ok;
}

bool serve_named_pipe_on_stdout(const std::string&, std::string* reason)
{
    *reason = "named pipes of this form are Windows'";
    return false;
}

void drain_stdout_to_reader()
{
}

struct worker {
    pthread_t thread {};
    void (*run)(void*) = nullptr;
    void* arg = nullptr;
    bool nudged = false;
};

static void* run_worker(void* thread)
{
    worker* w = static_cast<worker*>(thread);
    w->run(w->arg);
    return nullptr;
}

// A nudge only breaks the worker's blocked write off; the write's own loop
// then sees the interrupt.
static void on_nudge(int)
{
}

worker* worker_start(void (*run)(void*), void* arg)
{
    struct sigaction action {};
    action.sa_handler = on_nudge;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: the write returns
    sigaction(SIGUSR1, &action, nullptr);
    // The new thread inherits this mask: the interrupts never land on it.
    sigset_t interrupts_only, before;
    sigemptyset(&interrupts_only);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&interrupts_only, signal_number);
    pthread_sigmask(SIG_BLOCK, &interrupts_only, &before);
    worker* w = new worker;
    w->run = run;
    w->arg = arg;
    const bool started = pthread_create(&w->thread, nullptr, run_worker, w) == 0;
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (!started) {
        delete w;
        return nullptr;
    }
    return w;
}

void worker_join(worker* thread)
{
    pthread_join(thread->thread, nullptr);
    delete thread;
}

void worker_nudge(worker* thread)
{
    if (thread->nudged)
        return;
    thread->nudged = true;
    // Non-blocking first: a nudge that comes just before the write begins
    // then cannot leave it blocked.
    fcntl(stream_fd, F_SETFL, fcntl(stream_fd, F_GETFL) | O_NONBLOCK);
    pthread_kill(thread->thread, SIGUSR1);
}

struct handoff {
    pthread_mutex_t lock;
    pthread_cond_t changed;
};

handoff* handoff_create()
{
    handoff* h = new handoff;
    pthread_mutex_init(&h->lock, nullptr);
    pthread_condattr_t attributes;
    pthread_condattr_init(&attributes);
#ifndef __APPLE__
    pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
#endif
    pthread_cond_init(&h->changed, &attributes);
    pthread_condattr_destroy(&attributes);
    return h;
}

void handoff_destroy(handoff* h)
{
    pthread_cond_destroy(&h->changed);
    pthread_mutex_destroy(&h->lock);
    delete h;
}

void handoff_lock(handoff* h)
{
    pthread_mutex_lock(&h->lock);
}

void handoff_unlock(handoff* h)
{
    pthread_mutex_unlock(&h->lock);
}

void handoff_wait(handoff* h, int timeout_ms)
{
    timespec wait {timeout_ms / 1000, (timeout_ms % 1000) * 1000000L};
#ifdef __APPLE__
    pthread_cond_timedwait_relative_np(&h->changed, &h->lock, &wait);
#else
    timespec until {};
    clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_sec += wait.tv_sec;
    until.tv_nsec += wait.tv_nsec;
    if (until.tv_nsec >= 1000000000L) {
        until.tv_sec += 1;
        until.tv_nsec -= 1000000000L;
    }
    pthread_cond_timedwait(&h->changed, &h->lock, &until);
#endif
}

void handoff_wake(handoff* h)
{
    pthread_cond_broadcast(&h->changed);
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
    if (!isatty(stream_fd))
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
    // time over one frame), and the program with it.
    if (++interrupts > 1) {
        static const char message[] = "clipspout [error]: interrupted.\n";
        if (write(2, message, sizeof message - 1) < 0) {
        }
        if (program_group > 0)
            kill(-static_cast<pid_t>(program_group), SIGTERM);
        _exit(2);
    }
}

void catch_interrupts()
{
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a write or an open that blocks on a reader that never
    // comes returns, so that the tool can give it up.
    action.sa_flags = 0;
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal_number, &action, nullptr);
}

