// Identification off the window thread, through the real window: a library
// whose discs read slowly (every read of an image waits, as on a share that
// takes its time) neither delays the window nor its keys; answers for entries
// removed meanwhile are dropped; a search of a folder of 200 images shows how
// far it is and stops on Esc.
#include <gtest/gtest.h>
#include <windows.h>
#include <stdio.h>
#include <functional>
#include <string>

#include "app/commands.h"
#include "core/state.h"
#include "library/disc_identify.h"
#include "library/identify_worker.h"
#include "library/iso_image.h"
#include "library/library.h"
#include "support/window_harness.h"
#include "ui/main_view.h"

static volatile LONG g_read_delay_ms;

static void slow_read() { Sleep((DWORD)g_read_delay_ms); }

class IdentifyWorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = open_launcher_window(L"identify");
    window = g_state.main_window;
    ASSERT_TRUE(window != NULL) << "no window: is DISPLAY an X server?";
  }
  void TearDown() override {
    hold_identification(false);
    set_image_read_hook(NULL);
    cancel_scans();
    wait_for_identification(60000);
    close_launcher_window();
  }
  // A library of n PAL discs stored in telvar.ini, as a user's would be.
  void store_library(int n) {
    for (int i = 0; i < n; i++) {
      std::wstring path = join(folder, L"disc" + std::to_wstring(i) + L".iso");
      write_disc(path, "SXPE_100.01");
      WritePrivateProfileStringW(L"library", (L"disc" + std::to_wstring(i)).c_str(), path.c_str(),
                                 g_state.settings_path);
    }
    WritePrivateProfileStringW(L"library", L"count", std::to_wstring(n).c_str(), g_state.settings_path);
    WritePrivateProfileStringW(L"library", L"selected", L"0", g_state.settings_path);
  }
  // Milliseconds from a posted key to the window having handled it.
  int key_answer_ms(WPARAM key, const std::function<bool()>& handled) {
    DWORD start = GetTickCount();
    PostMessageW(window, WM_KEYDOWN, key, 0);
    EXPECT_TRUE(pump_until(handled, 5000));
    return (int)(GetTickCount() - start);
  }
  std::wstring folder;
  HWND window = NULL;
};

TEST_F(IdentifyWorkerTest, SlowDiscsDelayNeitherTheStartNorTheKeys) {
  const int discs = 6;
  store_library(discs);
  set_image_read_hook(slow_read);
  g_read_delay_ms = 60;  // each identification reads at least four times

  // What start-up did before: every image read before the window exists.
  // Measured so that the fixture is known to be slow.
  DWORD start = GetTickCount();
  load_settings(add_stored_disc);
  int waited_ms = (int)(GetTickCount() - start);
  EXPECT_GE(waited_ms, discs * 4 * 60) << "the slow reads are not slow";
  ASSERT_EQ(g_state.entry_count, discs);

  // Start-up as the launcher does it now: the library is there at once, each
  // row "Checking", and the window paints and answers keys while the worker
  // reads.
  g_state.entry_count = 0;
  g_state.selected = -1;
  start = GetTickCount();
  load_settings(queue_stored_disc);
  int loaded_ms = (int)(GetTickCount() - start);
  RedrawWindow(window, NULL, NULL, RDW_INVALIDATE | RDW_UPDATENOW);
  int shown_ms = (int)(GetTickCount() - start);
  EXPECT_LT(shown_ms, 100);
  ASSERT_EQ(g_state.entry_count, discs);
  EXPECT_EQ(g_state.selected, 0);
  for (int i = 0; i < discs; i++) {
    EXPECT_EQ(g_state.entries[i].status, DISC_CHECKING);
    EXPECT_STREQ(status_label(i).text, L"Checking\u2026");
  }
  int down_ms = key_answer_ms(VK_DOWN, [] { return g_state.selected == 1; });
  int end_ms = key_answer_ms(VK_END, [&] { return g_state.selected == discs - 1; });
  EXPECT_LT(down_ms, 100);
  EXPECT_LT(end_ms, 100);
  printf("%d slow discs: library read before the window %d ms; queued start-up %d ms, with the first paint %d ms; "
         "keys answered in %d and %d ms\n",
         discs, waited_ms, loaded_ms, shown_ms, down_ms, end_ms);
  EXPECT_FALSE(identification_idle()) << "the keys were answered while the discs were still being read";

  // Every row gets its answer in the end.
  ASSERT_TRUE(wait_for_identification(60000));
  for (int i = 0; i < discs; i++) EXPECT_EQ(g_state.entries[i].status, DISC_OK) << i;
}

static volatile LONG g_reads;

static void count_read() { InterlockedIncrement(&g_reads); }

