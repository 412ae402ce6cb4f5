// Checks of the launcher's folder before a build starts downloading and
// unpacking into it, so that a build that cannot succeed is refused at once
// with the reason, instead of failing minutes later with a generic text:
//   - the folder cannot be written (a file is created and deleted to know);
//   - the drive has less free space than the build needs (an estimate);
//   - the folder is inside the system's temporary folder or a compressed
//     archive opened by Explorer, whose files Windows removes;
//   - the folder's path is so long that the kit's paths will not fit;
//   - the folder is under Program Files (a warning: writes there are
//     redirected or refused, and the unwritable case is refused above).
// telvar-cli doctor runs the same checks. Writes nothing but the one test
// file, which it deletes. Memory: the fixed report below.
#pragma once
#include <stdint.h>
#include <wchar.h>

enum {
  PREFLIGHT_TEXT_UNITS = 384,     // one finding's text
  PREFLIGHT_FINDING_CAPACITY = 8, // findings at most (one per check)
  // Room the kit's own paths need beyond the launcher's folder: its folder
  // under games, the output folder of the longer region and the deepest
  // files of the kit and the compiler cache.
  KIT_PATH_ROOM = 120,
};

// What a build needs besides the archives themselves: the unpacked tools and
// kit, the translated game, the compiler cache and the built game.
#define BUILD_SPACE_MARGIN_BYTES (2ull * 1024 * 1024 * 1024)

enum PreflightVerdict { PREFLIGHT_WARNING = 1, PREFLIGHT_REFUSAL = 2 };

struct PreflightFinding {
  int32_t verdict;                     // PREFLIGHT_WARNING or PREFLIGHT_REFUSAL
  wchar_t text[PREFLIGHT_TEXT_UNITS];  // the message line's text: cause and remedy
};

struct PreflightReport {
  PreflightFinding findings[PREFLIGHT_FINDING_CAPACITY];  // refusals and warnings, in check order
  int32_t count;                       // findings in use
  int32_t refusals;                    // findings that refuse the build
  uint64_t free_bytes;                 // free space found for the folder's user; 0 when unknown
  bool free_known;                     // the free-space query answered
};

// The space a build needs: the archives as announced (toolchain_bytes 0 when
// the tools are current and not downloaded), the archives unpacked (counted
// at three times their size) and the margin.
uint64_t build_space_estimate(uint64_t toolchain_bytes, uint64_t kit_bytes);

// Runs every check on launcher_dir (no trailing backslash) against needed
// bytes of free space. The first refusal's text is the one to show.
void preflight_build(const wchar_t* launcher_dir, uint64_t needed_bytes, PreflightReport* report);

// The free-space query, replaceable by tests (a full drive cannot be made on
// every machine). It returns false when the space is unknown. Null restores
// GetDiskFreeSpaceExW.
typedef bool (*FreeSpaceQuery)(const wchar_t* folder, uint64_t* free_bytes);
void set_free_space_query(FreeSpaceQuery query);

// Bytes as the texts show them: "1.5 GB" (units of 2^30) or "320 MB".
void format_bytes(wchar_t* out, size_t units, uint64_t bytes);
