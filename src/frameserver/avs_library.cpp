#include "frameserver/avs_library.h"

#include "common/diag.h"
#include "common/platform.h"

avs_library avs;

void load_frameserver()
{
    char reason[512];
    void* library = open_library(FRAMESERVER_LIBRARY, reason, sizeof reason);
    if (!library)
        diag_print(DIAG_ERROR, "cannot load %s: %s.\n", FRAMESERVER_LIBRARY, reason);

#define AVS_LIBRARY_RESOLVE(name)                                                        \
    avs.name = reinterpret_cast<name##_func>(library_symbol(library, #name));            \
    if (!avs.name)                                                                       \
        diag_print(DIAG_ERROR, "cannot find %s in %s.\n", #name, FRAMESERVER_LIBRARY);
    AVS_LIBRARY_FUNCTIONS(AVS_LIBRARY_RESOLVE)
#undef AVS_LIBRARY_RESOLVE
}
