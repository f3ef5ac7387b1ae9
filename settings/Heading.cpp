// The settings dialog's heading, painted where the invisible control 1002 sits, with a line
// under it across the screen.
#include "settings/Corvane.h"

#include "settings/Resources.h"

void PaintHeading(HWND dialog) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(dialog, &ps);
  RECT client;
  GetClientRect(dialog, &client);
  FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));

  // The mark's screen rectangle lies one caption height below the client area's coordinates.
  RECT mark = {};
  GetWindowRect(GetDlgItem(dialog, IDC_HEADING_MARK), &mark);
  int caption = GetSystemMetrics(SM_CYCAPTION);
  SetTextColor(dc, GetSysColor(COLOR_ACTIVECAPTION | SYS_COLOR_INDEX_FLAG));
  ExtTextOutW(dc, mark.left, mark.top - caption, 0, NULL, TEXT("Vexori"), 6, NULL);

  LONG y = mark.top + mark.bottom - 2 * caption - 6;
  POINT line[2] = {{0, y}, {GetSystemMetrics(SM_CXSCREEN), y}};
  Polyline(dc, line, 2);
  EndPaint(dialog, &ps);
}
