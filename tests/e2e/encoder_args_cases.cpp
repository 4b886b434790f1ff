#include "encoder_args_cases.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <vector>

std::string encode_command(const std::string& encoder, const std::string& out)
{
    if (encoder == "x264")
        return "eval x264 \"$ARGS\" --quiet --no-progress --preset ultrafast --crf 10 --demuxer y4m -o '" + out + "' -";
    if (encoder == "x265")
        return "eval x265 \"$ARGS\" --log-level error --preset ultrafast --crf 10 --y4m --input - -o '" + out + "'";
    return "eval SvtAv1EncApp \"$ARGS\" --preset 12 --crf 10 -i stdin -b '" + out + "' >/dev/null 2>&1";
}

namespace {

const std::string ntsc = "BlankClip(length=3, width=720, height=480, pixel_type=\"YV12\", fps=30000, "
                         "fps_denominator=1001)\n";

const std::string hdr10 =
    "propSet(\"_Matrix\", 9).propSet(\"_Primaries\", 9).propSet(\"_Transfer\", 16).propSet(\"_ChromaLocation\", 2)\n"
    "propSet(\"MasteringDisplayPrimariesX\", [0.68, 0.265, 0.15]).propSet(\"MasteringDisplayPrimariesY\", "
    "[0.32, 0.69, 0.06])\n"
    "propSet(\"MasteringDisplayWhitePointX\", 0.3127).propSet(\"MasteringDisplayWhitePointY\", 0.329)\n"
    "propSet(\"MasteringDisplayMinLuminance\", 0.0001).propSet(\"MasteringDisplayMaxLuminance\", 1000.0)\n"
    "propSet(\"ContentLightLevelMax\", 1000.0).propSet(\"ContentLightLevelAverage\", 400.0)\n";

std::map<std::string, std::string> colour_of(const std::string& file)
{
    std::istringstream lines(shell("ffprobe -v error -select_streams v -show_entries stream=color_primaries,"
                                   "color_transfer,color_space -of default=nw=1 '" + file + "'"));
    std::map<std::string, std::string> fields;
    for (std::string line; std::getline(lines, line);)
        fields[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
    return fields;
}

}  // namespace

void check_encoder_lines(const run_options& options)
{
    // An HDR10 clip, as the stream of each mode describes it.
    std::string hdr = write_script("hdr.avs", ntsc + hdr10);
    const std::string display = "G(13250,34500)B(7500,3000)R(34000,16000)WP(15635,16450)L(10000000,1)";
    const struct {
        const char* mode;
        const char* line;
    } lines[] = {
        {"x264args", "--frames 3 --output-depth 8 --colorprim \"bt2020\" --transfer \"smpte2084\" --colormatrix \"bt2020nc\" "
                     "--range \"tv\" --input-range \"tv\" --chromaloc 2 --mastering-display \"G(13250,34500)"
                     "B(7500,3000)R(34000,16000)WP(15635,16450)L(10000000,1)\" --cll \"1000,400\""},
        {"x265args", "--frames 3 --output-depth 8 --colorprim \"bt2020\" --transfer \"smpte2084\" --colormatrix \"bt2020nc\" "
                     "--range \"limited\" --chromaloc 2 --master-display \"G(13250,34500)B(7500,3000)R(34000,16000)"
                     "WP(15635,16450)L(10000000,1)\" --max-cll \"1000,400\" --hdr10"},
        {"svtav1args", "--frames 3 --input-depth 8 --color-primaries \"bt2020\" --transfer-characteristics \"smpte2084\" "
                       "--matrix-coefficients \"bt2020-ncl\" --color-range \"studio\" --chroma-sample-position "
                       "\"topleft\" --mastering-display \"G(0.265,0.69)B(0.15,0.06)R(0.68,0.32)WP(0.3127,0.329)"
                       "L(1000,0.0001)\" --content-light \"1000,400\""},
    };
    for (const auto& l : lines) {
        SCOPED_TRACE(l.mode);
        run_result r = run_tool({l.mode, hdr}, options);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, l.line);
    }
    // A shell takes the line apart into the words an encoder gets.
    int status = -1;
    std::string words = shell(tool_command(options) + " x265args '" + hdr + "' > args.txt; eval set -- \"$(cat "
                              "args.txt)\"; rm args.txt; printf '%s\\n' \"$@\"",
                              &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(words.find("--master-display\n" + display + "\n--max-cll\n1000,400\n--hdr10\n"), std::string::npos)
        << words;

    // video says what its stream drops; a plain clip gets no new word.
    run_result video = run_tool({"video", hdr}, options);
    EXPECT_EQ(video.status, 0);
    EXPECT_EQ(video.err.substr(0, video.err.find('\n') + 1),
              "clipspout [warn]: frame 0 describes the PQ transfer (16), BT.2020 primaries (9), HDR10 metadata "
              "(mastering display, light levels), which a y4m stream cannot carry: x265args, x264args or svtav1args "
              "give them to the encoder, or mkv carries them.\n");
    EXPECT_TRUE(video.out == run_tool({"video", write_script("sdr.avs", ntsc)}, options).out);
    run_result hlg = run_tool({"video", write_script("hlg.avs", ntsc + "propSet(\"_Transfer\", 18)\n")}, options);
    EXPECT_NE(hlg.err.find("frame 0 describes the HLG transfer (18), which"), std::string::npos) << hlg.err;
    run_result sdr = run_tool({"video", write_script("sdr.avs", ntsc)}, options);
    EXPECT_EQ(sdr.err.find("warn"), std::string::npos) << sdr.err;

    // A conversion by the frame server is the truth: RGB becomes 4:4:4 by
    // the matrix and range it records.
    const std::string rgb = "BlankClip(length=2, width=64, height=32, pixel_type=\"RGB32\")\n";
    run_result converted = run_tool({"x264args", write_script("rgb.avs", rgb)}, options);
    EXPECT_EQ(converted.status, 0);
    EXPECT_EQ(converted.err, "clipspout [info]: converting video to yv24.\n");
    EXPECT_EQ(converted.out,
              "--frames 2 --output-depth 8 --output-csp \"i444\" --colormatrix \"smpte170m\" --range \"tv\" --input-range \"tv\"");
    converted = run_tool({"x265args", write_script("rgb709.avs", rgb + "ConvertToYV12(matrix=\"PC.709\")\n")}, options);
    EXPECT_EQ(converted.out, "--frames 2 --output-depth 8 --colormatrix \"bt709\" --range \"full\" --chromaloc 0");

    // What an encoder cannot take, a clip without video, a range outside
    // the clip: an error, status 2, nothing on standard output.
    const struct {
        std::vector<std::string> args;
        std::string script, error;
    } failures[] = {
        {{"--depth=16", "x265args"}, ntsc,
         "clipspout [info]: converting video to 16 bits.\nclipspout [error]: x265 takes 4:2:0, 4:2:2, 4:4:4 and mono "
         "at 8, 10 or 12 bits, not YUV420p16: --depth=12 writes 12 bits.\n"},
        {{"svtav1args"}, "BlankClip(length=2, width=64, height=32, pixel_type=\"YV16\")\n",
         "clipspout [error]: SVT-AV1 takes 4:2:0 at 8 or 10 bits, not YUV422: ConvertToYUV420() at the script's end "
         "gives 4:2:0.\n"},
        {{"x264args"}, "BlankClip().KillVideo()\n", "clipspout [error]: clip has no video.\n"},
        {{"-s", "5", "x264args"}, ntsc,
         "clipspout [error]: the range starts at frame 5, outside the clip's 3 frames.\n"},
    };
    for (const auto& f : failures) {
        std::vector<std::string> args = f.args;
        args.push_back(write_script("bad.avs", f.script));
        run_result r = run_tool(args, options);
        EXPECT_EQ(r.status, 2) << f.error;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, f.error);
    }
}

