// The device's sections: memory that processes share by name, the views that map it, and where
// a pointer mapped for other processes leads under desktop address spaces.
#include <gtest/gtest.h>

#include <string.h>

#include "support/DeviceFixture.h"
#include "support/PageFault.h"

namespace {

class DeviceSectionsTest : public vt::DeviceTest {
 protected:
  void SetUp() override {
    vt::BootOptions options;
    options.install = false;
    Boot(options);
  }
};

TEST_F(DeviceSectionsTest, ProcessesShareANamedSectionWhileAHandleOrAViewHoldsIt) {
  HANDLE made =
      CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 100, u"Shared");
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  auto* mine = static_cast<char*>(MapViewOfFile(made, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 100));
  ASSERT_NE(mine, nullptr);
  EXPECT_EQ(mine[99], 0) << "made zeroed";
  strcpy(mine, "written by the host");

  device->as_process("device.exe", [&] {
    // The same name again is the same section, whatever size is asked for.
    HANDLE again =
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, u"Shared");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(MapViewOfFile(again, FILE_MAP_READ, 0, 0, 101), nullptr) << "more than it holds";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseHandle(again);
    HANDLE opened = OpenFileMappingW(FILE_MAP_READ, FALSE, u"Shared");
    ASSERT_NE(opened, nullptr);
    auto* theirs = static_cast<const char*>(MapViewOfFile(opened, FILE_MAP_READ, 0, 0, 0));
    ASSERT_NE(theirs, nullptr);
    EXPECT_STREQ(theirs, "written by the host");
    EXPECT_TRUE(UnmapViewOfFile(theirs));
    EXPECT_FALSE(UnmapViewOfFile(theirs)) << "unmapped already";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ADDRESS));
    CloseHandle(opened);
  });
  EXPECT_EQ(Log("bad-view").size(), 1u);
  auto sections = Log("section");
  ASSERT_EQ(sections.size(), 3u);
  EXPECT_EQ(sections[0].str("existed"), "false");
  EXPECT_EQ(sections[1].process, "device.exe");
  EXPECT_EQ(sections[1].num("size"), 100);

  // Its handle closed, the section lives on in its view; with the view gone, the name is free.
  CloseHandle(made);
  HANDLE held = OpenFileMappingW(FILE_MAP_READ, FALSE, u"Shared");
  EXPECT_NE(held, nullptr);
  CloseHandle(held);
  EXPECT_TRUE(UnmapViewOfFile(mine));
  EXPECT_EQ(OpenFileMappingW(FILE_MAP_READ, FALSE, u"Shared"), nullptr);
}

TEST_F(DeviceSectionsTest, WhatASectionCannotBe) {
  EXPECT_EQ(OpenFileMappingW(FILE_MAP_READ, FALSE, u"Nobody"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0, u"Empty"),
            nullptr)
      << "no size";
  EXPECT_EQ(
      CreateFileMappingW(reinterpret_cast<HANDLE>(0x10), nullptr, PAGE_READWRITE, 0, 8, nullptr),
      nullptr)
      << "the device has no files";
  EXPECT_EQ(Log("bad-handle").size(), 1u);
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, u"Taken");
  EXPECT_EQ(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8, u"Taken"),
            nullptr)
      << "an event's name";
  CloseHandle(event);

  HANDLE fixed =
      CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READONLY, 0, 0x20000, nullptr);
  ASSERT_NE(fixed, nullptr);
  EXPECT_EQ(MapViewOfFile(fixed, FILE_MAP_WRITE, 0, 0, 0), nullptr) << "written through";
  EXPECT_EQ(MapViewOfFile(fixed, FILE_MAP_READ, 0, 4096, 0), nullptr) << "between granules";
  EXPECT_NE(MapViewOfFile(fixed, FILE_MAP_READ, 0, 0x10000, 0x10000), nullptr);
  EXPECT_EQ(MapViewOfFile(event, FILE_MAP_READ, 0, 0, 0), nullptr) << "a closed handle";
  CloseHandle(fixed);
}

// A pointer mapped for other processes is the pointer itself on the phone; under desktop address
// spaces it leads where nothing is mapped.
TEST_F(DeviceSectionsTest, MappedPointersLeadNowhereUnderDesktopAddressSpaces) {
  int word = 7;
  EXPECT_EQ(MapPtrToProcess(&word, GetCurrentProcess()), &word);
  vt::BootOptions options;
  options.install = false;
  options.desktop_address_spaces = true;
  Boot(options);
  void* mapped = MapPtrToProcess(&word, GetCurrentProcess());
  ASSERT_NE(mapped, nullptr);
  EXPECT_NE(mapped, &word);
  EXPECT_EQ(MapPtrToProcess(&word, GetCurrentProcess()), mapped) << "the same every time";
  EXPECT_PAGE_FAULT({
    volatile int* through = static_cast<int*>(mapped);
    (void)*through;
  });
}

}  // namespace
