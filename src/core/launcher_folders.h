// The folders the launcher keeps beside itself for its builds (games,
// toolchain, downloads): builds replace and delete what lies in them, so a
// disc image found there must be moved before anything is built.
#pragma once
#include <wchar.h>

// The launcher's own folder (L"games", L"toolchain" or L"downloads") that
// path lies in, or null. Compared as the platform reaches them (relative
// parts, links and short names resolved), ignoring letter case.
const wchar_t* managed_folder_holding(const wchar_t* path);
