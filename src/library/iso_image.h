// An opened ISO 9660 image: the file and the start of its root directory.
//
// Opened for one identification and closed before it returns. The root
// directory is loaded whole up to 1 MiB, in one read; only that much is
// searched. Subdirectories, Joliet, Rock Ridge and raw 2352-byte images are
// not supported.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "library/iso_records.h"

struct IsoImage {
  HANDLE file;          // open for reading
  uint8_t* root_data;   // heap block with the start of the root directory
  uint32_t root_size;   // data length of the root directory, from the descriptor
  uint32_t root_loaded; // bytes in root_data: min(root_size, 1 MiB)
};

enum IsoOpenResult { ISO_OPENED, ISO_CANNOT_OPEN, ISO_NOT_AN_IMAGE };

IsoOpenResult iso_open(const wchar_t* path, IsoImage* image);
bool find_root_file(const IsoImage* image, const char* name, uint32_t length, IsoFileRecord* found);
bool read_at(HANDLE file, uint64_t offset, uint32_t n, void* buffer);
void iso_close(IsoImage* image);

// Called before every read of an image; a test puts a delay here to stand for
// an image on a slow share. Null (the default) calls nothing.
typedef void (*ImageReadHook)(void);
void set_image_read_hook(ImageReadHook hook);
