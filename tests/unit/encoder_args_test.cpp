#include <gtest/gtest.h>

#include "reports/encoder_args.h"

namespace {

// An HDR10 film: BT.2020 primaries, D65 white.
mastering_display hdr10_display()
{
    mastering_display d;
    d.has_primaries = d.has_luminance = true;
    const double x[3] = {0.68, 0.265, 0.15}, y[3] = {0.32, 0.69, 0.06};  // R, G, B
    for (int i = 0; i < 3; ++i) {
        d.primaries_x[i] = x[i];
        d.primaries_y[i] = y[i];
    }
    d.white_x = 0.3127;
    d.white_y = 0.329;
    d.max_luminance = 1000;
    d.min_luminance = 0.0001;
    return d;
}

struct plan_fixture {
    AVS_VideoInfo vi{};
    video_plan plan;

    plan_fixture(pixel_kind kind, int shift_w, int shift_h, int bits, const char* name)
    {
        vi.width = 1920;
        vi.height = 1080;
        vi.fps_numerator = 24000;
        vi.fps_denominator = 1001;
        plan.vi = &vi;
        plan.layout.kind = kind;
        plan.layout.shift_w = shift_w;
        plan.layout.shift_h = shift_h;
        plan.layout.bits = bits;
        plan.layout.planes = kind == PIXEL_MONO ? 1 : 3;
        snprintf(plan.layout.name, sizeof plan.layout.name, "%s", name);
    }
};

plan_fixture hdr10_plan(int depth)
{
    plan_fixture f(PIXEL_PLANAR_YUV, 1, 1, 10, "YUV420p10");
    f.plan.depth = depth;
    frame_properties& p = f.plan.frame0;
    p.matrix = 9;
    p.primaries = 9;
    p.transfer = 16;
    p.colour_range = 1;
    p.chroma_location = 2;
    p.mastering = hdr10_display();
    p.has_light_level = true;
    p.max_content_light = 1000;
    p.max_frame_average_light = 400;
    f.plan.sar_num = f.plan.sar_den = 1;
    return f;
}

}  // namespace

TEST(EncoderArgs, MasteringDisplayInEachEncodersUnitsAndOrder)
{
    const mastering_display d = hdr10_display();
    EXPECT_EQ(mastering_display_text(ENCODER_X264, d),
              "G(13250,34500)B(7500,3000)R(34000,16000)WP(15635,16450)L(10000000,1)");
    EXPECT_EQ(mastering_display_text(ENCODER_X265, d), mastering_display_text(ENCODER_X264, d));
    EXPECT_EQ(mastering_display_text(ENCODER_SVTAV1, d),
              "G(0.265,0.69)B(0.15,0.06)R(0.68,0.32)WP(0.3127,0.329)L(1000,0.0001)");

    // Every value in its own place: red, green, blue in, green, blue, red out.
    mastering_display distinct = d;
    const double x[3] = {0.1, 0.2, 0.3}, y[3] = {0.4, 0.5, 0.6};
    for (int i = 0; i < 3; ++i) {
        distinct.primaries_x[i] = x[i];
        distinct.primaries_y[i] = y[i];
    }
    EXPECT_EQ(mastering_display_text(ENCODER_X265, distinct),
              "G(10000,25000)B(15000,30000)R(5000,20000)WP(15635,16450)L(10000000,1)");

    // Rounded to the nearest unit, as a float property rarely lands on one.
    mastering_display near = d;
    near.primaries_x[0] = 0.680009;    // 34000.45
    near.primaries_y[0] = 0.320011;    // 16000.55
    near.max_luminance = 1000.00004;   // 10000000.4
    near.min_luminance = 0.00005;      // 0.5: halves go up
    EXPECT_EQ(mastering_display_text(ENCODER_X264, near),
              "G(13250,34500)B(7500,3000)R(34000,16001)WP(15635,16450)L(10000000,1)");
    near.min_luminance = 0.000049;
    const std::string x264 = mastering_display_text(ENCODER_X264, near);
    EXPECT_EQ(x264.substr(x264.find("L(")), "L(10000000,0)");
    // SVT-AV1's decimals keep six places, without trailing zeros.
    EXPECT_EQ(mastering_display_text(ENCODER_SVTAV1, near),
              "G(0.265,0.69)B(0.15,0.06)R(0.680009,0.320011)WP(0.3127,0.329)L(1000.00004,0.000049)");
}

