#include "frameserver/avs_library.h"

#include "common/diag.h"
#include "common/platform.h"

avs_library avs;

bool try_load_frameserver(std::string* problem)
{
    char reason[512];
    void* library = open_library(FRAMESERVER_LIBRARY, reason, sizeof reason);
    if (!library) {
        *problem = std::string("cannot load ") + FRAMESERVER_LIBRARY + ": " + reason;
        return false;
    }

#define AVS_LIBRARY_RESOLVE(name)                                                       \
    avs.name = reinterpret_cast<name##_func>(library_symbol(library, #name));           \
    if (!avs.name) {                                                                    \
        *problem = std::string("cannot find " #name " in ") + FRAMESERVER_LIBRARY;      \
        return false;                                                                   \
    }
    AVS_LIBRARY_FUNCTIONS(AVS_LIBRARY_RESOLVE)
#undef AVS_LIBRARY_RESOLVE

#define AVS_LIBRARY_RESOLVE_OPTIONAL(name) \
    avs.name = reinterpret_cast<name##_func>(library_symbol(library, #name));
    AVS_LIBRARY_OPTIONAL_FUNCTIONS(AVS_LIBRARY_RESOLVE_OPTIONAL)
#undef AVS_LIBRARY_RESOLVE_OPTIONAL
    return true;
}

void load_frameserver()
{
    std::string problem;
    if (!try_load_frameserver(&problem))
        diag_print(DIAG_ERROR, "%s.\n", problem.c_str());
}
