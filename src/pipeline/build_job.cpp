// The build job's stages; see build_job.h.
#include "pipeline/build_job.h"

#include <stdlib.h>
#include <string.h>
#include <wctype.h>

#include "core/state.h"
#include "core/text.h"
#include "pipeline/build_runner.h"
#include "pipeline/build_tree.h"
#include "core/launcher_folders.h"
#include "pipeline/folder_lock.h"
#include "pipeline/job_status.h"
#include "pipeline/preflight.h"
#include "pipeline/release.h"
#include "pipeline/release_description.h"
#include "pipeline/transfer_texts.h"
#include "library/catalog.h"
#include "transfer/sha256.h"

// What start_build hands to the worker: the entry as it was when asked.
static wchar_t job_disc_path[PATH_UNITS];   // the disc image the script gets
static int32_t job_catalog_row;             // 0 or 1
// Every disc image of the library when the job was asked for: none of them
// may lie where the job deletes.
static wchar_t job_library[LIBRARY_CAPACITY][PATH_UNITS];
static int32_t job_library_count;

// The worker's working storage, one job at a time.
struct JobPaths {
  wchar_t base[RELEASE_BASE_UNITS];         // release base, no trailing separator
  const wchar_t* separator;                 // "/" or "\"
  wchar_t downloads[PATH_UNITS];            // launcher_dir\downloads
  wchar_t toolchain[PATH_UNITS];            // launcher_dir\toolchain
  wchar_t interpreter[PATH_UNITS];          // toolchain\python\python.exe
  wchar_t kit[PATH_UNITS];                  // launcher_dir\games\<game id>
  wchar_t url[RELEASE_URL_UNITS];           // the address being fetched
  wchar_t archive[PATH_UNITS];              // the archive being fetched, in downloads
  wchar_t verified[PATH_UNITS];             // where it is kept once verified, empty when it is not kept
};
static JobPaths paths;
static ReleaseDescription description;

static const wchar_t INVALID_DESCRIPTION[] = L"The build description from the release is not valid.";

// The launcher's folder as the last check found it; static, as its texts are
// too large for the window thread's stack to hold lightly.
static PreflightReport preflight;

// The first finding of the verdict, or null.
static const wchar_t* first_finding(int32_t verdict) {
  for (int32_t i = 0; i < preflight.count; i++)
    if (preflight.findings[i].verdict == verdict) return preflight.findings[i].text;
  return NULL;
}

// A build the launcher's folder cannot hold (no space, not writable, a folder
// Windows cleans, a path too deep) would fail minutes later, after the
// downloads, with a generic text. It is refused here, before anything is
// fetched or deleted, as a job that failed at once: the row and the message
// line show the reason, and the window learns of the end as of any other.
static void refuse_build(int32_t entry_index, const wchar_t* reason) {
  JobStatus& job = g_job;
  LONG serial = InterlockedIncrement(&job.serial);
  job.cancel_requested = 0;
  job.entry_index = entry_index;
  job.progress = 0.0;
  AcquireSRWLockExclusive(&job.lock);
  job.stage_text[0] = 0;
  ReleaseSRWLockExclusive(&job.lock);
  job.refused = 1;  // before the failure shows: a reader of failed sees it
  fail_build(L"%ls", reason);
  release_build_lock();
  if (g_state.main_window) PostMessageW(g_state.main_window, WM_APP_BUILD_PROGRESS, 1, serial);
}

