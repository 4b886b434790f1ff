// A library with the frame server's file name that offers only the first
// function the tool asks for: the loader must name the one that is missing.

#include "frameserver/avs_c.h"

#if defined(_WIN32)
#define INCOMPLETE_EXPORT extern "C" __declspec(dllexport)
#else
#define INCOMPLETE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

INCOMPLETE_EXPORT AVS_ScriptEnvironment* AVSC_CC avs_create_script_environment(int)
{
    return nullptr;
}
