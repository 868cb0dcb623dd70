// Code-page conversion between 8-bit text and UTF-16.
//
// Code pages: CP_UTF8 (65001) and the default ANSI code page, Windows-1252
// (CP_ACP, or 1252 by number). Rules, as on the phone:
// - a source length of -1 means "up to and including the zero terminator"
//   (the result then counts the terminator); any other length converts
//   exactly that many units, zeros included;
// - an output capacity of 0 asks for the size needed and writes nothing;
// - an output that does not fit fails with 0 and ERROR_INSUFFICIENT_BUFFER;
//   the characters that fitted may have been written, nothing past the
//   capacity is, and no character is written in part;
// - invalid UTF-8 becomes U+FFFD, one per maximal invalid subsequence; a lone
//   surrogate becomes U+FFFD in UTF-8 output. With MB_ERR_INVALID_CHARS or
//   WC_ERR_INVALID_CHARS (UTF-8 only) such input fails instead, with
//   ERROR_NO_UNICODE_TRANSLATION. Other flags are ignored;
// - every Windows-1252 byte decodes. A character that Windows-1252 lacks
//   (a surrogate pair or a lone surrogate counting as one) becomes "?", or the
//   first byte of `defaultChar`; *usedDefault, when given, is set on success
//   to whether that happened.
// Results count output units (bytes or UTF-16 characters), 0 on failure with
// the reason in GetLastError: ERROR_INVALID_PARAMETER for a null source, a
// zero or below -1 source length, a negative capacity, a null output with a
// capacity, an unknown code page, or `defaultChar` or `usedDefault` given for
// UTF-8.
#pragma once

#include "platform/types.h"

inline constexpr UINT CP_ACP = 0;
inline constexpr UINT CP_UTF8 = 65001;
inline constexpr UINT CP_WINDOWS_1252 = 1252;

inline constexpr DWORD MB_ERR_INVALID_CHARS = 0x8;
inline constexpr DWORD WC_ERR_INVALID_CHARS = 0x80;

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, int sourceBytes, LPWSTR output,
                        int outputChars);

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source, int sourceChars, LPSTR output,
                        int outputBytes, LPCSTR defaultChar, BOOL* usedDefault);
