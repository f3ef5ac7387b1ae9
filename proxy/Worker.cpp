#include "proxy/Worker.h"

#include "gesture/PathLength.h"
#include "gesture/Word.h"
#include "proxy/Driver.h"

BrokerLink Broker = {nullptr, nullptr, 0, false};

static const WCHAR kBrokerClass[] = TEXT("MSGBROKER");
static const WCHAR kScrollStateEventName[] = TEXT("InGestureScrolling");

HWND FindBroker() {
  HWND broker = LoadWord(Broker.BrokerWnd);
  if (broker == nullptr) {
    broker = FindWindowW(kBrokerClass, nullptr);
    StoreWord(Broker.BrokerWnd, broker);
  }
  return broker;
}

DWORD WINAPI WorkerRoutine(LPVOID) {
  MSG msg;
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
  if (LoadWord(Broker.BrokerWnd) == nullptr) {
    HWND broker = FindBroker();
    if (broker != nullptr && Driver.ProxyEngine != nullptr)
      Driver.ProxyEngine->SetMsgBroker(broker);
    if (broker == nullptr) return LoadWord(Broker.LastScrolling);
  }
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
