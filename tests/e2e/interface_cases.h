// What the tool does where the frame server's property functions do not
// work (AviSynth+ 3.6.0 to 3.7.0, interface version 8): cases both the
// stand-in, playing that version, and such a real AviSynth+ must pass.
#pragma once

#include "harness.h"

// The line such a frame server gets, at this interface version.
std::string no_properties_note(int interface_version);

// Every mode on a script that sets frame properties: status 0, never a
// signal, the note where properties would shape the output, and nothing
// taken from them.
void check_without_working_properties(const run_options& options, int interface_version);
