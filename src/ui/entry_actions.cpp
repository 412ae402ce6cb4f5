// The actions of a library entry; the table is in entry_actions.h.
#include "ui/entry_actions.h"

#include "core/state.h"
#include "launch/game_launch.h"
#include "library/catalog.h"
#include "pipeline/build_tree.h"
#include "pipeline/job_status.h"
#include "ui/views.h"

bool build_left_unfinished(int32_t row) {
  const JobStatus& job = g_job;
  LONG building = job.entry_index;
  if (job.running && building >= 0 && building < g_state.entry_count &&
      g_state.entries[building].catalog_row == row)
    return false;
  return last_build_unfinished(row);
}

uint32_t entry_actions(int32_t index) {
  const LauncherState& s = g_state;
  if (index < 0 || index >= s.entry_count) return 0;
  const LibraryEntry& e = s.entries[index];
  int32_t row = e.catalog_row;
  bool supported = catalog_row_playable(row) && (e.status == DISC_OK || e.status == DISC_OTHER_REVISION);
  bool buildable = supported && catalog_row_buildable(row);
  bool built = supported && files_present_this_paint(row);
  bool unfinished = buildable && build_left_unfinished(row);
  bool game_runs = s.running_entry >= 0;
  bool job_runs = g_job.running != 0;

  uint32_t actions = 0;
  if (built && !unfinished && !game_runs && !game_is_being_built(index)) actions |= ENTRY_PLAY;
  if (unfinished) actions |= ENTRY_UNFINISHED;
  if (buildable && !built) actions |= ENTRY_NOT_BUILT;
  if (buildable && !built && !game_runs && !job_runs) actions |= ENTRY_BUILD;
  if (buildable && !game_runs && !job_runs) actions |= ENTRY_REBUILD;
  if (catalog_row_buildable(row)) actions |= ENTRY_OPEN_LOG;
  if (catalog_row_playable(row)) actions |= ENTRY_GAME_FOLDER;
  if (s.running_entry == index) actions |= ENTRY_GAME_RUNS;
  if (s.running_entry != index && !(job_runs && g_job.entry_index == index)) actions |= ENTRY_REMOVE;
  return actions;
}
