/* A small DLL to sign in various ways; its content does not matter. */
#include <windows.h>

__declspec(dllexport) int SigFixtureAnswer(void) { return 42; }
