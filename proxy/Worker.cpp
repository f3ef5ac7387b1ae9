#include "proxy/Worker.h"

#include "gesture/Word.h"
#include "proxy/Driver.h"

BrokerLink Broker = {nullptr, nullptr, 0, false};

static const WCHAR kBrokerClass[] = TEXT("MSGBROKER");
static const WCHAR kScrollStateEventName[] = TEXT("InGestureScrolling");

HWND FindBroker() {
  HWND broker = LoadWord(Broker.BrokerWnd);
  // A broker whose driver was deinitialised has destroyed its window: it is looked for afresh.
  if (broker != nullptr && !IsWindow(broker)) broker = nullptr;
  if (broker == nullptr) {
    broker = FindWindowW(kBrokerClass, nullptr);
    StoreWord(Broker.BrokerWnd, broker);
    // Whoever finds it first gives it to the engine too, whose button-down resets the broker.
    if (broker != nullptr && Driver.ProxyEngine != nullptr)
      Driver.ProxyEngine->SetMsgBroker(broker);
  }
  return broker;
}

DWORD WINAPI WorkerRoutine(LPVOID ready) {
  MSG msg;
  // The queue exists from the first message call on; whoever waits for it may post from now.
  PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
  if (ready != nullptr) SetEvent(static_cast<HANDLE>(ready));
  while (GetMessageW(&msg, nullptr, 0, 0)) {
    // Every message here is a gesture sample; its number is not looked at.
    HWND broker = FindBroker();
    if (broker == nullptr) {
      NKDbgPrintfW(TEXT("Cannot find MsgBroker Window!\r\n"));
      continue;
    }
    UINT message = static_cast<UINT>(msg.wParam);
    Driver.ProxyEngine->ProcessMouseMsg(message, message, static_cast<LONG>(msg.lParam), broker);
  }
  return 1;
}

bool BrokerIsScrolling() {
  if (FindBroker() == nullptr) return LoadWord(Broker.LastScrolling);
  DWORD data = LoadWord(Broker.LastEventData);
  if (Broker.ScrollEvent == nullptr) {
    Broker.ScrollEvent = CreateEventW(nullptr, TRUE, FALSE, kScrollStateEventName);
  }
  if (Broker.ScrollEvent != nullptr) {
    data = GetEventData(Broker.ScrollEvent);
    StoreWord(Broker.LastEventData, data);
  }
  bool scrolling = data == kScrollStateRunning;
  StoreWord(Broker.LastScrolling, scrolling);
  return scrolling;
}
