// Build tree housekeeping; see build_tree.h.
#include "build/build_tree.h"

#include <windows.h>

#include "app/text.h"

void create_directory_chain(const wchar_t* path) {
  wchar_t buffer[PATH_UNITS];
  copy_text(buffer, PATH_UNITS, path);
  // From the fourth character on, so that a drive root such as C:\ is passed over.
  for (size_t i = 3; buffer[i]; i++) {
    if (buffer[i] != L'\\' && buffer[i] != L'/') continue;
    wchar_t separator = buffer[i];
    buffer[i] = 0;
    CreateDirectoryW(buffer, NULL);
    buffer[i] = separator;
  }
  CreateDirectoryW(buffer, NULL);
}
