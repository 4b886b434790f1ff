// A library with the frame server's file name that announces itself when
// loaded. Tests plant it in the current folder, where the tool must never
// look for the frame server.

#if defined(_WIN32)
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        static const char text[] = "planted frame-server library was loaded\n";
        DWORD written;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, sizeof text - 1, &written, nullptr);
    }
    return TRUE;
}
#else
#include <unistd.h>

__attribute__((constructor)) static void announce()
{
    static const char text[] = "planted frame-server library was loaded\n";
    ssize_t ignored = write(2, text, sizeof text - 1);
    (void)ignored;
}
#endif