TEST(EncoderArgs, AnHdr10StreamInEachEncodersWords)
{
    const plan_fixture deep = hdr10_plan(DEPTH_KEEP);
    EXPECT_EQ(encoder_args_for(ENCODER_X264, deep.plan, INPUT_Y4M).args,
              "--output-depth 10 --colorprim \"bt2020\" --transfer \"smpte2084\" --colormatrix \"bt2020nc\" "
              "--range \"tv\" --chromaloc 2 --sar 1:1 --mastering-display "
              "\"G(13250,34500)B(7500,3000)R(34000,16000)WP(15635,16450)L(10000000,1)\" --cll \"1000,400\"");
    EXPECT_EQ(encoder_args_for(ENCODER_X265, deep.plan, INPUT_Y4M).args,
              "--output-depth 10 --colorprim \"bt2020\" --transfer \"smpte2084\" --colormatrix \"bt2020nc\" "
              "--range \"limited\" --chromaloc 2 --sar 1:1 --master-display "
              "\"G(13250,34500)B(7500,3000)R(34000,16000)WP(15635,16450)L(10000000,1)\" --max-cll \"1000,400\" "
              "--hdr10");
    EXPECT_EQ(encoder_args_for(ENCODER_SVTAV1, deep.plan, INPUT_Y4M).args,
              "--input-depth 10 --color-primaries \"bt2020\" --transfer-characteristics \"smpte2084\" "
              "--matrix-coefficients \"bt2020-ncl\" --color-range \"studio\" --chroma-sample-position \"topleft\" "
              "--mastering-display \"G(0.265,0.69)B(0.15,0.06)R(0.68,0.32)WP(0.3127,0.329)L(1000,0.0001)\" "
              "--content-light \"1000,400\"");
    for (encoder_kind e : {ENCODER_X264, ENCODER_X265, ENCODER_SVTAV1})
        EXPECT_TRUE(encoder_args_for(e, deep.plan, INPUT_Y4M).notes.empty()) << e;

    // A y4m stream without --depth has no range in its header: x264 must be
    // told the samples' range, or it converts them.
    const plan_fixture plain = hdr10_plan(DEPTH_DEFAULT);
    EXPECT_NE(encoder_args_for(ENCODER_X264, plain.plan, INPUT_Y4M).args.find("--range \"tv\" --input-range \"tv\""),
              std::string::npos);
    EXPECT_EQ(encoder_args_for(ENCODER_X265, plain.plan, INPUT_Y4M).args.find("input-range"), std::string::npos);
}

TEST(EncoderArgs, NamesDifferByEncoder)
{
    // BT.601 (6), the BT.2020 matrix (9) and HLG (18) have other names in SVT-AV1.
    plan_fixture f(PIXEL_PLANAR_YUV, 1, 1, 8, "YUV420");
    f.plan.frame0.primaries = 6;
    f.plan.frame0.matrix = 9;
    f.plan.frame0.transfer = 18;
    EXPECT_EQ(encoder_args_for(ENCODER_X264, f.plan, INPUT_Y4M).args,
              "--output-depth 8 --colorprim \"smpte170m\" --transfer \"arib-std-b67\" --colormatrix \"bt2020nc\"");
    EXPECT_EQ(encoder_args_for(ENCODER_SVTAV1, f.plan, INPUT_Y4M).args,
              "--input-depth 8 --color-primaries \"bt601\" --transfer-characteristics \"hlg\" --matrix-coefficients "
              "\"bt2020-ncl\"");
    // Names that differ in letter case between x264 and x265.
    f.plan.frame0.matrix = 8;
    EXPECT_NE(encoder_args_for(ENCODER_X264, f.plan, INPUT_Y4M).args.find("\"YCgCo\""), std::string::npos);
    EXPECT_NE(encoder_args_for(ENCODER_X265, f.plan, INPUT_Y4M).args.find("\"ycgco\""), std::string::npos);

    // EBU Tech 3213 (22): only SVT-AV1 has a name; the others leave it out
    // and say so.
    f.plan.frame0.primaries = 22;
    EXPECT_NE(encoder_args_for(ENCODER_SVTAV1, f.plan, INPUT_Y4M).args.find("--color-primaries \"ebu3213\""), std::string::npos);
    const encoder_line x264 = encoder_args_for(ENCODER_X264, f.plan, INPUT_Y4M);
    EXPECT_EQ(x264.args.find("colorprim"), std::string::npos);
    ASSERT_EQ(x264.notes.size(), 1u);
    EXPECT_EQ(x264.notes[0], "x264 has no name for primaries 22 here: it is left out");
}

