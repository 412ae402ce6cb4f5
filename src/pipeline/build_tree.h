// Folders of the build tree: creating folder chains and deleting trees, and
// the clean-ups the build job runs between its stages. Nothing here fails the
// job: folders that cannot be made or removed are left as they are.
//
// Deleting refuses three things: it never enters a folder link (junction or
// symbolic link; any reparse point is removed as the link itself), so it
// cannot reach outside the folder it was given; it never deletes what a link
// points to, so a link that the platform can only open at its target (Wine,
// for host links) stays where it is; and it never deletes a path that was cut
// to fit PATH_UNITS, since a cut path names something else.
// Memory: path buffers on the stack, one per level of the tree.
#pragma once
#include <wchar.h>

#include "core/file_place.h"  // create_directory_chain

// Deletes the file, or the folder with everything in it. A missing path is
// passed over; read-only files go too.
void delete_tree(const wchar_t* path);

// Compares the game's kit stamp in the settings file with version; when a
// stamp is stored and differs, deletes the stale build output of both
// regions. Then stores version as the kit stamp, in every case.
void clear_stale_output(const wchar_t* kit_folder, const wchar_t* game_id, const wchar_t* version);

// Deletes every entry of the kit folder except the "build" folder (any case).
void clear_kit_folder(const wchar_t* kit_folder);

// Deletes what a finished build leaves that the game does not need: the
// intermediate files of the region's output folder and the shared
// level, disc and compiler-cache folders.
void clear_intermediate_output(const wchar_t* kit_folder, const wchar_t* region_word);