void check_encoder_names(const run_options& options, const std::string& encoder)
{
    const int primaries[] = {1, 4, 5, 6, 7, 8, 9, 10, 11, 12, 22};
    const int transfers[] = {1, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
    const int matrices[] = {0, 1, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
    const std::string out = write_script("names/out." + encoder, "");
    for (int i = 0; i < 16; ++i) {
        const int p = primaries[i % 11], t = transfers[i], m = matrices[i % 13];
        SCOPED_TRACE(encoder + ": primaries " + std::to_string(p) + ", transfer " + std::to_string(t) + ", matrix " +
                     std::to_string(m));
        std::string script = write_script("names/clip.avs", "BlankClip(length=2, width=64, height=64, "
                                                            "pixel_type=\"YV12\", fps=25)\npropSet(\"_Primaries\", " +
                                                                std::to_string(p) + ").propSet(\"_Transfer\", " +
                                                                std::to_string(t) + ").propSet(\"_Matrix\", " +
                                                                std::to_string(m) + ")\n");
        // ffmpeg's name for each code, as Matroska carries it.
        std::map<std::string, std::string> expected = colour_of(write_script("names/clip.mkv",
                                                                             run_tool({"mkv", script}, options).out));
        // Where the encoder has no name (x264 and x265 for EBU 3213) or
        // cannot take it (the identity matrix needs 4:4:4 in H.264, HEVC
        // and AV1, and this is 4:2:0), the line leaves it out and says so;
        // Matroska carries no identity matrix for 4:2:0 either.
        run_result line = run_tool({encoder + "args", script}, options);
        ASSERT_EQ(line.status, 0) << line.err;
        const bool no_primaries = p == 22 && encoder != "svtav1", no_matrix = m == 0;
        EXPECT_EQ(line.err.empty(), !no_primaries && !no_matrix) << line.err;
        if (no_primaries)
            expected.erase("color_primaries");
        if (no_matrix)
            expected.erase("color_space");

        int status = -1;
        std::string log = shell("ARGS=" + shell("printf %q '" + line.out + "'") + "; " + tool_command(options) +
                                    " video '" + script + "' 2>/dev/null | " + encode_command(encoder, out) + " 2>&1",
                                &status);
        ASSERT_EQ(status, 0) << line.out << "\n" << log;
        std::map<std::string, std::string> written = colour_of(out);
        for (const auto& field : expected)
            EXPECT_EQ(written[field.first], field.second) << field.first << " from " << line.out;
    }
}