bool prepare_build(int32_t entry_index) {
  JobStatus& job = g_job;
  if (entry_index < 0 || entry_index >= g_state.entry_count || job.running) return false;
  const LibraryEntry& entry = g_state.entries[entry_index];
  if (!catalog_row_buildable(entry.catalog_row)) return false;
  if (!take_build_lock(g_state.launcher_dir)) return false;  // another program builds in this folder

  // The archives' sizes are not known before the description is fetched: the
  // space asked for here is what the unpacked tools, kit and build need.
  preflight_build(g_state.launcher_dir, build_space_estimate(0, 0), &preflight);
  if (const wchar_t* refusal = first_finding(PREFLIGHT_REFUSAL)) {
    refuse_build(entry_index, refusal);
    return false;
  }

  copy_text(job_disc_path, PATH_UNITS, entry.path);
  job_catalog_row = entry.catalog_row;
  job_library_count = g_state.entry_count;
  for (int32_t i = 0; i < job_library_count; i++)
    copy_text(job_library[i], PATH_UNITS, g_state.entries[i].path);

  job.running = 1;
  InterlockedIncrement(&job.serial);
  job.cancel_requested = 0;
  job.failed = 0;
  job.refused = 0;
  job.entry_index = entry_index;
  job.progress = 0.0;
  AcquireSRWLockExclusive(&job.lock);
  job.error_text[0] = 0;
  copy_text(job.stage_text, STAGE_TEXT_UNITS, L"Starting");
  ReleaseSRWLockExclusive(&job.lock);
  // A warning (a folder under Program Files) is said while the build goes on.
  const wchar_t* warning = first_finding(PREFLIGHT_WARNING);
  copy_text(g_state.status_text, STATUS_TEXT_UNITS, warning ? warning : L"");
  if (warning) g_state.status_is_error = false;
  return true;
}

void start_build(int32_t entry_index) {
  if (!prepare_build(entry_index)) return;
  HANDLE thread = CreateThread(NULL, 0, build_worker, NULL, 0, NULL);
  if (!thread) {
    // No worker: the job must not stay marked as running.
    fail_build(L"Could not start the build (thread).");
    release_build_lock();
    g_job.running = 0;
    PostMessageW(g_state.main_window, WM_APP_BUILD_PROGRESS, 1, g_job.serial);
    return;
  }
  CloseHandle(thread);
}

void cancel_build() {
  InterlockedExchange(&g_job.cancel_requested, 1);
  job_terminate_object(1);
}

// True when the file's SHA-256 is expected (an empty checksum means none) and
// differs; the archive is then deleted and the job failed with text.
static bool checksum_fails(const wchar_t* archive, const char* expected, const wchar_t* text) {
  if (!expected[0]) return false;
  char actual[65];
  if (sha256_file(archive, actual) && _stricmp(actual, expected) == 0) return false;
  DeleteFileW(archive);
  fail_build(L"%ls", text);
  return true;
}

// The archive's address in the release and its path in the downloads folder.
// The name must be a plain file name, and both must fit whole: a cut path
// would name another file.
static bool locate_archive(const wchar_t* game_id, const char* file_name) {
  if (!archive_name_is_safe(file_name)) {
    fail_build(INVALID_DESCRIPTION);
    return false;
  }
  wchar_t name[RELEASE_FILE_BYTES];
  utf8_to_wide(file_name, name, RELEASE_FILE_BYTES);
  if (!name[0]) {
    fail_build(INVALID_DESCRIPTION);
    return false;
  }
  if (!release_file_url(paths.url, paths.base, paths.separator, game_id, name)) {
    fail_build(L"Bad address: %ls", paths.url);
    return false;
  }
  if (!join_path(paths.archive, paths.downloads, name)) {
    fail_build(L"Could not write %ls.", paths.archive);
    return false;
  }
  return true;
}

// A verified archive stays in downloads under "<sha256>-<name>", so that a
// later job whose description names the same checksum (a Rebuild, a build
// of the other region, a retry after the script failed) needs no download.
// The name is the checksum the description gives, in lower case; without a
// checksum there is nothing to name it by, and the archive is not kept.
enum { SHA256_HEX = 64 };

static bool is_hex_digest(const wchar_t* text) {
  for (int i = 0; i < SHA256_HEX; i++)
    if (!iswxdigit(text[i])) return false;
  return true;
}

static void name_verified_archive(const char* sha256, const char* file_name) {
  paths.verified[0] = 0;
  if (strlen(sha256) != SHA256_HEX) return;
  wchar_t digest[SHA256_HEX + 1], name[RELEASE_FILE_BYTES], kept[PATH_UNITS];
  utf8_to_wide(sha256, digest, SHA256_HEX + 1);
  utf8_to_wide(file_name, name, RELEASE_FILE_BYTES);
  if (!is_hex_digest(digest)) return;
  _wcslwr(digest);
  // A name that does not fit whole is not kept: a cut one would name another file.
  if (format_text(kept, PATH_UNITS, L"%ls-%ls", digest, name) && join_path(paths.verified, paths.downloads, kept)) return;
  paths.verified[0] = 0;
}

