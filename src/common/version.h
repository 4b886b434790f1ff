#pragma once

// The tool's version, as --version prints it and its streams name their
// writer.
constexpr const char* CLIPSPOUT_VERSION = "0.3.0";
