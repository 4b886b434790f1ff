// The AviSynth C interface, as far as clipspout uses it.
//
// Only the leading fields the tool reads are declared; the frame server may
// append more after them (AviSynth+ does), so nothing here depends on the
// full size of a frame or frame buffer.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define AVSC_CC __stdcall
#else
#define AVSC_CC
#endif

extern "C" {

struct AVS_ScriptEnvironment;
struct AVS_Clip;

struct AVS_Value {
    short type;        // 'c' clip, 's' string, 'a' array, 'e' error, ...
    short array_size;  // element count when type is 'a'
    union {
        void* clip;
        char boolean;
        int integer;
        float floating_pt;
        const char* string;
        const AVS_Value* array;
    } d;
};

struct AVS_VideoInfo {
    int width, height;  // width 0: no video
    unsigned fps_numerator, fps_denominator;
    int num_frames;
    int pixel_type;
    int audio_samples_per_second;  // 0: no audio
    int sample_type;
    int64_t num_audio_samples;
    int nchannels;
    int image_type;
};

struct AVS_VideoFrameBuffer {
    unsigned char* data;
    int data_size;
};

struct AVS_VideoFrame {
    volatile long refcount;
    AVS_VideoFrameBuffer* vfb;
    int offset, pitch, row_size, height;
    int offsetU, offsetV;
    int pitchUV;
    int row_sizeUV, heightUV;
};

}  // extern "C"

// The frame server is a C library compiled elsewhere: these layouts are the
// contract, so any drift must fail the build rather than corrupt a stream.
static_assert(sizeof(AVS_Value) == 2 * sizeof(void*), "AVS_Value is 8 bytes on 32-bit, 16 on 64-bit");
static_assert(offsetof(AVS_Value, array_size) == 2, "AVS_Value array_size offset");
static_assert(offsetof(AVS_Value, d) == sizeof(void*), "AVS_Value payload offset");
static_assert(sizeof(AVS_VideoInfo) == 48, "AVS_VideoInfo size");
static_assert(offsetof(AVS_VideoInfo, fps_numerator) == 8, "AVS_VideoInfo fps offset");
static_assert(offsetof(AVS_VideoInfo, audio_samples_per_second) == 24, "AVS_VideoInfo audio rate offset");
static_assert(offsetof(AVS_VideoInfo, num_audio_samples) == 32, "AVS_VideoInfo sample count offset");
static_assert(offsetof(AVS_VideoInfo, image_type) == 44, "AVS_VideoInfo image_type offset");
static_assert(offsetof(AVS_VideoFrameBuffer, data_size) == sizeof(void*), "frame buffer size offset");
static_assert(offsetof(AVS_VideoFrame, vfb) == sizeof(void*), "frame buffer pointer offset");
static_assert(offsetof(AVS_VideoFrame, offset) == 2 * sizeof(void*), "frame plane fields offset");
static_assert(offsetof(AVS_VideoFrame, heightUV) == 2 * sizeof(void*) + 8 * sizeof(int), "frame heightUV offset");

constexpr int AVS_INTERFACE_VERSION = 4;
// The first interface version whose frame-property functions can be called.
constexpr int AVS_PROPERTIES_INTERFACE_VERSION = 9;

// Value tags.
constexpr short AVS_TAG_CLIP = 'c';
constexpr short AVS_TAG_STRING = 's';
constexpr short AVS_TAG_ARRAY = 'a';
constexpr short AVS_TAG_ERROR = 'e';
constexpr short AVS_TAG_INT = 'i';
constexpr short AVS_TAG_FLOAT = 'f';
constexpr short AVS_TAG_BOOL = 'b';
constexpr short AVS_TAG_VOID = 'v';

