// Scroll bars of another process's windows. The phone's window system keeps the scroll bars of
// every window, so GetScrollInfo and SetScrollPos reach a window of any process; Wine keeps them
// in the window's own process and answers only there (GetScrollInfo of another process's window
// fails and leaves the record as it was). So a process whose windows others scroll answers for
// them: DesktopAnswerScrollQueries gives the calling thread a hidden message-only window, named
// by the process's id, that carries out the query of a registered message in its own process.
// The asking thread's query and its answer lie in a small section of the asker's, named by the
// asking thread's id, which the answering process opens for the one query.
#include <windows.h>

#include <stdio.h>
#include <string.h>

namespace {

const WCHAR kAnswerClass[] = L"VexoriScrollBars";
const WCHAR kQueryMessage[] = L"VexoriScrollBarQuery";
const DWORD kAnswerMs = 1000;

enum QueryKind : LONG { kGetInfo = 1, kSetPos = 2 };

struct ScrollQuery {
  DWORD Size;
  LONG Kind;
  LONG Window;  // window handles are the same in every process, significant in 32 bits
  LONG Bar;
  LONG Position;  // kSetPos: the new position
  LONG Redraw;
  SCROLLINFO Info;  // kGetInfo: cbSize and fMask asked, the rest answered
  LONG Result;
};

UINT QueryMessage() {
  static UINT message = RegisterWindowMessageW(kQueryMessage);
  return message;
}

void SectionName(DWORD thread, WCHAR* name, size_t chars) {
  swprintf(name, chars, L"VexoriScrollBars-%lu", static_cast<unsigned long>(thread));
}

HWND WindowOf(LONG handle) {
  return reinterpret_cast<HWND>(static_cast<LONG_PTR>(handle));
}

LONG HandleOf(HWND window) {
  return static_cast<LONG>(reinterpret_cast<LONG_PTR>(window));
}

LRESULT CALLBACK AnswerProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != QueryMessage() || message == 0) {
    return DefWindowProcW(window, message, wParam, lParam);
  }
  WCHAR name[64];
  SectionName(static_cast<DWORD>(wParam), name, 64);
  HANDLE section = OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, name);
  if (section == nullptr) return 0;
  auto* query = static_cast<ScrollQuery*>(
      MapViewOfFile(section, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(ScrollQuery)));
  LRESULT result = 0;
  if (query != nullptr && query->Size == sizeof(ScrollQuery)) {
    HWND target = WindowOf(query->Window);
    DWORD owner = 0;
    GetWindowThreadProcessId(target, &owner);
    // Only for this process's own windows: any other query would come back here.
    if (owner == GetCurrentProcessId()) {
      if (query->Kind == kGetInfo) {
        query->Info.cbSize = sizeof(SCROLLINFO);
        query->Result = GetScrollInfo(target, query->Bar, &query->Info);
      } else if (query->Kind == kSetPos) {
        query->Result = SetScrollPos(target, query->Bar, query->Position, query->Redraw);
      }
      result = 1;
    }
  }
  if (query != nullptr) UnmapViewOfFile(query);
  CloseHandle(section);
  return result;
}

// The asking thread's section, made at its first query and kept for the thread's life.
thread_local ScrollQuery* Query = nullptr;

ScrollQuery* QuerySection() {
  if (Query != nullptr) return Query;
  WCHAR name[64];
  SectionName(GetCurrentThreadId(), name, 64);
  HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      sizeof(ScrollQuery), name);
  if (section == nullptr) return nullptr;
  Query = static_cast<ScrollQuery*>(
      MapViewOfFile(section, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(ScrollQuery)));
  if (Query == nullptr) CloseHandle(section);
  return Query;
}

// The answering window of the process that owns `window`, when that is another process that
// answers.
HWND AnswererOf(HWND window) {
  DWORD owner = 0;
  if (GetWindowThreadProcessId(window, &owner) == 0 || owner == GetCurrentProcessId()) {
    return nullptr;
  }
  WCHAR name[16];
  swprintf(name, 16, L"%lu", static_cast<unsigned long>(owner));
  return FindWindowExW(HWND_MESSAGE, nullptr, kAnswerClass, name);
}

// Asks the answerer to carry the query out; false when it did not.
bool Ask(HWND answerer, ScrollQuery* query) {
  query->Size = sizeof(ScrollQuery);
  DWORD_PTR answered = 0;
  return SendMessageTimeoutW(answerer, QueryMessage(), GetCurrentThreadId(), 0,
                             SMTO_BLOCK | SMTO_ABORTIFHUNG, kAnswerMs, &answered) != 0 &&
         answered == 1;
}

}  // namespace

extern "C" BOOL WINAPI DesktopAnswerScrollQueries(void) {
  static thread_local HWND answerer = nullptr;
  if (answerer != nullptr) return TRUE;
  HINSTANCE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(&AnswerProcedure), &module);
  WNDCLASSW wc = {};
  wc.lpfnWndProc = AnswerProcedure;
  wc.hInstance = module;
  wc.lpszClassName = kAnswerClass;
  RegisterClassW(&wc);  // fails harmlessly for a second thread of the process
  WCHAR name[16];
  swprintf(name, 16, L"%lu", static_cast<unsigned long>(GetCurrentProcessId()));
  answerer =
      CreateWindowExW(0, kAnswerClass, name, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module, nullptr);
  return answerer != nullptr;
}

extern "C" BOOL WINAPI DesktopGetScrollInfo(HWND window, int bar, LPSCROLLINFO info) {
  HWND answerer = AnswererOf(window);
  ScrollQuery* query = answerer != nullptr ? QuerySection() : nullptr;
  if (query == nullptr || info == nullptr) return GetScrollInfo(window, bar, info);
  query->Kind = kGetInfo;
  query->Window = HandleOf(window);
  query->Bar = bar;
  query->Info = *info;
  query->Result = 0;
  if (!Ask(answerer, query)) return GetScrollInfo(window, bar, info);
  // What the caller asked for and no more, in the record the caller sized.
  UINT asked = info->fMask;
  if (asked & SIF_RANGE) {
    info->nMin = query->Info.nMin;
    info->nMax = query->Info.nMax;
  }
  if (asked & SIF_PAGE) info->nPage = query->Info.nPage;
  if (asked & SIF_POS) info->nPos = query->Info.nPos;
  if (asked & SIF_TRACKPOS) info->nTrackPos = query->Info.nTrackPos;
  return query->Result;
}

extern "C" int WINAPI DesktopSetScrollPos(HWND window, int bar, int position, BOOL redraw) {
  HWND answerer = AnswererOf(window);
  ScrollQuery* query = answerer != nullptr ? QuerySection() : nullptr;
  if (query == nullptr) return SetScrollPos(window, bar, position, redraw);
  query->Kind = kSetPos;
  query->Window = HandleOf(window);
  query->Bar = bar;
  query->Position = position;
  query->Redraw = redraw;
  query->Result = 0;
  if (!Ask(answerer, query)) return SetScrollPos(window, bar, position, redraw);
  return query->Result;
}
