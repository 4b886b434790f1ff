// Matroska (RFC 9559) as a pipe carries it: the stream's head, and the
// element ids its Clusters use.
#pragma once

#include <cstdint>

#include "frameserver/video_plan.h"
#include "writers/ebml.h"
#include "writers/format.h"

// The elements that the stream's Clusters are made of.
enum : uint32_t {
    MATROSKA_CLUSTER = 0x1F43B675,
    MATROSKA_TIMESTAMP = 0xE7,
    MATROSKA_SIMPLE_BLOCK = 0xA3,
};

constexpr int MATROSKA_TRACK_VIDEO = 1, MATROSKA_TRACK_AUDIO = 2;

// Everything before the first Cluster: the video track where video is not
// null (default_duration_ns 0: a variable rate), the audio track where
// audio_track is not 0. duration is the stream's length in timestamp units
// of unit_ns where it is known before the first frame, else negative.
ebml_bytes matroska_head(const video_plan* video, int64_t default_duration_ns, int64_t unit_ns, double duration,
                         const audio_shape& audio, int audio_track);

// The identity matrix (_Matrix 0: the planes are G, B and R) makes no
// sense of subsampled chroma or of grey; a reader would take the YUV for
// RGB.
bool is_identity_misplaced(const video_plan& plan);