// pixel_type values. The field is signed in the interface; the values are
// written as unsigned bit patterns.
constexpr int AVS_CS_BGR24 = static_cast<int>(0x50000001u);
constexpr int AVS_CS_BGR32 = static_cast<int>(0x50000002u);
constexpr int AVS_CS_YUY2 = static_cast<int>(0x60000004u);
constexpr int AVS_CS_YV24 = static_cast<int>(0xA000030Bu);
constexpr int AVS_CS_YV16 = static_cast<int>(0xA0000308u);
constexpr int AVS_CS_YV12 = static_cast<int>(0xA0000008u);
// YV12 with the U plane stored first, as source plugins deliver 8-bit 4:2:0.
constexpr int AVS_CS_I420 = static_cast<int>(0xA0000010u);
constexpr int AVS_CS_YV411 = static_cast<int>(0xA0000309u);
constexpr int AVS_CS_Y8 = static_cast<int>(0xE0000000u);

// The bits AviSynth+ composes its pixel types from (AviSynth 2.6's types
// are the 8-bit ones among them).
constexpr unsigned AVS_CS_RGBA_TYPE = 1u << 1;  // planar RGB with an alpha plane
constexpr unsigned AVS_CS_U_PLANE_FIRST = 1u << 4;
constexpr unsigned AVS_CS_YUVA = 1u << 27;
constexpr unsigned AVS_CS_BGR = 1u << 28;
constexpr unsigned AVS_CS_YUV = 1u << 29;
constexpr unsigned AVS_CS_INTERLEAVED = 1u << 30;
constexpr unsigned AVS_CS_PLANAR = 1u << 31;
constexpr unsigned AVS_CS_SUB_WIDTH_MASK = 7u;         // 3: 1, 0: 1/2, 1: 1/4 of the width
constexpr unsigned AVS_CS_SHIFT_SUB_HEIGHT = 8;        // the same for the height
constexpr unsigned AVS_CS_SHIFT_SAMPLE_BITS = 16;
constexpr unsigned AVS_CS_SAMPLE_BITS_MASK = 7u << 16; // 0: 8, 5: 10, 6: 12, 7: 14, 1: 16, 2: 32 (float)

// Plane ids (avs_get_read_ptr_p and its kin).
constexpr int AVS_PLANAR_A = 1 << 4;

// sample_type values.
constexpr int AVS_SAMPLE_INT8 = 1;
constexpr int AVS_SAMPLE_INT16 = 2;
constexpr int AVS_SAMPLE_INT24 = 4;
constexpr int AVS_SAMPLE_INT32 = 8;
constexpr int AVS_SAMPLE_FLOAT = 16;

// image_type bits. Higher bits may carry an audio channel mask, so these
// are only ever tested one by one.
constexpr int AVS_IT_BFF = 1;
constexpr int AVS_IT_TFF = 2;
constexpr int AVS_IT_FIELDBASED = 4;

