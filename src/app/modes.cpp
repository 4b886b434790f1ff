#include "app/modes.h"

#include <cstring>

#include "app/pump.h"
#include "common/diag.h"
#include "common/platform.h"
#include "frameserver/avs_library.h"
#include "frameserver/frame_properties.h"
#include "frameserver/video_plan.h"
#include "reports/bluray_args.h"
#include "reports/encoder_args.h"
#include "reports/info_report.h"
#include "reports/meter_report.h"
#include "writers/sink.h"

namespace {

// The range's first frame (-s), from which the side files and reports
// number the frames.
int first_frame_of(const command_line& line)
{
    return line.start == FRAME_NOT_GIVEN ? 0 : line.start;
}

// The job of the clip as it is now: after any conversion the plan made.
pump_job job_for(const mode_call& call, const stream_format* format)
{
    pump_job job;
    job.clip = *call.clip;
    job.env = call.env;
    job.format = format;
    job.first_frame = first_frame_of(call.line);
    job.progress_lines = call.line.progress;
    job.frame_props_path = call.line.frame_props;
    return job;
}

// --tell-encoder: the options of the encoder's *args line for this stream
// go right after the program's name, before the user's own.
void tell_encoder(const video_plan& plan, bool raw, stream_sink* sink)
{
    encoder_kind encoder = ENCODER_X264;
    encoder_of_program(sink->program[0], &encoder);
    const encoder_line told = settle_encoder_line(encoder, plan, raw ? INPUT_RAW : INPUT_Y4M);
    const std::vector<std::string> user_args(sink->program.begin() + 1, sink->program.end());
    const std::vector<std::string> options = options_to_tell(encoder, told, user_args);
    sink->program.insert(sink->program.begin() + 1, options.begin(), options.end());
    diag_print(DIAG_INFO, "telling %s: %s\n", sink->program[0].c_str(), told.args.c_str());
}

void run_audio(const mode_call& call)
{
    stream_sink sink = choose_sink(call.line.output, call.line.program);
    pump_job job = job_for(call, &WAV_FORMAT);
    job.sink = &sink;
    job.rf64 = call.line.rf64;
    job.channel_mask = call.line.channel_mask;
    run_pump(job);
}

void run_video(const mode_call& call)
{
    const video_plan plan = plan_video(call.clip, call.env, call.line.depth, CARRIER_Y4M);
    stream_sink sink = choose_sink(call.line.output, call.line.program);
    if (call.line.tell_encoder)
        tell_encoder(plan, call.line.raw, &sink);
    pump_job job = job_for(call, call.line.raw ? &RAW_VIDEO_FORMAT : &Y4M_FORMAT);
    job.timecodes_path = call.line.timecodes;
    job.reader_told = call.line.tell_encoder;
    job.plan = &plan;
    job.sink = &sink;
    run_pump(job);
}

void run_matroska(const mode_call& call)
{
    video_plan plan;
    const bool has_video = avs.avs_get_video_info(*call.clip)->width != 0;
    if (has_video)
        plan = plan_video(call.clip, call.env, call.line.depth, CARRIER_MATROSKA);
    stream_sink sink = choose_sink(call.line.output, call.line.program);
    pump_job job = job_for(call, &MATROSKA_FORMAT);
    job.plan = has_video ? &plan : nullptr;
    job.sink = &sink;
    run_pump(job);
}

void run_meter(const mode_call& call)
{
    meter_measurement measurement;
    pump_job job = job_for(call, &NULL_FORMAT);
    job.log_path = call.line.log;
    job.measure = &measurement;
    run_pump(job);
    print_meter_report(measurement, call.env, call.line.json, call.line.ascii, job.first_frame);
    if (!measurement.failure.empty()) {
        fflush(stream_out());
        diag_print(DIAG_ERROR, "%s", measurement.failure.c_str());
    }
}

void run_info(const mode_call& call)
{
    if (call.line.json)
        print_info_json(*call.clip, call.env, call.line.depth);
    else
        print_info(*call.clip);
}

void run_bluray_args(const mode_call& call)
{
    suggest_bluray_args(*call.clip);
}

void run_encoder_args(const mode_call& call, encoder_kind encoder)
{
    suggest_encoder_args(encoder, plan_video(call.clip, call.env, call.line.depth, CARRIER_Y4M),
                         call.line.raw ? INPUT_RAW : INPUT_Y4M);
}

void run_x264_args(const mode_call& call)
{
    run_encoder_args(call, ENCODER_X264);
}

void run_x265_args(const mode_call& call)
{
    run_encoder_args(call, ENCODER_X265);
}

void run_svtav1_args(const mode_call& call)
{
    run_encoder_args(call, ENCODER_SVTAV1);
}

const mode_row MODES[] = {
    // keyword, handler, options, stream, trims, fields, frame0, with depth, flags reader, remedy, cut short
    {"audio", run_audio, OPT_OUTPUT | OPT_SAMPLE_FORMAT, true, true, false, false, false, nullptr, nullptr, false},
    {"video", run_video, OPT_OUTPUT | OPT_FRAME_PROPS | OPT_TELL_ENCODER | OPT_RAW, true, true, true, false, true, "the stream",
     "--depth writes the frame's field order, or ", false},
    {"info", run_info, OPT_JSON | OPT_SAMPLE_FORMAT, false, true, true, false, false, "info", "", false},
    {"x264bd", run_bluray_args, 0, false, false, true, false, false, "x264bd", "", false},
    {"mkv", run_matroska, OPT_OUTPUT | OPT_FRAME_PROPS | OPT_SAMPLE_FORMAT, true, true, true, true, false, nullptr, nullptr, false},
    {"x264args", run_x264_args, OPT_RAW, false, true, true, true, false, nullptr, nullptr, false},
    {"x265args", run_x265_args, OPT_RAW, false, true, true, true, false, nullptr, nullptr, false},
    {"svtav1args", run_svtav1_args, OPT_RAW, false, true, true, true, false, nullptr, nullptr, false},
    {"meter", run_meter, OPT_JSON | OPT_METER | OPT_FRAME_PROPS | OPT_SAMPLE_FORMAT, false, true, true, false, false, nullptr, nullptr,
     true},
};

}  // namespace