TEST(EncoderArgs, LayoutsEachEncoderTakesOrRefuses)
{
    plan_fixture yuv422(PIXEL_PLANAR_YUV, 1, 0, 10, "YUV422p10");
    // x264 would bring 4:2:2 down to 4:2:0 unless told to keep it.
    EXPECT_EQ(encoder_args_for(ENCODER_X264, yuv422.plan, INPUT_Y4M).args, "--output-depth 10 --output-csp \"i422\"");
    EXPECT_EQ(encoder_args_for(ENCODER_X265, yuv422.plan, INPUT_Y4M).args, "--output-depth 10");
    EXPECT_EQ(encoder_args_for(ENCODER_SVTAV1, yuv422.plan, INPUT_Y4M).refusal,
              "SVT-AV1 takes 4:2:0 at 8 or 10 bits, not YUV422p10: ConvertToYUV420() at the script's end gives 4:2:0");
    plan_fixture mono(PIXEL_MONO, 0, 0, 8, "YUVmono");
    EXPECT_EQ(encoder_args_for(ENCODER_X264, mono.plan, INPUT_Y4M).args, "--output-depth 8 --output-csp \"i400\"");

    plan_fixture yuv444_12(PIXEL_PLANAR_YUV, 0, 0, 12, "YUV444p12");
    EXPECT_EQ(encoder_args_for(ENCODER_X264, yuv444_12.plan, INPUT_Y4M).refusal,
              "x264 takes 4:2:0, 4:2:2, 4:4:4 and mono at 8 or 10 bits, not YUV444p12: --depth=10 writes 10 bits");
    EXPECT_EQ(encoder_args_for(ENCODER_X265, yuv444_12.plan, INPUT_Y4M).args, "--output-depth 12");
    plan_fixture yuv420_16(PIXEL_PLANAR_YUV, 1, 1, 16, "YUV420p16");
    EXPECT_EQ(encoder_args_for(ENCODER_X265, yuv420_16.plan, INPUT_Y4M).refusal,
              "x265 takes 4:2:0, 4:2:2, 4:4:4 and mono at 8, 10 or 12 bits, not YUV420p16: --depth=12 writes 12 bits");
    plan_fixture yuv411(PIXEL_PLANAR_YUV, 2, 0, 8, "YUV411");
    EXPECT_FALSE(encoder_args_for(ENCODER_X264, yuv411.plan, INPUT_Y4M).refusal.empty());
    EXPECT_FALSE(encoder_args_for(ENCODER_X265, yuv411.plan, INPUT_Y4M).refusal.empty());
}

TEST(EncoderArgs, WhatAnEncoderHasNoOptionForIsSaid)
{
    plan_fixture ntsc(PIXEL_PLANAR_YUV, 1, 1, 8, "YUV420");
    ntsc.plan.order = FIELD_BFF;
    ntsc.plan.sar_num = 10;
    ntsc.plan.sar_den = 11;
    ntsc.plan.frame0.chroma_location = 1;  // center
    EXPECT_EQ(encoder_args_for(ENCODER_X264, ntsc.plan, INPUT_Y4M).args, "--output-depth 8 --chromaloc 1 --sar 10:11 --bff");
    EXPECT_EQ(encoder_args_for(ENCODER_X265, ntsc.plan, INPUT_Y4M).args,
              "--output-depth 8 --chromaloc 1 --sar 10:11 --interlace \"bff\"");
    const encoder_line svt = encoder_args_for(ENCODER_SVTAV1, ntsc.plan, INPUT_Y4M);
    EXPECT_EQ(svt.args, "--input-depth 8");
    ASSERT_EQ(svt.notes.size(), 3u);
    EXPECT_EQ(svt.notes[0], "SVT-AV1 takes only left and top-left chroma siting: _ChromaLocation 1 is left out");
    EXPECT_EQ(svt.notes[1], "SVT-AV1 has no option for the aspect ratio: the encode loses 10:11");
    EXPECT_EQ(svt.notes[2],
              "SVT-AV1 has no option for interlaced video: the bottom-field-first frames are encoded as progressive");

    // Half a mastering display is no display; light levels alone still go,
    // and make x265 write HDR10 SEI.
    plan_fixture half = hdr10_plan(DEPTH_KEEP);
    half.plan.frame0.mastering.has_luminance = false;
    const encoder_line x265 = encoder_args_for(ENCODER_X265, half.plan, INPUT_Y4M);
    EXPECT_EQ(x265.args.find("master-display"), std::string::npos);
    EXPECT_NE(x265.args.find("--max-cll \"1000,400\" --hdr10"), std::string::npos);
    ASSERT_EQ(x265.notes.size(), 1u);
    EXPECT_EQ(x265.notes[0], "x265 needs both the mastering display's primaries and its luminance; frame 0 gives "
                             "only its primaries, and the display is left out");
    // Without HDR metadata, no --hdr10.
    plan_fixture sdr(PIXEL_PLANAR_YUV, 1, 1, 10, "YUV420p10");
    EXPECT_EQ(encoder_args_for(ENCODER_X265, sdr.plan, INPUT_Y4M).args, "--output-depth 10");
}

