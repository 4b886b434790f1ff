// The platform on Windows: standard output, the wide command line, library
// loading, the program the tool starts, named pipes and console events.

#include <atomic>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <psapi.h>
#include <shellapi.h>

#include "common/diag.h"
#include "common/platform.h"
#include "common/platform_internal.h"

// Lock-free, so that the handler may count it and any thread read it.
static std::atomic<int> interrupts {0};
// The program the tool started, while it runs: a second event stops it
// before the tool ends, so that none is left behind.
static HANDLE volatile program_process = nullptr;

void end_process(int status)
{
    end_process_flush(&status);
    _exit(status);
}

// The stream's descriptor in the C runtime: 1 until set aside, then a copy
// of what standard output was.
static int stream_fd = 1;
static FILE* stream_file = nullptr;

FILE* stream_out()
{
    return stream_file ? stream_file : stdout;
}

static HANDLE stream_handle()
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(stream_fd));
}

// The stream's descriptor becomes a copy of fd (which stays open). Until
// it is set aside, the process's standard output handle follows it.
static bool stream_becomes(int fd)
{
    fflush(stream_out());
    if (_dup2(fd, stream_fd) != 0)
        return false;
    if (stream_fd == 1)
        SetStdHandle(STD_OUTPUT_HANDLE, stream_handle());
    return true;
}

void set_stream_aside()
{
    const int kept = _dup(1);
    FILE* file = kept >= 0 ? _fdopen(kept, "w") : nullptr;
    if (!file || _dup2(2, 1) != 0) {
        if (file)
            fclose(file);
        else if (kept >= 0)
            _close(kept);
        return;  // the stream stays on descriptor 1, unguarded
    }
    stream_fd = kept;
    stream_file = file;
    // WriteFile(GetStdHandle(STD_OUTPUT_HANDLE)) and a C runtime that a
    // plugin brings and starts later find standard error there.
    SetStdHandle(STD_OUTPUT_HANDLE, GetStdHandle(STD_ERROR_HANDLE));
    // What a plugin prints reaches standard error at once, in its place
    // among the tool's own lines.
    setvbuf(stdout, nullptr, _IONBF, 0);
}

// Once the program is to see the end of its input, the pipe's write end
// goes; the stream's descriptor stays open, on the null device, so that
// nothing the tool opens later takes its place.
static void move_stdout_to_null_device()
{
    const int null = _open("NUL", _O_WRONLY | _O_BINARY);
    if (null >= 0) {
        stream_becomes(null);
        _close(null);
    }
}

bool interrupt_requested()
{
    return interrupts > 0;
}

bool is_named_pipe_name(const std::string& name)
{
    static const char prefix[] = "\\\\.\\pipe\\";
    return name.size() > sizeof prefix - 1 && _strnicmp(name.c_str(), prefix, sizeof prefix - 1) == 0;
}

std::string describe_program_end(const started_program& program, const program_end& end)
{
    char text[160];
    if (end.by_signal)
        snprintf(text, sizeof text, "%s was ended by signal %lld", program.name.c_str(), end.code);
    else
        // Crashes come as NTSTATUS codes: 0xC0000005 reads better than
        // -1073741819.
        snprintf(text, sizeof text, end.code > 0xFFFF ? "%s ended with status 0x%llX" : "%s ended with status %lld",
                 program.name.c_str(), end.code);
    return text;
}


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
    return _setmode(stream_fd, _O_BINARY) != -1;
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
        size_t n = fwrite(chunks[i].data, 1, chunks[i].size, stream_out());
        written += n;
        if (n != chunks[i].size)
            return written;
    }
    return fflush(stream_out()) == 0 ? written : 0;
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

static std::string to_utf8(const wchar_t* text);
static std::wstring to_wide(const std::string& text);
static std::wstring full_path(const std::wstring& name);

std::string frameserver_search_remedy()
{
    wchar_t exe[MAX_PATH] = L"";
    const DWORD size = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::string folder = size > 0 && size < MAX_PATH ? to_utf8(exe) : "";
    folder = folder.substr(0, folder.find_last_of('\\') == std::string::npos ? 0 : folder.find_last_of('\\'));
    return "looked for avisynth.dll in the tool's own folder" + (folder.empty() ? "" : " (" + folder + ")") +
           " and in the system folder: install AviSynth+ (its installer puts avisynth.dll in the system folder), "
           "put a portable AviSynth+'s avisynth.dll beside clipspout.exe, or name it with --frameserver=PATH";
}

