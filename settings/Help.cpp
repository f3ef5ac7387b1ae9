// The help page, opened in the platform's help viewer; whether it starts is not the user's
// concern here.
#include "settings/Corvane.h"

void LaunchHelp() {
  WCHAR command_line[] = TEXT("\\windows\\corvane.htm#CORVANEHELP");
  PROCESS_INFORMATION started;
  if (CreateProcessW(TEXT("peghelp.exe"), command_line, NULL, NULL, FALSE, 0, NULL, NULL, NULL,
                     &started)) {
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
  }
}
