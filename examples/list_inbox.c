/* Prints the phone's SMS Inbox: list_inbox [path/to/libmz.so] */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include "mz/mz.h"

typedef int32_t (*InitFn)(void);
typedef void (*DoneFn)(void);
typedef int32_t (*StartGetMessageFn)(MessageFolder folder);
typedef int32_t (*GetMessageInfoFn)(MessageFolder folder, MessageRecord* record);

/* ISO C has no cast from dlsym's object pointer to a function pointer, so the
 * address is copied into *fn instead. */
static int load(void* lib, const char* name, void* fn) {
  void* address = dlsym(lib, name);
  if (address == NULL) {
    fprintf(stderr, "list_inbox: %s\n", dlerror());
    return 0;
  }
  memcpy(fn, &address, sizeof address);
  return 1;
}

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : "libmz.so";
  void* lib = dlopen(path, RTLD_NOW);
  if (lib == NULL) {
    fprintf(stderr, "list_inbox: %s\n", dlerror());
    return 1;
  }

  InitFn init;
  DoneFn done;
  StartGetMessageFn startGetMessage;
  GetMessageInfoFn getMessageInfo;
  if (!load(lib, "MZ_Init", &init) || !load(lib, "MZ_Done", &done) ||
      !load(lib, "MZ_StartGetMessage", &startGetMessage) ||
      !load(lib, "MZ_GetMessageInfo", &getMessageInfo)) {
    dlclose(lib);
    return 1;
  }

  int32_t result = init();
  if (result != MZ_OK) {
    fprintf(stderr, "list_inbox: MZ_Init failed with %d\n", (int)result);
    dlclose(lib);
    return 1;
  }

  /* Open the Inbox for reading, then take one message per call until MZ_E_NO_MORE. */
  result = startGetMessage(MZ_FOLDER_INBOX);
  while (result == MZ_OK) {
    MessageRecord record = {0}; /* the library fills only the fields it documents */
    result = getMessageInfo(MZ_FOLDER_INBOX, &record);
    if (result == MZ_OK) printf("%s  %s  %s\n", record.timeText, record.address, record.text);
  }

  done();
  dlclose(lib);
  if (result != MZ_E_NO_MORE) {
    fprintf(stderr, "list_inbox: reading the Inbox failed with %d\n", (int)result);
    return 1;
  }
  return 0;
}
