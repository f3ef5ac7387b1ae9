// The hand-over by a named section, desktop's: each process has an address space of its own, so
// the broker cannot read the proxy's engine in place. At each button-up the proxy copies what the
// broker takes from the engine (the code slots up to the first free one, DownX, DownY,
// GestureAwareTarget, TargetWnd) into a section that both processes map by name, and the
// hand-over message names that copy by its number. The broker reads the copy from its own view
// into an image of the source, which DuplicateGestureData copies from as from the engine itself.
#include <string.h>

#include "gesture/Gestures.h"
#include "gesture/Word.h"

static const WCHAR kSettingsKey[] = TEXT("Software\\Quob\\Gesture");
static const WCHAR kSectionName[] = TEXT("VexoriGestureHandOver");

// The section's layout, the same in 32- and 64-bit processes. Window handles are the same in
// every process and significant in their low 32 bits.
struct HandOverCopy {
  DWORD Size;             // of this record, as the build that last published knows it
  DWORD SourceProcess;    // the published engine's process; 0 for none
  DWORD SourceEngine[2];  // its address there, low and high word: a name, never read through
  DWORD Sequence;         // odd while a copy is written; even, the number of the last copy
  LONG DownX;
  LONG DownY;
  LONG GestureAwareTarget;
  LONG TargetWnd;
  cGesture Slots[kCodeSlots];
};

// This module's view, kept while the module lives: the proxy's to write, the broker's to read.
static HANDLE Section = nullptr;
static HandOverCopy* View = nullptr;

static HandOverCopy* OpenView(bool create) {
  if (View != nullptr) return View;
  HANDLE section = create ? CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                               sizeof(HandOverCopy), kSectionName)
                          : OpenFileMappingW(FILE_MAP_READ, FALSE, kSectionName);
  if (section == nullptr) return nullptr;
  // A view of exactly this size: a section of the name that holds less is not mapped at all.
  void* view = MapViewOfFile(section, create ? FILE_MAP_READ | FILE_MAP_WRITE : FILE_MAP_READ, 0, 0,
                             sizeof(HandOverCopy));
  if (view == nullptr) {
    CloseHandle(section);
    return nullptr;
  }
  Section = section;
  View = static_cast<HandOverCopy*>(view);
  return View;
}

static void EngineName(const void* engine, DWORD* words) {
  unsigned long long address = reinterpret_cast<uintptr_t>(engine);
  words[0] = static_cast<DWORD>(address);
  words[1] = static_cast<DWORD>(address >> 32);
}

bool CreateHandOverKey() {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, 0, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return OpenView(true) != nullptr;
}

bool PublishHandOverSource(Gestures* engine) {
  HandOverCopy* view = OpenView(true);
  if (view == nullptr) return false;
  DWORD name[2];
  EngineName(engine, name);
  StoreWord(view->Size, sizeof(HandOverCopy));
  StoreWord(view->SourceEngine[0], name[0]);
  StoreWord(view->SourceEngine[1], name[1]);
  StoreWord(view->SourceProcess, GetCurrentProcessId());
  return true;
}

bool IsHandOverSource(const void* address) {
  if (address == nullptr || View == nullptr) return false;
  DWORD name[2];
  EngineName(address, name);
  return LoadWord(View->SourceProcess) == GetCurrentProcessId() &&
         LoadWord(View->SourceEngine[0]) == name[0] && LoadWord(View->SourceEngine[1]) == name[1];
}

bool KeepHandOverSource(Gestures* engine) {
  return IsHandOverSource(engine) || PublishHandOverSource(engine);
}

void WithdrawHandOverSource(Gestures* engine) {
  // Another engine's copy is left for its owner: withdrawing it would silence that engine.
  if (IsHandOverSource(engine)) StoreWord(View->SourceProcess, 0);
  // The module goes while its process stays, and its view with it.
  if (View != nullptr) UnmapViewOfFile(View);
  if (Section != nullptr) CloseHandle(Section);
  View = nullptr;
  Section = nullptr;
}

WPARAM HandOverWord() {
  Gestures* engine = LoadWord(CurrentGestures);
  if (engine == nullptr || !IsHandOverSource(engine)) return 0;  // the broker takes no copy
  HandOverCopy* view = View;
  DWORD next = (LoadWord(view->Sequence) & ~1u) + 2;
  if (next == 0) next = 2;  // 0 names no copy
  StoreWord(view->Sequence, next - 1);
  __atomic_thread_fence(__ATOMIC_RELEASE);
  int i = 0;
  for (; i < kCodeSlots && engine->CodeSlots[i].code != kFreeCode; ++i) {
    StoreWord(view->Slots[i].code, engine->CodeSlots[i].code);
    StoreWord(view->Slots[i].length, engine->CodeSlots[i].length);
  }
  for (; i < kCodeSlots; ++i) {
    StoreWord(view->Slots[i].code, kFreeCode);
    StoreWord(view->Slots[i].length, 0);
  }
  StoreWord(view->DownX, LoadWord(engine->DownX));
  StoreWord(view->DownY, LoadWord(engine->DownY));
  StoreWord(view->GestureAwareTarget, LoadWord(engine->GestureAwareTarget) ? 1 : 0);
  HWND target = LoadWord(engine->TargetWnd);
  StoreWord(view->TargetWnd, static_cast<LONG>(reinterpret_cast<LONG_PTR>(target)));
  __atomic_thread_fence(__ATOMIC_RELEASE);
  StoreWord(view->Sequence, next);
  return next;
}

// What the broker copies from: the source's members as the last copy holds them, all else zero.
alignas(Gestures) static unsigned char SourceImage[sizeof(Gestures)];

Gestures* HandedOverSource(WPARAM wParam) {
  // A number that no copy carries (anyone may post the broker a hand-over) opens nothing.
  DWORD number = static_cast<DWORD>(wParam);
  if (number == 0 || (number & 1) != 0 || number != wParam) return nullptr;
  const HandOverCopy* view = OpenView(false);
  if (view == nullptr) return nullptr;
  DWORD sequence = LoadWord(view->Sequence);
  if (LoadWord(view->Size) != sizeof(HandOverCopy) || LoadWord(view->SourceProcess) == 0 ||
      sequence != number) {
    return nullptr;  // another build's section, a withdrawn engine, or a copy written since
  }
  __atomic_thread_fence(__ATOMIC_ACQUIRE);
  memset(SourceImage, 0, sizeof(SourceImage));
  Gestures* source = reinterpret_cast<Gestures*>(SourceImage);
  for (int i = 0; i < kCodeSlots; ++i) {
    source->CodeSlots[i].code = LoadWord(view->Slots[i].code);
    source->CodeSlots[i].length = LoadWord(view->Slots[i].length);
  }
  source->DownX = LoadWord(view->DownX);
  source->DownY = LoadWord(view->DownY);
  source->GestureAwareTarget = LoadWord(view->GestureAwareTarget) != 0;
  source->TargetWnd = reinterpret_cast<HWND>(static_cast<LONG_PTR>(LoadWord(view->TargetWnd)));
  __atomic_thread_fence(__ATOMIC_ACQUIRE);
  // Overtaken while it was read: the next hand-over carries the newer copy.
  return LoadWord(view->Sequence) == sequence ? source : nullptr;
}
