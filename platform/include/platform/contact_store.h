// The contact store, reached through its COM object model.
//
// Open it with CoCreateInstance(CLSID_Application, nullptr,
// CLSCTX_INPROC_SERVER, IID_IPOutlookApp, ...) and Logon. The contacts folder
// is default folder 10; its item collection holds the contacts in store
// order, positions 1 to count. Objects are released by whoever got them.
#pragma once

#include "platform/com.h"

inline constexpr CLSID CLSID_Application = {
    0x05058F23, 0x20BE, 0x11D2, {0x8F, 0x18, 0x00, 0x00, 0xF8, 0x7A, 0x43, 0x35}};
inline constexpr IID IID_IPOutlookApp = {
    0x05058F22, 0x20BE, 0x11D2, {0x8F, 0x18, 0x00, 0x00, 0xF8, 0x7A, 0x43, 0x35}};

inline constexpr int olFolderContacts = 10;

// Text properties of a contact, in the store's column order.
#define PLATFORM_CONTACT_TEXT_PROPERTIES(X) \
  X(FirstName)                              \
  X(MiddleName)                             \
  X(LastName)                               \
  X(Title)                                  \
  X(Suffix)                                 \
  X(JobTitle)                               \
  X(CompanyName)                            \
  X(Department)                             \
  X(OfficeLocation)                         \
  X(HomeTelephoneNumber)                    \
  X(BusinessTelephoneNumber)                \
  X(MobileTelephoneNumber)                  \
  X(HomeFaxNumber)                          \
  X(BusinessFaxNumber)                      \
  X(Email1Address)                          \
  X(WebPage)                                \
  X(Body)                                   \
  X(Categories)                             \
  X(HomeAddressStreet)                      \
  X(HomeAddressCity)                        \
  X(HomeAddressState)                       \
  X(HomeAddressPostalCode)                  \
  X(HomeAddressCountry)                     \
  X(BusinessAddressStreet)                  \
  X(BusinessAddressCity)                    \
  X(BusinessAddressState)                   \
  X(BusinessAddressPostalCode)              \
  X(BusinessAddressCountry)                 \
  X(OtherAddressStreet)                     \
  X(OtherAddressCity)                       \
  X(OtherAddressState)                      \
  X(OtherAddressPostalCode)                 \
  X(OtherAddressCountry)

// A contact. Its properties are loaded from the store once, at the first
// get or put, and written back together by Save.
//
// get_<Property> hands out a new BSTR that the caller frees with
// SysFreeString; a property that is not set gives S_OK and null (an empty
// text and no text both mean "not set"). put_<Property> takes a
// zero-terminated UTF-16 text (not necessarily a BSTR) and changes only this
// object until Save.
struct IContact : IDispatch {
#define PLATFORM_DECLARE_TEXT_PROPERTY(Name)   \
  virtual HRESULT get_##Name(BSTR* value) = 0; \
  virtual HRESULT put_##Name(BSTR value) = 0;
  PLATFORM_CONTACT_TEXT_PROPERTIES(PLATFORM_DECLARE_TEXT_PROPERTY)
#undef PLATFORM_DECLARE_TEXT_PROPERTY

  // Automation date; 0.0 means no birthday.
  virtual HRESULT get_Birthday(DATE* value) = 0;
  virtual HRESULT put_Birthday(DATE value) = 0;

  // The store's id, unsigned 32-bit carried in a LONG; 0 until first saved.
  virtual HRESULT get_Oid(LONG* oid) = 0;
  // Stores the contact: a new one gets its Oid and the end position; an
  // existing one has all its properties rewritten. E_FAIL when the contact
  // was deleted meanwhile.
  virtual HRESULT Save() = 0;
  // Removes the contact from the store; the positions after it move down
  // one. E_FAIL for a contact that was never saved or is already gone.
  virtual HRESULT Delete() = 0;

 protected:
  ~IContact() = default;
};

// The items of a folder. The collection keeps a snapshot of the ordered ids,
// so Item and get_Oid cost O(1); the snapshot follows every Save and Delete
// made in this process. Changes by other processes show in collections got
// after them.
struct IPOutlookItemCollection : IDispatch {
  virtual HRESULT get_Count(int* count) = 0;
  // The item at `index`, 1 to count, as an IContact behind an IDispatch
  // pointer; E_INVALIDARG outside that range.
  virtual HRESULT Item(int index, IDispatch** item) = 0;
  // A new, empty contact; it joins the store at its first Save.
  virtual HRESULT Add(IDispatch** item) = 0;

 protected:
  ~IPOutlookItemCollection() = default;
};

struct IFolder : IDispatch {
  virtual HRESULT get_Items(IPOutlookItemCollection** items) = 0;

 protected:
  ~IFolder() = default;
};

struct IPOutlookApp : IDispatch {
  virtual HRESULT Logon(long window) = 0;
  virtual HRESULT Logoff() = 0;
  // Only olFolderContacts exists on this phone; other numbers give
  // E_INVALIDARG. E_FAIL before Logon.
  virtual HRESULT GetDefaultFolder(int folder, IFolder** result) = 0;

 protected:
  ~IPOutlookApp() = default;
};
