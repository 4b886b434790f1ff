// Helpers the platform files share, for them alone.
#pragma once

#ifdef _WIN32
#include <string>

// Text in UTF-8.
std::string to_utf8(const wchar_t* text);

// Argument index of the wide command line, as the user typed it.
std::wstring wide_argument(int index);
#endif
