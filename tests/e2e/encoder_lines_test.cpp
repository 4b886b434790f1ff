// x264args, x265args and svtav1args against the stand-in, and every name
// they emit against the encoders themselves.

#include <gtest/gtest.h>

#include "encoder_args_cases.h"

TEST(EncoderLines, FromTheClipAsVideoWritesIt)
{
    check_encoder_lines({});
}

TEST(EncoderLines, X264TakesEveryNameForWhatItMeans)
{
    check_encoder_names({}, "x264");
}

TEST(EncoderLines, X265TakesEveryNameForWhatItMeans)
{
    check_encoder_names({}, "x265");
}

TEST(EncoderLines, SvtAv1TakesEveryNameForWhatItMeans)
{
    if (shell("command -v SvtAv1EncApp").empty())
        GTEST_SKIP() << "no SvtAv1EncApp (Debian's svt-av1)";
    check_encoder_names({}, "svtav1");
}

// --tell-encoder gives each encoder the frames to come, from the range the
// tool writes: it shows its percentage (on a terminal, where encoders show
// progress) and ends exactly there.
TEST(EncoderLines, EachEncoderIsToldTheFramesToComeAndEndsThere)
{
    if (testing_windows_build())
        GTEST_SKIP() << "the terminal here is a POSIX pseudo-terminal";
    struct told {
        const char* encoder;
        std::vector<std::string> args;  // after the program's name; OUT for the output file
        const char* shows;              // what its progress line holds of the count; empty: none to see
    };
    const std::vector<told> cases = {
        {"x264", {"--demuxer", "y4m", "-o", "OUT.264", "-"}, "/40 frames"},
        {"x265", {"--y4m", "-o", "OUT.hevc", "-"}, "/40 frames"},
        {"SvtAv1EncApp", {"--preset", "12", "-i", "stdin", "-b", "OUT.ivf"}, ""},
    };
    const std::string script = write_script("tell/clip.avs", "BlankClip(length=100, width=320, height=240, "
                                                             "pixel_type=\"YV12\", fps=25)\n");
    const std::string out = script.substr(0, script.rfind('/')) + "/out";
    for (const told& c : cases) {
        SCOPED_TRACE(c.encoder);
        if (shell(std::string("command -v ") + c.encoder).empty()) {
            ADD_FAILURE() << "no " << c.encoder << " on this machine";
            continue;
        }
        std::string command = tool_command() + " -s 10 -e 49 --tell-encoder video '" + script + "' " + c.encoder;
        std::string file;
        for (const std::string& arg : c.args) {
            const bool names_out = arg.rfind("OUT", 0) == 0;
            file = names_out ? out + arg.substr(3) : file;
            command += " '" + (names_out ? file : arg) + "'";
        }
        // On a pseudo-terminal, where the encoders show their progress.
        std::string quoted;
        for (char ch : command)
            quoted += ch == '"' ? std::string("\\\"") : std::string(1, ch);
        const std::string screen = shell("script -qfec \"" + quoted + "\" /dev/null");
        EXPECT_NE(screen.find(std::string("telling ") + c.encoder + ": --frames 40 "), std::string::npos) << screen;
        if (*c.shows) {
            EXPECT_NE(screen.find(c.shows), std::string::npos) << screen;
        }
        EXPECT_EQ(shell("ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames "
                        "-of csv=p=0 '" + file + "'"),
                  "40\n");
    }
}

