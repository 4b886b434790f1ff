// Each encoder's own options and names, from its help text and its option
// parser: x264 0.164, x265 3.5 and SVT-AV1 1.4. The names are indexed by
// their H.273 code point; a code an encoder has no name for is left out,
// and said.

#include "reports/encoder_args.h"

#include "common/numbers.h"
#include "common/platform.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "common/diag.h"

namespace {

constexpr int PRIMARIES_CODES = 23, TRANSFER_CODES = 19, MATRIX_CODES = 15;

const char* const x26x_primaries[PRIMARIES_CODES] = {
    nullptr, "bt709",   nullptr,  nullptr,  "bt470m", "bt470bg", "smpte170m", "smpte240m",
    "film",  "bt2020",  "smpte428", "smpte431", "smpte432"};
const char* const svtav1_primaries[PRIMARIES_CODES] = {
    nullptr, "bt709",  nullptr, nullptr,    "bt470m",   "bt470bg", "bt601",  "smpte240", "film",   "bt2020",
    "xyz",   "smpte431", "smpte432", nullptr, nullptr, nullptr,   nullptr,  nullptr,    nullptr,  nullptr,
    nullptr, nullptr,  "ebu3213"};
const char* const x26x_transfers[TRANSFER_CODES] = {
    nullptr,     "bt709",       nullptr,        nullptr,    "bt470m",     "bt470bg",    "smpte170m",
    "smpte240m", "linear",      "log100",       "log316",   "iec61966-2-4", "bt1361e", "iec61966-2-1",
    "bt2020-10", "bt2020-12",   "smpte2084",    "smpte428", "arib-std-b67"};
const char* const svtav1_transfers[TRANSFER_CODES] = {
    nullptr,    "bt709",  nullptr,  nullptr,     "bt470m",   "bt470bg",   "bt601",     "smpte240", "linear", "log100",
    "log100-sqrt10", "iec61966", "bt1361", "srgb", "bt2020-10", "bt2020-12", "smpte2084", "smpte428", "hlg"};
const char* const x264_matrices[MATRIX_CODES] = {
    "GBR",       "bt709",     nullptr,    nullptr,    "fcc",   "bt470bg", "smpte170m", "smpte240m",
    "YCgCo",     "bt2020nc",  "bt2020c",  "smpte2085", "chroma-derived-nc", "chroma-derived-c", "ICtCp"};
const char* const x265_matrices[MATRIX_CODES] = {
    "gbr",       "bt709",     nullptr,    nullptr,    "fcc",   "bt470bg", "smpte170m", "smpte240m",
    "ycgco",     "bt2020nc",  "bt2020c",  "smpte2085", "chroma-derived-nc", "chroma-derived-c", "ictcp"};
const char* const svtav1_matrices[MATRIX_CODES] = {
    "identity", "bt709",      nullptr,     nullptr,     "fcc",       "bt470bg",   "bt601", "smpte240",
    "ycgco",    "bt2020-ncl", "bt2020-cl", "smpte2085", "chroma-ncl", "chroma-cl", "ictcp"};

// Each encoder's facts: its options, its names, and what it takes.
struct encoder_words {
    const char* name;
    const char* depth_option;
    const char* primaries_option;
    const char* transfer_option;
    const char* matrix_option;
    const char* const* primaries;
    const char* const* transfers;
    const char* const* matrices;
    const char* range_option;
    const char* limited;
    const char* full;
    // What it encodes: 4:2:0 only (SVT-AV1) or also 4:2:2, 4:4:4 and mono,
    // up to how many bits, in its own words.
    bool only_420;
    int deepest;
    const char* takes;
    const char* csp_option;          // brings a layout that is not 4:2:0 to 4:2:0 unless told (x264)
    bool told_input_range;           // takes a y4m stream without a range as limited (x264)
    const char* chromaloc_option;    // _ChromaLocation as its number; null:
    const char* chroma_position_option;  // left or top-left by name only
    const char* sar_option;          // 16 bits a term; null: none
    const char* tff, *bff;           // flags for the field order (x264),
    const char* interlace_option;    // or one option with tff or bff (x265); null: none
    bool field_pair_rows;            // codes fields in pairs of macroblock rows (x264)
    const char* mastering_option;
    bool mastering_decimals;         // the display in decimals, not in units of 0.00002 and 0.0001
    const char* light_level_option;
    const char* hdr10_flag;          // null: none
    bool warns_of_repeats;           // of an option given twice, whose last it takes (SvtAv1EncApp)
    // The frames to come: a y4m stream does not say, and without it the
    // encoder shows no percentage and no time left.
    const char* frames_option;
};

const encoder_words words[] = {
    {"x264", "--output-depth", "--colorprim", "--transfer", "--colormatrix", x26x_primaries, x26x_transfers,
     x264_matrices, "--range", "tv", "pc", false, 10, "x264 takes 4:2:0, 4:2:2, 4:4:4 and mono at 8 or 10 bits",
     "--output-csp", true, "--chromaloc", nullptr, "--sar", "--tff", "--bff", nullptr, true, "--mastering-display",
     false, "--cll", nullptr, false, "--frames"},
    {"x265", "--output-depth", "--colorprim", "--transfer", "--colormatrix", x26x_primaries, x26x_transfers,
     x265_matrices, "--range", "limited", "full", false, 12,
     "x265 takes 4:2:0, 4:2:2, 4:4:4 and mono at 8, 10 or 12 bits", nullptr, false, "--chromaloc", nullptr, "--sar",
     nullptr, nullptr, "--interlace", false, "--master-display", false, "--max-cll", "--hdr10", false, "--frames"},
    {"SVT-AV1", "--input-depth", "--color-primaries", "--transfer-characteristics", "--matrix-coefficients",
     svtav1_primaries, svtav1_transfers, svtav1_matrices, "--color-range", "studio", "full", true, 10,
     "SVT-AV1 takes 4:2:0 at 8 or 10 bits", nullptr, false, nullptr, "--chroma-sample-position", nullptr, nullptr,
     nullptr, nullptr, false, "--mastering-display", true, "--content-light", nullptr, true, "--frames"},
};

bool is_420(const video_layout& l)
{
    return l.kind == PIXEL_PLANAR_YUV && l.shift_w == 1 && l.shift_h == 1;
}

bool is_444(const video_layout& l)
{
    return (l.kind == PIXEL_PLANAR_YUV && l.shift_w == 0 && l.shift_h == 0) || l.kind == PIXEL_PLANAR_RGB ||
           l.kind == PIXEL_PACKED_RGB;
}

// Why the encoder cannot take the stream, or empty. x264 encodes 4:2:0,
// 4:2:2, 4:4:4 and mono at 8 or 10 bits, x265 (Debian's build has all
// three depths) at 8, 10 or 12, SVT-AV1 4:2:0 at 8 or 10.
std::string refusal_of(const encoder_words& w, const video_layout& l)
{
    const bool shape = w.only_420 ? is_420(l)
                                  : l.kind == PIXEL_MONO || (l.kind == PIXEL_PLANAR_YUV && l.shift_h <= l.shift_w &&
                                                             l.shift_w <= 1 && (l.shift_h == 0 || l.shift_w == 1));
    if (shape && l.bits <= w.deepest)
        return "";
    std::string refusal = std::string(w.takes) + ", not " + l.name;
    if (shape)
        refusal += ": --depth=" + std::to_string(w.deepest) + " writes " + std::to_string(w.deepest) + " bits";
    else if (w.only_420)
        refusal += ": ConvertToYUV420() at the script's end gives 4:2:0";
    return refusal;
}

const char* name_for(const char* const* names, int count, int code)
{
    return code >= 0 && code < count ? names[code] : nullptr;
}


}  // namespace

