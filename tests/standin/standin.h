// Internals of the stand-in frame server: a test double with the real
// library's file name and C ABI. See README.md beside this file.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "frameserver/avs_c.h"

namespace standin {

// Faults a test can plant from a script with StandinFault().
struct fault_plan {
    int frame = -1;           // avs_get_frame(frame) delivers no frame
    int slow = -1;            // the first avs_get_frame(slow) takes 60 ms, as a source's first seek
    bool slow_taken = false;
    int64_t sample = -1;      // avs_get_audio over this sample fails
    std::string convert;      // "error": conversions fail; "keep": they keep the pixel type
    bool prints = false;      // every frame and every audio request prints on standard output
};

// The shared frame buffer of a clip and where each plane lies in it.
struct frame_store {
    std::vector<unsigned char> bytes;
    AVS_VideoFrameBuffer vfb{};
    int planes = 0;
    int region[4] = {0, 0, 0, 0};    // start of the Y, U, V and alpha regions (G, B, R, alpha)
    int pitch[4] = {0, 0, 0, 0};
    int row_size[4] = {0, 0, 0, 0};
    int height[4] = {0, 0, 0, 0};
};

// A frame property: integers or floats, one or more.
struct clip_data;

// A frame property: integers, floats, data (strings) or clips, one or more
// of one type.
struct property {
    std::vector<int64_t> integers;
    std::vector<double> floats;
    std::vector<std::string> data;
    std::vector<std::shared_ptr<clip_data>> clips;
};

struct clip_data {
    AVS_VideoInfo vi{};
    std::map<std::string, property> props;  // every frame's properties
    fault_plan fault;
    bool silent = false;  // zero samples, as the real BlankClip gives (for benchmarks)
    // Where this clip lies in the clip its content was made for (Trim):
    // frame n is that clip's frame n + frame_offset, sample s its sample
    // s + sample_offset, and that clip had source_samples samples.
    int frame_offset = 0;
    int64_t sample_offset = 0;
    int64_t source_samples = 0;
    std::unique_ptr<frame_store> frames;  // made at the first frame request
};

// The script's global variables (avs_set_global_var).
std::map<std::string, struct value>& global_variables();
using clip_ref = std::shared_ptr<clip_data>;

// A script value. type is one of the AVS_TAG_ letters; an array literal
// ([0.68, 0.265, 0.15]) is AVS_TAG_ARRAY.
struct value {
    short type = AVS_TAG_VOID;
    int64_t integer = 0;
    double floating = 0;
    bool boolean = false;
    std::string string;
    clip_ref clip;
    std::vector<value> array;
};

struct script_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct argument {
    std::string name;  // empty for a positional argument
    value v;
};

// Calls a function of the stand-in by name, case-insensitively. clip-taking
// filters receive last when their first positional argument is not a clip.
value call_function(const std::string& name, std::vector<argument> args, const value* last);

// Evaluates a script file; its value is the value of its last line. With
// utf8 the path is UTF-8 rather than the ANSI code page (on Windows).
value import_script_file(const std::string& path, bool utf8);

// image_type's channel-mask bits, as AviSynth+ has them.
constexpr int STANDIN_IT_HAS_CHANNEL_MASK = 1 << 3;
constexpr unsigned STANDIN_SPEAKER_BITS = 0x3FFFF;

// A pixel format the stand-in can serve.
struct format_def {
    const char* name;
    int pixel_type;
    int planes;            // 1 for interleaved formats and Y8, 4 with an alpha plane
    int bytes_per_pixel;   // of plane 0; chroma planes share the sample size
    int shift_w, shift_h;  // chroma subsampling
    int width_mod, height_mod;
};
const format_def* format_by_name(const std::string& name);
const format_def* format_by_type(int pixel_type);

// Frame rows rotate by frame number through this many extra rows per plane,
// so consecutive frames differ while sharing one buffer.
constexpr int FRAME_ROW_CYCLE = 8;
constexpr unsigned char PADDING_MARKER = 0xFF;

frame_store& frames_of(clip_data& clip);

// Prints a line naming when on standard output in each way a plugin can:
// C's printf (unflushed), std::cout, write() to descriptor 1 and, on
// Windows, WriteFile to the process's standard output handle.
void print_on_stdout(const std::string& when);
// Fills count sample frames from start; false if the plan says this fails.
bool fill_audio(const clip_data& clip, void* buffer, int64_t start, int64_t count);

}  // namespace standin
