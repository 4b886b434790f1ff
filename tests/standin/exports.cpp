// The C interface of the stand-in, with strict ownership accounting: every
// clip handle, clip value and frame it hands out is tracked, and misuse
// aborts with one line on standard error.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <unordered_set>

#include "standin.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#endif

#if defined(_WIN32)
#define STANDIN_EXPORT extern "C" __declspec(dllexport)
#else
#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

struct AVS_ScriptEnvironment {
    bool live = true;
};

struct AVS_Clip {
    standin::clip_ref clip;
    std::string error;
    bool live = true;
};

namespace standin {
namespace {

// A clip value's payload points at one of these; released ones stay
// allocated so that a second release or a late use is always recognised.
struct clip_value_ref {
    clip_ref clip;
    bool live = true;
};

struct held_frame {
    AVS_VideoFrame frame{};
    clip_ref clip;
    bool live = true;
    int n = 0;
    // The planes as AviSynth+ finds them by id: G (or Y), B (or U), R (or
    // V), alpha.
    int offset[4] = {0, 0, 0, 0}, pitch[4] = {0, 0, 0, 0}, row_size[4] = {0, 0, 0, 0}, height[4] = {0, 0, 0, 0};
};

struct registry {
    AVS_ScriptEnvironment* env = nullptr;
    std::deque<AVS_Clip> handles;
    std::deque<clip_value_ref> values;
    std::deque<held_frame> frames;
    // Released frame records are reused only after many more releases, so
    // memory stays flat over a long stream while a stale second release is
    // still recognised.
    std::deque<held_frame*> released_frames;
    std::unordered_set<const void*> live_handles, live_values, live_frames;
    std::deque<std::string> strings;  // error texts, valid until the process ends
    bool frame_held_a_clip = false;   // a frame handed out had a clip among its properties
    unsigned long long owner_thread = 0;  // the thread that created the environment
    FILE* fetch_log = nullptr;            // AVS_STANDIN_FETCH_LOG: "fetch N" and "release N" lines
};

registry& state()
{
    static registry* r = new registry;  // never destroyed: handles may outlive static destruction
    return *r;
}

[[noreturn]] void misuse(const char* what, const void* p)
{
    fprintf(stderr, "standin: %s (%p)\n", what, p);
    fflush(stderr);
    abort();
}

unsigned long long this_thread()
{
#if defined(_WIN32)
    return GetCurrentThreadId();
#else
    return (unsigned long long)(uintptr_t)pthread_self();  // an integer here, a pointer on macOS
#endif
}

// AviSynth wants every call on the thread that made its environment; one
// from anywhere else is misuse here, whatever the real server survives.
void check_thread(const char* function)
{
    const registry& r = state();
    if (r.owner_thread && this_thread() != r.owner_thread) {
        char what[160];
        snprintf(what, sizeof what, "%s: called from a thread other than the environment's", function);
        misuse(what, nullptr);
    }
}

void log_fetch(const char* what, int n)
{
    if (FILE* log = state().fetch_log) {
        fprintf(log, "%s %d\n", what, n);
        fflush(log);
    }
}

AVS_Clip* live_handle(AVS_Clip* handle, const char* function)
{
    check_thread(function);
    if (!state().live_handles.count(handle)) {
        char what[160];
        snprintf(what, sizeof what, "%s: clip handle used after release or never handed out", function);
        misuse(what, handle);
    }
    return handle;
}

clip_value_ref* live_value(const AVS_Value& v, const char* function)
{
    if (!state().live_values.count(v.d.clip)) {
        char what[160];
        snprintf(what, sizeof what, "%s: clip value used after release or never handed out", function);
        misuse(what, v.d.clip);
    }
    return static_cast<clip_value_ref*>(v.d.clip);
}

AVS_Value new_clip_value(const clip_ref& clip)
{
    state().values.push_back({clip, true});
    clip_value_ref* ref = &state().values.back();
    state().live_values.insert(ref);
    AVS_Value v{};
    v.type = AVS_TAG_CLIP;
    v.d.clip = ref;
    return v;
}

AVS_Value string_value(short type, const std::string& text)
{
    state().strings.push_back(text);
    AVS_Value v{};
    v.type = type;
    v.d.string = state().strings.back().c_str();
    return v;
}

value from_avs(const AVS_Value& v)
{
    value out;
    switch (v.type) {
    case AVS_TAG_CLIP: out.clip = live_value(v, "avs_invoke")->clip; break;
    case AVS_TAG_STRING: out.string = v.d.string ? v.d.string : ""; break;
    case AVS_TAG_INT: out.integer = v.d.integer; break;
    case AVS_TAG_FLOAT: out.floating = v.d.floating_pt; break;
    case AVS_TAG_BOOL: out.boolean = v.d.boolean != 0; break;
    default: throw script_error("Script error: unsupported argument type");
    }
    out.type = v.type;
    return out;
}

AVS_Value to_avs(const value& v)
{
    AVS_Value out{};
    switch (v.type) {
    case AVS_TAG_CLIP: return new_clip_value(v.clip);
    case AVS_TAG_STRING: return string_value(AVS_TAG_STRING, v.string);
    case AVS_TAG_INT: out.d.integer = static_cast<int>(v.integer); break;
    case AVS_TAG_FLOAT: out.d.floating_pt = static_cast<float>(v.floating); break;
    case AVS_TAG_BOOL: out.d.boolean = v.boolean; break;
    }
    out.type = v.type;
    return out;
}

void check_env(AVS_ScriptEnvironment* env, const char* function)
{
    if (!env || env != state().env || !env->live) {
        char what[160];
        snprintf(what, sizeof what, "%s: not the live script environment", function);
        misuse(what, env);
    }
}

}  // namespace
}  // namespace standin

