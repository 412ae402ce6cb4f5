// Locks per launcher folder, shared by every program started from it: one
// launcher per folder (the second one started there finds the first one's
// window and ends), and one build per folder (a launcher and telvar-cli never
// build into the same games, toolchain and downloads folders at once). Each
// lock is a named kernel object whose name carries a hash of the folder's
// normalised path; the system drops it when its holder ends, even by a crash.
// Refused: nothing; a lock the platform cannot make is not held, and the
// caller goes on as if it were the only one. Memory: one handle per lock.
#pragma once
#include <windows.h>
#include <stdint.h>

// A key of the folder that every program started from it computes alike:
// the full, long path, upper-cased, without a trailing backslash, hashed.
uint64_t launcher_folder_key(const wchar_t* folder);

// Takes the launcher lock of the folder for the rest of the process. False
// when another launcher holds it.
bool claim_launcher_folder(const wchar_t* folder);

// Takes the build lock of the folder for one job. When another program
// holds it, sets the status line to say so (naming that program) and returns
// false. A process takes it at most once at a time.
bool take_build_lock(const wchar_t* folder);

// Lets the build lock go; nothing when it is not held.
void release_build_lock();
