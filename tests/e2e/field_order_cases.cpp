#include "field_order_cases.h"

#include <gtest/gtest.h>

namespace {

// 720x480 at 30000/1001: x264bd reads such a clip as 480i where it is
// field-based, as 480p film in a 29.97 stream where it is not.
const std::string clip = "BlankClip(length=3, width=720, height=480, pixel_type=\"YV12\", fps=30000, "
                         "fps_denominator=1001)\n";

std::string warning(const char* frame, int value, const char* flags, const char* reader, const char* fix)
{
    std::string remedy = std::string(reader) == "the stream" ? "--depth writes the frame's field order, or " : "";
    return "clipspout [warn]: frame 0 is " + std::string(frame) + " (_FieldBased " + std::to_string(value) +
           "), but the clip's flags say " + flags + ", and " + reader + " follows the flags: " + remedy + fix +
           " in the script makes them agree.\n";
}

std::string first_line(const std::string& text)
{
    return text.substr(0, text.find('\n'));
}

}  // namespace

void check_field_order_properties(const run_options& options)
{
    const char* tff = "interlaced, top field first";
    const char* bff = "interlaced, bottom field first";
    struct {
        const char* tail;
        int property;         // _FieldBased, or -1 for none
        const char* frame;    // its reading, where it disagrees with the flags
        const char* flags;
        const char* fix;
        const char* deep_letter;
    } cases[] = {
        // A source plugin's interlaced frames on a frame-based clip.
        {"propSet(\"_FieldBased\", 2)\n", 2, tff, "progressive", "AssumeFieldBased().AssumeTFF()", "t"},
        {"propSet(\"_FieldBased\", 1)\n", 1, bff, "progressive", "AssumeFieldBased().AssumeBFF()", "b"},
        // The reverse, and a parity that differs.
        {"AssumeFieldBased().AssumeTFF().propSet(\"_FieldBased\", 0)\n", 0, "progressive", tff, "AssumeFrameBased()",
         "p"},
        {"AssumeFieldBased().AssumeBFF().propSet(\"_FieldBased\", 2)\n", 2, tff, bff, "AssumeFieldBased().AssumeTFF()",
         "t"},
        // Agreement, and no property: no warning, and --depth as the flags.
        {"AssumeFieldBased().AssumeBFF().propSet(\"_FieldBased\", 1)\n", 1, nullptr, nullptr, nullptr, "b"},
        {"propSet(\"_FieldBased\", 0)\n", 0, nullptr, nullptr, nullptr, "p"},
        {"AssumeFieldBased().AssumeTFF().propDelete(\"_FieldBased\")\n", -1, nullptr, nullptr, nullptr, "t"},
        {"propDelete(\"_FieldBased\")\n", -1, nullptr, nullptr, nullptr, "p"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tail);
        std::string script = write_script("field.avs", clip + c.tail);
        // The same clip without the property: what the modes write from the
        // flags alone.
        std::string flags_only = write_script("flags.avs", clip + c.tail + "propDelete(\"_FieldBased\")\n");

        for (const char* mode : {"video", "info", "x264bd"}) {
            SCOPED_TRACE(mode);
            run_result r = run_tool({mode, script}, options);
            run_result expected = run_tool({mode, flags_only}, options);
            EXPECT_EQ(r.status, expected.status);
            EXPECT_TRUE(r.out == expected.out) << "the payload changed";
            std::string reader = std::string(mode) == "video" ? "the stream" : mode;
            std::string warned = c.frame ? warning(c.frame, c.property, c.flags, reader.c_str(), c.fix) : "";
            EXPECT_EQ(r.err, warned + expected.err);
        }

        // --depth follows the frame where it says anything, else the flags.
        run_result deep = run_tool({"--depth=keep", "video", script}, options);
        EXPECT_EQ(deep.status, 0) << deep.err;
        const std::string header = std::string("YUV4MPEG2 W720 H480 F30000:1001 I") + c.deep_letter + " A0:0 C420";
        EXPECT_EQ(first_line(deep.out).substr(0, header.size()), header);
        EXPECT_EQ(deep.err.find("warn"), std::string::npos) << deep.err;
        std::string file = write_script("field.y4m", deep.out);
        const char* ffmpeg_order = c.deep_letter[0] == 't' ? "tt" : c.deep_letter[0] == 'b' ? "bb" : "progressive";
        EXPECT_EQ(shell("ffprobe -v error -show_entries stream=field_order -of csv=p=0 '" + file + "'"),
                  std::string(ffmpeg_order) + "\n");
    }
}
