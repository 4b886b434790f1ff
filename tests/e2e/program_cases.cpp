#include "program_cases.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>
#include <sstream>
#include <vector>

namespace {

const std::string film = "BlankClip(length=30, width=64, height=64, pixel_type=\"YV12\", fps=25, "
                         "audio_rate=48000, channels=2)\n";

std::string hex_of(const std::string& text)
{
    std::string hex;
    char two[3];
    for (unsigned char c : text) {
        snprintf(two, sizeof two, "%02x", c);
        hex += two;
    }
    return hex;
}

// What echo_args prints for these arguments and these bytes.
std::string echoed(const std::vector<std::string>& args, const std::string& bytes)
{
    std::string out;
    for (const std::string& arg : args)
        out += "arg " + hex_of(arg) + "\n";
    uint32_t a = 1, b = 0;
    for (unsigned char c : bytes) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    char read[48];
    snprintf(read, sizeof read, "read %zu %08x\n", bytes.size(), (b << 16) | a);
    return out + read;
}

std::string quoted(const std::string& word)
{
    std::string text = "'";
    for (char c : word)
        text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return text + "'";
}

}  // namespace

void check_program_arguments(const run_options& options)
{
    const std::string script = write_script("program/film.avs", film);
    const run_result alone = run_tool({"video", script}, options);
    ASSERT_EQ(alone.status, 0) << alone.err;
    const struct {
        const char* what;
        std::vector<std::string> args;
    } cases[] = {
        {"plain words and options", {"--demuxer", "y4m", "-o", "out.264", "-"}},
        {"spaces and tabs", {"two words", "a\ttab", " leading", "trailing "}},
        {"an empty argument", {"", "after", ""}},
        {"double quotes", {"\"", "say \"hi\"", "\"\"", "a\"b"}},
        {"backslashes", {"C:\\films\\", "a\\\\b", "\\\"", "end\\\\", "\\"}},
        {"outside the ANSI code page", {"日本語", "Кириллица", "é ü", "😀"}},
        {"an option's value with an equals sign", {"--master-display=G(13250,34500)L(10000000,1)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> args = {"video", script, helper_program("echo_args")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const run_result r = run_tool(args, options);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(lf_text(r.out), echoed(c.args, alone.out));
        EXPECT_NE(r.err.find("finished, wrote 30 frames [100%]"), std::string::npos) << r.err;
    }
    // Audio and mkv go the same road, byte for byte.
    for (const char* mode : {"audio", "mkv"}) {
        SCOPED_TRACE(mode);
        const run_result stream = run_tool({mode, script}, options);
        const run_result r = run_tool({mode, script, helper_program("echo_args")}, options);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(lf_text(r.out), echoed({}, stream.out));
    }
}

void check_program_encoders(const run_options& options)
{
    const std::string script = write_script("program/film.avs", film);
    const std::string folder = std::filesystem::path(script).parent_path().string();
    const struct {
        const char* mode;
        std::vector<std::string> program;  // OUT: the output file
        const char* probe;                 // what ffprobe must count in it
        const char* count;
    } cases[] = {
        {"video", {"x264", "--quiet", "--preset", "ultrafast", "--demuxer", "y4m", "-o", "OUT", "-"}, "frames", "30"},
        {"video", {"x265", "--log-level", "error", "--preset", "ultrafast", "--y4m", "--input", "-", "-o", "OUT"},
         "frames", "30"},
        {"video", {"SvtAv1EncApp", "--preset", "12", "-i", "stdin", "-b", "OUT"}, "frames", "30"},
        // bitexact: ffmpeg's Matroska muxer otherwise gives each file UIDs of
        // its own.
        {"mkv", {"ffmpeg", "-v", "error", "-y", "-i", "-", "-c:v", "libx265", "-x265-params", "log-level=error",
                 "-c:a", "flac", "-fflags", "+bitexact", "-flags:v", "+bitexact", "-flags:a", "+bitexact", "OUT"},
         "frames", "30"},
        {"audio", {"flac", "--silent", "-f", "-o", "OUT", "-"}, "samples", "57600"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program[0]);
        const std::string ext = c.program[0] == "ffmpeg" ? ".mkv" : c.program[0] == "flac" ? ".flac" : ".out";
        const std::string started = folder + "/started" + ext, piped = folder + "/piped" + ext;
        std::vector<std::string> args = {c.mode, script}, shell_words;
        for (const std::string& word : c.program) {
            args.push_back(word == "OUT" ? started : word);
            shell_words.push_back(quoted(word == "OUT" ? piped : word));
        }
        const run_result r = run_tool(args, options);
        ASSERT_EQ(r.status, 0) << r.err;
        int status = -1;
        std::string command = tool_command(options) + " " + c.mode + " " + quoted(script) + " 2>/dev/null |";
        for (const std::string& word : shell_words)
            command += " " + word;
        const std::string log = shell(command + " 2>&1 >/dev/null", &status);
        ASSERT_EQ(status, 0) << log;
        EXPECT_TRUE(read_file(started) == read_file(piped)) << "the outputs differ";
        const std::string counted =
            std::string(c.probe) == "frames"
                ? shell("ffprobe -v error -select_streams v -show_entries packet=pts -of csv=p=0 '" + started +
                        "' | wc -l")
                : shell("ffprobe -v error -show_entries stream=duration_ts -of csv=p=0 '" + started + "'");
        EXPECT_EQ(counted, std::string(c.count) + "\n");
    }
}

void check_program_failures(const run_options& options)
{
    // 30 frames of 640x360: more than any pipe holds, so that a program
    // that stops reading shows as the tool's failed write.
    const std::string script = write_script("program/big.avs", "BlankClip(length=30, width=640, height=360, "
                                                                 "pixel_type=\"YV12\", fps=25)\n");
    const std::string small = write_script("program/film.avs", film);
    const std::string echo = helper_program("echo_args");
    struct failure {
        const char* what;
        std::vector<std::string> program;
        std::vector<std::string> said;  // pieces of standard error, in order
        bool native_only;               // a POSIX program the Windows tool cannot start
    };
    const std::vector<failure> cases = {
        {"a program that does not exist", {"no-such-encoder-anywhere", "-o", "x"},
         {"clipspout [error]: cannot start no-such-encoder-anywhere: "}, false},
        {"a file that is no program", {script}, {"clipspout [error]: cannot start " + script + ": "}, true},
        // The program's failure is the cause, and the last line.
        {"a program that refuses an option at once", {echo, "--fail"},
         {"clipspout [warn]: only wrote ", " of 30 frames.\n", "echo_args",
          " ended with status 3 after reading ", " of 30 frames.\n", "<end>"}, false},
        // The tool wrote more than head read: what the pipe held too. head
        // ended well: the stream cut short is the error.
        {"one that stops reading after 10 frames", {"head", "-c", std::to_string(10 * (6 + 640 * 360 * 3 / 2) + 44)},
         {"clipspout [info]: head ended with status 0.\n", "clipspout [error]: only wrote ", " of 30 frames.\n",
          "<end>"},
         true},
        {"one killed by a signal", {"sh", "-c", "head -c 20000 >/dev/null; kill -KILL $$"},
         {"clipspout [warn]: only wrote ", "clipspout [error]: sh was ended by signal 9 (Killed) after reading ",
          " of 30 frames.\n", "<end>"}, true},
        {"one that reads everything and fails", {"sh", "-c", "cat >/dev/null; exit 4"},
         {"finished, wrote 30 frames [100%]", "clipspout [error]: sh ended with status 4.\n"}, true},
        // An executable text file without "#!" runs through sh, as a shell
        // runs it; here it reads all and fails, which only sh can make of it.
        {"a script without #!", {write_program("program/plain-script", "cat >/dev/null\nexit 5\n"), "an argument"},
         {"finished, wrote 30 frames [100%]", "plain-script ended with status 5.\n"}, true},
    };
    for (const failure& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.native_only && testing_windows_build())
            continue;
        std::vector<std::string> args = {"video", script};
        args.insert(args.end(), c.program.begin(), c.program.end());
        const run_result r = run_tool(args, options);
        EXPECT_EQ(r.status, 2) << r.err;
        size_t at = 0;
        for (const std::string& piece : c.said) {
            if (piece == "<end>") {  // the last piece ends standard error
                EXPECT_EQ(at, r.err.size()) << r.err;
                continue;
            }
            const size_t found = r.err.find(piece, at);
            EXPECT_NE(found, std::string::npos) << "\"" << piece << "\" in " << r.err;
            at = found == std::string::npos ? at : found + piece.size();
        }
        if (c.program[0] == "no-such-encoder-anywhere") {
            EXPECT_EQ(r.err.find("writing"), std::string::npos) << "said before the stream starts";
        }
    }
    // A stream short enough to fit the pipe whole goes in at once: a
    // program that stops reading it early is found by what it left unread.
    // It keeps the pipe open a while after it stops reading, so that the
    // whole stream surely goes in (a reader that ends at once may instead
    // end the stream with a failed write, when the machine is slow).
    if (testing_windows_build())
        return;  // an anonymous pipe's write end cannot tell there
    const size_t stream = run_tool({"video", small}, options).out.size();
    const run_result r =
        run_tool({"video", small, "sh", "-c", "head -c 1000 >/dev/null; exec sleep 3"}, options);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("clipspout [error]: sh stopped reading before the stream's end: it left " +
                         std::to_string(stream - 1000) + " bytes unread.\n"),
              std::string::npos)
        << r.err;
}