using namespace standin;

// Everything handed out must be released by the time the environment is
// deleted or, where the caller ends a complete run without deleting it
// (quick_exit), by then. An error ends the process with exit(), releasing
// nothing, as it may.
static void check_all_released(const char* when)
{
    registry& r = state();
    if (!r.live_handles.empty() || !r.live_values.empty() || !r.live_frames.empty()) {
        fprintf(stderr, "standin: still held %s: %zu clip handle(s), %zu clip value(s), %zu frame(s)\n", when,
                r.live_handles.size(), r.live_values.size(), r.live_frames.size());
        fflush(stderr);
        abort();
    }
}

[[maybe_unused]] static void check_all_released_at_exit()
{
    if (state().env && state().env->live)
        check_all_released("at the end of the process");
}

// A test can play an older frame server that refuses newer interfaces.
STANDIN_EXPORT AVS_ScriptEnvironment* AVSC_CC avs_create_script_environment(int version)
{
    const char* max = getenv("AVS_STANDIN_MAX_INTERFACE");
    if (version > (max ? atoi(max) : 6))
        return nullptr;
    if (state().env)
        misuse("avs_create_script_environment: a second environment", state().env);
    state().env = new AVS_ScriptEnvironment;
    state().owner_thread = this_thread();
    if (const char* log = getenv("AVS_STANDIN_FETCH_LOG"))
        state().fetch_log = fopen(log, "w");
    // AVS_STANDIN_PRINTS: the library prints on standard output as it
    // starts, as a frame server or an autoloaded plugin may.
    if (getenv("AVS_STANDIN_PRINTS"))
        print_on_stdout("load");
    // The Windows build has no at_quick_exit that the tool's would run.
#ifndef _WIN32
    at_quick_exit(check_all_released_at_exit);
#endif
    return state().env;
}

// The interface version the stand-in plays: AVS_STANDIN_INTERFACE, else
// AviSynth+ 3.7.5's 11 (AviSynth 2.6's 6 for the classic build).
static int served_interface()
{
    const char* version = getenv("AVS_STANDIN_INTERFACE");
#ifdef STANDIN_CLASSIC
    return version ? atoi(version) : 6;
#else
    return version ? atoi(version) : 11;
#endif
}

STANDIN_EXPORT int AVSC_CC avs_check_version(AVS_ScriptEnvironment* env, int version)
{
    check_env(env, "avs_check_version");
    return version <= served_interface() ? 0 : -1;
}

STANDIN_EXPORT void AVSC_CC avs_delete_script_environment(AVS_ScriptEnvironment* env)
{
    check_env(env, "avs_delete_script_environment");
    check_all_released("at avs_delete_script_environment");
    // AviSynth+ keeps the frames it made for reuse and deletes them only
    // after its thread environment: where one's property holds a clip, the
    // clip's guard then reports to the environment that is gone (signal 11).
    if (state().frame_held_a_clip)
        misuse("avs_delete_script_environment: a frame's property holds a clip, and AviSynth+ crashes deleting it "
               "after the environment",
               env);
    env->live = false;  // kept allocated so a late use is recognised
}