// The machine a PE file is built for, 0 where it is none.
static unsigned pe_machine(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    unsigned char head[4096] = {};
    DWORD got = 0;
    const bool read = ReadFile(file, head, sizeof head, &got, nullptr);
    CloseHandle(file);
    if (!read || got < 64 || head[0] != 'M' || head[1] != 'Z')
        return 0;
    const DWORD pe = head[60] | head[61] << 8 | head[62] << 16 | static_cast<DWORD>(head[63]) << 24;
    if (pe + 6 > got || memcmp(head + pe, "PE\0\0", 4) != 0)
        return 0;
    return head[pe + 4] | head[pe + 5] << 8;
}

void* open_library_file(const std::string& given, const char* file_name, std::string* loaded, std::string* reason)
{
    std::wstring path = full_path(to_wide(given));
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        path += L"\\" + to_wide(file_name);
        attributes = GetFileAttributesW(path.c_str());
    }
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        *reason = "it does not exist";
        return nullptr;
    }
    *loaded = to_utf8(path.c_str());
    // Its own folder first, then System32: never the current folder.
    HMODULE library =
        LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (library)
        return reinterpret_cast<void*>(library);
    const DWORD error = GetLastError();
    const unsigned machine = pe_machine(path);
    const bool tool64 = sizeof(void*) == 8;
    if (machine == (tool64 ? 0x14cu : 0x8664u))
        *reason = tool64 ? "it is a 32-bit DLL for the 64-bit tool" : "it is a 64-bit DLL for the 32-bit tool";
    else if (error == ERROR_BAD_EXE_FORMAT || machine == 0)
        *reason = "it is not a library";
    else {
        char text[512] = "";
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text, sizeof text,
                       nullptr);
        char clean[512];
        copy_reason(clean, sizeof clean, text[0] ? text : "LoadLibraryEx failed");
        *reason = clean;
    }
    return nullptr;
}

std::string library_file_name(void* library, const char*)
{
    wchar_t name[32768];
    const DWORD size = GetModuleFileNameW(static_cast<HMODULE>(library), name, 32768);
    return size > 0 && size < 32768 ? to_utf8(name) : "";
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

static std::string to_utf8(const wchar_t* text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size > 0 ? size : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &bytes[0], size, nullptr, nullptr);
    bytes.resize(bytes.size() - 1);
    return bytes;
}

static std::wstring to_wide(const std::string& text)
{
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(size > 0 ? size : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], size);
    wide.resize(wide.size() - 1);
    return wide;
}

// The narrow arguments are in the ANSI code page, which turns every
// character it does not hold into "?": the command line is read wide, as
// the user typed it, and kept in UTF-8 from here on.
std::vector<std::string> command_arguments(int argc, char** argv)
{
    std::vector<std::string> args;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    // The C runtime splits the command line as CommandLineToArgvW does;
    // where the two counts differ (not seen) the narrow arguments stand.
    for (int i = 0; i < argc; ++i)
        args.push_back(wide && count == argc ? to_utf8(wide[i]) : std::string(argv[i]));
    if (wide)
        LocalFree(wide);
    return args;
}

std::string frameserver_text(const std::string& text)
{
    std::string ansi;
    return exact_ansi(to_wide(text).c_str(), &ansi) ? ansi : text;
}