const mode_row* find_mode(const char* keyword)
{
    for (const mode_row& row : MODES)
        if (strcmp(keyword, row.keyword) == 0)
            return &row;
    return nullptr;
}

bool follows_frame0(const command_line& line)
{
    return line.mode->follows_frame0 || (line.mode->follows_frame0_with_depth && line.depth != DEPTH_DEFAULT);
}

void warn_of_field_order_mismatch(const command_line& line, AVS_Clip* clip, AVS_ScriptEnvironment* env)
{
    // --depth and mkv follow the frame (see plan_video); audio has no
    // fields.
    if (!line.mode->flags_reader || follows_frame0(line))
        return;
    const AVS_VideoInfo& vi = *avs.avs_get_video_info(clip);
    const frame_properties properties = read_first_frame_properties(clip, env, vi);
    if (properties.field_based == PROPERTY_ABSENT)
        return;
    const field_order frame = field_order_of_property(properties.field_based);
    const field_order flags = clip_field_order(vi);
    if (frame == flags)
        return;
    static const char* const readings[] = {"progressive", "interlaced, top field first",
                                           "interlaced, bottom field first"};
    static const char* const script_fixes[] = {"AssumeFrameBased()", "AssumeFieldBased().AssumeTFF()",
                                               "AssumeFieldBased().AssumeBFF()"};
    diag_print(DIAG_WARN,
               "frame 0 is %s (_FieldBased %d), but the clip's flags say %s, and %s follows the flags: %s%s in the "
               "script makes them agree.\n",
               readings[frame], properties.field_based, readings[flags], line.mode->flags_reader,
               line.mode->flags_remedy, script_fixes[frame]);
}
