// Entry of the stand-in runtime modules (libcef.dll, pepflashplayer.dll and the
// engine resource files). They are loaded only to be present and versioned;
// their content is the version block and, for the resource files, the payload.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
