// Fetching and writing overlap: while a reader holds a frame's write up, the
// next frames are fetched, as many as the queue holds and no more, and none
// goes back to the frame server before its bytes are written. The stand-in
// logs each fetch and release (AVS_STANDIN_FETCH_LOG) and aborts on any
// call from a thread other than the one that made its environment.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "harness.h"
#include "writers/write_queue.h"

namespace {

struct fetch_log {
    std::vector<int> fetched, released;
};

// The stream's own fetches: from the last fetch of frame 0 on (the tool
// looks at frame 0 before the stream begins, and gives it back).
fetch_log read_fetch_log(const std::string& path)
{
    std::vector<std::pair<std::string, int>> events;
    std::istringstream lines(read_file(path));
    std::string what;
    int n = 0;
    size_t stream_from = 0;
    while (lines >> what >> n) {
        if (what == "fetch" && n == 0)
            stream_from = events.size();
        events.emplace_back(what, n);
    }
    fetch_log log;
    for (size_t i = stream_from; i < events.size(); ++i)
        (events[i].first == "fetch" ? log.fetched : log.released).push_back(events[i].second);
    return log;
}

}  // namespace

TEST(Overlap, FramesAreFetchedWhileAReaderHoldsAWriteUpAsFarAsTheQueueHolds)
{
    if (testing_windows_build())
        GTEST_SKIP() << "the held-up reader is a POSIX shell script";
    struct overlap_case {
        const char* name;
        const char* clip;
        size_t frame_bytes;
        size_t least, most;  // frames fetched while the reader takes nothing
    };
    const size_t hd = 1920 * 1080 * 3 / 2, uhd16 = 3840 * 2160 * 3 * 2;
    // Either bound of the queue: its packets (small frames), its bytes
    // (one large frame in writing, the next one waiting for room).
    const overlap_case cases[] = {
        {"1080p 4:2:0", "width=1920, height=1080, pixel_type=\"YV12\"", hd, 3, QUEUE_MOST_PACKETS + 1},
        {"2160p 16-bit 4:4:4", "width=3840, height=2160, pixel_type=\"YUV444P16\"", uhd16,
         QUEUE_MOST_BYTES / uhd16 + 1, QUEUE_MOST_BYTES / uhd16 + 1},
    };
    for (const overlap_case& c : cases) {
        SCOPED_TRACE(c.name);
        const int length = 12;
        const std::string own = "overlap" + std::to_string(&c - cases) + "/";  // a go file of its own
        const std::string script = write_script(own + "clip.avs", "BlankClip(length=" + std::to_string(length) +
                                                                        ", " + c.clip + ", fps=25)\n");
        const std::string folder = script.substr(0, script.rfind('/'));
        const std::string go = folder + "/go", received = folder + "/received", log_path = folder + "/fetches";
        // Takes nothing (the pipe fills before the first frame is in) until
        // told to, then all of it.
        const std::string reader = write_program(
            own + "reader", "while [ ! -e '" + go + "' ]; do sleep 0.05; done\ncat > '" + received + "'\n");
        ASSERT_LT(size_t{1} << 20, c.frame_bytes);  // more than the enlarged pipe takes

        fetch_log held_up;
        std::thread watcher([&] {
            // Until the least is fetched, then a while for any more to show.
            for (int i = 0; i < 1200 && read_fetch_log(log_path).fetched.size() < c.least; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            held_up = read_fetch_log(log_path);
            std::ofstream(go).put('\n');
        });
        run_options options;
        options.env = {"AVS_STANDIN_FETCH_LOG=" + log_path};
        const run_result r = run_tool({"--depth=keep", "video", script, reader}, options);
        watcher.join();

        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_GE(held_up.fetched.size(), c.least);
        EXPECT_LE(held_up.fetched.size(), c.most);
        EXPECT_TRUE(held_up.released.empty()) << "a frame went back before its bytes were written";
        // Every frame once, in order, each released, and the bytes exactly
        // those of a run without a held-up reader.
        const fetch_log all = read_fetch_log(log_path);
        std::vector<int> each(length);
        for (int n = 0; n < length; ++n)
            each[n] = n;
        EXPECT_EQ(all.fetched, each);
        EXPECT_EQ(all.released, each);
        const run_result plain = run_tool({"--depth=keep", "video", script});
        EXPECT_TRUE(read_file(received) == plain.out);
    }
}