STANDIN_EXPORT AVS_Value AVSC_CC avs_invoke(AVS_ScriptEnvironment* env, const char* name, AVS_Value args,
                                            const char** arg_names)
{
    check_env(env, "avs_invoke");
    // A test can make a call throw out through the C interface, as
    // AviSynth+'s "Import" does on Linux when handed a folder.
    const char* escape = getenv("AVS_STANDIN_ESCAPE");
    if (escape && strcmp(escape, name) == 0)
        throw std::length_error("cannot create std::vector larger than max_size()");
    try {
        std::vector<argument> call_args;
        int count = args.type == AVS_TAG_ARRAY ? args.array_size : 1;
        const AVS_Value* items = args.type == AVS_TAG_ARRAY ? args.d.array : &args;
        for (int i = 0; i < count; ++i)
            call_args.push_back({arg_names && arg_names[i] ? arg_names[i] : "", from_avs(items[i])});
        return to_avs(call_function(name, std::move(call_args), nullptr));
    } catch (const script_error& e) {
        return string_value(AVS_TAG_ERROR, e.what());
    }
}

STANDIN_EXPORT AVS_Clip* AVSC_CC avs_take_clip(AVS_Value v, AVS_ScriptEnvironment* env)
{
    check_env(env, "avs_take_clip");
    if (v.type != AVS_TAG_CLIP)
        misuse("avs_take_clip: value is not a clip", nullptr);
    state().handles.push_back({live_value(v, "avs_take_clip")->clip, std::string(), true});
    AVS_Clip* handle = &state().handles.back();
    state().live_handles.insert(handle);
    return handle;
}

STANDIN_EXPORT void AVSC_CC avs_set_to_clip(AVS_Value* v, AVS_Clip* clip)
{
    *v = new_clip_value(live_handle(clip, "avs_set_to_clip")->clip);
}

// Only clip values hold references. The stand-in never hands out an
// array, so any array released here is the caller's own: AviSynth+ would
// free it and its elements with delete[], memory it never allocated.
STANDIN_EXPORT void AVSC_CC avs_release_value(AVS_Value v)
{
    if (v.type == AVS_TAG_ARRAY)
        misuse("avs_release_value: array built by the caller (the frame server would free memory it does not own)",
               v.d.array);
    if (v.type != AVS_TAG_CLIP)
        return;
    clip_value_ref* ref = live_value(v, "avs_release_value");
    ref->live = false;
    ref->clip.reset();
    state().live_values.erase(ref);
}

STANDIN_EXPORT void AVSC_CC avs_release_clip(AVS_Clip* clip)
{
    live_handle(clip, "avs_release_clip");
    clip->live = false;
    clip->clip.reset();
    state().live_handles.erase(clip);
}

STANDIN_EXPORT const AVS_VideoInfo* AVSC_CC avs_get_video_info(AVS_Clip* clip)
{
    return &live_handle(clip, "avs_get_video_info")->clip->vi;
}

STANDIN_EXPORT const char* AVSC_CC avs_clip_get_error(AVS_Clip* clip)
{
    live_handle(clip, "avs_clip_get_error");
    return clip->error.empty() ? nullptr : clip->error.c_str();
}

