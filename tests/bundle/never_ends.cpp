// A cleanup.exe that never ends: the bundle, stopped while it waits for one, leaves what the case
// made for the next run to put back.
#include <windows.h>

int main() { Sleep(INFINITE); }