// The kept archive when it is there and still has its checksum (a kept file
// is never trusted on its name alone: a disk error or another program may
// have changed it); paths.archive then names it. One that no longer matches
// is deleted.
static bool take_verified_archive(const char* sha256, double progress, const wchar_t* check_stage) {
  if (!paths.verified[0] || GetFileAttributesW(paths.verified) == INVALID_FILE_ATTRIBUTES) return false;
  publish_progress(progress, L"%ls", check_stage);
  char actual[65];
  if (sha256_file(paths.verified, actual) && _stricmp(actual, sha256) == 0) {
    copy_text(paths.archive, PATH_UNITS, paths.verified);
    return true;
  }
  DeleteFileW(paths.verified);
  return false;
}

// Fetches an archive the description names, or takes the kept one, and
// checks it: progress from..to, stage texts from label ("the build tools").
// False with the job failed (or cancelled). paths.archive names the verified
// file afterwards, which is the kept one when it has a checksum.
static bool obtain_archive(const wchar_t* game_id, const char* file_name, const char* sha256, double from, double to,
                           const wchar_t* label, const wchar_t* download_stage, const wchar_t* check_stage,
                           const wchar_t* damaged) {
  if (!locate_archive(game_id, file_name)) return false;
  name_verified_archive(sha256, file_name);
  if (take_verified_archive(sha256, to, check_stage)) return true;
  if (cancel_requested()) return false;
  if (!download_url(paths.url, paths.archive, from, to, NULL, NULL, download_stage, label, DOWNLOAD_ARCHIVE_LIMIT))
    return false;
  publish_progress(to, L"%ls", check_stage);
  if (checksum_fails(paths.archive, sha256, damaged)) return false;
  if (paths.verified[0] && MoveFileExW(paths.archive, paths.verified, MOVEFILE_REPLACE_EXISTING))
    copy_text(paths.archive, PATH_UNITS, paths.verified);
  return true;
}

// After unpacking: an archive that is not kept has done its work.
static void release_archive() {
  if (wcscmp(paths.archive, paths.verified) != 0) DeleteFileW(paths.archive);
}

static bool fetch_toolchain(const wchar_t* game_id) {
  if (!obtain_archive(game_id, description.toolchain_file, description.toolchain_sha256, 0.01, 0.2,
                      L"the build tools", L"Downloading the build tools", L"Checking the build tools",
                      L"The downloaded build tools are damaged (checksum). Try again."))
    return false;
  // The checksum of a large archive takes a while; a cancel given meanwhile
  // must not still cost the tools that are installed (the downloads and the
  // unpacking poll the flag themselves, the deletions do not).
  if (cancel_requested()) return false;
  delete_tree(paths.toolchain);
  // A failed unpack keeps the archive and leaves no stamp: the next job fetches again.
  if (!extract_zip(paths.archive, paths.toolchain, 0.2, 0.26, L"the build tools")) return false;
  write_toolchain_stamp(paths.toolchain, description.toolchain_version);
  release_archive();
  return true;
}

// Is name in downloads something a job of this description may still use?
// The kept archives of its two files ("<sha256>-<file name>", both as the
// description gives them), and the partial downloads of its two file names.
static bool named_by_description(const wchar_t* name) {
  const char* sums[] = {description.toolchain_sha256, description.kit_sha256};
  const char* files[] = {description.toolchain_file, description.kit_file};
  for (int i = 0; i < 2; i++) {
    wchar_t digest[SHA256_HEX + 1], file[RELEASE_FILE_BYTES];
    utf8_to_wide(sums[i], digest, SHA256_HEX + 1);
    utf8_to_wide(files[i], file, RELEASE_FILE_BYTES);
    size_t length = wcslen(file);
    if (!length) continue;
    if (wcslen(digest) == SHA256_HEX && _wcsnicmp(name, digest, SHA256_HEX) == 0 && name[SHA256_HEX] == L'-' &&
        _wcsicmp(name + SHA256_HEX + 1, file) == 0)
      return true;
    if (_wcsnicmp(name, file, length) == 0 &&
        (_wcsicmp(name + length, DOWNLOAD_PARTIAL_SUFFIX) == 0 || _wcsicmp(name + length, DOWNLOAD_RECORD_SUFFIX) == 0))
      return true;
  }
  return false;
}