STANDIN_EXPORT AVS_VideoFrame* AVSC_CC avs_get_frame(AVS_Clip* clip, int n)
{
    clip_data& data = *live_handle(clip, "avs_get_frame")->clip;
    if (!data.vi.width || n < 0 || n >= data.vi.num_frames) {
        clip->error = "avs_get_frame: frame " + std::to_string(n) + " is outside the clip";
        return nullptr;
    }
    if (n + data.frame_offset == data.fault.frame) {
        clip->error = "StandinFault: frame " + std::to_string(n) + " cannot be delivered";
        return nullptr;
    }
    if (n + data.frame_offset == data.fault.slow && !data.fault.slow_taken) {
        data.fault.slow_taken = true;
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(60);
        while (std::chrono::steady_clock::now() < until) {
        }
    }
    clip->error.clear();
    if (data.fault.prints)
        print_on_stdout("frame " + std::to_string(n));
    for (const auto& p : data.props)
        state().frame_held_a_clip = state().frame_held_a_clip || !p.second.clips.empty();
    frame_store& store = frames_of(data);
    int shift = (n + data.frame_offset) % FRAME_ROW_CYCLE;
    registry& r = state();
    held_frame* record;
    if (r.released_frames.size() > 1024) {
        record = r.released_frames.front();
        r.released_frames.pop_front();
        *record = held_frame();
    } else {
        r.frames.emplace_back();
        record = &r.frames.back();
    }
    held_frame& held = *record;
    held.clip = clip->clip;
    held.n = n;
    log_fetch("fetch", n);
    AVS_VideoFrame& f = held.frame;
    f.refcount = 1;
    f.vfb = &store.vfb;
    f.offset = store.region[0] + shift * store.pitch[0];
    f.pitch = store.pitch[0];
    f.row_size = store.row_size[0];
    f.height = store.height[0];
    for (int p = 0; p < store.planes; ++p) {
        held.offset[p] = store.region[p] + shift * store.pitch[p];
        held.pitch[p] = store.pitch[p];
        held.row_size[p] = store.row_size[p];
        held.height[p] = store.height[p];
    }
    if (store.planes >= 3) {
        f.offsetU = held.offset[1];
        f.offsetV = held.offset[2];
        // As AviSynth+ lays out planar RGB: B and R take the U and V
        // offsets, but every plane has the main pitch, and the U and V
        // fields say 0.
        const bool planar_rgb = static_cast<unsigned>(data.vi.pixel_type) & AVS_CS_BGR;
        f.pitchUV = planar_rgb ? 0 : store.pitch[1];
        f.row_sizeUV = planar_rgb ? 0 : store.row_size[1];
        f.heightUV = planar_rgb ? 0 : store.height[1];
    }
    state().live_frames.insert(&held);
    return &held.frame;
}

STANDIN_EXPORT void AVSC_CC avs_release_video_frame(AVS_VideoFrame* frame)
{
    // frame is the first member of held_frame.
    held_frame* held = reinterpret_cast<held_frame*>(frame);
    check_thread("avs_release_video_frame");
    if (!state().live_frames.count(held))
        misuse("avs_release_video_frame: frame released twice or never handed out", frame);
    held->live = false;
    log_fetch("release", held->n);
    held->clip.reset();
    state().live_frames.erase(held);
    state().released_frames.push_back(held);
}

STANDIN_EXPORT int AVSC_CC avs_get_audio(AVS_Clip* clip, void* buffer, int64_t start, int64_t count)
{
    clip_data& data = *live_handle(clip, "avs_get_audio")->clip;
    if (!data.vi.audio_samples_per_second || count < 0) {
        clip->error = "avs_get_audio: clip has no audio";
        return -1;
    }
    if (!fill_audio(data, buffer, start, count)) {
        clip->error = "StandinFault: audio at sample " + std::to_string(data.fault.sample) + " cannot be delivered";
        return -1;
    }
    clip->error.clear();
    if (data.fault.prints)
        print_on_stdout("samples " + std::to_string(start));
    return 0;
}

#ifndef STANDIN_CLASSIC
// Frame properties, as AviSynth+ has them since interface version 8: a
// frame's map is its clip's; only integers are modelled.

// Below interface version 9 (AviSynth+ 3.6.0 to 3.7.0) the real function
// misreads the frame and the process dies of it; a caller must not use it.
static void check_properties_work(const char* function)
{
    if (served_interface() < 9) {
        char what[160];
        snprintf(what, sizeof what, "%s: called on interface version %d, where the real one crashes", function,
                 served_interface());
        misuse(what, nullptr);
    }
}

STANDIN_EXPORT const AVS_Map* AVSC_CC avs_get_frame_props_ro(AVS_ScriptEnvironment* env, const AVS_VideoFrame* frame)
{
    check_env(env, "avs_get_frame_props_ro");
    check_properties_work("avs_get_frame_props_ro");
    const held_frame* held = reinterpret_cast<const held_frame*>(frame);
    if (!state().live_frames.count(held))
        misuse("avs_get_frame_props_ro: frame released or never handed out", frame);
    return reinterpret_cast<const AVS_Map*>(&held->clip->props);
}

// Channel masks, as AviSynth+ 3.7.3 keeps them: a "known" flag (image_type
// bit 3) and WAVEFORMATEXTENSIBLE's speaker bits shifted up by 4.
STANDIN_EXPORT bool AVSC_CC avs_is_channel_mask_known(const AVS_VideoInfo* vi)
{
    return vi->image_type & STANDIN_IT_HAS_CHANNEL_MASK;
}