// At start-up the worker answers for a whole library while the window is
// still busy with its first paint. Each answer announced on its own would
// queue one message per disc, each a pass over the results and a full
// repaint, and posted messages go before the first frame. Answers that
// arrive while one announcement is waiting ride on it.
TEST_F(IdentifyWorkerTest, AnswersThatArriveTogetherAreAnnouncedOnce) {
  const int discs = 12;
  store_library(discs);
  set_image_read_hook(count_read);
  // How many reads one identification takes, so that the wait below knows
  // when the worker has read every disc without pumping a message.
  LibraryEntry probe = {};
  copy_text(probe.path, PATH_UNITS, join(folder, L"disc0.iso").c_str());
  g_reads = 0;
  identify_disc(&probe);
  const LONG reads_per_disc = g_reads;
  ASSERT_GT(reads_per_disc, 0);

  MSG msg;
  while (PeekMessageW(&msg, window, WM_APP_IDENTIFIED, WM_APP_IDENTIFIED, PM_REMOVE)) {
  }
  g_reads = 0;
  load_settings(queue_stored_disc);
  ASSERT_EQ(g_state.entry_count, discs);
  DWORD start = GetTickCount();
  while (g_reads < reads_per_disc * discs && GetTickCount() - start < 20000) Sleep(5);
  ASSERT_EQ(g_reads, reads_per_disc * discs) << "the worker did not read every disc";
  Sleep(200);  // the last answer is put in the ring right after its last read

  int announcements = 0;
  while (PeekMessageW(&msg, window, WM_APP_IDENTIFIED, WM_APP_IDENTIFIED, PM_REMOVE)) {
    announcements++;
    DispatchMessageW(&msg);
    // The first one took every answer.
    for (int i = 0; i < discs; i++) EXPECT_EQ(g_state.entries[i].status, DISC_OK) << i;
  }
  EXPECT_EQ(announcements, 1);

  // Taking the answers re-arms the announcement: a later answer is told again.
  g_state.entries[0].status = DISC_CHECKING;
  queue_refresh(0, false);
  EXPECT_TRUE(pump_until([] { return g_state.entries[0].status == DISC_OK; }, 20000));
}

// Start-up holds the worker until the first frame is painted, so that the
// window thread has the processor to itself while it makes the window: held,
// the library's rows stay "Checking" and no disc is read; released, every
// row gets its answer.
TEST_F(IdentifyWorkerTest, AHeldWorkerReadsNothingUntilReleased) {
  const int discs = 4;
  store_library(discs);
  set_image_read_hook(count_read);
  g_reads = 0;
  hold_identification(true);
  load_settings(queue_stored_disc);
  ASSERT_EQ(g_state.entry_count, discs);
  pump_for(300);
  EXPECT_EQ(g_reads, 0);
  EXPECT_FALSE(identification_idle());
  for (int i = 0; i < discs; i++) EXPECT_EQ(g_state.entries[i].status, DISC_CHECKING) << i;

  hold_identification(false);
  ASSERT_TRUE(wait_for_identification(20000));
  EXPECT_GT(g_reads, 0);
  for (int i = 0; i < discs; i++) EXPECT_EQ(g_state.entries[i].status, DISC_OK) << i;
}

TEST_F(IdentifyWorkerTest, AnAnswerForARemovedOrReplacedEntryIsDropped) {
  std::wstring pal = join(folder, L"pal.iso"), other = join(folder, L"other.iso");
  write_disc(pal, "SXPE_100.01");
  write_disc(other, "SXXX_999.99");
  set_image_read_hook(slow_read);
  g_read_delay_ms = 40;
  queue_stored_disc(pal.c_str());
  queue_stored_disc(other.c_str());
  ASSERT_EQ(g_state.entry_count, 2);

  // pal.iso leaves the library while its answer is under way; other.iso moves
  // into its place and must keep its own answer, not take pal's.
  g_state.selected = 0;
  dispatch_command(CMD_REMOVE_ENTRY, 0);
  ASSERT_EQ(g_state.entry_count, 1);
  ASSERT_TRUE(wait_for_identification());
  ASSERT_EQ(g_state.entry_count, 1);
  EXPECT_EQ(std::wstring(g_state.entries[0].path), other);
  EXPECT_EQ(g_state.entries[0].status, DISC_UNKNOWN);
  EXPECT_STREQ(g_state.entries[0].serial, "SXXX_999.99");

  // Removed and added again: only the new entry's answer lands, once.
  queue_stored_disc(pal.c_str());
  g_state.selected = 1;
  queue_refresh(1, false);
  dispatch_command(CMD_REMOVE_ENTRY, 0);
  queue_stored_disc(pal.c_str());
  ASSERT_TRUE(wait_for_identification());
  ASSERT_EQ(g_state.entry_count, 2);
  EXPECT_EQ(std::wstring(g_state.entries[1].path), pal);
  EXPECT_EQ(g_state.entries[1].status, DISC_OK);
  EXPECT_EQ(g_state.entries[0].status, DISC_UNKNOWN);
}

