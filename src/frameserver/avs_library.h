// The frame-server library, loaded at run time so that one binary works
// with whichever AviSynth is installed.
#pragma once

#include <string>

#include "frameserver/avs_c.h"

#if defined(_WIN32)
#define FRAMESERVER_LIBRARY "avisynth.dll"
#elif defined(__APPLE__)
#define FRAMESERVER_LIBRARY "libavisynth.dylib"
#else
#define FRAMESERVER_LIBRARY "libavisynth.so"
#endif

#define AVS_LIBRARY_FUNCTIONS(X)        \
    X(avs_create_script_environment)    \
    X(avs_delete_script_environment)    \
    X(avs_invoke)                       \
    X(avs_take_clip)                    \
    X(avs_set_to_clip)                  \
    X(avs_release_value)                \
    X(avs_release_clip)                 \
    X(avs_get_video_info)               \
    X(avs_get_frame)                    \
    X(avs_release_video_frame)          \
    X(avs_get_audio)                    \
    X(avs_clip_get_error)               \
    X(avs_save_string)                  \
    X(avs_set_global_var)

// The frame-property functions, withdrawn together where they do not work
// (see settle_interface).
#define AVS_LIBRARY_PROPERTY_FUNCTIONS(X) \
    X(avs_get_frame_props_ro)             \
    X(avs_prop_get_int)                   \
    X(avs_prop_get_float)                 \
    X(avs_prop_num_keys)                  \
    X(avs_prop_get_key)                   \
    X(avs_prop_num_elements)              \
    X(avs_prop_get_type)                  \
    X(avs_prop_get_data)                  \
    X(avs_prop_get_data_size)

// Newer than AviSynth 2.6 (frame properties came with AviSynth+'s interface
// version 8, channel masks with AviSynth+ 3.7.3, planes by id with its
// alpha planes): resolved where the library has them, null where it has
// not. The version check is AviSynth 2.5's, but no older library is asked
// for it by name.
#define AVS_LIBRARY_OPTIONAL_FUNCTIONS(X) \
    X(avs_check_version)                  \
    X(avs_get_env_property)               \
    X(avs_set_memory_max)                 \
    AVS_LIBRARY_PROPERTY_FUNCTIONS(X)     \
    X(avs_is_channel_mask_known)          \
    X(avs_get_channel_mask)               \
    X(avs_get_read_ptr_p)                 \
    X(avs_get_pitch_p)                    \
    X(avs_get_row_size_p)                 \
    X(avs_get_height_p)

struct avs_library {
#define AVS_LIBRARY_MEMBER(name) name##_func name;
    AVS_LIBRARY_FUNCTIONS(AVS_LIBRARY_MEMBER)
    AVS_LIBRARY_OPTIONAL_FUNCTIONS(AVS_LIBRARY_MEMBER)
#undef AVS_LIBRARY_MEMBER
};

// Filled by load_frameserver; calls read avs.avs_get_frame(...) and so on.
extern avs_library avs;

// Loads the library and resolves every function above, or ends the process
// with an error naming the library. path (--frameserver) names the file,
// or a folder holding it, and no other is loaded; empty, the platform's
// search finds it.
void load_frameserver(const std::string& path);

// The same, but a library that is missing or lacks a function is no error:
// returns false with the reason in problem.
bool try_load_frameserver(const std::string& path, std::string* problem);

// The file loaded, where the system can say.
extern std::string frameserver_file;

// What the environment serves, read once it exists.
struct frameserver_interface {
    int version = 0;                 // the highest interface version it serves; 0 where it cannot say
    bool exports_properties = false;  // the library has the frame-property functions, working or not
    bool data_readable = false;       // avs_prop_get_data works (mended in interface 9.1)
};
extern frameserver_interface avs_interface;

// Reads the environment's interface version and, below the version whose
// property functions work, withdraws them (their pointers become null), so
// that every property reads as absent rather than crashing the process.
void settle_interface(AVS_ScriptEnvironment* env);

// One line saying that this frame server gives no frame properties and what
// that leaves out; empty where it gives them.
std::string missing_properties_note();
