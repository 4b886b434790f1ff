/* An AviSynth+ C plugin for the tests: ClipspoutFault(clip, frame) passes
   the clip through but for that frame, which it cannot deliver, as a source
   plugin cannot that meets a broken packet; ClipspoutPause(ms) is a slow
   step of the script's import (a source indexing its file), said on
   standard error as it starts. It calls the library that
   loaded it, found by name among those already loaded (the tool loads it
   privately, so its names are not global). */

#include <dlfcn.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <time.h>

#define AVSC_NO_DECLSPEC
#include "avisynth_c.h"

static AVS_VideoFrame* (*get_frame)(AVS_Clip*, int);
static AVS_Clip* (*new_c_filter)(AVS_ScriptEnvironment*, AVS_FilterInfo**, AVS_Value, int);
static void (*set_to_clip)(AVS_Value*, AVS_Clip*);
static void (*release_clip)(AVS_Clip*);
static int (*add_function)(AVS_ScriptEnvironment*, const char*, const char*, AVS_ApplyFunc, void*);

static AVS_VideoFrame* AVSC_CC fault_get_frame(AVS_FilterInfo* fi, int n)
{
    if (n == (int)(intptr_t)fi->user_data) {
        fi->error = "ClipspoutFault: this frame cannot be delivered";
        return NULL;
    }
    return get_frame(fi->child, n);
}

static AVS_Value AVSC_CC fault_create(AVS_ScriptEnvironment* env, AVS_Value args, void* data)
{
    (void)data;
    AVS_FilterInfo* fi = NULL;
    AVS_Clip* clip = new_c_filter(env, &fi, args.d.array[0], 1);
    fi->user_data = (void*)(intptr_t)args.d.array[1].d.integer;
    fi->get_frame = fault_get_frame;
    AVS_Value result;
    set_to_clip(&result, clip);
    release_clip(clip);
    return result;
}

static AVS_Value AVSC_CC pause_create(AVS_ScriptEnvironment* env, AVS_Value args, void* data)
{
    (void)env;
    (void)data;
    const int ms = args.d.array[0].d.integer;
    fputs("clipspout-fault: pausing\n", stderr);
    fflush(stderr);
    struct timespec left = {ms / 1000, (long)(ms % 1000) * 1000000L};
    /* A signal to the tool cuts the sleep short; the import goes on after
       it, as a real slow step would. */
    while (nanosleep(&left, &left) != 0) {
    }
    AVS_Value result;
    result.type = 'i';
    result.array_size = 0;
    result.d.integer = ms;
    return result;
}

const char* AVSC_CC avisynth_c_plugin_init(AVS_ScriptEnvironment* env)
{
    void* library = dlopen("libavisynth.so", RTLD_LAZY | RTLD_NOLOAD);
    if (!library)
        return "ClipspoutFault: the loading library is not found";
    get_frame = (AVS_VideoFrame * (*)(AVS_Clip*, int)) dlsym(library, "avs_get_frame");
    new_c_filter = (AVS_Clip * (*)(AVS_ScriptEnvironment*, AVS_FilterInfo**, AVS_Value, int))
        dlsym(library, "avs_new_c_filter");
    set_to_clip = (void (*)(AVS_Value*, AVS_Clip*))dlsym(library, "avs_set_to_clip");
    release_clip = (void (*)(AVS_Clip*))dlsym(library, "avs_release_clip");
    add_function = (int (*)(AVS_ScriptEnvironment*, const char*, const char*, AVS_ApplyFunc, void*))
        dlsym(library, "avs_add_function");
    if (!get_frame || !new_c_filter || !set_to_clip || !release_clip || !add_function)
        return "ClipspoutFault: the loading library lacks a function it needs";
    add_function(env, "ClipspoutFault", "ci", fault_create, NULL);
    add_function(env, "ClipspoutPause", "i", pause_create, NULL);
    return "clipspout's fault plugin for the tests";
}
