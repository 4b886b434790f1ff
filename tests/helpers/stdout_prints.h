// What the stand-in's StandinPrint and the real server's print plugin both
// do: a line naming who and when on standard output in each way a plugin
// can reach it, C's printf (left in stdio's buffer, as most plugins leave
// it), std::cout, write() to descriptor 1 and, on Windows, WriteFile to the
// process's standard output handle.
#pragma once

#include <cstdio>
#include <iostream>
#include <string>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

inline void print_on_stdout_every_way(const char* who, const std::string& when)
{
    printf("%s: printf at %s\n", who, when.c_str());
    std::cout << who << ": cout at " << when << "\n" << std::flush;
    const std::string line = std::string(who) + ": write at " + when + "\n";
#if defined(_WIN32)
    if (_write(1, line.data(), static_cast<unsigned>(line.size())) < 0)
        return;
    const std::string handle_line = std::string(who) + ": WriteFile at " + when + "\n";
    DWORD done = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), handle_line.data(), static_cast<DWORD>(handle_line.size()), &done,
              nullptr);
#else
    if (write(1, line.data(), line.size()) < 0)
        return;
#endif
}