// After a successful build: kept archives and partial downloads that this
// release no longer names are deleted. Other files in downloads (one a user
// put there, an archive kept for inspection) are left alone, and so are
// folders.
static void prune_downloads() {
  wchar_t pattern[PATH_UNITS], path[PATH_UNITS];
  if (!join_path(pattern, paths.downloads, L"*")) return;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const wchar_t* name = found.cFileName;
    size_t length = wcslen(name);
    bool kept = length > SHA256_HEX + 1 && is_hex_digest(name) && name[SHA256_HEX] == L'-';
    bool partial = (length > 8 && _wcsicmp(name + length - 8, DOWNLOAD_PARTIAL_SUFFIX) == 0) ||
                   (length > 12 && _wcsicmp(name + length - 12, DOWNLOAD_RECORD_SUFFIX) == 0);
    if ((kept || partial) && !named_by_description(name) && join_path(path, paths.downloads, name))
      DeleteFileW(path);
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

static bool toolchain_current() {
  wchar_t stamp[STAMP_UNITS], wanted[STAMP_UNITS];
  read_toolchain_stamp(paths.toolchain, stamp);
  utf8_to_wide(description.toolchain_version, wanted, STAMP_UNITS);
  return wcscmp(stamp, wanted) == 0 && GetFileAttributesW(paths.interpreter) != INVALID_FILE_ATTRIBUTES;
}

// Every path the job uses must fit whole; a launcher folder so deep that they
// do not cannot be built in.
static bool form_paths(const wchar_t* game_id) {
  const wchar_t* dir = g_state.launcher_dir;
  bool whole = join_path(paths.downloads, dir, L"downloads") && join_path(paths.toolchain, dir, L"toolchain") &&
               format_text(paths.interpreter, PATH_UNITS, L"%ls\\python\\python.exe", paths.toolchain) &&
               format_text(paths.kit, PATH_UNITS, L"%ls\\games\\%ls", dir, game_id);
  // Room for the longest names the job and the build script put in the kit
  // folder: the manifest beside the game, under its temporary name.
  wchar_t longest[PATH_UNITS];
  whole = whole &&
          format_text(longest, PATH_UNITS, L"%ls\\build\\windows_us\\%ls.new", paths.kit, BUILD_MANIFEST_NAME);
  if (!whole) fail_build(L"The launcher's folder path is too long to build in.");
  return whole;
}

// A disc image in one of the launcher's own folders would be deleted or
// overwritten by the clearing and unpacking that follow, the one being built
// among them. Checked before anything is fetched or deleted.
static bool library_outside_the_launchers_folders() {
  const wchar_t* managed = managed_folder_holding(job_disc_path);
  const wchar_t* disc = job_disc_path;
  for (int32_t i = 0; !managed && i < job_library_count; i++) {
    managed = managed_folder_holding(job_library[i]);
    disc = job_library[i];
  }
  if (!managed) return true;
  // Nothing was tried: the row says the disc cannot be built here, not that
  // a build failed.
  g_job.refused = 1;
  // The image's path comes last: it can be long, and the window shows the
  // cause and the remedy first.
  fail_build(L"A disc image is in the launcher's %ls folder, whose files builds replace and delete. Move it to a "
             L"folder of your own and add it from there. The image is %ls.",
             managed, disc);
  return false;
}

// Sets the game that is there aside for the script, with the job's text when
// it cannot be.
static bool set_aside_the_game(OutputPlaces* output) {
  switch (set_aside_output(output)) {
    case SET_ASIDE_DONE: return true;
    case SET_ASIDE_IN_USE:
      fail_build(L"The game in %ls could not be set aside for the build. Close the programs that use its files "
                 L"and try again.",
                 output->output);
      return false;
    case SET_ASIDE_LEFT_OVER:
      fail_build(L"Files the game kept before the last build are still in %ls. Move what you want to keep into "
                 L"%ls, delete that folder and try again.",
                 output->previous, output->output);
      return false;
  }
  return false;
}

// The stages up to the script's success and the build's stamp; false at the
// first failure or cancel before the stamp.
static bool run_stages(char** text) {
  const CatalogEntry& row = CATALOG[job_catalog_row];
  const wchar_t* game_id = row.game_id;

  read_release_base(g_state.settings_path, paths.base, &paths.separator);
  if (!form_paths(game_id)) return false;
  if (!library_outside_the_launchers_folders()) return false;
  create_directory_chain(paths.downloads);
  publish_progress(0.0, L"Checking for the latest build files");

  wchar_t description_name[RELEASE_FILE_BYTES];
  format_text(description_name, RELEASE_FILE_BYTES, L"%ls.json", game_id);
  release_file_url(paths.url, paths.base, paths.separator, game_id, description_name);
  uint32_t length = 0;
  if (!download_url(paths.url, NULL, 0.0, 0.01, text, &length, L"Fetching the build description",
                    L"the build description", DOWNLOAD_TEXT_LIMIT))
    return false;
  if (!parse_release_description(*text, &description)) {
    fail_build(INVALID_DESCRIPTION);
    return false;
  }
  // Both names are checked before anything is fetched or deleted, and the
  // versions before they reach the settings file or the stamp.
  if (!archive_name_is_safe(description.toolchain_file) || !archive_name_is_safe(description.kit_file) ||
      !version_text_is_plain(description.version) || !version_text_is_plain(description.toolchain_version)) {
    fail_build(INVALID_DESCRIPTION);
    return false;
  }

  if (!toolchain_current() && !fetch_toolchain(game_id)) return false;

  if (!obtain_archive(game_id, description.kit_file, description.kit_sha256, 0.26, 0.3, L"the build kit",
                      L"Downloading the game's build kit", L"Checking the build kit",
                      L"The downloaded build kit is damaged (checksum). Try again."))
    return false;

  // Likewise the kit folder and its stamp stay as they are after a cancel.
  if (cancel_requested()) return false;
  wchar_t version[STAMP_UNITS];
  utf8_to_wide(description.version, version, STAMP_UNITS);
  create_directory_chain(paths.kit);
  clear_stale_output(paths.kit, game_id, version);
  clear_kit_folder(paths.kit);
  if (!extract_zip(paths.archive, paths.kit, 0.3, 0.32, L"the build kit")) return false;
  release_archive();

  wchar_t levels[LEVEL_LIST_UNITS];
  read_level_list(g_state.settings_path, description.levels, levels);
  publish_progress(0.32, L"Starting the build");
  const wchar_t* region_word = row.region_suffix ? row.region_suffix : L"pal";
  // The game that is there now stays whole until this build has succeeded:
  // a failed or cancelled build gives it back as it was.
  OutputPlaces output;
  output_places(&output, paths.kit, region_word);  // form_paths made room for them
  if (!set_aside_the_game(&output)) return false;
  if (!run_build_tool(paths.kit, paths.toolchain, paths.interpreter, job_disc_path, region_word, levels)) {
    restore_output(&output);
    return false;
  }

  publish_progress(0.99, L"Cleaning up");
  clear_intermediate_output(paths.kit, region_word);
  prune_downloads();
  bool carried = settle_output(&output);
  WritePrivateProfileStringW(game_id, row.region_suffix ? L"built_version_us" : L"built_version", version,
                             g_state.settings_path);
  publish_progress(1.0, L"Built");
  if (!carried)
    fail_build(L"The game was built, but files it kept in its folder could not be moved over from %ls. Move "
               L"them into %ls.",
               output.previous, output.output);
  return true;
}

DWORD WINAPI build_worker(void*) {
  JobStatus& job = g_job;
  // No other job can start before running is cleared, so this is still ours.
  LONG serial = job.serial;
  char* text = NULL;
  bool built = run_stages(&text);

  free(text);
  // A failure keeps its own text when a cancel comes after it; and a cancel
  // that came once the game was built and stamped came too late to stop it.
  if (!built && job.cancel_requested && !job.failed) fail_build(L"Build cancelled.");
  release_build_lock();
  InterlockedExchange(&job.running, 0);
  // A new job may start before this message arrives: it names its job, so
  // that the window can tell the two apart.
  PostMessageW(g_state.main_window, WM_APP_BUILD_PROGRESS, 1, serial);
  return 0;
}
