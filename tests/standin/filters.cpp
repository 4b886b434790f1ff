// The functions a stand-in script can call, with the real names, parameter
// names and defaults, plus StandinFault for fault injection.

#include <algorithm>
#include <cctype>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <thread>

#include "standin.h"

namespace standin {
namespace {

// Parameter types: 'i' int, 'f' float (an int is accepted), 'n' int or
// float kept as given, 's' string, 'b' bool, 'c' clip, 'p' a property's
// value (an int, a float, or an array of them).
struct param {
    const char* name;
    char type;
};

struct bound_args {
    std::vector<value> slots;  // type AVS_TAG_VOID: not given
    bool given(size_t i) const { return slots[i].type != AVS_TAG_VOID; }
    int64_t integer(size_t i, int64_t fallback) const { return given(i) ? slots[i].integer : fallback; }
    double floating(size_t i, double fallback) const
    {
        if (!given(i))
            return fallback;
        return slots[i].type == AVS_TAG_INT ? static_cast<double>(slots[i].integer) : slots[i].floating;
    }
    std::string string(size_t i, const char* fallback) const { return given(i) ? slots[i].string : fallback; }
    bool boolean(size_t i, bool fallback) const { return given(i) ? slots[i].boolean : fallback; }
};

typedef value (*filter_func)(const std::string& name, const clip_ref& clip, const bound_args& args);

struct function_def {
    const char* name;
    bool takes_clip;
    std::vector<param> params;
    filter_func run;
};

bool same_name(const std::string& a, const char* b);

[[noreturn]] void fail(const std::string& function, const std::string& what)
{
    throw script_error(function + ": " + what);
}

value clip_value(clip_data data)
{
    value v;
    v.type = AVS_TAG_CLIP;
    data.frames.reset();
    v.clip = std::make_shared<clip_data>(std::move(data));
    return v;
}

clip_data copy_of(const clip_ref& clip)
{
    clip_data data;
    data.vi = clip->vi;
    data.props = clip->props;
    data.fault = clip->fault;
    data.frame_offset = clip->frame_offset;
    data.sample_offset = clip->sample_offset;
    data.source_samples = clip->source_samples;
    data.silent = clip->silent;
    return data;
}

// As the real frame server does, a rate is kept in lowest terms.
void set_fps(const std::string& function, AVS_VideoInfo& vi, int64_t numerator, int64_t denominator)
{
    if (numerator < 0 || denominator <= 0 || numerator > UINT32_MAX || denominator > UINT32_MAX)
        fail(function, "invalid frame rate");
    int64_t divisor = numerator ? std::gcd(numerator, denominator) : 1;
    vi.fps_numerator = static_cast<unsigned>(numerator / divisor);
    vi.fps_denominator = static_cast<unsigned>(denominator / divisor);
}

// A fractional rate becomes thousandths in lowest terms: 29.97 -> 2997/100.
void set_float_fps(const std::string& function, AVS_VideoInfo& vi, double fps)
{
    if (fps == std::floor(fps))
        set_fps(function, vi, static_cast<int64_t>(fps), 1);
    else
        set_fps(function, vi, static_cast<int64_t>(std::llround(fps * 1000)), 1000);
}

[[maybe_unused]] property integer_property(int64_t v)
{
    property p;
    p.integers.push_back(v);
    return p;
}

int sample_type_by_name(const std::string& name)
{
    if (name == "8bit") return AVS_SAMPLE_INT8;
    if (name == "16bit") return AVS_SAMPLE_INT16;
    if (name == "24bit") return AVS_SAMPLE_INT24;
    if (name == "32bit") return AVS_SAMPLE_INT32;
    if (name == "float") return AVS_SAMPLE_FLOAT;
    return 0;
}

value blank_clip(const std::string& name, const clip_ref&, const bound_args& args)
{
    clip_data data;
    AVS_VideoInfo& vi = data.vi;
    int64_t length = args.integer(0, 240), width = args.integer(1, 640), height = args.integer(2, 480);
    std::string pixel_type = args.string(3, "RGB32");
    const format_def* format = format_by_name(pixel_type);
    if (!format)
        fail(name, "pixel_type \"" + pixel_type + "\" is not supported");
    if (length < 0 || length > INT32_MAX || width <= 0 || width > 65535 || height <= 0 || height > 65535)
        fail(name, "length, width or height out of range");
    if (width % format->width_mod || height % format->height_mod)
        fail(name, std::string(format->name) + " needs a width that is a multiple of " +
                       std::to_string(format->width_mod) + " and a height that is a multiple of " +
                       std::to_string(format->height_mod));
    vi.width = static_cast<int>(width);
    vi.height = static_cast<int>(height);
    vi.num_frames = static_cast<int>(length);
    vi.pixel_type = format->pixel_type;
#ifndef STANDIN_CLASSIC
    // As AviSynth+'s BlankClip: 0 full range (RGB), 1 limited (YUV).
    const bool rgb = static_cast<unsigned>(format->pixel_type) & AVS_CS_BGR;
    data.props["_ColorRange"] = integer_property(rgb ? 0 : 1);
    data.props["_Matrix"] = integer_property(rgb ? 0 : 6);  // identity, or BT.601
#endif
    // As the real BlankClip does: with a denominator the rate is rounded to
    // a whole numerator; without one it is scaled by powers of two until
    // numerator or denominator reaches 2^24, so 29.97 is 31425823/1048576.
    double fps = args.floating(4, 24);
    if (fps < 0 || fps > INT32_MAX)
        fail(name, "invalid frame rate");
    if (args.given(5)) {
        set_fps(name, vi, static_cast<int64_t>(fps + 0.5), args.integer(5, 1));
    } else {
        int64_t denominator = 1;
        while (fps < 16777216 && denominator < 16777216) {
            fps *= 2;
            denominator *= 2;
        }
        set_fps(name, vi, static_cast<int64_t>(fps + 0.5), denominator);
    }

    // Any 32-bit rate and channel count, as AviSynth+ takes them: a
    // negative rate counts as audio, with a negative sample count.
    int64_t rate = args.integer(6, 44100), channels = args.integer(7, 1);
    if (rate < INT32_MIN || rate > INT32_MAX || channels < INT32_MIN || channels > INT32_MAX)
        fail(name, "audio_rate or channels out of range");
    if (rate != 0) {
        std::string sample_name = args.string(8, "16bit");
        vi.sample_type = sample_type_by_name(sample_name);
        if (!vi.sample_type)
            fail(name, "sample_type \"" + sample_name + "\" is not supported");
        vi.audio_samples_per_second = static_cast<int>(rate);
        vi.nchannels = static_cast<int>(channels);
        if (vi.fps_numerator) {
            int64_t frames_rate = length * rate;  // below 2^62
            if (frames_rate > INT64_MAX / vi.fps_denominator || frames_rate < INT64_MIN / vi.fps_denominator)
                fail(name, "audio length out of range");
            vi.num_audio_samples = frames_rate * vi.fps_denominator / vi.fps_numerator;
        }
        data.source_samples = vi.num_audio_samples;
    }
    return clip_value(std::move(data));
}

value set_image_type(const std::string& name, const clip_ref& clip, const bound_args&)
{
    clip_data data = copy_of(clip);
    int& it = data.vi.image_type;
    std::string lower;
    for (char c : name)
        lower += static_cast<char>(tolower(static_cast<unsigned char>(c)));
    if (lower == "assumefieldbased")
        it = (it & ~(AVS_IT_BFF | AVS_IT_TFF)) | AVS_IT_FIELDBASED;
    else if (lower == "assumeframebased")
        it &= ~(AVS_IT_BFF | AVS_IT_TFF | AVS_IT_FIELDBASED);
    else if (lower == "assumetff")
        it = (it & ~AVS_IT_BFF) | AVS_IT_TFF;
    else
        it = (it & ~AVS_IT_TFF) | AVS_IT_BFF;
    return clip_value(std::move(data));
}

value assume_fps(const std::string& name, const clip_ref& clip, const bound_args& args)
{
    clip_data data = copy_of(clip);
    if (!args.given(0))
        fail(name, "needs a frame rate");
    if (args.slots[0].type == AVS_TAG_FLOAT) {
        if (args.given(1))
            fail(name, "a float rate takes no denominator");
        set_float_fps(name, data.vi, args.slots[0].floating);
    } else {
        set_fps(name, data.vi, args.slots[0].integer, args.integer(1, 1));
    }
    return clip_value(std::move(data));
}

value kill_audio(const std::string&, const clip_ref& clip, const bound_args&)
{
    clip_data data = copy_of(clip);
    data.vi.audio_samples_per_second = 0;
    data.vi.num_audio_samples = 0;
    data.vi.nchannels = 0;
    data.vi.sample_type = 0;
    return clip_value(std::move(data));
}

// The video of the first clip with the audio of the second.
value audio_dub(const std::string& name, const clip_ref& clip, const bound_args& args)
{
    const value& audio = args.slots[0];
    if (audio.type != AVS_TAG_CLIP)
        fail(name, "needs a clip with audio");
    clip_data data = copy_of(clip);
    const AVS_VideoInfo& from = audio.clip->vi;
    data.vi.audio_samples_per_second = from.audio_samples_per_second;
    data.vi.sample_type = from.sample_type;
    data.vi.num_audio_samples = from.num_audio_samples;
    data.vi.nchannels = from.nchannels;
    data.sample_offset = audio.clip->sample_offset;
    data.source_samples = audio.clip->source_samples;
    data.silent = audio.clip->silent;
    data.fault.sample = audio.clip->fault.sample;
    return clip_value(std::move(data));
}

value kill_video(const std::string&, const clip_ref& clip, const bound_args&)
{
    clip_data data = copy_of(clip);
    data.vi.width = data.vi.height = data.vi.num_frames = data.vi.pixel_type = 0;
    data.vi.fps_numerator = data.vi.fps_denominator = 0;
    return clip_value(std::move(data));
}

// The matrix a conversion out of RGB uses, as AviSynth+ names them: its
// H.273 code point and whether the range is full ("PC.").
struct matrix_name {
    const char* name;
    int code;
    bool full;
};
const matrix_name matrices[] = {{"Rec601", 6, false}, {"PC.601", 6, true},   {"Rec709", 1, false},
                                {"PC.709", 1, true},  {"Rec2020", 9, false}, {"PC.2020", 9, true}};

// The clip in another format: the same shape, the pattern content of the
// new format. A conversion out of RGB records the matrix and the range it
// used (by default BT.601, limited), as AviSynth+ does.
value converted_to(const std::string& name, const clip_ref& clip, const format_def* format,
                   [[maybe_unused]] const std::string& matrix = "Rec601")
{
    if (!format)
        fail(name, "this pixel type is not supported");
    clip_data data = copy_of(clip);
    if (!data.vi.width)
        fail(name, "clip has no video");
    if (clip->fault.convert == "error")
        fail(name, "conversion refused (StandinFault)");
    if (data.vi.width % format->width_mod || data.vi.height % format->height_mod)
        fail(name, std::string("image width must be a multiple of ") + std::to_string(format->width_mod) +
                       " and height a multiple of " + std::to_string(format->height_mod));
#ifndef STANDIN_CLASSIC
    const bool from_rgb = static_cast<unsigned>(data.vi.pixel_type) & AVS_CS_BGR;
    if (from_rgb && !(static_cast<unsigned>(format->pixel_type) & AVS_CS_BGR)) {
        const matrix_name* used = nullptr;
        for (const matrix_name& m : matrices)
            if (same_name(matrix, m.name))
                used = &m;
        if (!used)
            fail(name, "unknown matrix \"" + matrix + "\"");
        data.props["_Matrix"] = integer_property(used->code);
        data.props["_ColorRange"] = integer_property(used->full ? 0 : 1);
    }
    // As AviSynth+: 4:2:0 chroma comes out where MPEG-2 has it (left),
    // moved there from where the source said it sat, or resampled from
    // another layout; a 4:2:0 source that said nothing still says nothing.
    const format_def* source = format_by_type(data.vi.pixel_type);
    const bool from_420 = source && source->shift_w == 1 && source->shift_h == 1;
    if (format->shift_w == 1 && format->shift_h == 1 && (!from_420 || data.props.count("_ChromaLocation")))
        data.props["_ChromaLocation"] = integer_property(0);
#endif
    if (clip->fault.convert != "keep")
        data.vi.pixel_type = format->pixel_type;
    return clip_value(std::move(data));
}

// ConvertToYV24, ConvertToYV16, ConvertToYV12: from 8-bit clips only, as
// the releases of AviSynth+ have them (a development snapshot after 3.7.5
// converts deeper clips too; users run the releases).
value convert(const std::string& name, const clip_ref& clip, const bound_args& args)
{
    std::string target = name.substr(name.size() - 4);
    for (char& c : target)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    if (clip->vi.width && (static_cast<unsigned>(clip->vi.pixel_type) & AVS_CS_SAMPLE_BITS_MASK) != 0)
        fail("ConvertTo" + target, "only 8 bit sources allowed");
    // I420 counts as YV12 already: the clip comes back as it is.
    if (target == "YV12" && clip->vi.pixel_type == AVS_CS_I420 && clip->fault.convert.empty())
        return clip_value(copy_of(clip));
    return converted_to(name, clip, format_by_name(target), args.string(0, "Rec601"));
}

#ifndef STANDIN_CLASSIC
value convert_bits(const std::string& name, const clip_ref& clip, const bound_args& args)
{
    static const std::pair<int, unsigned> fields[] = {{8, 0}, {10, 5}, {12, 6}, {14, 7}, {16, 1}, {32, 2}};
    int64_t bits = args.integer(0, 0);
    if (clip->vi.pixel_type == AVS_CS_YV411 && bits != 8)
        fail(name, "YV411 input must stay in 8 bits");  // as AviSynth+ words it
    for (const auto& f : fields)
        if (f.first == bits) {
            unsigned pt = static_cast<unsigned>(clip->vi.pixel_type) & ~AVS_CS_SAMPLE_BITS_MASK;
            value converted = converted_to(name, clip,
                                           format_by_type(static_cast<int>(pt | f.second << AVS_CS_SHIFT_SAMPLE_BITS)));
            // As AviSynth+: the range it converted in is recorded, the
            // clip's own, else limited for YUV and full for RGB.
            if (!converted.clip->props.count("_ColorRange"))
                converted.clip->props["_ColorRange"] = integer_property(pt & AVS_CS_BGR ? 0 : 1);
            return converted;
        }
    fail(name, "invalid bit depth");
}

value convert_to_yuv444(const std::string& name, const clip_ref& clip, const bound_args& args)
{
    unsigned pt = static_cast<unsigned>(clip->vi.pixel_type);
    const int yuv444 = static_cast<int>(static_cast<unsigned>(AVS_CS_YV24) | (pt & AVS_CS_SAMPLE_BITS_MASK));
    return converted_to(name, clip, format_by_type(yuv444), args.string(0, "Rec601"));
}

// ConvertToPlanarRGB, ConvertToPlanarRGBA: the same depth, planar.
value convert_to_planar_rgb(const std::string& name, const clip_ref& clip, const bound_args&)
{
    const unsigned bits = static_cast<unsigned>(clip->vi.pixel_type) & AVS_CS_SAMPLE_BITS_MASK;
    const unsigned planar = same_name(name, "ConvertToPlanarRGBA") ? 0x90000002u : 0x90000001u;
    return converted_to(name, clip, format_by_type(static_cast<int>(planar | bits)));
}

// An int, a float, a string or a clip, or an array of one of them, as
// AviSynth+'s propSet takes them.
value prop_set(const std::string& name, const clip_ref& clip, const bound_args& args)
{
    clip_data data = copy_of(clip);
    property p;
    const value& given = args.slots[1];
    for (const value& v : given.type == AVS_TAG_ARRAY ? given.array : std::vector<value>{given}) {
        const size_t others = p.integers.size() + p.floats.size() + p.data.size() + p.clips.size();
        if (v.type == AVS_TAG_INT && others == p.integers.size())
            p.integers.push_back(v.integer);
        else if (v.type == AVS_TAG_FLOAT && others == p.floats.size())
            p.floats.push_back(v.floating);
        else if (v.type == AVS_TAG_STRING && others == p.data.size())
            p.data.push_back(v.string);
        else if (v.type == AVS_TAG_CLIP && others == p.clips.size())
            p.clips.push_back(v.clip);
        else
            fail(name, "an array of values of one type, or one value");
    }
    data.props[args.string(0, "")] = p;
    return clip_value(std::move(data));
}

value set_channel_mask(const std::string&, const clip_ref& clip, const bound_args& args)
{
    clip_data data = copy_of(clip);
    int& it = data.vi.image_type;
    const bool known = args.boolean(0, false);
    const unsigned mask = known ? static_cast<unsigned>(args.integer(1, 0)) & STANDIN_SPEAKER_BITS : 0;
    it = static_cast<int>((static_cast<unsigned>(it) & 0xF) | mask << 4);
    it = known ? it | STANDIN_IT_HAS_CHANNEL_MASK : it & ~STANDIN_IT_HAS_CHANNEL_MASK;
    return clip_value(std::move(data));
}

value prop_delete(const std::string&, const clip_ref& clip, const bound_args& args)
{
    clip_data data = copy_of(clip);
    data.props.erase(args.string(0, ""));
    return clip_value(std::move(data));
}
#endif

value standin_fault(const std::string& name, const clip_ref& clip, const bound_args& args)
{
    clip_data data = copy_of(clip);
    data.fault.frame = static_cast<int>(args.integer(0, data.fault.frame));
    data.fault.sample = args.integer(1, data.fault.sample);
    data.fault.convert = args.string(2, data.fault.convert.c_str());
    data.fault.slow = static_cast<int>(args.integer(3, data.fault.slow));
    if (data.fault.convert != "" && data.fault.convert != "error" && data.fault.convert != "keep")
        fail(name, "convert must be \"error\" or \"keep\"");
    return clip_value(std::move(data));
}

// StandinBytes("48ff00"): a string of any bytes, NUL among them, which no
// script literal can hold.
// StandinPause(ms): a slow step of a script's evaluation (a source that
// indexes its file), said on standard error as it starts, so that a test
// knows the moment.
// ConvertAudioTo16bit and the others: the stand-in's audio of the new
// sample type (its content is the type's own pattern, see README.md).
value convert_audio(const std::string& name, const clip_ref& clip, const bound_args&)
{
    clip_data data = copy_of(clip);
    if (data.vi.audio_samples_per_second == 0)
        fail(name, "the clip has no audio");
    data.vi.sample_type = same_name(name, "ConvertAudioTo16bit")   ? AVS_SAMPLE_INT16
                          : same_name(name, "ConvertAudioTo24bit") ? AVS_SAMPLE_INT24
                          : same_name(name, "ConvertAudioTo32bit") ? AVS_SAMPLE_INT32
                                                                   : AVS_SAMPLE_FLOAT;
    return clip_value(std::move(data));
}

// StandinPrint(): a filter that prints on standard output as it is
// created and in every frame and audio request, as some plugins do.
value standin_print(const std::string&, const clip_ref& clip, const bound_args&)
{
    clip_data data = copy_of(clip);
    data.fault.prints = true;
    print_on_stdout("import");
    return clip_value(std::move(data));
}

// StandinHold(path): opens the file for reading and holds it open to the
// end, as a source plugin holds the film it reads.
value standin_hold(const std::string& name, const clip_ref&, const bound_args& args)
{
    static std::vector<FILE*> held;
    FILE* file = fopen(args.string(0, "").c_str(), "rb");
    if (!file)
        fail(name, "cannot open the file");
    held.push_back(file);
    value v;
    v.type = AVS_TAG_INT;
    return v;
}

value standin_pause(const std::string&, const clip_ref&, const bound_args& args)
{
    fputs("standin: pausing\n", stderr);
    fflush(stderr);
    std::this_thread::sleep_for(std::chrono::milliseconds(args.integer(0, 1000)));
    value v;
    v.type = AVS_TAG_INT;
    return v;
}

value standin_bytes(const std::string& name, const clip_ref&, const bound_args& args)
{
    const std::string hex = args.string(0, "");
    value v;
    v.type = AVS_TAG_STRING;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        char* end = nullptr;
        const std::string two = hex.substr(i, 2);
        const long byte = strtol(two.c_str(), &end, 16);
        if (*end != '\0')
            fail(name, "hexadecimal digits, two a byte");
        v.string += static_cast<char>(byte);
    }
    return v;
}

value standin_silence(const std::string&, const clip_ref& clip, const bound_args&)
{
    clip_data data = copy_of(clip);
    data.silent = true;
    return clip_value(std::move(data));
}

int64_t samples_from_frames(const AVS_VideoInfo& vi, int64_t frames)
{
    return vi.fps_numerator && vi.width ? frames * vi.audio_samples_per_second * vi.fps_denominator / vi.fps_numerator
                                        : 0;
}

// Trim(first, last, pad) as AviSynth+ reads it: a last frame of 0 is the
// end, a negative one a frame count; with pad the audio is exactly that of
// the frames, without it at most the track's own.
value trim(const std::string& name, const clip_ref& clip, const bound_args& args)
{
    clip_data data = copy_of(clip);
    AVS_VideoInfo& vi = data.vi;
    if (!vi.width)
        fail(name, "Cannot trim if there is no video.");
    int64_t last_given = args.integer(1, 0);
    int64_t first = std::clamp<int64_t>(args.integer(0, 0), 0, vi.num_frames - 1);
    int64_t last = last_given == 0 ? vi.num_frames - 1 : last_given < 0 ? first - last_given - 1 : last_given;
    last = std::clamp<int64_t>(last, first, vi.num_frames - 1);
    int64_t offset = samples_from_frames(vi, first);
    int64_t samples = samples_from_frames(vi, last + 1);
    if (!(args.given(2) ? args.slots[2].boolean : true)) {
        samples = last_given == 0 ? vi.num_audio_samples : std::min(samples, vi.num_audio_samples);
        samples = offset >= samples ? offset : samples;
    }
    vi.num_frames = static_cast<int>(last + 1 - first);
    vi.num_audio_samples = vi.audio_samples_per_second ? samples - offset : 0;
    data.frame_offset += static_cast<int>(first);
    data.sample_offset += offset;
    return clip_value(std::move(data));
}

value var_exist(const std::string&, const clip_ref&, const bound_args& args)
{
    value v;
    v.type = AVS_TAG_BOOL;
    v.boolean = global_variables().count(args.string(0, "")) != 0;
    return v;
}

value string_length(const std::string&, const clip_ref&, const bound_args& args)
{
    value v;
    v.type = AVS_TAG_INT;
    v.integer = static_cast<int64_t>(args.string(0, "").size());
    return v;
}

// Value("12") is 12.0: always a float, as in AviSynth+; Int() makes it
// a whole number.
value number_of(const std::string& name, const clip_ref&, const bound_args& args)
{
    std::string text = args.string(0, "");
    char* end = nullptr;
    value v;
    v.type = AVS_TAG_FLOAT;
    v.floating = strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0')
        fail(name, "\"" + text + "\" is not a number");
    return v;
}

value whole_number(const std::string&, const clip_ref&, const bound_args& args)
{
    value v;
    v.type = AVS_TAG_INT;
    v.integer = static_cast<int64_t>(args.floating(0, 0));
    return v;
}

value assert_true(const std::string&, const clip_ref&, const bound_args& args)
{
    if (!args.slots[0].boolean)
        throw script_error(args.string(1, "Assert: assertion failed"));
    return value();
}

value version_string(const std::string&, const clip_ref&, const bound_args&)
{
    value v;
    v.type = AVS_TAG_STRING;
    v.string = "clipspout's stand-in frame server";
    return v;
}

value import(const std::string&, const clip_ref&, const bound_args& args)
{
    // Without AVS_STANDIN_NO_UTF8 there is a second slot, for utf8.
    bool utf8 = args.slots.size() > 1 && args.given(1) && args.slots[1].boolean;
    return import_script_file(args.string(0, ""), utf8);
}

// AVS_STANDIN_NO_UTF8 plays a frame server whose Import has no "utf8"
// argument, as AviSynth 2.6.
std::vector<param> import_params()
{
    if (getenv("AVS_STANDIN_NO_UTF8"))
        return {{"path", 's'}};
    return {{"path", 's'}, {"utf8", 'b'}};
}

const std::vector<function_def>& functions()
{
    static const std::vector<function_def> table = {
        {"Import", false, import_params(), import},
        {"VersionString", false, {}, version_string},
        {"Trim", true, {{"first_frame", 'i'}, {"last_frame", 'i'}, {"pad", 'b'}}, trim},
        {"VarExist", false, {{"name", 's'}}, var_exist},
        {"StrLen", false, {{"string", 's'}}, string_length},
        {"Value", false, {{"string", 's'}}, number_of},
        {"Int", false, {{"number", 'f'}}, whole_number},
        {"Assert", false, {{"condition", 'b'}, {"message", 's'}}, assert_true},
        {"BlankClip", false,
         {{"length", 'i'}, {"width", 'i'}, {"height", 'i'}, {"pixel_type", 's'}, {"fps", 'f'},
          {"fps_denominator", 'i'}, {"audio_rate", 'i'}, {"channels", 'i'}, {"sample_type", 's'}},
         blank_clip},
        {"AssumeFieldBased", true, {}, set_image_type},
        {"AssumeFrameBased", true, {}, set_image_type},
        {"AssumeTFF", true, {}, set_image_type},
        {"AssumeBFF", true, {}, set_image_type},
        {"AssumeFPS", true, {{"numerator", 'n'}, {"denominator", 'i'}}, assume_fps},
        {"KillAudio", true, {}, kill_audio},
        {"KillVideo", true, {}, kill_video},
        {"AudioDub", true, {{"audio", 'c'}}, audio_dub},
        {"ConvertToYV24", true, {{"matrix", 's'}}, convert},
        {"ConvertToYV16", true, {{"matrix", 's'}}, convert},
        {"ConvertToYV12", true, {{"matrix", 's'}}, convert},
        {"StandinSilence", true, {}, standin_silence},
        {"StandinBytes", false, {{"hex", 's'}}, standin_bytes},
        {"StandinPause", false, {{"ms", 'i'}}, standin_pause},
        {"StandinPrint", true, {}, standin_print},
        {"ConvertAudioTo16bit", true, {}, convert_audio},
        {"ConvertAudioTo24bit", true, {}, convert_audio},
        {"ConvertAudioTo32bit", true, {}, convert_audio},
        {"ConvertAudioToFloat", true, {}, convert_audio},
        {"StandinHold", false, {{"path", 's'}}, standin_hold},
#ifndef STANDIN_CLASSIC
        {"ConvertBits", true, {{"bits", 'i'}}, convert_bits},
        {"ConvertToYUV444", true, {{"matrix", 's'}}, convert_to_yuv444},
        {"ConvertToPlanarRGB", true, {}, convert_to_planar_rgb},
        {"ConvertToPlanarRGBA", true, {}, convert_to_planar_rgb},
        {"propSet", true, {{"key", 's'}, {"value", 'p'}}, prop_set},
        {"propDelete", true, {{"key", 's'}}, prop_delete},
        {"SetChannelMask", true, {{"known", 'b'}, {"mask", 'i'}}, set_channel_mask},
#endif
        {"StandinFault", true, {{"frame", 'i'}, {"sample", 'i'}, {"convert", 's'}, {"slow", 'i'}}, standin_fault},
    };
    return table;
}

bool same_name(const std::string& a, const char* b)
{
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i])))
            return false;
    return i == a.size() && !b[i];
}

