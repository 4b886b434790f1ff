#include "common/platform.h"
#include "common/platform_internal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <shellapi.h>
#else
#include <cerrno>
#include <climits>
#include <csignal>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

void end_process(int status)
{
    // An output that did not reach its end must not end as a success.
    if (fflush(stdout) != 0 || ferror(stdout))
        status = status ? status : 2;
    fflush(stderr);
#if defined(__SANITIZE_ADDRESS__)
    __lsan_do_leak_check();
#endif
#ifdef _WIN32
    _exit(status);
#else
    // Only the handlers registered for it run (the test double's checks).
    quick_exit(status);
#endif
}

static void copy_reason(char* reason, size_t reason_size, const char* text)
{
    if (reason_size == 0)
        return;
    snprintf(reason, reason_size, "%s", text ? text : "unknown reason");
    size_t n = strlen(reason);
    while (n > 0 && (reason[n - 1] == '\n' || reason[n - 1] == '\r' || reason[n - 1] == '.' || reason[n - 1] == ' '))
        reason[--n] = '\0';
}

#ifdef _WIN32

// A standard handle that is missing or invalid: the parent closed it, or
// started the tool without it.
static bool standard_handle_closed(DWORD which, int fd)
{
    HANDLE handle = GetStdHandle(which);
    return handle == nullptr || handle == INVALID_HANDLE_VALUE || _get_osfhandle(fd) < 0;
}

bool open_standard_streams()
{
    if (standard_handle_closed(STD_INPUT_HANDLE, 0) && freopen("NUL", "rb", stdin))
        SetStdHandle(STD_INPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdin))));
    if (standard_handle_closed(STD_OUTPUT_HANDLE, 1))
        return false;
    if (standard_handle_closed(STD_ERROR_HANDLE, 2) && freopen("NUL", "wb", stderr))
        SetStdHandle(STD_ERROR_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stderr))));
    return true;
}

bool set_stdout_binary()
{
    return _setmode(_fileno(stdout), _O_BINARY) != -1;
}

void ignore_broken_pipe()
{
    // Windows reports a closed pipe as a failed write already.
}

void enlarge_stdout_pipe()
{
}

// No gather write for pipes and consoles here: stdio's large buffer turns
// the rows into few WriteFile calls.
size_t write_stdout_chunks(const out_chunk* chunks, size_t count)
{
    size_t written = 0;
    for (size_t i = 0; i < count; ++i) {
        size_t n = fwrite(chunks[i].data, 1, chunks[i].size, stdout);
        written += n;
        if (n != chunks[i].size)
            return written;
    }
    return fflush(stdout) == 0 ? written : 0;
}

bool stderr_is_terminal()
{
    return _isatty(_fileno(stderr)) != 0;
}

void* open_library(const char* name, char* reason, size_t reason_size)
{
    // Only the application folder and System32: a DLL planted in the
    // current folder or on PATH must never be picked up.
    HMODULE library = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!library) {
        char text[512] = "";
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, GetLastError(), 0, text,
                       sizeof text, nullptr);
        copy_reason(reason, reason_size, text[0] ? text : "LoadLibraryEx failed");
    }
    return reinterpret_cast<void*>(library);
}

void* library_symbol(void* library, const char* name)
{
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

// The ANSI form of text, if the ANSI code page holds every character of it
// exactly (no "?" and no look-alike stand-ins).
static bool exact_ansi(const wchar_t* text, std::string* ansi)
{
    BOOL lossy = FALSE;
    int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, -1, nullptr, 0, nullptr, &lossy);
    if (size <= 0 || lossy)
        return false;
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, -1, &bytes[0], size, nullptr, &lossy);
    bytes.resize(static_cast<size_t>(size) - 1);
    // A round trip tells an exact conversion from one the flag misses.
    int wide_size = MultiByteToWideChar(CP_ACP, 0, bytes.c_str(), -1, nullptr, 0);
    std::wstring back(static_cast<size_t>(wide_size > 0 ? wide_size : 1), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.c_str(), -1, &back[0], wide_size);
    if (lossy || wcscmp(back.c_str(), text) != 0)
        return false;
    *ansi = bytes;
    return true;
}

std::string to_utf8(const wchar_t* text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size > 0 ? size : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &bytes[0], size, nullptr, nullptr);
    bytes.resize(bytes.size() - 1);
    return bytes;
}

// Argument index of the wide command line, as the user typed it; empty if
// the command line cannot be split (not seen: the C runtime splits it the
// same way).
std::wstring wide_argument(int index)
{
    std::wstring text;
    int count = 0;
    wchar_t** wide_argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide_argv && index < count)
        text = wide_argv[index];
    if (wide_argv)
        LocalFree(wide_argv);
    return text;
}

std::string read_argument_text(char** argv, int index, size_t skip)
{
    std::string text = argv[index] + skip;
    std::wstring wide = wide_argument(index);
    std::string ansi;
    // The skipped characters are ASCII: one wide character each.
    if (wide.size() >= skip && (!exact_ansi(wide.c_str() + skip, &ansi) || ansi != text))
        text = to_utf8(wide.c_str() + skip);
    return text;
}

