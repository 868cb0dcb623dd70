/* Prints the phone's SMS Inbox: list_inbox, linked with libmz (-lmz) */
#include <stdio.h>

#include "mz/mz.h"

int main(void) {
  int32_t result = MZ_Init();
  if (result != MZ_OK) {
    fprintf(stderr, "list_inbox: MZ_Init failed with %d\n", (int)result);
    return 1;
  }

  /* Open the Inbox for reading, then take one message per call until MZ_E_NO_MORE. */
  result = MZ_StartGetMessage(MZ_FOLDER_INBOX);
  while (result == MZ_OK) {
    MessageRecord record = {0}; /* the library fills only the fields it documents */
    result = MZ_GetMessageInfo(MZ_FOLDER_INBOX, &record);
    if (result == MZ_OK) printf("%s  %s  %s\n", record.timeText, record.address, record.text);
  }

  MZ_Done();
  if (result != MZ_E_NO_MORE) {
    fprintf(stderr, "list_inbox: reading the Inbox failed with %d\n", (int)result);
    return 1;
  }
  return 0;
}
