// Frame ranges, script arguments and parallel chunks on the stand-in (the
// real server runs the same cases in real_server_test.cpp).

#include <gtest/gtest.h>

#include "batch_cases.h"

static const char clip_script[] =
    "BlankClip(length=12, width=64, height=48, pixel_type=\"YV12\", fps=24, audio_rate=48000, channels=2)\n";

TEST(Batch, FrameRanges)
{
    check_frame_ranges(clip_script, {});
}

TEST(Batch, ScriptArguments)
{
    check_script_arguments({});
}

TEST(Batch, ParallelChunksJoinUpToTheWholeClip)
{
    check_parallel_chunks(clip_script, {});
}