std::string mastering_display_text(encoder_kind encoder, const mastering_display& d)
{
    // The properties hold red, green, blue; the encoders take green, blue,
    // red.
    const int order[3] = {1, 2, 0};
    const bool decimals = words[encoder].mastering_decimals;
    auto chromaticity = [&](double v) { return decimals ? decimal_text(v, 6) : std::to_string(std::llround(v * 50000)); };
    auto luminance = [&](double v) { return decimals ? decimal_text(v, 6) : std::to_string(std::llround(v * 10000)); };
    std::string text;
    for (int i = 0; i < 3; ++i) {
        const int c = order[i];
        text += std::string(1, "GBR"[i]) + "(" + chromaticity(d.primaries_x[c]) + "," + chromaticity(d.primaries_y[c]) +
                ")";
    }
    text += "WP(" + chromaticity(d.white_x) + "," + chromaticity(d.white_y) + ")";
    text += "L(" + luminance(d.max_luminance) + "," + luminance(d.min_luminance) + ")";
    return text;
}

namespace {

// The line as it grows: each option with its value, each note.
struct line_builder {
    const encoder_words& w;
    encoder_line line;
    void option(const std::string& name, const std::string& value = "", bool quoted = true)
    {
        line.args += (line.args.empty() ? "" : " ") + name;
        line.argv.push_back(name);
        if (!value.empty()) {
            line.args += quoted ? " \"" + value + "\"" : " " + value;
            line.argv.push_back(value);
        }
    }
    void note(const std::string& text) { line.notes.push_back(w.name + std::string(" ") + text); }
};

// Primaries, transfer and matrix, each by the encoder's name for it.
void add_colour(line_builder& b, const video_plan& plan)
{
    const encoder_words& w = b.w;
    const video_layout& l = plan.layout;
    const frame_properties& p = plan.frame0;
    struct {
        const char* option;
        const char* const* names;
        int count;
        int code;
        const char* what;
    } colour[] = {{w.primaries_option, w.primaries, PRIMARIES_CODES, p.primaries, "primaries"},
                  {w.transfer_option, w.transfers, TRANSFER_CODES, p.transfer, "transfer"},
                  {w.matrix_option, w.matrices, MATRIX_CODES, p.matrix, "matrix"}};
    for (const auto& c : colour) {
        if (c.code == PROPERTY_ABSENT)
            continue;
        const char* name = name_for(c.names, c.count, c.code);
        // H.264, HEVC and AV1 allow the identity matrix (GBR) only where
        // chroma is not subsampled.
        if (c.names == w.matrices && c.code == 0 && !is_444(l)) {
            b.note(std::string("takes the identity matrix (_Matrix 0) only for 4:4:4, and this stream is ") + l.name +
                 ": it is left out");
            continue;
        }
        if (name)
            b.option(c.option, name);
        else
            b.note("has no name for " + std::string(c.what) + " " + std::to_string(c.code) + " here: it is left out");
    }

}

void add_range_and_siting(line_builder& b, const video_plan& plan, encoder_input input)
{
    const encoder_words& w = b.w;
    const video_layout& l = plan.layout;
    const frame_properties& p = plan.frame0;
    if (p.colour_range != PROPERTY_ABSENT) {
        const char* range = p.colour_range == 0 ? w.full : w.limited;
        b.option(w.range_option, range);
        // x264 takes a stream without a range in its header (and raw input)
        // as limited and would expand full-range samples: it is told they
        // are full already.
        if (w.told_input_range && (plan.depth == DEPTH_DEFAULT || input == INPUT_RAW))
            b.option("--input-range", range);
    }

    if (is_420(l) && p.chroma_location != PROPERTY_ABSENT) {
        if (w.chromaloc_option)
            b.option(w.chromaloc_option, std::to_string(p.chroma_location), false);
        else if (p.chroma_location == 0 || p.chroma_location == 2)
            b.option(w.chroma_position_option, p.chroma_location == 0 ? "left" : "topleft");
        else
            b.note("takes only left and top-left chroma siting: _ChromaLocation " + std::to_string(p.chroma_location) +
                 " is left out");
    }

}

void add_aspect(line_builder& b, const video_plan& plan)
{
    const encoder_words& w = b.w;
    if (plan.sar_num > 0) {
        const int64_t num = plan.sar_num, den = plan.sar_den;
        const std::string sar = std::to_string(num) + ":" + std::to_string(den);
        // The VUI holds each in 16 bits; x265 would wrap a larger one and
        // x264 halve it until it fits.
        if (w.sar_option && (num > 65535 || den > 65535))
            b.note("holds an aspect ratio in 16 bits a term, and " + sar + " (in lowest terms) does not fit: it is "
                 "left out");
        else if (w.sar_option)
            b.option(w.sar_option, sar, false);
        else if (num != den)
            b.note("has no option for the aspect ratio: the encode loses " + std::to_string(num) + ":" +
                 std::to_string(den));
    }

}

// --raw: what a y4m header would say, in the encoder's options for raw
// input. Samples deeper than 8 bits are 16-bit little-endian words, as
// each of them reads raw input of that depth.
void add_raw_input(line_builder& b, encoder_kind encoder, const video_plan& plan)
{
    const AVS_VideoInfo& vi = *plan.vi;
    const video_layout& l = plan.layout;
    const std::string width = std::to_string(vi.width), height = std::to_string(vi.height);
    const std::string num = std::to_string(vi.fps_numerator), den = std::to_string(vi.fps_denominator);
    if (encoder == ENCODER_SVTAV1) {  // 4:2:0 only (refusal_of)
        b.option("--width", width, false);
        b.option("--height", height, false);
        b.option("--fps-num", num, false);
        b.option("--fps-denom", den, false);
        return;  // its depth option is its input's depth
    }
    if (encoder == ENCODER_X264)
        b.option("--demuxer", "raw", false);
    b.option("--input-res", width + "x" + height, false);
    b.option("--fps", num + "/" + den, false);
    b.option("--input-csp", l.kind == PIXEL_MONO ? "i400" : is_420(l) ? "i420" : l.shift_w ? "i422" : "i444", false);
    b.option("--input-depth", std::to_string(l.bits), false);
}

// False where the field order makes the stream one the encoder refuses.
// A raw stream has no header that could say it is interlaced.
bool add_fields(line_builder& b, const video_plan& plan, encoder_input input)
{
    const encoder_words& w = b.w;
    const video_layout& l = plan.layout;
    // x264 codes interlaced video in field pairs of macroblock rows: the
    // height must divide into them (by 4 for 4:2:0, else by 2), or x264
    // refuses the stream. The line then leaves the field order out; where
    // the stream's own header says it is interlaced, x264 takes that and
    // refuses the stream whatever the line says.
    const int field_rows = l.kind == PIXEL_PLANAR_YUV && l.shift_h == 1 ? 4 : 2;
    if (plan.order != FIELD_PROGRESSIVE && w.field_pair_rows && plan.vi->height % field_rows != 0) {
        const std::string rows = "x264 codes interlaced video only at a height divisible by " +
                                 std::to_string(field_rows) + " (here " + std::to_string(plan.vi->height) + ")";
        if (input == INPUT_Y4M && plan.header_order != FIELD_PROGRESSIVE) {
            b.line.refusal = rows + ", and the stream's header says it is interlaced: crop it to such a height, or "
                                  "AssumeFrameBased() at the script's end encodes it as progressive";
            return false;
        }
        b.line.notes.push_back(rows + ": the " + (plan.order == FIELD_TFF ? "top" : "bottom") +
                             "-field-first frames are encoded as progressive");
    } else if (plan.order != FIELD_PROGRESSIVE) {
        const bool tff = plan.order == FIELD_TFF;
        if (w.tff)
            b.option(tff ? w.tff : w.bff);
        else if (w.interlace_option)
            b.option(w.interlace_option, tff ? "tff" : "bff");
        else
            b.note(std::string("has no option for interlaced video: the ") + (tff ? "top" : "bottom") +
                 "-field-first frames are encoded as progressive");
    }

    return true;
}

void add_hdr10(line_builder& b, encoder_kind encoder, const video_plan& plan)
{
    const encoder_words& w = b.w;
    const frame_properties& p = plan.frame0;
    const mastering_display& m = p.mastering;
    const bool hdr = (m.has_primaries && m.has_luminance) || p.has_light_level;
    if (m.has_primaries && m.has_luminance)
        b.option(w.mastering_option, mastering_display_text(encoder, m));
    else if (m.has_primaries || m.has_luminance)
        b.note(std::string("needs both the mastering display's primaries and its luminance; frame 0 gives only its ") +
             (m.has_primaries ? "primaries" : "luminance") + ", and the display is left out");
    if (p.has_light_level) {
        const std::string levels = std::to_string(std::llround(p.max_content_light)) + "," +
                                   std::to_string(std::llround(p.max_frame_average_light));
        b.option(w.light_level_option, levels);
    }
    if (w.hdr10_flag && hdr)
        b.option(w.hdr10_flag);
}

}  // namespace

