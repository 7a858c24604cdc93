// Keeps the wineserver of a test prefix warm: while one Wine process lives, later Wine starts
// cost milliseconds instead of half a second. The scripts start it with its output on
// /dev/null and end it with "wineserver -k"; it also ends by itself after the given number of
// seconds (default one hour) so that a forgotten keeper cannot live for ever.

#include <windows.h>

#include <cwchar>
#include <cstdlib>

int wmain(int argc, wchar_t** argv) {
  unsigned long seconds = 3600;
  if (argc > 1) seconds = wcstoul(argv[1], nullptr, 10);
  Sleep(seconds * 1000);
  return 0;
}
