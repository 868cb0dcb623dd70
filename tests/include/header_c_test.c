/* The public header compiled as plain C: layouts the host reads by offset,
 * and the export prototypes' types (checked without linking the library). */
#include <mz/mz.h>
#include <stddef.h>
#include <stdio.h>

static int failures = 0;

#define CHECK_EQ(actual, expected)                                                              \
  do {                                                                                          \
    if ((size_t)(actual) != (size_t)(expected)) {                                               \
      printf("%s:%d: %s is %zu, expected %zu\n", __FILE__, __LINE__, #actual, (size_t)(actual), \
             (size_t)(expected));                                                               \
      ++failures;                                                                               \
    }                                                                                           \
  } while (0)

/* 1 when `fn` has exactly the type `type`; the operand is not evaluated, so
 * nothing is linked. */
#define HAS_TYPE(fn, type) _Generic(&(fn), type : 1, default : 0)

int main(void) {
  CHECK_EQ(sizeof(ContactTransfer), 1039);
  CHECK_EQ(offsetof(ContactTransfer, header), 0);
  CHECK_EQ(offsetof(ContactTransfer, vcard), 4);
  CHECK_EQ(sizeof(((ContactTransfer*)0)->vcard), 1024);
  CHECK_EQ(offsetof(ContactTransfer, contactId), 1028);

  CHECK_EQ(sizeof(MessageRecord), 1260);
  CHECK_EQ(offsetof(MessageRecord, recordSize), 0);
  CHECK_EQ(offsetof(MessageRecord, text), 4);
  CHECK_EQ(offsetof(MessageRecord, entryIdHex), 1028);
  CHECK_EQ(offsetof(MessageRecord, address), 1092);
  CHECK_EQ(offsetof(MessageRecord, timeText), 1133);
  CHECK_EQ(offsetof(MessageRecord, folder), 1172);
  CHECK_EQ(offsetof(MessageRecord, reserved), 1174);
  CHECK_EQ(sizeof(((MessageRecord*)0)->reserved), 86);
  CHECK_EQ(sizeof(MessageFolder), 4);

  CHECK_EQ(MZ_FOLDER_INBOX, 0);
  CHECK_EQ(MZ_FOLDER_DELETED, 4);
  CHECK_EQ(MZ_E_NO_MORE, -9);

  CHECK_EQ(HAS_TYPE(MZ_Init, int32_t(*)(void)), 1);
  CHECK_EQ(HAS_TYPE(MZ_Done, void (*)(void)), 1);
  CHECK_EQ(HAS_TYPE(MZ_RegisterCallback, int32_t(*)(MessageCallback)), 1);
  CHECK_EQ(HAS_TYPE(MZ_GetContactsCount, int32_t(*)(int32_t*)), 1);
  CHECK_EQ(HAS_TYPE(MZ_GetContactInfo, int32_t(*)(int32_t, ContactTransfer*)), 1);
  CHECK_EQ(HAS_TYPE(MZ_WriteContact, int32_t(*)(const ContactTransfer*)), 1);
  CHECK_EQ(HAS_TYPE(MZ_AddContact, int32_t(*)(const ContactTransfer*, char*, uint32_t)), 1);
  CHECK_EQ(HAS_TYPE(MZ_DeleteContact, int32_t(*)(const char*)), 1);
  CHECK_EQ(HAS_TYPE(MZ_DeleteAllContacts, int32_t(*)(void)), 1);
  CHECK_EQ(HAS_TYPE(MZ_GetMessagesCount, int32_t(*)(MessageFolder, uint32_t*)), 1);
  CHECK_EQ(HAS_TYPE(MZ_StartGetMessage, int32_t(*)(MessageFolder)), 1);
  CHECK_EQ(HAS_TYPE(MZ_GetMessageInfo, int32_t(*)(MessageFolder, MessageRecord*)), 1);
  CHECK_EQ(HAS_TYPE(MZ_DeleteMessage, int32_t(*)(MessageFolder, const char*)), 1);
  CHECK_EQ(HAS_TYPE(MZ_DeleteAllMessages, int32_t(*)(MessageFolder)), 1);
  CHECK_EQ(HAS_TYPE(MZ_SendMessage, int32_t(*)(const char*, const char*)), 1);
  CHECK_EQ(
      HAS_TYPE(MZ_GetSoundDirectoriesList, int32_t(*)(uint32_t, const void*, uint32_t*, void**)),
      1);
  CHECK_EQ(HAS_TYPE(MZ_SetTelRingtone, int32_t(*)(uint32_t, const void*)), 1);
  CHECK_EQ(HAS_TYPE(MZ_SetSMSRingtone, int32_t(*)(uint32_t, const void*)), 1);
  CHECK_EQ(HAS_TYPE(MZ_SetTheme, int32_t(*)(uint32_t, const void*)), 1);

  printf("%d passed, %d failed\n", failures ? 0 : 1, failures ? 1 : 0);
  return failures ? 1 : 0;
}
