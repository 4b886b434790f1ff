// clipspout [OPTIONS] MODE SCRIPT: has the frame server evaluate SCRIPT into
// a clip and hands the clip to one mode.

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>

#include "app/modes.h"
#include "app/options.h"
#include "common/diag.h"
#include "common/platform.h"
#include "frameserver/avs_library.h"
#include "frameserver/avs_values.h"

static AVS_Value invoke_import(AVS_ScriptEnvironment* env, const std::string& path, bool utf8)
{
    // The path and the array are the tool's own: the frame server copies
    // what it keeps, and releasing them would free memory it never owned.
    const AVS_Value args[2] = {string_value(path.c_str()), bool_value(true)};
    static const char* const names[2] = {nullptr, "utf8"};
    return avs.avs_invoke(env, "Import", argument_array(args, utf8 ? 2 : 1),
                          utf8 ? const_cast<const char**>(names) : nullptr);
}

static bool strcasecmp_ascii(const std::string& a, const char* b)
{
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i])))
            return false;
    return i == a.size() && !b[i];
}

// Where AviSynth+ loads plugins by itself, in its own words.
static const char* plugin_autoload_folders()
{
#if defined(_WIN32)
    return "the plugins64+ folder of an installed AviSynth+, plugins+ for the 32-bit one";
#else
    return "~/.avisynth, ~/.local/lib/avisynth, or the avisynth folder beside the installed libavisynth";
#endif
}

// A frame server whose Import lacks "utf8" (AviSynth 2.6, older AviSynth+)
// refuses it by name: "Import does not have a named argument "utf8"", in
// the wording AviSynth+ kept from the script engine it grew from.
static bool refused_utf8_argument(const AVS_Value& result)
{
    return result.type == AVS_TAG_ERROR && result.d.string && strstr(result.d.string, "named argument \"utf8\"");
}

// A function the script calls that a source plugin gives, when the frame
// server has none of that name: the plugin is not loaded. One line says
// which plugin and how to load it.
static void say_where_a_missing_source_comes_from(const AVS_Value& result)
{
    static const struct {
        const char* function;
        const char* plugin;
    } sources[] = {
        {"FFVideoSource", "FFMS2"},         {"FFAudioSource", "FFMS2"},        {"FFMS2", "FFMS2"},
        {"FFmpegSource2", "FFMS2"},         {"FFIndex", "FFMS2"},              {"LWLibavVideoSource", "L-SMASH Works"},
        {"LWLibavAudioSource", "L-SMASH Works"}, {"LSMASHVideoSource", "L-SMASH Works"},
        {"LSMASHAudioSource", "L-SMASH Works"},  {"BSVideoSource", "BestSource"}, {"BSAudioSource", "BestSource"},
        {"BSSource", "BestSource"},         {"DGSource", "DGDecNV"},           {"MPEG2Source", "D2V Source"},
        {"DSS2", "DirectShowSource2"},      {"VapourSource", "VapourSource"},
    };
    if (result.type != AVS_TAG_ERROR || !result.d.string)
        return;
    const char* named = strstr(result.d.string, "There is no function named '");
    if (!named)
        return;
    named += strlen("There is no function named '");
    const char* end = strchr(named, '\'');
    if (!end)
        return;
    const std::string function(named, end);
    for (const auto& source : sources)
        if (strcasecmp_ascii(function, source.function))
            diag_print(DIAG_INFO,
                       "%s comes from the %s source plugin, which is not loaded: LoadPlugin(\"PATH\") at the "
                       "script's top loads it, or it loads by itself from an autoload folder (%s).\n",
                       function.c_str(), source.plugin, plugin_autoload_folders());
}

static AVS_Clip* import_script(AVS_ScriptEnvironment* env, const script_path& path)
{
    const std::string& shown = path.ansi_exact ? path.ansi : path.utf8;
    // AviSynth+ on Linux takes a folder for a file of impossible length and
    // aborts inside "Import"; no frame server can read a folder as a script.
    if (path.is_folder)
        diag_print(DIAG_ERROR, "cannot import \"%s\": it is a folder, not a script.\n", shown.c_str());

    AVS_Value result;
    if (path.ansi_exact) {
        result = invoke_import(env, path.ansi, false);
    } else {
        // A path the ANSI code page cannot hold: AviSynth+ reads it as UTF-8
        // when asked to; an older frame server gets the 8.3 short path.
        result = invoke_import(env, path.utf8, true);
        if (refused_utf8_argument(result)) {
            avs.avs_release_value(result);
            if (path.short_ansi.empty())
                diag_print(DIAG_ERROR,
                           "cannot pass \"%s\" to this frame server: its Import takes no UTF-8 path, and the path "
                           "has no short form the ANSI code page holds.\n",
                           shown.c_str());
            result = invoke_import(env, path.short_ansi, false);
        }
    }

    if (result.type != AVS_TAG_CLIP) {
        warn_error_value(result);
        say_where_a_missing_source_comes_from(result);
        diag_print(DIAG_ERROR, "avs files return value is not a clip.\n");
    }
    return take_filtered_clip(result, env, "avs files return value is not a clip.\n");
}

