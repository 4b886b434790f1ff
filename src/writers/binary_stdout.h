// Standard output as the carrier of a binary stream.
#pragma once

// Switches standard output to untranslated mode with a large buffer, or
// ends the process with an error before any byte is written.
void begin_binary_stdout();

// Pushes every buffered byte out; false if any write so far has failed.
bool flush_stdout();
