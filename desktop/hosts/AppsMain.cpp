// apps.exe: the scenario's applications in a process of their own, until the event
// "VexoriSceneEnd" is set or --timeout ms have passed.
//   apps.exe SCENARIO [--timeout MS]
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "Apps.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: apps.exe SCENARIO [--timeout MS]\n");
    return 2;
  }
  DWORD timeout = 60000;
  for (int i = 2; i + 1 < argc; ++i) {
    if (!strcmp(argv[i], "--timeout")) timeout = strtoul(argv[i + 1], nullptr, 10);
  }
  if (!StartApps(argv[1], timeout)) return 3;
  HANDLE end = CreateEventW(nullptr, TRUE, FALSE, L"VexoriSceneEnd");
  WaitForSingleObject(end, timeout);
  EndApps();
  return 0;
}
