// The stand-in's prints on standard output (StandinPrint, AVS_STANDIN_PRINTS):
// each way a plugin can reach it, so that a test sees which of them the
// tool keeps out of the stream.

#include <cstdio>
#include <iostream>

#include "standin.h"

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace standin {

void print_on_stdout(const std::string& when)
{
    printf("standin: printf at %s\n", when.c_str());  // left in stdio's buffer, as most plugins leave it
    std::cout << "standin: cout at " << when << "\n" << std::flush;
    const std::string line = "standin: write at " + when + "\n";
#if defined(_WIN32)
    if (_write(1, line.data(), static_cast<unsigned>(line.size())) < 0)
        return;
    const std::string handle_line = "standin: WriteFile at " + when + "\n";
    DWORD done = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), handle_line.data(), static_cast<DWORD>(handle_line.size()), &done,
              nullptr);
#else
    if (write(1, line.data(), line.size()) < 0)
        return;
#endif
}

}  // namespace standin