bool fits(char type, const value& v)
{
    switch (type) {
    case 'i': return v.type == AVS_TAG_INT;
    case 'f':
    case 'n': return v.type == AVS_TAG_INT || v.type == AVS_TAG_FLOAT;
    case 's': return v.type == AVS_TAG_STRING;
    case 'b': return v.type == AVS_TAG_BOOL;
    case 'c': return v.type == AVS_TAG_CLIP;
    case 'p':
        return v.type == AVS_TAG_INT || v.type == AVS_TAG_FLOAT || v.type == AVS_TAG_ARRAY ||
               v.type == AVS_TAG_STRING || v.type == AVS_TAG_CLIP;
    }
    return false;
}

}  // namespace

value call_function(const std::string& name, std::vector<argument> args, const value* last)
{
    const function_def* def = nullptr;
    for (const function_def& f : functions())
        if (same_name(name, f.name))
            def = &f;
    if (!def)
        throw script_error("Script error: There is no function named '" + name + "'.");
    std::string invalid = "Script error: Invalid arguments to function '" + std::string(def->name) + "'.";

    clip_ref clip;
    size_t first = 0;
    if (def->takes_clip) {
        if (!args.empty() && args[0].name.empty() && args[0].v.type == AVS_TAG_CLIP) {
            clip = args[0].v.clip;
            first = 1;
        } else if (last) {
            clip = last->clip;
        } else {
            throw script_error("Script error: I don't know what 'last' means.");
        }
    }

    bound_args bound;
    bound.slots.resize(def->params.size());
    size_t next_positional = 0;
    for (size_t i = first; i < args.size(); ++i) {
        size_t slot = def->params.size();
        if (args[i].name.empty()) {
            slot = next_positional++;
        } else {
            for (size_t p = 0; p < def->params.size(); ++p)
                if (same_name(args[i].name, def->params[p].name))
                    slot = p;
            if (slot == def->params.size())
                throw script_error("Script error: " + std::string(def->name) + " does not have a named argument \"" +
                                   args[i].name + "\"");
        }
        if (slot >= def->params.size() || bound.given(slot) || !fits(def->params[slot].type, args[i].v))
            throw script_error(invalid);
        bound.slots[slot] = args[i].v;
    }
    return def->run(def->name, clip, bound);
}

}  // namespace standin
