// The harness retries a launch only on Wine's own failure signatures: any
// other failure must reach the test as it is.

#include <gtest/gtest.h>

#include "harness.h"

TEST(Harness, RetriesOnlyWinesOwnFailures)
{
    struct {
        int status;
        const char *out, *err;
        const char* signature;
    } cases[] = {
        {2, "", "clipspout [error]: only wrote 3 of 40 frames.\nwine client error:59c: sendmsg: Socket operation on non-socket\n",
         "wine client error:59c: sendmsg: Socket operation on non-socket"},
        {1, "", "", "status 1 with nothing on stdout or stderr"},
        {53, "", "wine: could not load kernel32.dll, status c0000135\n", "wine: could not load kernel32.dll, status c0000135"},
        // The tool's own faults.
        {5, "", "wine: Unhandled page fault on read access to 0000000000000000 at address 0000000140001234\n", ""},
        {1, "YUV4MPEG2", "", ""},
        {1, "", "clipspout [error]: clip has no video.\n", ""},
        {2, "", "", ""},
        {0, "", "", ""},
        {2, "", "clipspout [error]: cannot import \"wine: x.avs\": no such file.\n", ""},
    };
    for (const auto& c : cases) {
        run_result result;
        result.status = c.status;
        result.out = c.out;
        result.err = c.err;
        EXPECT_EQ(wine_failure_signature(result), c.signature) << c.status << " " << c.err;
    }
}