// --raw: the line says what a y4m header would, in each encoder's words for
// raw input, before its own options; x264 is told the range of any raw
// input, which it would take as limited.
TEST(EncoderArgs, ARawStreamIsDescribedInEachEncodersWords)
{
    plan_fixture yuv420(PIXEL_PLANAR_YUV, 1, 1, 8, "YUV420");
    plan_fixture yuv422(PIXEL_PLANAR_YUV, 1, 0, 10, "YUV422p10");
    plan_fixture yuv444(PIXEL_PLANAR_YUV, 0, 0, 12, "YUV444p12");
    plan_fixture mono(PIXEL_MONO, 0, 0, 8, "YUVmono");
    plan_fixture full(PIXEL_PLANAR_YUV, 1, 1, 10, "YUV420p10");
    full.plan.depth = DEPTH_KEEP;
    full.plan.frame0.colour_range = 0;
    const struct {
        encoder_kind encoder;
        const plan_fixture& f;
        const char* args;
    } cases[] = {
        {ENCODER_X264, yuv420,
         "--demuxer raw --input-res 1920x1080 --fps 24000/1001 --input-csp i420 --input-depth 8 --output-depth 8"},
        {ENCODER_X265, yuv420, "--input-res 1920x1080 --fps 24000/1001 --input-csp i420 --input-depth 8 --output-depth 8"},
        {ENCODER_SVTAV1, yuv420, "--width 1920 --height 1080 --fps-num 24000 --fps-denom 1001 --input-depth 8"},
        {ENCODER_X264, yuv422,
         "--demuxer raw --input-res 1920x1080 --fps 24000/1001 --input-csp i422 --input-depth 10 --output-depth 10 "
         "--output-csp \"i422\""},
        {ENCODER_X265, yuv444,
         "--input-res 1920x1080 --fps 24000/1001 --input-csp i444 --input-depth 12 --output-depth 12"},
        {ENCODER_X264, mono,
         "--demuxer raw --input-res 1920x1080 --fps 24000/1001 --input-csp i400 --input-depth 8 --output-depth 8 "
         "--output-csp \"i400\""},
        // With --depth the y4m header says the range; raw input never does.
        {ENCODER_X264, full,
         "--demuxer raw --input-res 1920x1080 --fps 24000/1001 --input-csp i420 --input-depth 10 --output-depth 10 "
         "--range \"pc\" --input-range \"pc\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const encoder_line line = encoder_args_for(c.encoder, c.f.plan, INPUT_RAW);
        EXPECT_EQ(line.refusal, "");
        EXPECT_EQ(line.args, c.args);
    }
    EXPECT_EQ(encoder_args_for(ENCODER_X264, full.plan, INPUT_Y4M).args.find("--input-range"), std::string::npos);
    EXPECT_EQ(encoder_args_for(ENCODER_SVTAV1, yuv422.plan, INPUT_RAW).refusal,
              encoder_args_for(ENCODER_SVTAV1, yuv422.plan, INPUT_Y4M).refusal);

    // Interlaced at a height x264 cannot code in field pairs: a y4m header
    // that says so makes x264 refuse the stream; raw input it takes as
    // progressive, with a note.
    plan_fixture odd(PIXEL_PLANAR_YUV, 1, 1, 8, "YUV420");
    odd.vi.height = 1082;
    odd.plan.order = odd.plan.header_order = FIELD_TFF;
    EXPECT_NE(encoder_args_for(ENCODER_X264, odd.plan, INPUT_Y4M).refusal, "");
    const encoder_line raw = encoder_args_for(ENCODER_X264, odd.plan, INPUT_RAW);
    EXPECT_EQ(raw.refusal, "");
    ASSERT_EQ(raw.notes.size(), 1u);
    EXPECT_NE(raw.notes[0].find("encoded as progressive"), std::string::npos) << raw.notes[0];
}