encoder_line encoder_args_for(encoder_kind encoder, const video_plan& plan, encoder_input input)
{
    line_builder b{words[encoder], {}};
    const video_layout& l = plan.layout;
    b.line.refusal = refusal_of(b.w, l);
    if (!b.line.refusal.empty())
        return b.line;
    if (plan.vi->num_frames > 0)  // none: nothing an encoder could count to
        b.option(b.w.frames_option, std::to_string(plan.vi->num_frames), false);
    if (input == INPUT_RAW)
        add_raw_input(b, encoder, plan);
    b.option(b.w.depth_option, std::to_string(l.bits), false);
    const std::string depth_loss = hdr_depth_loss(plan);
    if (!depth_loss.empty())
        b.line.notes.push_back(depth_loss);
    // x264 would bring any other layout to 4:2:0.
    if (b.w.csp_option && !is_420(l))
        b.option(b.w.csp_option, l.kind == PIXEL_MONO ? "i400" : l.shift_w ? "i422" : "i444");
    add_colour(b, plan);
    add_range_and_siting(b, plan, input);
    add_aspect(b, plan);
    if (!add_fields(b, plan, input))
        return b.line;
    add_hdr10(b, encoder, plan);
    return b.line;
}

encoder_line settle_encoder_line(encoder_kind encoder, const video_plan& plan, encoder_input input)
{
    const encoder_line line = encoder_args_for(encoder, plan, input);
    if (!line.refusal.empty())
        diag_print(DIAG_ERROR, "%s.\n", line.refusal.c_str());
    warn_of_values_left_out(plan.frame0, true);
    for (const std::string& note : line.notes)
        diag_print(DIAG_WARN, "%s.\n", note.c_str());
    return line;
}