STANDIN_EXPORT unsigned AVSC_CC avs_get_channel_mask(const AVS_VideoInfo* vi)
{
    if (!(vi->image_type & STANDIN_IT_HAS_CHANNEL_MASK))
        return 0;
    return static_cast<unsigned>(vi->image_type) >> 4 & STANDIN_SPEAKER_BITS;
}

// AviSynth+'s errors: 1 unset, 2 of another type, 4 index out of range.
template <typename number>
number property_value(const AVS_Map* map, const char* key, int index, int* error,
                      const std::vector<number> property::*values)
{
    const auto& props = *reinterpret_cast<const std::map<std::string, property>*>(map);
    auto found = props.find(key);
    int status = 0;
    if (found == props.end())
        status = 1;
    else if ((found->second.*values).empty())
        status = 2;
    else if (index < 0 || static_cast<size_t>(index) >= (found->second.*values).size())
        status = 4;
    if (error)
        *error = status;
    return status == 0 ? (found->second.*values)[static_cast<size_t>(index)] : 0;
}

STANDIN_EXPORT int64_t AVSC_CC avs_prop_get_int(AVS_ScriptEnvironment* env, const AVS_Map* map, const char* key,
                                                int index, int* error)
{
    check_env(env, "avs_prop_get_int");
    check_properties_work("avs_prop_get_int");
    return property_value(map, key, index, error, &property::integers);
}

STANDIN_EXPORT double AVSC_CC avs_prop_get_float(AVS_ScriptEnvironment* env, const AVS_Map* map, const char* key,
                                                 int index, int* error)
{
    check_env(env, "avs_prop_get_float");
    check_properties_work("avs_prop_get_float");
    return property_value(map, key, index, error, &property::floats);
}

// A map's keys, in the order AviSynth+ keeps them (sorted), and what each
// holds.
namespace {
const std::map<std::string, property>& map_of(const AVS_Map* map)
{
    return *reinterpret_cast<const std::map<std::string, property>*>(map);
}

const property* find_property(const AVS_Map* map, const char* key)
{
    auto found = map_of(map).find(key);
    return found == map_of(map).end() ? nullptr : &found->second;
}
}  // namespace

STANDIN_EXPORT int AVSC_CC avs_prop_num_keys(AVS_ScriptEnvironment* env, const AVS_Map* map)
{
    check_env(env, "avs_prop_num_keys");
    check_properties_work("avs_prop_num_keys");
    return static_cast<int>(map_of(map).size());
}

STANDIN_EXPORT const char* AVSC_CC avs_prop_get_key(AVS_ScriptEnvironment* env, const AVS_Map* map, int index)
{
    check_env(env, "avs_prop_get_key");
    check_properties_work("avs_prop_get_key");
    auto it = map_of(map).begin();
    for (int i = 0; i < index && it != map_of(map).end(); ++i)
        ++it;
    return index < 0 || it == map_of(map).end() ? nullptr : it->first.c_str();
}

STANDIN_EXPORT int AVSC_CC avs_prop_num_elements(AVS_ScriptEnvironment* env, const AVS_Map* map, const char* key)
{
    check_env(env, "avs_prop_num_elements");
    check_properties_work("avs_prop_num_elements");
    const property* p = find_property(map, key);
    if (!p)
        return -1;
    return static_cast<int>(p->integers.size() + p->floats.size() + p->data.size() + p->clips.size());
}

STANDIN_EXPORT char AVSC_CC avs_prop_get_type(AVS_ScriptEnvironment* env, const AVS_Map* map, const char* key)
{
    check_env(env, "avs_prop_get_type");
    check_properties_work("avs_prop_get_type");
    const property* p = find_property(map, key);
    return !p ? 'u' : !p->integers.empty() ? 'i' : !p->floats.empty() ? 'f' : !p->data.empty() ? 's' : 'c';
}

STANDIN_EXPORT const char* AVSC_CC avs_prop_get_data(AVS_ScriptEnvironment* env, const AVS_Map* map, const char* key,
                                                     int index, int* error)
{
    check_env(env, "avs_prop_get_data");
    check_properties_work("avs_prop_get_data");
    const property* p = find_property(map, key);
    const bool ok = p && index >= 0 && static_cast<size_t>(index) < p->data.size();
    if (error)
        *error = !p ? 1 : p->data.empty() ? 2 : ok ? 0 : 4;
    return ok ? p->data[static_cast<size_t>(index)].data() : nullptr;
}

