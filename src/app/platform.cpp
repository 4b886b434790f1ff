#include "app/platform.h"

#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <csignal>
#include <dlfcn.h>
#endif

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

bool set_stdout_binary()
{
    return _setmode(_fileno(stdout), _O_BINARY) != -1;
}

void ignore_broken_pipe()
{
    // Windows reports a closed pipe as a failed write already.
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

#else

bool set_stdout_binary()
{
    return true;  // POSIX streams never translate
}

void ignore_broken_pipe()
{
    signal(SIGPIPE, SIG_IGN);
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

#endif
