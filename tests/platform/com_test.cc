// COM runtime, automation strings, local memory and fault injection.
#include <gtest/gtest.h>

#include <cstring>

#include "device_fixture.h"
#include "platform/com.h"
#include "platform/contact_store.h"
#include "platform/emulator.h"
#include "platform/system.h"

namespace {

class ComTest : public DeviceTest {};

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
  const CLSID unknown = {0x12345678, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
  struct Case {
    const CLSID* clsid;
    IUnknown* outer;
    DWORD context;
    HRESULT expected;
  } cases[] = {
      {&unknown, nullptr, CLSCTX_INPROC_SERVER, REGDB_E_CLASSNOTREG},
      {&CLSID_Application, nullptr, 0x4 /* local server */, REGDB_E_CLASSNOTREG},
      {&CLSID_Application, reinterpret_cast<IUnknown*>(8), CLSCTX_INPROC_SERVER,
       CLASS_E_NOAGGREGATION},
  };
  for (const auto& c : cases) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(CoCreateInstance(*c.clsid, c.outer, c.context, IID_IPOutlookApp, &object),
              c.expected);
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

  BSTR zeros = SysAllocStringByteLen(nullptr, 4);
  ASSERT_NE(zeros, nullptr);
  EXPECT_EQ(zeros[0], 0);
  EXPECT_EQ(zeros[1], 0);
  SysFreeString(zeros);

  BSTR copy = SysAllocString(u"h\u00e9llo");
  EXPECT_EQ(SysStringLen(copy), 5u);
  EXPECT_EQ(std::u16string(copy), u"h\u00e9llo");
  SysFreeString(copy);

  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  SysFreeString(nullptr);
}

TEST_F(ComTest, BuffersAreCountedUntilFreed) {
  long before = emulator::OutstandingBuffers();
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

TEST_F(ComTest, FaultStrikesTheChosenCallOnly) {
  emulator::InjectFault("LocalAlloc", 2, 0);
  HLOCAL first = LocalAlloc(LPTR, 4);
  HLOCAL second = LocalAlloc(LPTR, 4);
  HLOCAL third = LocalAlloc(LPTR, 4);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_NE(third, nullptr);
  EXPECT_EQ(emulator::CallCount("LocalAlloc"), 3);
  LocalFree(first);
  LocalFree(third);
}

TEST_F(ComTest, PersistentFaultStrikesFromTheChosenCallOn) {
  emulator::InjectFault("alloc", 2, 0, /*persistent=*/true);
  BSTR a = SysAllocString(u"a");
  EXPECT_NE(a, nullptr);
  EXPECT_EQ(SysAllocString(u"b"), nullptr);
  EXPECT_EQ(LocalAlloc(LPTR, 1), nullptr);
  emulator::ClearFaults();
  HLOCAL block = LocalAlloc(LPTR, 1);
  EXPECT_NE(block, nullptr);
  SysFreeString(a);
  LocalFree(block);
}

TEST_F(ComTest, TraceListsFaultPointsInOrder) {
  emulator::StartTrace();
  LocalFree(LocalAlloc(0, 1));
  BSTR text = SysAllocString(u"t");
  SysFreeString(text);
  EXPECT_EQ(emulator::StopTrace(),
            (std::vector<std::string>{"LocalAlloc", "alloc", "SysAllocStringByteLen", "alloc"}));
}

TEST(InterlockedTest, ReturnsTheNewValue) {
  LONG volatile value = 1;
  EXPECT_EQ(InterlockedIncrement(&value), 2);
  EXPECT_EQ(InterlockedIncrement(&value), 3);
  EXPECT_EQ(InterlockedDecrement(&value), 2);
}

}  // namespace
