/* A host that leaves without MZ_Done, the way a careless host does: it loads
 * libmz.so (argv[1]) with dlopen like any host, opens a session on the
 * device $PHONE_DEVICE_DIR names and then, by MODE (argv[2]):
 *
 *   exit       returns from main with the session open;
 *   callback   the same with a callback registered;
 *   unload     closes the library with the session open, checks that the
 *              phone platform stayed mapped (its notifier thread may still
 *              run), and returns;
 *   reload     MZ_Done and dlclose, then loads the library again and opens
 *              and closes a second session.
 *
 * Exit status 0 when every step worked; the process must also end cleanly.
 * Links neither the library nor the platform. */
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "mz/mz.h"

typedef int32_t (*InitFn)(void);
typedef void (*DoneFn)(void);
typedef int32_t (*RegisterFn)(MessageCallback);

static void Receive(MessageRecord* record) {
  free(record);
}

static int Fail(const char* what) {
  const char* why = dlerror();
  fprintf(stderr, "exit_host: %s%s%s\n", what, why ? ": " : "", why ? why : "");
  return 1;
}

/* Loads the library and opens a session; null on failure. */
static void* OpenSession(const char* path, int withCallback) {
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (library == NULL) return NULL;
  InitFn init = (InitFn)dlsym(library, "MZ_Init");
  RegisterFn reg = (RegisterFn)dlsym(library, "MZ_RegisterCallback");
  if (init == NULL || reg == NULL) return NULL;
  if (withCallback) reg(&Receive);
  if (init() != MZ_OK) return NULL;
  return library;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: exit_host LIBRARY exit|callback|unload|reload\n");
    return 2;
  }
  const char* mode = argv[2];
  void* library = OpenSession(argv[1], strcmp(mode, "callback") == 0);
  if (library == NULL) return Fail("cannot open a session");
  if (strcmp(mode, "exit") == 0 || strcmp(mode, "callback") == 0) return 0;
  if (strcmp(mode, "unload") == 0) {
    if (dlclose(library) != 0) return Fail("dlclose");
    /* Loaded only as the library's dependency, the platform stays. */
    if (dlopen("libphoneplatform.so", RTLD_NOW | RTLD_NOLOAD) == NULL) {
      return Fail("the platform was unmapped with the library");
    }
    return 0;
  }
  if (strcmp(mode, "reload") == 0) {
    ((DoneFn)dlsym(library, "MZ_Done"))();
    if (dlclose(library) != 0) return Fail("dlclose");
    library = OpenSession(argv[1], 1);
    if (library == NULL) return Fail("cannot open a session after reloading");
    ((DoneFn)dlsym(library, "MZ_Done"))();
    return dlclose(library) == 0 ? 0 : Fail("dlclose");
  }
  fprintf(stderr, "exit_host: unknown mode %s\n", mode);
  return 2;
}
