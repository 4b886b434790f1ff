// The bare loop meter is held to: loads the frame server, imports the
// script, and fetches and releases every frame, timing only that; prints
// the seconds. bench_fetch SCRIPT
#include <chrono>
#include <cstdio>

#include "frameserver/avs_library.h"
#include "frameserver/avs_values.h"

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    load_frameserver("");  // the system's search, as LD_LIBRARY_PATH gives it
    AVS_ScriptEnvironment* env = avs.avs_create_script_environment(AVS_INTERFACE_VERSION);
    const AVS_Value path = string_value(argv[1]);
    AVS_Clip* clip = take_filtered_clip(avs.avs_invoke(env, "Import", single_argument(&path), nullptr), env,
                                        "not a clip\n");
    const int frames = avs.avs_get_video_info(clip)->num_frames;
    const auto start = std::chrono::steady_clock::now();
    for (int n = 0; n < frames; ++n)
        avs.avs_release_video_frame(avs.avs_get_frame(clip, n));
    printf("%.6f\n", std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    return 0;
}
