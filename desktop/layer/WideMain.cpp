// The desktop entry point of a phone program: the phone's WinMain takes the command line wide.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show) {
  return PhoneWinMain(instance, previous, commandLine, show);
}
