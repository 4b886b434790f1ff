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