void check_output_and_telling(const run_options& options)
{
    const std::string script = write_script("program/film.avs", film);
    const std::string folder = std::filesystem::path(script).parent_path().string();

    // -o FILE: the stream as standard output has it; "-" is standard output.
    for (const char* mode : {"video", "audio", "mkv"}) {
        SCOPED_TRACE(mode);
        const run_result stream = run_tool({mode, script}, options);
        const std::string file = folder + "/out.bin";
        write_script("program/out.bin", "old contents, longer than nothing at all");
        for (const std::vector<std::string>& args : {std::vector<std::string>{"-o", file, mode, script},
                                                     std::vector<std::string>{"--output=" + file, mode, script}}) {
            const run_result r = run_tool(args, options);
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.out, "");
            EXPECT_TRUE(read_file(file) == stream.out) << "the file is not the stream";
        }
        const run_result dash = run_tool({"-o", "-", mode, script}, options);
        EXPECT_TRUE(dash.out == stream.out);
    }
    const run_result nowhere = run_tool({"-o", folder + "/no/such/folder/out.y4m", "video", script}, options);
    EXPECT_EQ(nowhere.status, 2);
    EXPECT_EQ(nowhere.out, "");
    EXPECT_NE(nowhere.err.find("clipspout [error]: cannot create \""), std::string::npos) << nowhere.err;
    EXPECT_EQ(nowhere.err.find("writing"), std::string::npos) << "said before the stream starts";

    // The new words where they do not belong.
    const struct {
        std::vector<std::string> args;
        std::string err;
    } misuses[] = {
        {{"info", script, "x264"}, USAGE_TEXT},
        {{"x265args", script, "x265"}, USAGE_TEXT},
        {{"-o", folder + "/x", "video", script, "x264"},
         "clipspout [error]: -o and a program to start both say where the stream goes: give one.\n"},
        {{"-o", folder + "/x", "info", script}, "clipspout [error]: -o writes a stream: it goes with video, audio or mkv.\n"},
        {{"--tell-encoder", "video", script},
         "clipspout [error]: --tell-encoder goes with video and a program named x264, x265 or SvtAv1EncApp (mkv "
         "carries the same to ffmpeg by itself).\n"},
        {{"--tell-encoder", "video", script, "ffmpeg", "-i", "-"}, "*"},
        {{"--tell-encoder", "mkv", script, "ffmpeg", "-i", "-"}, "*"},
        {{"--tell-encoder", "audio", script, "x265"}, "*"},
        {{"--raw", "mkv", script}, "clipspout [error]: --raw goes with video, x264args, x265args or svtav1args.\n"},
        {{"--raw", "info", script}, "clipspout [error]: --raw goes with video, x264args, x265args or svtav1args.\n"},
    };
    for (const auto& m : misuses) {
        SCOPED_TRACE(testing::PrintToString(m.args));
        const run_result r = run_tool(m.args, options);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, m.err == "*" ? misuses[4].err : m.err);
    }

    // --tell-encoder: an echo_args named as each encoder gets the options
    // of that encoder's line first, then the user's own; SvtAv1EncApp,
    // which warns of a repeated option, does not get the tool's copy of one
    // the user gives.
    const std::string hdr = write_script("program/hdr.avs", "BlankClip(length=3, width=64, height=64, "
                                                             "pixel_type=\"YV12\", fps=25)\n"
                                                             "propSet(\"_Primaries\", 9).propSet(\"_Transfer\", 16)\n");
    const std::string ext = testing_windows_build() ? ".exe" : "";
    for (const char* name : {"x264", "X265", "SvtAv1EncApp"}) {
        SCOPED_TRACE(name);
        const std::string named = folder + "/" + name + ext;
        std::filesystem::copy_file(build_folder(testing_windows_build() ? "tests/echo_args.exe" : "tests/echo_args"),
                                   named, std::filesystem::copy_options::overwrite_existing);
        std::string mode = name[0] == 'S' ? "svtav1args" : name[1] == '2' && name[3] == '4' ? "x264args" : "x265args";
        const run_result line = run_tool({mode, hdr}, options);
        ASSERT_EQ(line.status, 0) << line.err;
        const std::string user_option = name[0] == 'S' ? "--color-primaries" : "--colorprim";
        const run_result told = run_tool({"--tell-encoder", "video", hdr, server_path(named), user_option, "bt709"},
                                         options);
        ASSERT_EQ(told.status, 0) << told.err;
        EXPECT_NE(told.err.find("clipspout [info]: telling " + server_path(named) + ": " + line.out + "\n"),
                  std::string::npos)
            << told.err;
        // Told, the encoder has what the stream cannot carry: no warning
        // that it cannot.
        EXPECT_EQ(told.err.find("cannot carry"), std::string::npos) << told.err;
        std::vector<std::string> expected;
        std::istringstream words(shell("eval 'for w in " + line.out + "; do printf \"%s\\n\" \"$w\"; done'"));
        for (std::string word; std::getline(words, word);)
            expected.push_back(word);
        if (name[0] == 'S') {
            const auto at = std::find(expected.begin(), expected.end(), user_option);
            ASSERT_NE(at, expected.end());
            expected.erase(at, at + 2);
        }
        expected.push_back(user_option);
        expected.push_back("bt709");
        const std::string out = lf_text(told.out);
        EXPECT_EQ(out.substr(0, out.find("read ")), echoed(expected, "").substr(0, echoed(expected, "").find("read ")));
    }
}

