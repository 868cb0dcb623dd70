/*
 * libmz: the phone's contacts, SMS messages and sound settings for a host
 * process and its desktop peer.
 *
 * Conventions
 * -----------
 * Results. Every export except MZ_Done returns a signed 32-bit result:
 *   0  (MZ_OK)              success
 *   1  (MZ_CALLBACK_STORED) MZ_RegisterCallback, always
 *  -1  (MZ_E_FAILED)        opening the session failed, or the phone refused
 *                           the operation; for MZ_GetContactInfo,
 *                           MZ_WriteContact and MZ_AddContact also: the
 *                           vCard text could not be written to the phone's
 *                           scratch file or read back (a full disk), and
 *                           nothing was stored, changed or handed over
 *  -2  (MZ_E_NO_CONTACT)    the contacts folder is unavailable, or no stored
 *                           contact matched
 *  -6  (MZ_E_NO_MEMORY)     no memory for the new-message sink (MZ_Init)
 *  -8  (MZ_E_BAD_ARGUMENT)  a buffer or text is missing, an index or size is
 *                           out of range, or a folder is outside 0..4 or not
 *                           open
 *  -9  (MZ_E_NO_MORE)       nothing more to read: end of a folder's listing,
 *                           or no contact at that position
 * MZ_GetSoundDirectoriesList, MZ_SetTelRingtone and MZ_SetSMSRingtone pass
 * the phone's own status through unchanged (0 on success).
 *
 * Session. Call MZ_Init once before the other exports and MZ_Done at the
 * end, from the same thread. MZ_SendMessage and the sound and theme exports
 * need no session. Before MZ_Init the contact exports return -2. When
 * MZ_Init returns -1, calling it again opens what is still missing, the
 * contact store's logon included, and returns -1 again if that fails.
 *
 * Threads. Call the exports one at a time; the library takes no locks. New
 * messages are announced on a thread of the message store's choosing: the
 * callback must be safe to run while the host is inside another export.
 * MZ_GetContactInfo, MZ_WriteContact and MZ_AddContact share one scratch
 * file and must never overlap, also not across processes on one phone.
 *
 * Hosts sharing a device. On the emulated phone, every host on one device
 * folder holds an exclusive flock on DEVICE/device.lock around all its
 * library calls (at the least from before its first vCard export or import
 * until after its last), and writes "PID COMMAND\n" into the file, truncated
 * first, so that a host that has to wait can name the holder. The lock ends
 * with the process that holds it.
 *
 * Memory. Buffers and records the host passes in stay the host's; the
 * library never frees or resizes them, and writes only the fields it
 * documents (hand in zeroed records). Two things are handed over to the
 * host, which releases them:
 *  - the MessageRecord given to the MessageCallback: allocated with malloc,
 *    released by the host with free();
 *  - the block of MZ_GetSoundDirectoriesList: allocated with the phone's
 *    LocalAlloc, released by the host with LocalFree.
 *
 * Quoted-printable. MZ_GetContactInfo writes a note of several lines with a
 * soft break ("=", CR LF) and a tab after each line end. MZ_WriteContact and
 * MZ_AddContact read a line end followed by a tab or a space as a fold, also
 * after a soft break, and then lose characters. So a host never passes a
 * soft break: it keeps each quoted-printable value on one line, with its
 * line breaks written =0D=0A.
 *
 * Text. vCard text is 8-bit (UTF-8). The number and text of MZ_SendMessage
 * are in the phone's default ANSI code page (Windows-1252). MZ_GetMessageInfo
 * fills a record's text fields in UTF-8; the new-message callback's record
 * holds its text and address in the default ANSI code page.
 *
 * Null arguments. A missing buffer, record or text gives -8 where the table
 * above says so; the settings exports return 0 and do nothing without an
 * input record.
 */
#ifndef MZ_MZ_H
#define MZ_MZ_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define MZ_API __declspec(dllexport)
#else
#define MZ_API __attribute__((visibility("default")))
#endif

