// A program for the tests to start through the tool: prints each argument
// it got as the C runtime gave it (in hexadecimal, as UTF-8 bytes), one
// line each, then how many bytes it read on standard input and their
// Adler-32 checksum. With the argument "--fail" it reads nothing and ends
// with status 3.

#include <cstdio>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

static void print_argument(const std::string& arg)
{
    std::string hex;
    char two[3];
    for (unsigned char c : arg) {
        snprintf(two, sizeof two, "%02x", c);
        hex += two;
    }
    printf("arg %s\n", hex.c_str());
}

static int run(const std::string* args, int count)
{
    for (int i = 1; i < count; ++i) {
        print_argument(args[i]);
        if (args[i] == "--fail")
            return 3;
    }
    unsigned long long bytes = 0;
    unsigned a = 1, b = 0;  // Adler-32
    static unsigned char buffer[1 << 16];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, stdin)) > 0;) {
        bytes += n;
        for (size_t i = 0; i < n; ++i) {
            a = (a + buffer[i]) % 65521;
            b = (b + a) % 65521;
        }
    }
    printf("read %llu %08x\n", bytes, (b << 16) | a);
    return fflush(stdout) == 0 ? 0 : 1;
}

#ifdef _WIN32
int wmain(int argc, wchar_t** argv)
{
    _setmode(_fileno(stdin), _O_BINARY);
    std::string args[64];
    for (int i = 0; i < argc && i < 64; ++i) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        args[i].assign(static_cast<size_t>(size > 0 ? size - 1 : 0), '\0');
        WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, &args[i][0], size, nullptr, nullptr);
    }
    return run(args, argc < 64 ? argc : 64);
}
#else
int main(int argc, char** argv)
{
    std::string args[64];
    for (int i = 0; i < argc && i < 64; ++i)
        args[i] = argv[i];
    return run(args, argc < 64 ? argc : 64);
}
#endif
