// The benchmark's reader: takes everything from standard input and drops it.
#include <unistd.h>

int main()
{
    static char buffer[1 << 20];
    while (read(0, buffer, sizeof buffer) > 0) {
    }
    return 0;
}