/* Result codes. */
#define MZ_OK 0
#define MZ_CALLBACK_STORED 1
#define MZ_E_FAILED (-1)
#define MZ_E_NO_CONTACT (-2)
#define MZ_E_NO_MEMORY (-6)
#define MZ_E_BAD_ARGUMENT (-8)
#define MZ_E_NO_MORE (-9)

/* Sizes of the host's buffers. */
#define MZ_VCARD_SIZE 1024    /* vcard area (in: at most 1023 bytes + zero) */
#define MZ_CONTACT_ID_SIZE 11 /* "%u" of a 32-bit id + zero */
#define MZ_NEW_ID_SIZE 64     /* the output area of MZ_AddContact, exactly */
#define MZ_MESSAGE_RECORD_SIZE 1260

/*
 * One contact crossing the boundary. In: vcard holds zero-terminated vCard
 * 2.1 text (MZ_WriteContact, MZ_AddContact) and contactId the contact's id as
 * unsigned decimal text (MZ_WriteContact). Out (MZ_GetContactInfo): vcard
 * receives the first 1024 bytes at most of the contact's vCard text, with a
 * zero after a text shorter than 1024 bytes (a longer text fills the area and
 * has none), and contactId its id, zero-terminated. header is never read or
 * written.
 */
typedef struct ContactTransfer {
  unsigned char header[4];
  char vcard[MZ_VCARD_SIZE];
  char contactId[MZ_CONTACT_ID_SIZE];
} ContactTransfer;

/* Folder of the SMS store: an unsigned 32-bit index. */
typedef uint32_t MessageFolder;
enum {
  MZ_FOLDER_INBOX = 0,
  MZ_FOLDER_OUTBOX = 1,
  MZ_FOLDER_SENT = 2,
  MZ_FOLDER_DRAFTS = 3,
  MZ_FOLDER_DELETED = 4
};

/*
 * One SMS message. All text fields are zero-terminated byte strings.
 *  recordSize  1260 in records made for the new-message callback; not
 *              written by MZ_GetMessageInfo
 *  text        the message text
 *  entryIdHex  the message's entry id, two lower-case hex digits per byte
 *  address     the other party: the sender of a received message, the first
 *              recipient of the user's own
 *  timeText    local time, "YYYY-MM-DD hh:mm:ss" (year padded with spaces)
 *  folder      the MessageFolder the record came from (0 from the callback)
 *  reserved    zero
 */
typedef struct MessageRecord {
  uint32_t recordSize;
  char text[1024];
  char entryIdHex[64];
  char address[41];
  char timeText[39];
  uint16_t folder;
  unsigned char reserved[86];
} MessageRecord;

/*
 * Receives each new message. The record was allocated with malloc and now
 * belongs to the host, which releases it with free(). Runs on the message
 * store's thread.
 */
typedef void (*MessageCallback)(MessageRecord* record);

/* Session. */
MZ_API int32_t MZ_Init(void);
MZ_API void MZ_Done(void);
MZ_API int32_t MZ_RegisterCallback(MessageCallback callback);

/* Contacts. Positions run from 1 to the count. */
MZ_API int32_t MZ_GetContactsCount(int32_t* count);
MZ_API int32_t MZ_GetContactInfo(int32_t position, ContactTransfer* contact);
MZ_API int32_t MZ_WriteContact(const ContactTransfer* contact);
MZ_API int32_t MZ_AddContact(const ContactTransfer* contact, char* newId, uint32_t newIdSize);
MZ_API int32_t MZ_DeleteContact(const char* contactId);
MZ_API int32_t MZ_DeleteAllContacts(void);

/* Messages. */
MZ_API int32_t MZ_GetMessagesCount(MessageFolder folder, uint32_t* count);
MZ_API int32_t MZ_StartGetMessage(MessageFolder folder);
MZ_API int32_t MZ_GetMessageInfo(MessageFolder folder, MessageRecord* record);
/* The id is read two characters to a byte, each pair giving the value of its
 * leading hex digits in either case: "1x" reads as 01 and "x1" as 00, so a
 * malformed pair can still name a real message. A missing id, an odd number
 * of characters or more than 64 bytes names none. When no message of the
 * folder has the id, nothing is deleted and the result is -1. */