TEST_F(IdentifyWorkerTest, ASearchOfTwoHundredImagesShowsHowFarItIsAndStopsOnEscape) {
  std::wstring root = join(folder, L"many");
  CreateDirectoryW(root.c_str(), NULL);
  for (int i = 0; i < 200; i++) write_disc(join(root, L"disc" + std::to_wstring(i) + L".iso"), "SXXX_999.99");
  set_image_read_hook(slow_read);
  g_read_delay_ms = 25;

  g_state.selected = -1;
  DWORD start = GetTickCount();
  scan_chosen_folder(root.c_str());
  EXPECT_LT((int)(GetTickCount() - start), 100) << "the search must not hold the window";
  ASSERT_TRUE(pump_until([] { return g_state.entry_count >= 3; }, 20000));
  EXPECT_TRUE(scan_in_progress());
  std::wstring progress = g_state.status_text;
  EXPECT_EQ(progress.rfind(L"Looking for disc images: ", 0), 0u) << progress;
  EXPECT_NE(progress.find(L" of 200 checked. Press Esc to stop the search."), std::wstring::npos) << progress;

  // Esc stops it (no question: a search is quick to start again), and soon.
  int stop_ms = key_answer_ms(VK_ESCAPE, [] { return !scan_in_progress(); });
  EXPECT_LT(stop_ms, 2000);
  ASSERT_TRUE(wait_for_identification());
  int added = g_state.entry_count;
  printf("search of 200 slow images: stopped %d ms after Esc, with %d added\n", stop_ms, added);
  EXPECT_LT(added, 64) << "the search went on to the library's end";
  EXPECT_EQ(std::wstring(g_state.status_text),
            L"Search stopped. Added " + std::to_wstring(added) + L" disc images.");
  EXPECT_EQ(g_state.selected, 0);  // nothing was selected: its first image is
  EXPECT_EQ(ini_string(L"library", L"count"), std::to_wstring(added));
  // Nothing more comes after the stop.
  pump_for(300);
  EXPECT_EQ(g_state.entry_count, added);
}

TEST_F(IdentifyWorkerTest, FoldersBeyondTheSearchesAtOnceAreNamedNotLost) {
  // Ten dropped folders while the first search still reads: eight searches
  // wait their turn, and the two that find no place are said, not dropped
  // without a word.
  set_image_read_hook(slow_read);
  g_read_delay_ms = 30;
  for (int i = 0; i < SCAN_CAPACITY + 2; i++) {
    std::wstring dropped = join(folder, L"folder" + std::to_wstring(i));
    CreateDirectoryW(dropped.c_str(), NULL);
    write_disc(join(dropped, L"disc.iso"), "SXXX_999.99");
  }
  for (int i = 0; i < SCAN_CAPACITY + 2; i++)
    add_dropped_path(join(folder, L"folder" + std::to_wstring(i)).c_str());
  ASSERT_TRUE(wait_for_identification(60000));
  EXPECT_EQ(g_state.entry_count, SCAN_CAPACITY);
  EXPECT_EQ(std::wstring(g_state.status_text),
            L"Added 8 disc images. 2 folders were not searched (too many searches at once): add them again.");
}

TEST_F(IdentifyWorkerTest, PlayChecksTheDiscAgainWithoutHoldingTheWindow) {
  std::wstring game_dir = install_standin_game(folder);
  std::wstring pal = join(folder, L"pal.iso"), other = join(folder, L"other.iso");
  write_disc(pal, "SXPE_100.01");
  write_disc(other, "SXXX_999.99");
  ASSERT_EQ(add_entry(pal), 0);
  ASSERT_EQ(add_entry(other), 1);
  g_state.minimize = 0;
  g_state.selected = 0;
  set_image_read_hook(slow_read);
  g_read_delay_ms = 100;

  SendMessageW(window, WM_KEYDOWN, VK_RETURN, 0);
  EXPECT_EQ(g_state.running_entry, -1) << "the game waits for the check";
  EXPECT_FALSE(identification_idle());
  int down_ms = key_answer_ms(VK_DOWN, [] { return g_state.selected == 1; });
  EXPECT_LT(down_ms, 100);
  EXPECT_FALSE(identification_idle()) << "the key was answered while the disc was still being read";
  std::wstring record = join(game_dir, L"game_record.txt");
  EXPECT_TRUE(pump_until([&] { return GetFileAttributesW(record.c_str()) != INVALID_FILE_ATTRIBUTES; }, 20000))
      << "the game starts once the check has answered";
  EXPECT_TRUE(pump_until([] { return g_state.running_entry < 0; }, 10000));
  printf("Play with a slow disc: a key answered in %d ms during the check\n", down_ms);
}
