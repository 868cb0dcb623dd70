// The sound service: where sounds live, and which sound each event plays.
#pragma once

#include "platform/types.h"

// Sound events. Every event works the same way; 0 is the ring tone.
enum SND_EVENT : DWORD {
  SND_EVENT_RINGTONELINE1 = 0,
  SND_EVENT_RINGTONELINE2 = 1,
  SND_EVENT_KNOWNCALLERRINGTONELINE1 = 2,
  SND_EVENT_ROAMINGRINGTONELINE1 = 3,
  SND_EVENT_ROAMINGRINGTONELINE2 = 4,
  SND_EVENT_SMSNOTIFICATION = 5,
  SND_EVENT_REMINDER = 6,
  SND_EVENT_EMAILNOTIFICATION = 7,
  SND_EVENT_LAST = SND_EVENT_EMAILNOTIFICATION,
};

// Locations to list, one bit each.
inline constexpr DWORD SND_LOCATION_SYSTEM = 0x1;         // \Windows
inline constexpr DWORD SND_LOCATION_USERRINGTONES = 0x2;  // \My Documents\My Ringtones
inline constexpr DWORD SND_LOCATION_USERDOCUMENTS = 0x4;  // \My Documents
inline constexpr DWORD SND_LOCATION_STORAGECARD = 0x8;    // \Storage Card, when present
inline constexpr DWORD SND_LOCATION_ALL = 0xFFFFFFFF;

enum SND_SOUNDTYPE : DWORD {
  SND_SOUNDTYPE_ON = 0,
  SND_SOUNDTYPE_FILE = 1,
  SND_SOUNDTYPE_VIBRATE = 2,
  SND_SOUNDTYPE_NONE = 3,
};

// One directory that holds sounds: a zero-terminated phone path.
struct SNDDIRECTORYINFO {
  WCHAR szPathName[MAX_PATH];
};
static_assert(sizeof(SNDDIRECTORYINFO) == 520);

// What an event plays: the sound file's phone path, a name to show, and the
// kind of sound.
struct SNDFILEINFO {
  WCHAR szPathName[MAX_PATH];
  WCHAR szDisplayName[MAX_PATH];
  SND_SOUNDTYPE sstType;
};
static_assert(sizeof(SNDFILEINFO) == 1044);

// The directories, among `locations`, that hold sounds for `event`, as an
// array the caller releases with LocalFree (null when there are none): each
// location's folder in bit order, when it exists on the device.
// E_INVALIDARG for an unknown event or a null place.
HRESULT SndGetSoundDirectoriesList(SND_EVENT event, DWORD locations, SNDDIRECTORYINFO** directories,
                                   int* count);

// Makes `event` play `sound`, recording it under HKCU
// ControlPanel\Sounds\<event key> (RingTone0, RingTone1, KnownCallerRingTone0,
// RoamingRingTone0, RoamingRingTone1, SMS, Reminder, EMail) as "Sound" (the
// path; empty unless a file sound), "DisplayName" and "Type" (REG_DWORD). A
// file sound must name a regular file on the phone: HRESULT of
// ERROR_FILE_NOT_FOUND otherwise, E_INVALIDARG when its path fills the field
// without a terminator. A display name without one is taken whole.
// `suppressUI` is accepted and ignored.
HRESULT SndSetSound(SND_EVENT event, const SNDFILEINFO* sound, BOOL suppressUI);