// -a NAME=VALUE: global string variables the script reads like any other.
// The frame server keeps its own copies of name and text.
static void set_script_arguments(AVS_ScriptEnvironment* env, const std::vector<script_argument>& arguments)
{
    for (const script_argument& argument : arguments) {
        const char* name = avs.avs_save_string(env, argument.name.c_str(), static_cast<int>(argument.name.size()));
        const char* text = avs.avs_save_string(env, argument.value.c_str(), static_cast<int>(argument.value.size()));
        if (!name || !text)
            diag_print(DIAG_ERROR, "cannot pass the argument %s to the frame server.\n", argument.name.c_str());
        avs.avs_set_global_var(env, name, string_value(text));
    }
}

// -s/-e: frames first to last, through the frame server's own Trim, so
// video, audio and info all see the range.
static AVS_Clip* apply_frame_range(AVS_Clip* clip, AVS_ScriptEnvironment* env, int start, int end)
{
    const AVS_VideoInfo* vi = avs.avs_get_video_info(clip);
    if (vi->width == 0)
        diag_print(DIAG_ERROR, "a frame range needs a clip with video.\n");
    const int frames = vi->num_frames;
    const int first = start == FRAME_NOT_GIVEN ? 0 : start;
    const int last = end == FRAME_NOT_GIVEN ? frames - 1 : end;
    if (first >= frames)
        diag_print(DIAG_ERROR, "the range starts at frame %d, outside the clip's %d frames.\n", first, frames);
    if (last >= frames)
        diag_print(DIAG_ERROR, "the range ends at frame %d, outside the clip's %d frames.\n", last, frames);
    if (last < first)
        diag_print(DIAG_ERROR, "the range ends at frame %d, before it starts at frame %d.\n", last, first);

    // Trim reads a last frame of 0 as "to the end" and a negative one as a
    // frame count: a range that reaches the end says 0, any other its
    // length, so that a one-frame range at frame 0 is one frame. Without
    // padding the audio is the samples of those frames, up to the track's
    // own end on the last frame, so the audio of consecutive ranges joins
    // up to the whole track.
    const AVS_Value trim[3] = {int_value(first), int_value(last == frames - 1 ? 0 : -(last - first + 1)),
                               bool_value(false)};
    char failure[96];
    snprintf(failure, sizeof failure, "cannot trim the clip to frames %d to %d.\n", first, last);
    return take_filtered_clip(invoke_filter(clip, env, "Trim", trim, 3), env, failure);
}

// --sample-format: the frame server's own conversion, so that every mode
// that reads the audio reads the same samples.
static AVS_Clip* convert_audio_samples(AVS_Clip* clip, AVS_ScriptEnvironment* env, int sample_type)
{
    static const struct {
        int type;
        const char* filter;
        const char* words;
    } conversions[] = {{AVS_SAMPLE_INT16, "ConvertAudioTo16bit", "16-bit integer"},
                       {AVS_SAMPLE_INT24, "ConvertAudioTo24bit", "24-bit integer"},
                       {AVS_SAMPLE_INT32, "ConvertAudioTo32bit", "32-bit integer"},
                       {AVS_SAMPLE_FLOAT, "ConvertAudioToFloat", "32-bit float"}};
    const AVS_VideoInfo* vi = avs.avs_get_video_info(clip);
    if (vi->audio_samples_per_second == 0)
        diag_print(DIAG_ERROR, "--sample-format needs a clip with audio.\n");
    for (const auto& c : conversions) {
        if (c.type != sample_type || vi->sample_type == sample_type)
            continue;
        diag_print(DIAG_INFO, "converting audio to %s samples.\n", c.words);
        char failure[96];
        snprintf(failure, sizeof failure, "cannot convert audio to %s samples.\n", c.words);
        clip = take_filtered_clip(invoke_filter(clip, env, c.filter, nullptr, 0), env, failure);
        if (avs.avs_get_video_info(clip)->sample_type != sample_type)
            diag_print(DIAG_ERROR, "%s", failure);
    }
    return clip;
}

// Where frame properties would shape the output and this frame server gives
// none, one line says so. What the modes of AviSynth 2.6 write never came
// from properties: for them the line appears only where the library has
// property functions that do not work (AviSynth+ 3.6 to 3.7.0).
static void say_if_properties_are_missing(const command_line& line)
{
    const std::string note = missing_properties_note();
    const bool shaped_by_properties =
        follows_frame0(line) || (line.mode->follows_frame0_with_depth && !line.timecodes.empty());
    if (note.empty() || !line.mode->has_fields || (!shaped_by_properties && !avs_interface.exports_properties))
        return;
    diag_print(DIAG_INFO, "%s\n", note.c_str());
}

// Asked to stop before the mode began: nothing is written, no program
// started.
static void say_if_interrupted(const command_line& line)
{
    if (!interrupt_requested())
        return;
    diag_print(DIAG_ERROR, line.mode->writes_stream ? "interrupted before the stream began.\n"
                                                    : "interrupted before the report was printed.\n");
}