// --raw: each encoder reading the planes alone, told by the tool's line what
// the y4m header would say, makes the very bytes it makes of the y4m
// stream: through a shell, with the *args line, and (natively) with
// --tell-encoder.
TEST(EncoderLines, EachEncoderMakesOfTheRawStreamWhatItMakesOfY4m)
{
    struct raw_case {
        const char* encoder;
        const char* args_mode;
        const char* pixel_type;
        const char* depth;
        const char* y4m_only;  // what the y4m road adds to the reader's arguments
        const char* reader;    // OUT for the output file
    };
    const raw_case cases[] = {
        {"x264", "x264args", "YV12", "", "--demuxer y4m", "--threads 1 --preset ultrafast --quiet -o OUT.264 -"},
        {"x264", "x264args", "YUV444P10", "--depth=keep", "--demuxer y4m",
         "--threads 1 --preset ultrafast --quiet -o OUT.264 -"},
        {"x264", "x264args", "Y8", "", "--demuxer y4m", "--threads 1 --preset ultrafast --quiet -o OUT.264 -"},
        {"x265", "x265args", "YV12", "", "--y4m",
         "--preset ultrafast --frame-threads 1 --no-wpp --log-level error --input - -o OUT.hevc"},
        {"x265", "x265args", "YUV422P10", "--depth=keep", "--y4m",
         "--preset ultrafast --frame-threads 1 --no-wpp --log-level error --input - -o OUT.hevc"},
        {"SvtAv1EncApp", "svtav1args", "YV12", "", "", "--preset 12 --lp 1 --progress 0 -i stdin -b OUT.ivf"},
        {"SvtAv1EncApp", "svtav1args", "YUV420P10", "--depth=keep", "",
         "--preset 12 --lp 1 --progress 0 -i stdin -b OUT.ivf"},
    };
    const std::string script = write_script("raw/clip.avs", "BlankClip(length=12, width=320, height=240, "
                                                            "pixel_type=\"PIXEL\", fps=25)\n");
    const std::string folder = script.substr(0, script.rfind('/'));
    int round = 0;
    for (const raw_case& c : cases) {
        SCOPED_TRACE(std::string(c.encoder) + " " + c.pixel_type);
        if (shell(std::string("command -v ") + c.encoder).empty()) {
            ADD_FAILURE() << "no " << c.encoder << " on this machine";
            continue;
        }
        const std::string clip = folder + "/" + c.pixel_type + ".avs";
        shell("sed 's/PIXEL/" + std::string(c.pixel_type) + "/' '" + script + "' > '" + clip + "'");
        const std::string tool = tool_command() + " " + c.depth;
        std::string outputs[3];
        const char* roads[3] = {"", "--raw", "--raw --tell-encoder"};
        for (int road = 0; road < (testing_windows_build() ? 2 : 3); ++road) {
            std::string reader = c.reader;
            const size_t out = reader.find("OUT");
            const size_t out_end = reader.find(' ', out);
            outputs[road] = folder + "/out" + std::to_string(round++) +
                            reader.substr(out + 3, out_end == std::string::npos ? std::string::npos : out_end - out - 3);
            reader.replace(out, out_end == std::string::npos ? std::string::npos : out_end - out, outputs[road]);
            const std::string raw = road ? "--raw " : "";
            const std::string user = road ? reader : std::string(c.y4m_only) + " " + reader;
            const std::string command =
                road == 2 ? tool + " --raw --tell-encoder video '" + clip + "' " + c.encoder + " " + reader
                          : "eval " + std::string(c.encoder) + " \"$(" + tool + " " + raw + c.args_mode + " '" + clip +
                                "')\" " + user + " < <(" + tool + " " + raw + "video '" + clip + "' 2>/dev/null)";
            int status = 0;
            shell(command + " 2>/dev/null", &status);
            EXPECT_EQ(status, 0) << roads[road] << ": " << command;
            EXPECT_EQ(shell("ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames "
                            "-of csv=p=0 '" + outputs[road] + "'"),
                      "12\n")
                << roads[road];
        }
        EXPECT_TRUE(read_file(outputs[1]) == read_file(outputs[0])) << "the raw road's encode differs";
        if (!testing_windows_build()) {
            EXPECT_TRUE(read_file(outputs[2]) == read_file(outputs[0])) << "--tell-encoder's raw encode differs";
        }
    }
}
