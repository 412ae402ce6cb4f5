// Opening an ISO 9660 image and reading from it; see iso_image.h.
#include "library/iso_image.h"

#include <stdlib.h>

static ImageReadHook volatile g_read_hook;

void set_image_read_hook(ImageReadHook hook) { g_read_hook = hook; }

bool read_at(HANDLE file, uint64_t offset, uint32_t n, void* buffer) {
  ImageReadHook hook = g_read_hook;
  if (hook) hook();
  LARGE_INTEGER position;
  position.QuadPart = (LONGLONG)offset;
  if (!SetFilePointerEx(file, position, NULL, FILE_BEGIN)) return false;
  // ReadFile takes at most a DWORD; a boot file is below 64 MiB, so one call does.
  DWORD got = 0;
  if (!ReadFile(file, buffer, n, &got, NULL)) return false;
  return got == n;
}

IsoOpenResult iso_open(const wchar_t* path, IsoImage* image) {
  image->file = INVALID_HANDLE_VALUE;
  image->root_data = NULL;
  image->root_size = 0;
  image->root_loaded = 0;

  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, NULL);
  if (file == INVALID_HANDLE_VALUE) return ISO_CANNOT_OPEN;

  uint8_t descriptor[ISO_SECTOR_BYTES];
  uint32_t root_extent = 0, root_size = 0;
  if (!read_at(file, ISO_DESCRIPTOR_OFFSET, sizeof descriptor, descriptor) ||
      !iso_parse_descriptor(descriptor, &root_extent, &root_size)) {
    CloseHandle(file);
    return ISO_NOT_AN_IMAGE;
  }

  uint32_t loaded = root_size < ISO_ROOT_LOAD_LIMIT ? root_size : ISO_ROOT_LOAD_LIMIT;
  uint8_t* root = (uint8_t*)malloc(loaded ? loaded : 1);
  if (!root || !read_at(file, (uint64_t)root_extent * ISO_SECTOR_BYTES, loaded, root)) {
    free(root);
    CloseHandle(file);
    return ISO_NOT_AN_IMAGE;
  }

  image->file = file;
  image->root_data = root;
  image->root_size = root_size;
  image->root_loaded = loaded;
  return ISO_OPENED;
}

bool find_root_file(const IsoImage* image, const char* name, uint32_t length, IsoFileRecord* found) {
  if (image->root_size == 0) return false;
  return iso_scan_directory(image->root_data, image->root_loaded, name, length, found);
}

void iso_close(IsoImage* image) {
  free(image->root_data);
  image->root_data = NULL;
  if (image->file != INVALID_HANDLE_VALUE) CloseHandle(image->file);
  image->file = INVALID_HANDLE_VALUE;
}