MZ_API int32_t MZ_DeleteMessage(MessageFolder folder, const char* entryIdHex);
MZ_API int32_t MZ_DeleteAllMessages(MessageFolder folder);
/* Sends one SMS. -1, and nothing sent, when the number or text is missing,
 * the number is over 99 characters or the text over 209 (nothing is ever
 * shortened), a conversion fails, or the radio refuses. */
MZ_API int32_t MZ_SendMessage(const char* number, const char* text);

/*
 * Sounds and theme. The first argument is ignored. Input records are byte
 * layouts with unsigned 32-bit little-endian integers at any alignment and
 * UTF-16LE text:
 *  MZ_GetSoundDirectoriesList: event (4), location flags (4), unused (8).
 *    On success it returns 0, *outputSize is 4 + 520 per directory and
 *    *outputBlock a zero-filled block of *outputSize + 1 bytes: the
 *    directory count (uint32 little-endian), then per directory its path as
 *    zero-padded UTF-16 in 520 bytes. The host releases the block with the
 *    phone's LocalFree; it is null, with the result still 0, when no memory
 *    was left for it. On failure *outputSize is 0, *outputBlock null and the
 *    sound service's status is returned; a null input record or place is
 *    refused that way with E_INVALIDARG (0x80070057), reading nothing.
 *  MZ_SetTelRingtone: event (4), sound-file description starting with the
 *    zero-terminated path (1044), flag (4): 1052 bytes.
 *  MZ_SetSMSRingtone: d (4), directory (d bytes), n (4), file name (n
 *    bytes); d and n at most 254. A larger length is refused with
 *    ERROR_INVALID_PARAMETER (87) before anything past it is read; nothing
 *    is copied or written.
 *  MZ_SetTheme: n (4), command line for the theme tool (n bytes, at most
 *    254; a larger n starts nothing). Always returns 0.
 */
#define MZ_SOUND_LIST_INPUT_SIZE 16
#define MZ_TEL_RINGTONE_INPUT_SIZE 1052
#define MZ_SOUND_DIRECTORY_ENTRY_SIZE 520

MZ_API int32_t MZ_GetSoundDirectoriesList(uint32_t unused, const void* input, uint32_t* outputSize,
                                          void** outputBlock);
MZ_API int32_t MZ_SetTelRingtone(uint32_t unused, const void* input);
MZ_API int32_t MZ_SetSMSRingtone(uint32_t unused, const void* input);
MZ_API int32_t MZ_SetTheme(uint32_t unused, const void* input);

/* The binary layouts the host reads. */
#if defined(__cplusplus)
static_assert(sizeof(ContactTransfer) == 1039, "ContactTransfer layout");
static_assert(offsetof(ContactTransfer, vcard) == 4, "ContactTransfer layout");
static_assert(offsetof(ContactTransfer, contactId) == 1028, "ContactTransfer layout");
static_assert(sizeof(MessageRecord) == MZ_MESSAGE_RECORD_SIZE, "MessageRecord layout");
static_assert(offsetof(MessageRecord, folder) == 1172, "MessageRecord layout");
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
_Static_assert(sizeof(ContactTransfer) == 1039, "ContactTransfer layout");
_Static_assert(offsetof(ContactTransfer, vcard) == 4, "ContactTransfer layout");
_Static_assert(offsetof(ContactTransfer, contactId) == 1028, "ContactTransfer layout");
_Static_assert(sizeof(MessageRecord) == MZ_MESSAGE_RECORD_SIZE, "MessageRecord layout");
_Static_assert(offsetof(MessageRecord, folder) == 1172, "MessageRecord layout");
#endif

#ifdef __cplusplus
}
#endif

#endif /* MZ_MZ_H */