void check_outputs_that_would_overwrite(const run_options& options)
{
    const std::string script = write_script("overwrite/film.avs", film);
    const std::string folder = std::filesystem::path(script).parent_path().string();
    const std::string other_path = folder + "/../overwrite/film.avs";  // the script by another road
    const std::string taken = write_script("overwrite/taken.txt", "a file that is there");
    const std::string fresh = folder + "/fresh.txt";
    std::remove(fresh.c_str());
    struct slip_case {
        std::vector<std::string> args;
        std::string says;
    };
    std::vector<slip_case> slips = {
        {{"-o", script, "video", script}, "-o names the script \"" + script + "\" itself"},
        {{"--output=" + other_path, "mkv", script}, "-o names the script \"" + other_path + "\" itself"},
        {{"--timecodes", other_path, "video", script}, "--timecodes names the script"},
        {{"--log", script, "meter", script}, "--log names the script"},
        {{"--frame-props", script, "mkv", script}, "--frame-props names the script"},
        {{"--timecodes", fresh, "--frame-props", fresh, "video", script},
         "--timecodes and --frame-props name the same file \"" + fresh + "\": give each its own.\n"},
        {{"--log", taken, "--frame-props", taken, "meter", script}, "--frame-props and --log name the same file"},
        {{"-o", taken, "--timecodes", folder + "/./taken.txt", "video", script},
         "-o and --timecodes name the same file"},
        // Files that are not there yet, by another spelling.
        {{"-o", fresh, "--timecodes", folder + "/./fresh.txt", "video", script},
         "-o and --timecodes name the same file"},
        {{"--frame-props", fresh, "--log", folder + "/../overwrite/fresh.txt", "meter", script},
         "--frame-props and --log name the same file"},
    };
    // A link to nowhere names the file it would create (POSIX: Wine's
    // links are not the system's).
    if (!testing_windows_build()) {
        const std::string link = folder + "/link.txt";
        std::remove(link.c_str());
        std::filesystem::create_symlink("fresh.txt", link);
        slips.push_back({{"-o", fresh, "--timecodes", link, "video", script}, "-o and --timecodes name the same file"});
    }
    for (const auto& slip : slips) {
        SCOPED_TRACE(testing::PrintToString(slip.args));
        const run_result r = run_tool(slip.args, options);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("clipspout [error]: " + slip.says), std::string::npos) << r.err;
        EXPECT_EQ(read_file(script), film) << "the script was written over";
        EXPECT_EQ(read_file(taken), "a file that is there");
        EXPECT_FALSE(std::filesystem::exists(fresh));
    }
    // A file that standard output is sent to (> FILE) is taken too; -o
    // takes standard output's place, so there the same file is no clash.
    // (Wine cannot describe a standard output it was handed as a Unix
    // descriptor: GetFileInformationByHandle fails there, and the tool then
    // lets it be.)
    for (const char* mode : {"video", "meter"}) {
        if (testing_windows_build())
            break;
        const std::string option = std::string(mode) == "video" ? "--timecodes" : "--log";
        int status = -1;
        const std::string err = shell(tool_command(options) + " " + option + " '" + taken + "' " + mode + " '" +
                                          script + "' 2>&1 >'" + taken + "'",
                                      &status);
        EXPECT_EQ(status, 2) << err;
        EXPECT_NE(err.find("clipspout [error]: " + option + " names \"" + taken +
                           "\", where standard output goes: give each its own.\n"),
                  std::string::npos)
            << err;
    }
    const run_result stream = run_tool({"video", script}, options);
    int status = -1;
    shell(tool_command(options) + " -o '" + taken + "' video '" + script + "' >'" + taken + "' 2>/dev/null", &status);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(read_file(taken) == stream.out);

    // The null device takes any number of outputs.
    const std::string null_device = testing_windows_build() ? "NUL" : "/dev/null";
    const run_result discarded =
        run_tool({"-o", null_device, "--timecodes", null_device, "--frame-props", null_device, "video", script},
                 options);
    EXPECT_EQ(discarded.status, 0) << discarded.err;
}