FILE* create_output_file(char** argv, int index, size_t skip)
{
    const std::wstring wide = wide_argument(index);
    if (wide.size() < skip)
        return fopen(argv[index] + skip, "wb");
    return _wfopen(wide.c_str() + skip, L"wb");
}

// The volume and index that name a regular file whatever its path; false
// for anything else (a console, NUL, a pipe).
static bool file_identity(const std::wstring& path, BY_HANDLE_FILE_INFORMATION* info)
{
    HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool ok = GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, info) != 0 &&
                    !(info->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    CloseHandle(file);
    return ok;
}

static bool same_identity(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b)
{
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

bool same_file(char** argv, int a, size_t a_skip, int b, size_t b_skip)
{
    (void)argv;
    const std::wstring wide_a = wide_argument(a), wide_b = wide_argument(b);
    if (wide_a.size() < a_skip || wide_b.size() < b_skip)
        return false;
    const std::wstring path_a = wide_a.substr(a_skip), path_b = wide_b.substr(b_skip);
    const bool a_exists = GetFileAttributesW(path_a.c_str()) != INVALID_FILE_ATTRIBUTES;
    const bool b_exists = GetFileAttributesW(path_b.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (!a_exists && !b_exists)
        return _wcsicmp(path_a.c_str(), path_b.c_str()) == 0;  // Windows' names ignore case
    BY_HANDLE_FILE_INFORMATION info_a, info_b;
    return file_identity(path_a, &info_a) && file_identity(path_b, &info_b) && same_identity(info_a, info_b);
}

bool is_standard_output_file(char** argv, int index, size_t skip)
{
    (void)argv;
    const std::wstring wide = wide_argument(index);
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    BY_HANDLE_FILE_INFORMATION named, standard;
    return wide.size() >= skip && output && output != INVALID_HANDLE_VALUE && GetFileType(output) == FILE_TYPE_DISK &&
           GetFileInformationByHandle(output, &standard) != 0 && file_identity(wide.substr(skip), &named) &&
           same_identity(named, standard);
}

script_path read_script_path(char** argv, int index)
{
    script_path path;
    path.ansi = argv[index];
    const std::wstring wide = wide_argument(index);
    if (wide.empty())
        return path;
    std::string ansi;
    if (!exact_ansi(wide.c_str(), &ansi) || ansi != argv[index]) {
        path.ansi_exact = false;
        path.utf8 = to_utf8(wide.c_str());
        DWORD size = GetShortPathNameW(wide.c_str(), nullptr, 0);
        if (size > 0) {
            std::wstring short_path(size, L'\0');
            if (GetShortPathNameW(wide.c_str(), &short_path[0], size) > 0 && exact_ansi(short_path.c_str(), &ansi))
                path.short_ansi = ansi;
        }
    }
    DWORD attributes = GetFileAttributesW(wide.c_str());
    path.is_folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    return path;
}

#else

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
    if (fstat(1, &st) != 0 || !S_ISFIFO(st.st_mode))
        return;
    int size = 1 << 20;
    if (FILE* max = fopen("/proc/sys/fs/pipe-max-size", "r")) {
        if (fscanf(max, "%d", &size) != 1)
            size = 1 << 20;
        fclose(max);
    }
    fcntl(1, F_SETPIPE_SZ, size);
#endif
}

size_t write_stdout_chunks(const out_chunk* chunks, size_t count)
{
    // Anything stdio still holds must go first.
    if (fflush(stdout) != 0)
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
        ssize_t done = writev(1, vec, n);
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

std::string read_argument_text(char** argv, int index, size_t skip)
{
    return argv[index] + skip;
}

FILE* create_output_file(char** argv, int index, size_t skip)
{
    return fopen(argv[index] + skip, "wb");
}

bool same_file(char** argv, int a, size_t a_skip, int b, size_t b_skip)
{
    struct stat st_a, st_b;
    const bool a_exists = stat(argv[a] + a_skip, &st_a) == 0, b_exists = stat(argv[b] + b_skip, &st_b) == 0;
    if (!a_exists && !b_exists)
        return strcmp(argv[a] + a_skip, argv[b] + b_skip) == 0;
    return a_exists && b_exists && S_ISREG(st_a.st_mode) && S_ISREG(st_b.st_mode) && st_a.st_dev == st_b.st_dev &&
           st_a.st_ino == st_b.st_ino;
}

bool is_standard_output_file(char** argv, int index, size_t skip)
{
    struct stat named, standard;
    return fstat(STDOUT_FILENO, &standard) == 0 && S_ISREG(standard.st_mode) && stat(argv[index] + skip, &named) == 0 &&
           named.st_dev == standard.st_dev && named.st_ino == standard.st_ino;
}

script_path read_script_path(char** argv, int index)
{
    script_path path;
    path.ansi = argv[index];
    struct stat st;
    path.is_folder = stat(argv[index], &st) == 0 && S_ISDIR(st.st_mode);
    return path;
}

#endif