STANDIN_EXPORT int AVSC_CC avs_prop_get_data_size(AVS_ScriptEnvironment* env, const AVS_Map* map, const char* key,
                                                  int index, int* error)
{
    const char* data = avs_prop_get_data(env, map, key, index, error);
    return data ? static_cast<int>(find_property(map, key)->data[static_cast<size_t>(index)].size()) : -1;
}

// What AviSynth+ says of itself: a machine of 4 logical processors, no
// thread pool (no Prefetch), interface 11.1.
STANDIN_EXPORT size_t AVSC_CC avs_get_env_property(AVS_ScriptEnvironment* env, int property)
{
    check_env(env, "avs_get_env_property");
    switch (property) {
    case 2: return 4;  // logical processors
    case 9: return 1;  // the interface's bug-fix level
    default: return 0;
    }
}

// Planes by id, as AviSynth+ has them: Y or G (1, 1 << 6), U or B (2,
// 1 << 7), V or R (4, 1 << 5), alpha (1 << 4). Planar RGB's B and R have the
// main pitch; U and V have the chroma pitch.
namespace {
const held_frame& held_of(const AVS_VideoFrame* frame, const char* function)
{
    const held_frame* held = reinterpret_cast<const held_frame*>(frame);
    if (!state().live_frames.count(held)) {
        char what[160];
        snprintf(what, sizeof what, "%s: frame released or never handed out", function);
        misuse(what, frame);
    }
    return *held;
}

int plane_index(int plane)
{
    switch (plane) {
    case 1 << 1: case 1 << 7: return 1;
    case 1 << 2: case 1 << 5: return 2;
    case AVS_PLANAR_A: return 3;
    default: return 0;
    }
}
}  // namespace

STANDIN_EXPORT const unsigned char* AVSC_CC avs_get_read_ptr_p(const AVS_VideoFrame* frame, int plane)
{
    const held_frame& held = held_of(frame, "avs_get_read_ptr_p");
    return frame->vfb->data + held.offset[plane_index(plane)];
}

STANDIN_EXPORT int AVSC_CC avs_get_pitch_p(const AVS_VideoFrame* frame, int plane)
{
    return held_of(frame, "avs_get_pitch_p").pitch[plane_index(plane)];
}

STANDIN_EXPORT int AVSC_CC avs_get_row_size_p(const AVS_VideoFrame* frame, int plane)
{
    return held_of(frame, "avs_get_row_size_p").row_size[plane_index(plane)];
}

STANDIN_EXPORT int AVSC_CC avs_get_height_p(const AVS_VideoFrame* frame, int plane)
{
    return held_of(frame, "avs_get_height_p").height[plane_index(plane)];
}
#endif

// The frame cache's limit, as AviSynth has kept one since 2.5: 0 asks.
STANDIN_EXPORT int AVSC_CC avs_set_memory_max(AVS_ScriptEnvironment* env, int mem)
{
    check_env(env, "avs_set_memory_max");
    static int limit = 1024;
    if (mem > 0)
        limit = mem;
    return limit;
}

STANDIN_EXPORT char* AVSC_CC avs_save_string(AVS_ScriptEnvironment* env, const char* text, int length)
{
    check_env(env, "avs_save_string");
    state().strings.push_back(length < 0 ? std::string(text) : std::string(text, static_cast<size_t>(length)));
    return &state().strings.back()[0];
}

// The name and a string value must be the frame server's own (saved).
STANDIN_EXPORT int AVSC_CC avs_set_global_var(AVS_ScriptEnvironment* env, const char* name, AVS_Value v)
{
    check_env(env, "avs_set_global_var");
    auto saved = [](const char* text) {
        for (const std::string& s : state().strings)
            if (s.c_str() == text)
                return true;
        return false;
    };
    if (!saved(name))
        misuse("avs_set_global_var: the name is not a saved string", name);
    if (v.type == AVS_TAG_STRING && !saved(v.d.string))
        misuse("avs_set_global_var: the string value is not a saved string", v.d.string);
    global_variables()[name] = from_avs(v);
    return 0;
}
