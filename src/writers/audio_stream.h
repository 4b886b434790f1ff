#pragma once

#include "frameserver/avs_c.h"

// Writes the clip's whole audio track to standard output as a WAV stream;
// returns only when every sample frame has reached the output.
void write_audio(AVS_Clip* clip);
