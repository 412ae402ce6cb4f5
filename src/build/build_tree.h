// Folders of the build tree: creating folder chains and deleting trees, and
// the clean-ups the build job runs between its stages. Nothing here fails the
// job: folders that cannot be made or removed are left as they are.
#pragma once
#include <wchar.h>

// Creates every missing folder along path, the last component included.
// Every result is ignored.
void create_directory_chain(const wchar_t* path);
