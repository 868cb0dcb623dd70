/* A host written in plain C against the public header: it loads libmz.so
 * (argv[1]) with dlopen, as hosts do, binds every export to a pointer of its
 * prototype's type, registers a callback, opens a session and works on the
 * device $PHONE_DEVICE_DIR names. By MODE (argv[2]):
 *
 *   calls      calls every export once and checks its result;
 *   exit       returns from main with the session open;
 *   unload     closes the library with the session open, checks that the
 *              phone platform stayed mapped (its notifier thread may still
 *              run), then opens a second session as below;
 *   reload     MZ_Done and dlclose, then a second session: the library
 *              loaded again, a callback registered and a message delivered
 *              by phonectl (argv[3]) in a process of its own. Sinks are
 *              called in the order they were advised, so a registration
 *              left by the first load would be called before the second's,
 *              crashing into the unloaded code or calling a callback twice
 *              or the first one at all.
 *
 * Exit status 0 when every step worked; the process must also end cleanly
 * (tests/e2e/unload_test.cc runs it). Links nothing but libdl. */
#include <dlfcn.h>
#include <mz/mz.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

/* Every export; p_NAME: a pointer of the type of NAME's prototype. */
#define EXPORTS(X)               \
  X(MZ_Init);                    \
  X(MZ_Done);                    \
  X(MZ_RegisterCallback);        \
  X(MZ_GetContactsCount);        \
  X(MZ_GetContactInfo);          \
  X(MZ_WriteContact);            \
  X(MZ_AddContact);              \
  X(MZ_DeleteContact);           \
  X(MZ_DeleteAllContacts);       \
  X(MZ_GetMessagesCount);        \
  X(MZ_StartGetMessage);         \
  X(MZ_GetMessageInfo);          \
  X(MZ_DeleteMessage);           \
  X(MZ_DeleteAllMessages);       \
  X(MZ_SendMessage);             \
  X(MZ_GetSoundDirectoriesList); \
  X(MZ_SetTelRingtone);          \
  X(MZ_SetSMSRingtone);          \
  X(MZ_SetTheme)
#define DECLARE(name) static __typeof__(name)* p_##name
EXPORTS(DECLARE);

static int failures = 0;

#define CHECK(condition)                                              \
  do {                                                                \
    if (!(condition)) {                                               \
      fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #condition); \
      ++failures;                                                     \
    }                                                                 \
  } while (0)

/* Resolves `name` into `*pointer` (a function pointer's place). */
static int Resolve(void* library, const char* name, void* pointer) {
  void* symbol = dlsym(library, name);
  memcpy(pointer, &symbol, sizeof symbol);
  return symbol != NULL;
}

#define RESOLVE(name) ok = Resolve(library, #name, &p_##name) && ok

/* The records each callback received. */
static atomic_int first, second;

static void First(MessageRecord* record) {
  ++first;
  free(record);
}

static void Second(MessageRecord* record) {
  ++second;
  free(record);
}

/* Loads the library, binds every export, registers `callback` and opens a
 * session; null on failure. */
static void* OpenSession(const char* path, MessageCallback callback) {
  int ok = 1;
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (library == NULL) return NULL;
  EXPORTS(RESOLVE);
  if (!ok) return NULL;
  CHECK(p_MZ_RegisterCallback(callback) == MZ_CALLBACK_STORED);
  return p_MZ_Init() == MZ_OK ? library : NULL;
}

/* The second session of "unload" and "reload"; a message that never comes
 * is the test runner's timeout. */
static void SecondSession(const char* path, const char* phonectl) {
  const struct timespec pause = {0, 10000000};
  char command[4096];
  void* library = OpenSession(path, &Second);
  CHECK(library != NULL);
  if (library == NULL) return;
  snprintf(command, sizeof command, "'%s' --device \"$PHONE_DEVICE_DIR\" receive +15550123 hi",
           phonectl);
  CHECK(system(command) == 0);
  while (second == 0) nanosleep(&pause, NULL);
  p_MZ_Done();
  CHECK(first == 0 && second == 1);
  CHECK(dlclose(library) == 0);
}

/* ASCII text as UTF-16LE at `out`; the number of bytes written. */
static size_t Utf16(unsigned char* out, const char* text) {
  size_t i;
  for (i = 0; text[i] != '\0'; ++i) out[2 * i] = (unsigned char)text[i];
  return 2 * i;
}

/* Every export once, on the fresh phone: no contacts, two Inbox messages and
 * the system folder's Ring1.wav. */
