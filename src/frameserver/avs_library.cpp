#include "frameserver/avs_library.h"

#include "common/diag.h"
#include "common/platform.h"

avs_library avs;
frameserver_interface avs_interface;
std::string frameserver_file;

bool try_load_frameserver(const std::string& path, std::string* problem)
{
    void* library = nullptr;
    std::string named = FRAMESERVER_LIBRARY, lacking = "";
    if (!path.empty()) {
        std::string reason;
        library = open_library_file(path, FRAMESERVER_LIBRARY, &frameserver_file, &reason);
        named = "\"" + (frameserver_file.empty() ? path : frameserver_file) + "\"";
        lacking = ": it is no frame server";
        if (!library) {
            *problem = "cannot load the frame server " + named + ": " + reason;
            return false;
        }
    } else {
        char reason[512];
        library = open_library(FRAMESERVER_LIBRARY, reason, sizeof reason);
#if !defined(_WIN32) && !defined(__APPLE__)
        // A runtime-only install has the library under its versioned name
        // alone (libavisynth.so.11), without the development link.
        for (int version = 20; !library && version > 0; --version) {
            char ignored[512];
            library = open_library((FRAMESERVER_LIBRARY "." + std::to_string(version)).c_str(), ignored,
                                   sizeof ignored);
        }
#endif
        if (!library) {
            // The system's reason often begins with the name again.
            const std::string name = FRAMESERVER_LIBRARY, said = reason;
            const bool repeats = said.compare(0, name.size() + 2, name + ": ") == 0;
            *problem = "cannot load " + name + ": " + (repeats ? said.substr(name.size() + 2) : said);
            return false;
        }
        frameserver_file = library_file_name(library, "avs_create_script_environment");
    }

#define AVS_LIBRARY_RESOLVE(name)                                                       \
    avs.name = reinterpret_cast<name##_func>(library_symbol(library, #name));           \
    if (!avs.name) {                                                                    \
        *problem = "cannot find " #name " in " + named + lacking;                      \
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

void load_frameserver(const std::string& path)
{
    std::string problem;
    if (try_load_frameserver(path, &problem))
        return;
    // Not found, as opposed to found and unfit.
    if (path.empty() && problem.rfind("cannot load ", 0) == 0)
        diag_print(DIAG_INFO, "%s\n", frameserver_search_remedy().c_str());
    diag_print(DIAG_ERROR, "%s.\n", problem.c_str());
}

void settle_interface(AVS_ScriptEnvironment* env)
{
    avs_interface.exports_properties = avs.avs_get_frame_props_ro && avs.avs_prop_get_int;
    avs_interface.version = 0;
    // Every version up to its own is served; the first refused ends the
    // count. Libraries name versions far below 64.
    while (avs.avs_check_version && avs_interface.version < 64 &&
           avs.avs_check_version(env, avs_interface.version + 1) == 0)
        ++avs_interface.version;
    avs_interface.data_readable =
        avs_interface.version > AVS_PROPERTIES_INTERFACE_VERSION ||
        (avs_interface.version == AVS_PROPERTIES_INTERFACE_VERSION && avs.avs_get_env_property &&
         avs.avs_get_env_property(env, AVS_AEP_INTERFACE_BUGFIX) >= 1);
    if (avs_interface.version < AVS_PROPERTIES_INTERFACE_VERSION) {
#define AVS_LIBRARY_WITHDRAW(name) avs.name = nullptr;
        AVS_LIBRARY_PROPERTY_FUNCTIONS(AVS_LIBRARY_WITHDRAW)
#undef AVS_LIBRARY_WITHDRAW
    }
}

std::string missing_properties_note()
{
    if (avs.avs_get_frame_props_ro)
        return "";
    const std::string server = avs_interface.version > 0
                                   ? "the frame server (interface version " + std::to_string(avs_interface.version) + ")"
                                   : "the frame server";
    // AviSynth+ 3.6.0 to 3.7.0 export the functions but crash in them.
    const std::string why =
        avs_interface.exports_properties
            ? " has frame-property functions, but they work only from interface version 9 (AviSynth+ 3.7.1)"
            : " has no frame properties";
    return server + why + ": colour, HDR metadata, frame timing and field order from frame properties are left out.";
}