// The frame server is C++ inside. An exception that escapes its C interface
// would otherwise end the process with an abort and a core dump; it is a
// failure like any other.
[[noreturn]] static void frameserver_exception_escaped()
{
    std::string what = "an unknown exception";
    try {
        if (std::exception_ptr escaped = std::current_exception())
            std::rethrow_exception(escaped);
    } catch (const std::exception& e) {
        what = e.what();
    } catch (...) {
    }
    diag_print(DIAG_ERROR, "the frame server failed: %s.\n", one_line(what.c_str()).c_str());
    abort();  // not reached: an error ends the process
}

// --version: the tool's own version and, when a frame server loads, its
// version string as the script function VersionString() gives it.
static void print_versions(const std::string& frameserver)
{
    fprintf(stream_out(), "clipspout %s\n", CLIPSPOUT_VERSION);
    std::string problem;
    AVS_ScriptEnvironment* env = nullptr;
    if (try_load_frameserver(frameserver, &problem))
        env = avs.avs_create_script_environment(AVS_INTERFACE_VERSION);
    if (!env) {
        diag_print(DIAG_WARN, "no frame server to report: %s.\n",
                   problem.empty() ? "it refused a script environment" : problem.c_str());
        return;
    }
    AVS_Value version = avs.avs_invoke(env, "VersionString", argument_array(nullptr, 0), nullptr);
    if (version.type == AVS_TAG_STRING && version.d.string)
        fprintf(stream_out(), "frame server: %s\n", one_line(version.d.string).c_str());
    avs.avs_release_value(version);
    // Which of its functions work depends on it (frame properties from 9).
    settle_interface(env);
    if (avs_interface.version > 0)
        fprintf(stream_out(), "interface version: %d\n", avs_interface.version);
    if (!frameserver_file.empty())
        fprintf(stream_out(), "frame server file: %s\n", frameserver_file.c_str());
    avs.avs_delete_script_environment(env);
}

int main(int argc, char** argv)
{
    // Where standard error is closed too, the message goes nowhere; the
    // status still says it.
    if (!open_standard_streams())
        diag_print(DIAG_ERROR, "standard output is closed.\n");
    // Before the frame server and its plugins are loaded: what they print
    // must not reach the stream.
    set_stream_aside();
    // From the first moment: a signal during a slow import must stop the
    // run before anything is written or started.
    catch_interrupts();
    const command_line line = parse_command_line(command_arguments(argc, argv));
    ignore_broken_pipe();
    std::set_terminate(frameserver_exception_escaped);
    if (line.version) {
        print_versions(line.frameserver);
        if (fflush(stream_out()) != 0 || ferror(stream_out()))
            diag_print(DIAG_ERROR, "cannot write to stdout.\n");
        return 0;
    }
    const script_path path = read_script_path(line.script);
    refuse_outputs_that_overwrite(line);

    load_frameserver(line.frameserver);
    AVS_ScriptEnvironment* env = avs.avs_create_script_environment(AVS_INTERFACE_VERSION);
    if (!env)
        diag_print(DIAG_ERROR, "cannot create a script environment (interface version %d) with %s.\n",
                   AVS_INTERFACE_VERSION, FRAMESERVER_LIBRARY);
    settle_interface(env);

    set_script_arguments(env, line.arguments);
    AVS_Clip* clip = import_script(env, path);
    if ((line.start != FRAME_NOT_GIVEN || line.end != FRAME_NOT_GIVEN) && line.mode->trims)
        clip = apply_frame_range(clip, env, line.start, line.end);
    if (line.sample_format)
        clip = convert_audio_samples(clip, env, line.sample_format);
    refuse_outputs_the_script_holds(line);
    say_if_properties_are_missing(line);
    // Where the source describes its field order only on its frames, the
    // modes that read the clip's flags say so first.
    warn_of_field_order_mismatch(line, clip, env);
    say_if_interrupted(line);
    line.mode->run({line, &clip, env});
    // A report the tool was asked to stop while making is no report.
    if (!line.mode->writes_stream && !line.mode->says_cut_short && interrupt_requested())
        diag_error_discarding_output("interrupted before the report was printed.\n");

    // A report lost to a full disk must not end as a success.
    if (fflush(stream_out()) != 0 || ferror(stream_out()))
        diag_print(DIAG_ERROR, "cannot write to stdout.\n");

    avs.avs_release_clip(clip);
    // The output is complete and flushed: the process ends here, without
    // deleting the environment. AviSynth+ deletes the frames it keeps for
    // reuse only after it has torn down its thread environment, and a frame
    // whose properties hold a clip (propSet("foo", BlankClip())) then
    // destroys that clip's MTGuard, which reports to the environment that
    // is gone: signal 11 after a complete run. No order of the tool's own
    // releases reaches those frames, so the system reclaims them instead.
    (void)env;
    end_process(0);
}