static void CallEveryExport(void* library) {
  static const char card[] = "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Doe;John\r\nEND:VCARD\r\n";
  static const char update[] = "BEGIN:VCARD\r\nVERSION:2.1\r\nTEL;CELL:12\r\nEND:VCARD\r\n";
  ContactTransfer contact, out;
  MessageRecord record;
  char id[MZ_NEW_ID_SIZE];
  int32_t contacts = -1;
  uint32_t messages = 0, size = 0;
  void* block = NULL;
  unsigned char list[MZ_SOUND_LIST_INPUT_SIZE] = {0, 0, 0, 0, 1};
  unsigned char tel[MZ_TEL_RINGTONE_INPUT_SIZE] = {0};
  unsigned char sms[64] = {16}, theme[4] = {0};
  void* (*localFree)(void*) = NULL;

  memset(&contact, 0, sizeof contact);
  memcpy(contact.vcard, card, sizeof card);
  CHECK(p_MZ_AddContact(&contact, id, sizeof id) == MZ_OK);
  memcpy(contact.vcard, update, sizeof update);
  memcpy(contact.contactId, id, strlen(id) + 1);
  CHECK(p_MZ_WriteContact(&contact) == MZ_OK);
  CHECK(p_MZ_GetContactsCount(&contacts) == MZ_OK && contacts == 1);
  CHECK(p_MZ_GetContactInfo(1, &out) == MZ_OK && strstr(out.vcard, "\r\nTEL;CELL:12\r\n") != NULL &&
        strcmp(out.contactId, id) == 0);
  CHECK(p_MZ_DeleteContact(id) == MZ_OK);
  CHECK(p_MZ_DeleteAllContacts() == MZ_E_NO_CONTACT);

  CHECK(p_MZ_GetMessagesCount(MZ_FOLDER_INBOX, &messages) == MZ_OK && messages == 2);
  CHECK(p_MZ_StartGetMessage(MZ_FOLDER_INBOX) == MZ_OK);
  memset(&record, 0, sizeof record);
  CHECK(p_MZ_GetMessageInfo(MZ_FOLDER_INBOX, &record) == MZ_OK && record.folder == 0);
  CHECK(p_MZ_DeleteMessage(MZ_FOLDER_INBOX, record.entryIdHex) == MZ_OK);
  CHECK(p_MZ_DeleteAllMessages(MZ_FOLDER_INBOX) == MZ_OK);
  CHECK(p_MZ_GetMessagesCount(MZ_FOLDER_INBOX, &messages) == MZ_OK && messages == 0);
  CHECK(p_MZ_SendMessage("+15550123", "hi") == MZ_OK);

  /* The block is released with the phone's LocalFree, which the library's
   * own dependency provides. */
  CHECK(Resolve(library, "LocalFree", &localFree));
  CHECK(p_MZ_GetSoundDirectoriesList(0, list, &size, &block) == 0 && size == 524 && block);
  if (localFree != NULL) localFree(block);
  Utf16(tel + 4, "\\Windows\\Ring1.wav");
  tel[4 + 1040] = 1; /* a file sound */
  CHECK(p_MZ_SetTelRingtone(0, tel) == 0);
  sms[4 + Utf16(sms + 4, "\\Windows")] = 18;
  Utf16(sms + 4 + 16 + 4, "Ring1.wav");
  CHECK(p_MZ_SetSMSRingtone(0, sms) == 0);
  CHECK(p_MZ_SetTheme(0, theme) == 0);
}

int main(int argc, char** argv) {
  const char* mode = argc == 4 ? argv[2] : "";
  void* library = argc == 4 ? OpenSession(argv[1], &First) : NULL;
  if (library == NULL) {
    fprintf(stderr, "header_c_test: no session (%s)\n", argc == 4 ? argv[1] : "usage");
    return 1;
  }
  if (strcmp(mode, "calls") == 0) {
    CallEveryExport(library);
    p_MZ_Done();
  } else if (strcmp(mode, "unload") == 0) {
    CHECK(dlclose(library) == 0);
    /* Loaded only as the library's dependency, the platform stays. */
    CHECK(dlopen(PLATFORM_SONAME, RTLD_NOW | RTLD_NOLOAD) != NULL);
    SecondSession(argv[1], argv[3]);
  } else if (strcmp(mode, "reload") == 0) {
    p_MZ_Done();
    CHECK(dlclose(library) == 0);
    SecondSession(argv[1], argv[3]);
  } else {
    CHECK(strcmp(mode, "exit") == 0);
  }
  return failures == 0 ? 0 : 1;
}
