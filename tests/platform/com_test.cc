// COM runtime, automation strings, local memory and fault injection.
#include <gtest/gtest.h>

#include <cstring>

#include "device_fixture.h"
#include "platform/com.h"
#include "platform/contact_store.h"
#include "platform/emulator.h"
#include "platform/system.h"

namespace {

using ComTest = DeviceTest;

TEST_F(ComTest, InitialisationIsCountedPerThread) {
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
  CoUninitialize();
  CoUninitialize();
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(
      CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER, IID_IPOutlookApp, &object),
      CO_E_NOTINITIALIZED);
  EXPECT_EQ(object, nullptr);
}

TEST_F(ComTest, CreateInstanceRefusesWhatTheRegistryDoesNotOffer) {
  ASSERT_EQ(CoInitializeEx(nullptr, 0), S_OK);
  const GUID unknown = {0x12345678, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
  struct Case {
    const CLSID& clsid;
    IUnknown* outer;
    DWORD context;
    const IID& iid;
    HRESULT expected;
  } cases[] = {
      {unknown, nullptr, CLSCTX_INPROC_SERVER, IID_IPOutlookApp, REGDB_E_CLASSNOTREG},
      {CLSID_Application, nullptr, 0x4 /* local server */, IID_IPOutlookApp, REGDB_E_CLASSNOTREG},
      {CLSID_Application, reinterpret_cast<IUnknown*>(8), CLSCTX_INPROC_SERVER, IID_IPOutlookApp,
       CLASS_E_NOAGGREGATION},
      {CLSID_Application, nullptr, CLSCTX_INPROC_SERVER, unknown, E_NOINTERFACE},
  };
  for (const auto& c : cases) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(CoCreateInstance(c.clsid, c.outer, c.context, c.iid, &object), c.expected);
    EXPECT_EQ(object, nullptr);
  }
  CoUninitialize();
}

TEST_F(ComTest, StringKeepsItsByteLengthAndTerminator) {
  BSTR text = SysAllocStringByteLen("abcde", 5);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(SysStringByteLen(text), 5u);
  EXPECT_EQ(SysStringLen(text), 2u);
  EXPECT_EQ(std::memcmp(text, "abcde\0\0", 7), 0);
  SysFreeString(text);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
}

// The fixture's leak check relies on this count.
TEST_F(ComTest, BuffersAreCountedUntilFreed) {
  const long before = emulator::OutstandingBuffers();
  BSTR text = SysAllocString(u"x");
  HLOCAL block = LocalAlloc(LPTR, 16);
  EXPECT_EQ(emulator::OutstandingBuffers(), before + 2);
  EXPECT_EQ(static_cast<unsigned char*>(block)[15], 0);
  SysFreeString(text);
  EXPECT_EQ(LocalFree(block), nullptr);
  EXPECT_EQ(emulator::OutstandingBuffers(), before);
  int not_a_block = 0;
  EXPECT_EQ(LocalFree(&not_a_block), &not_a_block);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(InterlockedTest, ReturnsTheNewValue) {
  LONG volatile value = 1;
  EXPECT_EQ(InterlockedIncrement(&value), 2);
  EXPECT_EQ(InterlockedDecrement(&value), 1);
}

}  // namespace
