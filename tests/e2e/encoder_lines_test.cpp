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
