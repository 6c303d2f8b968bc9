#pragma once
// Numbers of the localised strings, shared by the code and the string-table
// resources (one table per language, same numbers in every language).
#define IDS_STATUS_INITIALIZING 200
#define IDS_TITLE_PATCH 201
#define IDS_CAPTION_ERROR 203
#define IDS_ALREADY_RUNNING 204
#define IDS_GAME_RUNNING 205
#define IDS_STATUS_EXITING 206
#define IDS_NOT_INSTALLED 207
#define IDS_BAD_INSTALL_PATH 208
#define IDS_NO_LANGUAGE 209
#define IDS_INSTALL_CORRUPTED 210
#define IDS_ALREADY_INSTALLED 211
#define IDS_VERSION_NEWER 212
#define IDS_VERSION_TOO_OLD 213
#define IDS_NO_DISK_SPACE 214
#define IDS_DISK_ERROR 215
#define IDS_PATCH_INSTALLED 216
#define IDS_CAPTION_SUCCESS 217
#define IDS_STATUS_INSTALLING 218
#define IDS_BUTTON_OK 219
#define IDS_BUTTON_CANCEL 220
#define IDS_BUTTON_RETRY 221
#define IDS_CONFIRM_START 222
#define IDS_BUTTON_YES 224
#define IDS_BUTTON_NO 225

#ifndef RC_INVOKED
#include <cstdint>

#include "manifest/text.h"

// The text of string `id` in exactly `language` (a 16-bit language
// identifier), read from the string-table resources of the program's own
// module. Empty when the language has no table, the block or the entry is
// absent, or the entry would lie past the block's end. Nothing is cached.
WideText LoadLocalizedString(uint16_t language, int id);
#endif