FILE* create_output_file(const std::string& path)
{
    return _wfopen(to_wide(path).c_str(), L"wb");
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

// The absolute path a name stands for, "." and ".." resolved.
static std::wstring full_path(const std::wstring& name)
{
    const DWORD size = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return name;
    std::wstring full(size, L'\0');
    const DWORD written = GetFullPathNameW(name.c_str(), size, &full[0], nullptr);
    full.resize(written < size ? written : 0);
    return full.empty() ? name : full;
}

bool same_file(const std::string& a, const std::string& b)
{
    const std::wstring path_a = to_wide(a), path_b = to_wide(b);
    const bool a_exists = GetFileAttributesW(path_a.c_str()) != INVALID_FILE_ATTRIBUTES;
    const bool b_exists = GetFileAttributesW(path_b.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (!a_exists && !b_exists)
        return _wcsicmp(full_path(path_a).c_str(), full_path(path_b).c_str()) == 0;  // Windows' names ignore case
    BY_HANDLE_FILE_INFORMATION info_a, info_b;
    return file_identity(path_a, &info_a) && file_identity(path_b, &info_b) && same_identity(info_a, info_b);
}

bool is_standard_output_file(const std::string& path)
{
    HANDLE output = stream_handle();
    BY_HANDLE_FILE_INFORMATION named, standard;
    return output && output != INVALID_HANDLE_VALUE && GetFileType(output) == FILE_TYPE_DISK &&
           GetFileInformationByHandle(output, &standard) != 0 && file_identity(to_wide(path), &named) &&
           same_identity(named, standard);
}

bool file_held_open(const std::string& path)
{
    // Opened without sharing, a file another handle holds (with whatever
    // sharing it gave) fails with a sharing violation.
    HANDLE probe = CreateFileW(to_wide(path).c_str(), FILE_READ_ATTRIBUTES | GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
}

script_path read_script_path(const std::string& utf8)
{
    script_path path;
    path.utf8 = utf8;
    const std::wstring wide = to_wide(utf8);
    std::string ansi;
    if (exact_ansi(wide.c_str(), &ansi)) {
        path.ansi = ansi;
    } else {
        path.ansi_exact = false;
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

// The stream becomes handle, which the tool then owns.
static bool stdout_becomes(HANDLE handle)
{
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY | _O_WRONLY);
    if (fd < 0) {
        CloseHandle(handle);
        return false;
    }
    const bool ok = stream_becomes(fd);
    _close(fd);
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
    // The program's standard output is what the tool's was, not where the
    // tool sends what plugins print.
    HANDLE out = inheritable_copy(stream_handle());
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
    program_process = started.hProcess;
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
    program_process = nullptr;
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
    const bool ok = stream_becomes(_fileno(file));
    fclose(file);
    return ok;
}

bool serve_named_pipe_on_stdout(const std::string& pipe_name, std::string* reason)
{
    const std::wstring name = to_wide(pipe_name);
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
    HANDLE out = stream_handle();
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
    return !GetConsoleMode(stream_handle(), &mode) || GetConsoleOutputCP() == CP_UTF8;
}

struct worker {
    HANDLE thread = nullptr;
    void (*run)(void*) = nullptr;
    void* arg = nullptr;
};

static DWORD WINAPI run_worker(void* thread)
{
    worker* w = static_cast<worker*>(thread);
    w->run(w->arg);
    return 0;
}

worker* worker_start(void (*run)(void*), void* arg)
{
    worker* w = new worker;
    w->run = run;
    w->arg = arg;
    w->thread = CreateThread(nullptr, 0, run_worker, w, 0, nullptr);
    if (!w->thread) {
        delete w;
        return nullptr;
    }
    return w;
}

void worker_join(worker* thread)
{
    WaitForSingleObject(thread->thread, INFINITE);
    CloseHandle(thread->thread);
    delete thread;
}

void worker_nudge(worker*)
{
    // A write to a pipe cannot be made non-blocking here, and cancelling
    // one could cut a frame that a slow reader is still taking: the write
    // goes on as it would on the main thread.
}

struct handoff {
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
};

handoff* handoff_create()
{
    return new handoff;
}

void handoff_destroy(handoff* h)
{
    delete h;
}

void handoff_lock(handoff* h)
{
    AcquireSRWLockExclusive(&h->lock);
}

void handoff_unlock(handoff* h)
{
    ReleaseSRWLockExclusive(&h->lock);
}

void handoff_wait(handoff* h, int timeout_ms)
{
    SleepConditionVariableSRW(&h->changed, &h->lock, static_cast<DWORD>(timeout_ms), 0);
}

void handoff_wake(handoff* h)
{
    WakeAllConditionVariable(&h->changed);
}

// Every console control event (Ctrl-C, Ctrl-Break, the console closed, a
// log-off, a shutdown) asks alike.
static BOOL WINAPI on_console_event(DWORD)
{
    if (++interrupts > 1) {
        static const char message[] = "clipspout [error]: interrupted.\n";
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), message, sizeof message - 1, &written, nullptr);
        if (program_process)
            TerminateProcess(program_process, 2);
        ExitProcess(2);
    }
    return TRUE;
}

void catch_interrupts()
{
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

