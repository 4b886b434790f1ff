// The yardstick for the benchmark: pushes a stream of the same size as the
// tool's straight from memory into standard output, in large writes, with
// the pipe enlarged as far as the system allows.
//
//   baseline HEADER_BYTES CHUNK_BYTES CHUNKS

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

static bool write_all(const char* data, size_t size)
{
    while (size > 0) {
        ssize_t n = write(1, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

int main(int argc, char** argv)
{
    if (argc != 4) {
        fputs("usage: baseline HEADER_BYTES CHUNK_BYTES CHUNKS\n", stderr);
        return 2;
    }
    size_t header = strtoull(argv[1], nullptr, 10), chunk = strtoull(argv[2], nullptr, 10);
    long long chunks = strtoll(argv[3], nullptr, 10);
#ifdef F_SETPIPE_SZ
    if (FILE* f = fopen("/proc/sys/fs/pipe-max-size", "r")) {
        int max = 0;
        if (fscanf(f, "%d", &max) == 1)
            fcntl(1, F_SETPIPE_SZ, max);
        fclose(f);
    }
#endif
    std::vector<char> data(header > chunk ? header : chunk, 'x');
    if (!write_all(data.data(), header))
        return 2;
    for (long long i = 0; i < chunks; ++i)
        if (!write_all(data.data(), chunk))
            return 2;
    return 0;
}
