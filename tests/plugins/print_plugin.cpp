// A C plugin for the real AviSynth+ that prints on standard output when it
// is loaded, when LoadPlugin initialises it, when the script creates its
// filter PrintOnStdout() and in every frame: in each way a plugin can, C's
// printf, std::cout, write() to descriptor 1 and, on Windows, WriteFile to
// the process's standard output handle. The tool must keep all of it out
// of the stream.
//
// It takes the frame server's functions from the library already loaded in
// the process, whatever its file's name and folder, so that it needs no
// import library.

#include <cstring>
#include <string>

#include "../helpers/stdout_prints.h"
#include "frameserver/avs_c.h"

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#define PLUGIN_EXPORT extern "C" __declspec(dllexport)
#else
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>
#define PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// The frame server's own filter record (avisynth_c.h), as a C filter gets it.
struct AVS_FilterInfo {
    AVS_Clip* child;
    AVS_VideoInfo vi;
    AVS_ScriptEnvironment* env;
    AVS_VideoFrame*(AVSC_CC* get_frame)(AVS_FilterInfo*, int n);
    int(AVSC_CC* get_parity)(AVS_FilterInfo*, int n);
    int(AVSC_CC* get_audio)(AVS_FilterInfo*, void* buf, int64_t start, int64_t count);
    int(AVSC_CC* set_cache_hints)(AVS_FilterInfo*, int cachehints, int frame_range);
    void(AVSC_CC* free_filter)(AVS_FilterInfo*);
    const char* error;
    void* user_data;
};

typedef AVS_Value(AVSC_CC* apply_func)(AVS_ScriptEnvironment*, AVS_Value args, void* user_data);
typedef int(AVSC_CC* add_function_func)(AVS_ScriptEnvironment*, const char* name, const char* params,
                                         apply_func apply, void* user_data);
typedef AVS_Clip*(AVSC_CC* new_c_filter_func)(AVS_ScriptEnvironment*, AVS_FilterInfo** fi, AVS_Value child,
                                               int store_child);

static add_function_func add_function;
static new_c_filter_func new_c_filter;
static avs_set_to_clip_func set_to_clip;
static avs_release_clip_func release_clip;
static avs_get_frame_func get_frame;

static void print_on_stdout(const std::string& when)
{
    print_on_stdout_every_way("print plugin", when);
}

#if defined(_WIN32)
static void* frameserver_symbol(const char* name)
{
    HMODULE library = GetModuleHandleW(L"avisynth.dll");
    return library ? reinterpret_cast<void*>(GetProcAddress(library, name)) : nullptr;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        print_on_stdout("load");
    return TRUE;
}
#else
// The first loaded object that exports name.
static void* frameserver_symbol(const char* name)
{
    struct search {
        const char* name;
        void* found;
    } s = {name, nullptr};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            search* s = static_cast<search*>(data);
            if (!info->dlpi_name || !*info->dlpi_name)
                return 0;
            if (void* library = dlopen(info->dlpi_name, RTLD_LAZY | RTLD_NOLOAD)) {
                s->found = dlsym(library, s->name);
                dlclose(library);
            }
            return s->found ? 1 : 0;
        },
        &s);
    return s.found;
}

__attribute__((constructor)) static void loaded()
{
    print_on_stdout("load");
}
#endif

static AVS_VideoFrame* AVSC_CC print_frame(AVS_FilterInfo* fi, int n)
{
    print_on_stdout("frame " + std::to_string(n));
    return get_frame(fi->child, n);
}

static AVS_Value AVSC_CC create_print_on_stdout(AVS_ScriptEnvironment* env, AVS_Value args, void*)
{
    print_on_stdout("import");
    AVS_FilterInfo* fi = nullptr;
    AVS_Clip* clip = new_c_filter(env, &fi, args.d.array[0], 1);
    fi->get_frame = print_frame;
    AVS_Value result;
    set_to_clip(&result, clip);
    release_clip(clip);
    return result;
}

PLUGIN_EXPORT const char* AVSC_CC avisynth_c_plugin_init(AVS_ScriptEnvironment* env)
{
    print_on_stdout("init");
    add_function = reinterpret_cast<add_function_func>(frameserver_symbol("avs_add_function"));
    new_c_filter = reinterpret_cast<new_c_filter_func>(frameserver_symbol("avs_new_c_filter"));
    set_to_clip = reinterpret_cast<avs_set_to_clip_func>(frameserver_symbol("avs_set_to_clip"));
    release_clip = reinterpret_cast<avs_release_clip_func>(frameserver_symbol("avs_release_clip"));
    get_frame = reinterpret_cast<avs_get_frame_func>(frameserver_symbol("avs_get_frame"));
    if (!add_function || !new_c_filter || !set_to_clip || !release_clip || !get_frame)
        return "print plugin: the frame server's C functions are not in this process";
    add_function(env, "PrintOnStdout", "c", create_print_on_stdout, nullptr);
    return "prints on standard output";
}