void check_interrupts(const run_options& options)
{
    if (testing_windows_build())
        return;  // a console control event has no Unix equivalent under Wine
    const std::string script = write_script("program/long.avs", "BlankClip(length=100000, width=320, height=240, "
                                                                  "pixel_type=\"YV12\", fps=25)\n");
    const std::string folder = std::filesystem::path(script).parent_path().string();
    const size_t frame = 6 + 320 * 240 * 3 / 2;
    const struct {
        const char* what;
        std::string program;  // after the script; empty: the stream to a file
        std::string output;
    } cases[] = {
        {"x264", "x264 --quiet --no-progress --preset ultrafast --demuxer y4m -o " + folder + "/int.264 -",
         folder + "/int.264"},
        {"x265", "x265 --log-level error --preset ultrafast --y4m --input - -o " + folder + "/int.hevc",
         folder + "/int.hevc"},
        {"no program", "", folder + "/int.y4m"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string tc = folder + "/int.tc", err = folder + "/int.err";
        std::remove(c.output.c_str());
        // The tool leads a process group of its own, as a shell's job does,
        // and Ctrl-C reaches that group once frames have gone out: once the
        // encoder has written some of its file, or once the reader of the
        // stream has taken two frames and stops for 3 s, so that the
        // interrupt finds the tool in the middle of a frame's write. (Waited
        // for, not guessed: a busy machine may take long to get there.)
        const std::string sink = c.program.empty() ? "> fifo" : c.program;
        const std::string run = write_script("program/int.sh", "echo $$ > pid\nexec env " + tool_command(options) +
                                                                    " --timecodes '" + tc + "' video '" + script +
                                                                    "' " + sink + " 2>'" + err + "'\n");
        const std::string under_way = c.program.empty() ? "started" : c.output;
        shell("cd '" + folder + "'; rm -f fifo pid status started; mkfifo fifo; " +
              (c.program.empty() ? "(exec 3<fifo; head -c " + std::to_string(40 + 2 * frame) + " <&3 > '" +
                                       c.output + "'; echo > started; sleep 3; cat <&3 >> '" + c.output + "') & "
                                 : std::string()) +
              "(setsid sh '" + run + "'; echo $? > status) & for i in $(seq 3000); do [ -s '" + under_way +
              "' ] && break; sleep 0.1; done; kill -INT -- -$(cat pid); wait");
        const std::string said = read_file(err);
        EXPECT_EQ(read_file(folder + "/status"), "2\n") << said;
        const long long written = number_after(said, "interrupted after ");
        ASSERT_GT(written, 0) << said;
        EXPECT_LT(written, 100000);
        // Exactly those frames: in the timecodes, and in the stream or the
        // encoder's file, playable to its end.
        const std::string times = read_file(tc);
        EXPECT_EQ(std::count(times.begin(), times.end(), '\n'), written + 1);
        if (c.program.empty()) {
            EXPECT_EQ(read_file(c.output).size(), std::string("YUV4MPEG2 W320 H240 F25:1 Ip A0:0 C420\n").size() +
                                                      static_cast<size_t>(written) * frame);
        } else {
            EXPECT_EQ(shell("ffmpeg -v error -i '" + c.output + "' -f null - 2>&1"), "");
            EXPECT_EQ(shell("ffprobe -v error -select_streams v -show_entries packet=pts -of csv=p=0 '" + c.output +
                            "' | wc -l"),
                      std::to_string(written) + "\n");
            EXPECT_NE(said.find(c.what + std::string(" ended with status 0.\n")), std::string::npos) << said;
        }
    }
}

void check_windows_roads(const run_options& options)
{
    const std::string script = write_script("program/film.avs", film);
    const run_result alone = run_tool({"video", script}, options);
    const std::string folder = std::filesystem::path(script).parent_path().string();
    const char* launcher = getenv("CLIPSPOUT_TEST_LAUNCHER");
    const std::string pipe = "\\\\.\\pipe\\clipspout-test-" + std::to_string(getpid());
    int status = -1;
    const std::string read = shell("cd '" + folder + "'; (" + tool_command(options) + " -o '" + pipe + "' video '" +
                                       script + "' 2>pipe.err; echo $? > pipe.status) & " + (launcher ? launcher : "") +
                                       " '" + build_folder("tests/pipe_reader.exe") + "' '" + pipe + "'; wait",
                                   &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(lf_text(read), echoed({}, alone.out));
    EXPECT_EQ(read_file(folder + "/pipe.status"), "0\n");
    EXPECT_NE(lf_text(read_file(folder + "/pipe.err")).find("clipspout [info]: waiting for a reader on " + pipe + "\n"),
              std::string::npos);

    // By its name alone, on PATH, as cmd.exe finds it: echo_args.exe.
    run_options on_path = options;
    on_path.env.push_back("WINEPATH=" + server_path(build_folder("tests")));
    const run_result found = run_tool({"video", script, "echo_args", "found"}, on_path);
    EXPECT_EQ(found.status, 0) << found.err;
    EXPECT_EQ(lf_text(found.out), echoed({"found"}, alone.out));
    const run_result missing = run_tool({"video", script, "echo_args"}, options);
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err, "clipspout [error]: cannot start echo_args: no such program (.exe or .com) in the folder "
                           "given or on PATH.\n");
}