// The functions the tool calls, as they are exported (undecorated names).
extern "C" {
typedef AVS_ScriptEnvironment*(AVSC_CC* avs_create_script_environment_func)(int version);
typedef void(AVSC_CC* avs_delete_script_environment_func)(AVS_ScriptEnvironment*);
typedef AVS_Value(AVSC_CC* avs_invoke_func)(AVS_ScriptEnvironment*, const char* name, AVS_Value args,
                                            const char** arg_names);
typedef AVS_Clip*(AVSC_CC* avs_take_clip_func)(AVS_Value, AVS_ScriptEnvironment*);
typedef void(AVSC_CC* avs_set_to_clip_func)(AVS_Value*, AVS_Clip*);
typedef void(AVSC_CC* avs_release_value_func)(AVS_Value);
typedef void(AVSC_CC* avs_release_clip_func)(AVS_Clip*);
typedef const AVS_VideoInfo*(AVSC_CC* avs_get_video_info_func)(AVS_Clip*);
typedef AVS_VideoFrame*(AVSC_CC* avs_get_frame_func)(AVS_Clip*, int n);
typedef void(AVSC_CC* avs_release_video_frame_func)(AVS_VideoFrame*);
typedef int(AVSC_CC* avs_get_audio_func)(AVS_Clip*, void* buf, int64_t start, int64_t count);
typedef const char*(AVSC_CC* avs_clip_get_error_func)(AVS_Clip*);
typedef char*(AVSC_CC* avs_save_string_func)(AVS_ScriptEnvironment*, const char* text, int length);
typedef int(AVSC_CC* avs_set_global_var_func)(AVS_ScriptEnvironment*, const char* name, AVS_Value value);

// 0 where the environment serves the interface version asked, else -1.
typedef int(AVSC_CC* avs_check_version_func)(AVS_ScriptEnvironment*, int version);

// Frame properties. AviSynth+ exports them from interface version 8 on,
// but only from version 9 (3.7.1) do they work through this interface:
// before it the wrapper misreads the frame and the process crashes. AVS_Map
// is opaque; avs_prop_get_int sets *error to non-zero for a missing key.
struct AVS_Map;
typedef const AVS_Map*(AVSC_CC* avs_get_frame_props_ro_func)(AVS_ScriptEnvironment*, const AVS_VideoFrame*);
typedef int64_t(AVSC_CC* avs_prop_get_int_func)(AVS_ScriptEnvironment*, const AVS_Map*, const char* key, int index,
                                                int* error);

// A property's floating-point value (or element index of an array).
typedef double(AVSC_CC* avs_prop_get_float_func)(AVS_ScriptEnvironment*, const AVS_Map*, const char* key, int index,
                                                 int* error);

// Every key of a map, in order, and what each holds: its type ('i' int,
// 'f' float, 's' data, 'c' clip, 'v' frame, 'u' unset) and how many
// elements; a data element's bytes and their number (not 0-terminated).
typedef int(AVSC_CC* avs_prop_num_keys_func)(AVS_ScriptEnvironment*, const AVS_Map*);
typedef const char*(AVSC_CC* avs_prop_get_key_func)(AVS_ScriptEnvironment*, const AVS_Map*, int index);
typedef int(AVSC_CC* avs_prop_num_elements_func)(AVS_ScriptEnvironment*, const AVS_Map*, const char* key);
typedef char(AVSC_CC* avs_prop_get_type_func)(AVS_ScriptEnvironment*, const AVS_Map*, const char* key);
typedef const char*(AVSC_CC* avs_prop_get_data_func)(AVS_ScriptEnvironment*, const AVS_Map*, const char* key,
                                                     int index, int* error);
typedef int(AVSC_CC* avs_prop_get_data_size_func)(AVS_ScriptEnvironment*, const AVS_Map*, const char* key, int index,
                                                  int* error);

// What the environment says of itself (AviSynth+, interface version 8):
// threads, the interface's bug-fix level.
typedef size_t(AVSC_CC* avs_get_env_property_func)(AVS_ScriptEnvironment*, int property);
constexpr int AVS_AEP_LOGICAL_CPUS = 2;
constexpr int AVS_AEP_THREADPOOL_THREADS = 3;
constexpr int AVS_AEP_FILTERCHAIN_THREADS = 4;
constexpr int AVS_AEP_INTERFACE_BUGFIX = 9;

// The frame cache's limit in MB (AviSynth 2.5): 0 asks without changing it.
typedef int(AVSC_CC* avs_set_memory_max_func)(AVS_ScriptEnvironment*, int mem);

// A plane by its id (AviSynth+). The tool reads the Y, U and V planes from
// the frame's own fields, as every AviSynth can; only the alpha plane,
// which only AviSynth+ has, is found through these.
typedef const unsigned char*(AVSC_CC* avs_get_read_ptr_p_func)(const AVS_VideoFrame*, int plane);
typedef int(AVSC_CC* avs_get_pitch_p_func)(const AVS_VideoFrame*, int plane);
typedef int(AVSC_CC* avs_get_row_size_p_func)(const AVS_VideoFrame*, int plane);
typedef int(AVSC_CC* avs_get_height_p_func)(const AVS_VideoFrame*, int plane);

// The audio's speaker positions (AviSynth+ 3.7.3 and later), in
// WAVEFORMATEXTENSIBLE's dwChannelMask bits; 0 where none is known.
typedef bool(AVSC_CC* avs_is_channel_mask_known_func)(const AVS_VideoInfo*);
typedef unsigned(AVSC_CC* avs_get_channel_mask_func)(const AVS_VideoInfo*);
}
