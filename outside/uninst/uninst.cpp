// Uninst.exe: the product family's total uninstaller, started by a game's
// uninstaller with "/silence /no_pop" when the last game goes. The removal
// itself belongs to the uninstall flow and is not built yet: until then this
// program changes nothing and says so through its exit code, so a caller that
// checks it never mistakes a run for a completed removal.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, wchar_t*, int) { return ERROR_CALL_NOT_IMPLEMENTED; }
