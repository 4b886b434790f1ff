#include "frameserver/property_json.h"

#include "common/diag.h"
#include "common/json.h"
#include "frameserver/avs_library.h"

namespace {

bool enumerable()
{
    return avs.avs_get_frame_props_ro && avs.avs_prop_num_keys && avs.avs_prop_get_key &&
           avs.avs_prop_num_elements && avs.avs_prop_get_type && avs.avs_prop_get_int && avs.avs_prop_get_float;
}

// A data element's bytes; false where they cannot be read.
bool read_data(AVS_ScriptEnvironment* env, const AVS_Map* map, const char* key, int index, std::string* bytes)
{
    // Data reads safely only once the interface mended it (9.1).
    if (!avs_interface.data_readable || !avs.avs_prop_get_data || !avs.avs_prop_get_data_size)
        return false;
    int error = 0;
    const int size = avs.avs_prop_get_data_size(env, map, key, index, &error);
    const char* data = error || size < 0 ? nullptr : avs.avs_prop_get_data(env, map, key, index, &error);
    if (!data || error)
        return false;
    bytes->assign(data, static_cast<size_t>(size));
    return true;
}

// Whether every element of a data property is text.
bool data_is_text(AVS_ScriptEnvironment* env, const AVS_Map* map, const char* key, int elements)
{
    std::string bytes;
    for (int i = 0; i < elements; ++i)
        if (read_data(env, map, key, i, &bytes) && !is_utf8(bytes.data(), bytes.size()))
            return false;
    return true;
}

std::string element_json(AVS_ScriptEnvironment* env, const AVS_Map* map, const char* key, char type, int index,
                         bool as_text)
{
    int error = 0;
    switch (type) {
    case 'i': return json_integer(static_cast<long long>(avs.avs_prop_get_int(env, map, key, index, &error)));
    case 'f': return json_number(avs.avs_prop_get_float(env, map, key, index, &error));
    case 's': {
        std::string bytes;
        if (!read_data(env, map, key, index, &bytes))
            return "null";
        return as_text ? json_string(bytes) : json_base64(bytes.data(), bytes.size());
    }
    default: return "null";
    }
}

const char* type_name(char type)
{
    switch (type) {
    case 'i': return "int";
    case 'f': return "float";
    case 's': return "data";
    case 'c': return "clip";
    case 'v': return "frame";
    default: return "unset";
    }
}

}  // namespace

std::string frame_properties_json(AVS_ScriptEnvironment* env, const AVS_VideoFrame* frame)
{
    if (!enumerable())
        return "{}";
    const AVS_Map* map = avs.avs_get_frame_props_ro(env, frame);
    if (!map)
        return "{}";
    std::string json = "{";
    const int keys = avs.avs_prop_num_keys(env, map);
    for (int k = 0; k < keys; ++k) {
        const char* key = avs.avs_prop_get_key(env, map, k);
        if (!key)
            continue;
        const char type = avs.avs_prop_get_type(env, map, key);
        const int elements = avs.avs_prop_num_elements(env, map, key);
        json += (json.size() > 1 ? ", " : "") + json_string(key) + ": {\"type\": \"" + type_name(type) + "\"";
        if (type == 'i' || type == 'f' || type == 's') {
            // Bytes that are not UTF-8 go as base64, under a name of their
            // own: as a JSON string they would read as other characters.
            const bool as_text = type != 's' || data_is_text(env, map, key, elements);
            json += as_text ? ", \"value\": " : ", \"base64\": ";
            if (elements == 1) {
                json += element_json(env, map, key, type, 0, as_text);
            } else {
                json += "[";
                for (int i = 0; i < elements; ++i)
                    json += (i ? ", " : "") + element_json(env, map, key, type, i, as_text);
                json += "]";
            }
        } else if (type == 'c' || type == 'v') {
            json += ", \"elements\": " + std::to_string(elements);
        }
        json += "}";
    }
    return json + "}";
}

void write_frame_props(frame_props_file& props, int n, AVS_ScriptEnvironment* env, const AVS_VideoFrame* frame)
{
    if (!props.file)
        return;
    const long long number = static_cast<long long>(n) + props.first_frame;
    const std::string line = "{\"frame\": " + std::to_string(number) + ", \"properties\": " +
                             frame_properties_json(env, frame) + "}\n";
    props.ok = props.ok && fwrite(line.data(), line.size(), 1, props.file) == 1;
}

void end_frame_props(frame_props_file& props)
{
    if (!props.file)
        return;
    bool ok = props.ok && fflush(props.file) == 0 && !ferror(props.file);
    ok = fclose(props.file) == 0 && ok;
    props.file = nullptr;
    if (!ok)
        diag_print(DIAG_ERROR, "cannot write the frame properties to \"%s\".\n", props.path.c_str());
}