void suggest_encoder_args(encoder_kind encoder, const video_plan& plan, encoder_input input)
{
    fputs(settle_encoder_line(encoder, plan, input).args.c_str(), stream_out());
}

bool encoder_of_program(const std::string& program, encoder_kind* encoder)
{
    const size_t folder = program.find_last_of("/\\");
    std::string name = program.substr(folder == std::string::npos ? 0 : folder + 1);
    for (char& c : name)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".exe") == 0)
        name.resize(name.size() - 4);
    static const struct {
        const char* name;
        encoder_kind encoder;
    } encoders[] = {{"x264", ENCODER_X264}, {"x265", ENCODER_X265}, {"svtav1encapp", ENCODER_SVTAV1}};
    for (const auto& e : encoders)
        if (name == e.name) {
            *encoder = e.encoder;
            return true;
        }
    return false;
}

std::vector<std::string> options_to_tell(encoder_kind encoder, const encoder_line& line,
                                         const std::vector<std::string>& user_args)
{
    std::vector<std::string> options;
    for (size_t i = 0; i < line.argv.size(); ++i) {
        const bool option = line.argv[i].rfind("--", 0) == 0;
        const bool has_value = option && i + 1 < line.argv.size() && line.argv[i + 1].rfind("--", 0) != 0;
        // Where the encoder warns of a repeated option, the user's own
        // stands alone.
        const bool user_gives_it = words[encoder].warns_of_repeats && option &&
                                   std::find(user_args.begin(), user_args.end(), line.argv[i]) != user_args.end();
        if (!user_gives_it) {
            options.push_back(line.argv[i]);
            if (has_value)
                options.push_back(line.argv[i + 1]);
        }
        if (has_value)
            ++i;
    }
    return options;
}
