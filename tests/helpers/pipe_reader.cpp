// Windows: connects to the named pipe its argument names, once the tool
// serves it, reads it to its end and prints the bytes and their Adler-32
// checksum, as echo_args does for standard input.

#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2)
        return 2;
    HANDLE pipe = INVALID_HANDLE_VALUE;
    for (int tries = 0; tries < 200 && pipe == INVALID_HANDLE_VALUE; ++tries) {
        pipe = CreateFileW(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (pipe == INVALID_HANDLE_VALUE)
            Sleep(50);
    }
    if (pipe == INVALID_HANDLE_VALUE)
        return 1;
    unsigned long long bytes = 0;
    unsigned a = 1, b = 0;
    static unsigned char buffer[1 << 16];
    DWORD n = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0) {
        bytes += n;
        for (DWORD i = 0; i < n; ++i) {
            a = (a + buffer[i]) % 65521;
            b = (b + a) % 65521;
        }
    }
    CloseHandle(pipe);
    printf("read %llu %08x\n", bytes, (b << 16) | a);
    return 0;
}
