// Library management through the window: folder scans, dialog choices,
// dropped files and folders, and removal with the selection rules.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>
#include <functional>
#include <string>
#include <vector>

#include "app/commands.h"
#include "core/state.h"
#include "library/library.h"
#include "support/window_harness.h"
#include "pipeline/job_status.h"
#include "ui/hit_regions.h"

class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = open_launcher_window(L"library");
    ASSERT_TRUE(g_state.main_window != NULL) << "no window: is DISPLAY an X server?";
  }
  void TearDown() override { close_launcher_window(); }
  std::wstring make_folder(const std::wstring& relative) {
    std::wstring path = folder;
    size_t start = 0;
    while (start <= relative.size()) {
      size_t end = relative.find(L'\\', start);
      if (end == std::wstring::npos) end = relative.size();
      path = join(path, relative.substr(start, end - start));
      CreateDirectoryW(path.c_str(), NULL);
      start = end + 1;
    }
    return path;
  }
  // A file that is no disc image, whatever its name.
  void touch(const std::wstring& relative) { ASSERT_TRUE(write_bytes(join(folder, relative), "x")); }
  // A small disc image of a serial the catalogue does not know.
  void put_disc(const std::wstring& relative) { write_disc(join(folder, relative), "SXXX_999.99"); }
  std::vector<std::wstring> library() {
    std::vector<std::wstring> paths;
    for (int i = 0; i < g_state.entry_count; i++) paths.push_back(g_state.entries[i].path);
    return paths;
  }
  std::wstring folder;
};

TEST_F(LibraryTest, AScanFindsIsoFilesFourLevelsDeepAndSkipsDotNames) {
  std::wstring root = make_folder(L"scan");
  make_folder(L"scan\\.cache");
  make_folder(L"scan\\d1\\d2\\d3\\d4\\d5");
  put_disc(L"scan\\x.iso");
  put_disc(L"scan\\.hidden.iso");
  put_disc(L"scan\\.cache\\y.iso");
  put_disc(L"scan\\a.ISO");
  put_disc(L"scan\\notes.txt");
  put_disc(L"scan\\b.iso.txt");
  put_disc(L"scan\\.iso");
  touch(L"scan\\fake.iso");                    // named like one, but no disc image: skipped
  put_disc(L"scan\\d1\\d2\\d3\\d4\\four.iso");   // four levels below: found
  put_disc(L"scan\\d1\\d2\\d3\\d4\\d5\\five.iso");  // five levels below: not entered

  g_state.settings_open = true;
  arm_save_probe();
  SetCursor(LoadCursorW(NULL, IDC_HAND));
  scan_chosen_folder(root.c_str());
  EXPECT_EQ(GetCursor(), LoadCursorW(NULL, IDC_HAND));  // the window does not wait: no wait cursor
  ASSERT_TRUE(wait_for_identification());
  EXPECT_STREQ(g_state.status_text, L"Added 3 disc images; skipped 1: 1 not a disc image.");
  EXPECT_FALSE(g_state.status_is_error);
  EXPECT_EQ(g_state.selected, 0);  // nothing was selected: the first entry is
  EXPECT_TRUE(saved());
  std::vector<std::wstring> found = library();
  std::sort(found.begin(), found.end());
  std::vector<std::wstring> expected = {join(root, L"a.ISO"), join(root, L"d1\\d2\\d3\\d4\\four.iso"),
                                        join(root, L"x.iso")};
  EXPECT_EQ(found, expected);
  EXPECT_EQ(ini_string(L"library", L"count"), L"3");

  // Again: nothing new, and what was passed over and why.
  g_state.selected = 2;
  scan_chosen_folder(root.c_str());
  ASSERT_TRUE(wait_for_identification());
  EXPECT_STREQ(g_state.status_text, L"Added no disc images; skipped 4: 3 already listed, 1 not a disc image.");
  EXPECT_EQ(g_state.selected, 2);

  // One new image: the singular message; an existing selection stays.
  put_disc(L"scan\\d1\\new.iso");
  scan_chosen_folder(root.c_str());
  ASSERT_TRUE(wait_for_identification());
  EXPECT_STREQ(g_state.status_text, L"Added 1 disc image; skipped 4: 3 already listed, 1 not a disc image.");
  EXPECT_EQ(g_state.entry_count, 4);
  EXPECT_EQ(g_state.selected, 2);

  // A folder that cannot be listed adds nothing.
  scan_chosen_folder(join(folder, L"missing").c_str());
  ASSERT_TRUE(wait_for_identification());
  EXPECT_STREQ(g_state.status_text, L"Added no disc images.");
  EXPECT_EQ(g_state.entry_count, 4);
}

TEST_F(LibraryTest, AScanStopsAtAFullLibraryAndCountsOnlyWhatItAdded) {
  std::wstring root = make_folder(L"many");
  for (int i = 0; i < 70; i++) put_disc(L"many\\disc" + std::to_wstring(i) + L".iso");
  g_state.selected = -1;
  scan_chosen_folder(root.c_str());
  ASSERT_TRUE(wait_for_identification());
  EXPECT_EQ(g_state.entry_count, 64);
  EXPECT_STREQ(g_state.status_text, L"Added 64 disc images; skipped 6: 6 with no room left (the library holds 64).");
}

TEST_F(LibraryTest, FilesThatAreNoDiscImagesTakeNoPlaceInANearlyFullLibrary) {
  // Four places left, ten files named ".iso" that are none, three discs: the
  // discs all get a place, whatever order the folder lists them in.
  for (int i = 0; i < 60; i++) {
    LibraryEntry& e = g_state.entries[i];
    memset(&e, 0, sizeof e);
    wcscpy(e.path, (L"C:\\discs\\" + std::to_wstring(i) + L".iso").c_str());
    e.catalog_row = -1;
    e.status = DISC_NOT_FOUND;
  }
  g_state.entry_count = 60;
  std::wstring root = make_folder(L"mixed");
  for (int i = 0; i < 10; i++) touch(L"mixed\\fake" + std::to_wstring(i) + L".iso");
  for (int i = 0; i < 3; i++) put_disc(L"mixed\\disc" + std::to_wstring(i) + L".iso");
  scan_chosen_folder(root.c_str());
  ASSERT_TRUE(wait_for_identification());
  EXPECT_EQ(g_state.entry_count, 63);
  EXPECT_STREQ(g_state.status_text, L"Added 3 disc images; skipped 10: 10 not disc images.");
}

TEST_F(LibraryTest, DialogChoicesAddEveryFileAndSelectTheLast) {
  std::wstring root = make_folder(L"chosen");
  for (const wchar_t* name : {L"one.iso", L"two.iso", L"three.iso"}) put_disc(std::wstring(L"chosen\\") + name);

  // One file: its full path alone.
  std::wstring single = join(root, L"two.iso");
  single.push_back(L'\0');
  add_chosen_files(single.c_str());
  ASSERT_TRUE(wait_for_identification());
  EXPECT_STREQ(g_state.status_text, L"Added 1 disc image.");
  EXPECT_EQ(library(), std::vector<std::wstring>{join(root, L"two.iso")});
  EXPECT_EQ(g_state.selected, 0);

  // Several: the folder, then the names, then an empty text.
  std::wstring several = root + L'\0' + L"one.iso" + L'\0' + L"two.iso" + L'\0' + L"three.iso" + L'\0';
  add_chosen_files(several.c_str());
  ASSERT_TRUE(wait_for_identification());
  EXPECT_STREQ(g_state.status_text, L"Added 2 disc images; skipped 1: 1 already listed.");
  std::vector<std::wstring> expected = {join(root, L"two.iso"), join(root, L"one.iso"), join(root, L"three.iso")};
  EXPECT_EQ(library(), expected);
  EXPECT_EQ(g_state.selected, 2);  // the last chosen file

  // A name that would make the path longer than 259 units is left out, not cut.
  std::wstring long_name(300, L'n');
  std::wstring with_long = root + L'\0' + long_name + L'\0' + L"one.iso" + L'\0';
  add_chosen_files(with_long.c_str());
  ASSERT_TRUE(wait_for_identification());
  EXPECT_STREQ(g_state.status_text,
               L"Added no disc images; skipped 2: 1 already listed, 1 with a path longer than Windows allows.");
  EXPECT_EQ(g_state.entry_count, 3);
  EXPECT_EQ(g_state.selected, 1);  // one.iso, already in the library
}

static BOOL CALLBACK find_name_box(HWND child, LPARAM context) {
  // The file-name box of the file dialog (combo box 13 or edit 1), or its edit.
  int id = GetDlgCtrlID(child);
  if (id == 0x47C || id == 0x480) {
    *(HWND*)context = child;
    return FALSE;
  }
  return TRUE;
}

// Types text into the open dialog's file-name box and presses Open.
static void type_and_open(HWND dialog, const std::wstring& text) {
  HWND box = NULL;
  EnumChildWindows(dialog, find_name_box, (LPARAM)&box);
  ASSERT_TRUE(box != NULL);
  SendMessageW(box, WM_SETTEXT, 0, (LPARAM)text.c_str());
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(dialog, IDOK));
}

TEST_F(LibraryTest, TheAddDiscDialogTakesSeveralFilesAndSaves) {
  std::wstring root = make_folder(L"picked");
  for (const wchar_t* name : {L"one.iso", L"two.iso", L"three.iso"}) put_disc(std::wstring(L"picked\\") + name);
  g_state.settings_open = true;
  arm_save_probe();
  DialogSeen seen = with_dialog([] { dispatch_command(CMD_ADD_DISC, 0); },
                                [&](HWND dialog) {
                                  type_and_open(dialog, root);  // into the folder first
                                  Sleep(300);
                                  type_and_open(dialog, L"\"one.iso\" \"two.iso\" \"three.iso\"");
                                });
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(seen.title, L"Add disc images");
  ASSERT_TRUE(wait_for_identification());  // the entries join when their answers come
  std::vector<std::wstring> expected = {join(root, L"one.iso"), join(root, L"two.iso"),
                                        join(root, L"three.iso")};
  EXPECT_EQ(library(), expected);
  EXPECT_EQ(g_state.selected, 2);
  EXPECT_FALSE(g_state.settings_open);
  EXPECT_TRUE(saved());
  EXPECT_EQ(ini_string(L"library", L"disc2"), join(root, L"three.iso"));
}

// An HDROP as the shell makes it: DROPFILES, then wide paths, then an empty one.
static HDROP make_drop(const std::vector<std::wstring>& paths) {
  size_t units = 1;
  for (const std::wstring& p : paths) units += p.size() + 1;
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + units * sizeof(wchar_t));
  DROPFILES* drop = (DROPFILES*)GlobalLock(memory);
  drop->pFiles = sizeof(DROPFILES);
  drop->fWide = TRUE;
  wchar_t* out = (wchar_t*)(drop + 1);
  for (const std::wstring& p : paths) {
    memcpy(out, p.c_str(), (p.size() + 1) * sizeof(wchar_t));
    out += p.size() + 1;
  }
  GlobalUnlock(memory);
  return (HDROP)memory;
}

TEST_F(LibraryTest, DroppedFilesAreAddedAndDroppedFoldersScanned) {
  std::wstring dropped = make_folder(L"dropped");
  make_folder(L"dropped\\sub");
  put_disc(L"dropped\\sub\\inner.iso");
  touch(L"dropped\\skip.txt");
  touch(L"notes.txt");
  std::wstring disc = join(folder, L"pal.iso");
  write_disc(disc, "SXPE_100.01");
  std::wstring too_long = folder + L"\\" + std::wstring(300 - folder.size(), L'z') + L".iso";

  g_state.settings_open = true;
  arm_save_probe();
  // A path that is not there reads no attributes and so counts as a folder
  // whose scan finds nothing.
  std::wstring gone = join(folder, L"gone.iso");
  HDROP drop = make_drop({join(folder, L"notes.txt"), dropped, too_long, gone, disc});
  SendMessageW(g_state.main_window, WM_DROPFILES, (WPARAM)drop, 0);

  EXPECT_FALSE(g_state.settings_open);
  ASSERT_TRUE(wait_for_identification());
  // A file that is no disc image is left out, whatever its extension.
  std::vector<std::wstring> expected = {join(dropped, L"sub\\inner.iso"), disc};
  EXPECT_EQ(library(), expected);
  EXPECT_EQ(g_state.entries[1].status, DISC_OK);
  EXPECT_EQ(g_state.selected, 1);  // the last dropped file; the folder did not move it
  EXPECT_TRUE(saved());
  EXPECT_EQ(ini_string(L"library", L"count"), L"2");
  EXPECT_STREQ(g_state.status_text,
               L"Added 2 disc images; skipped 2: 1 not a disc image, 1 with a path longer than Windows allows.");

  // A folder alone leaves a selection where it is; with none, the first disc
  // it brought is selected, so that the main pane shows a disc rather than
  // asking for one beside a list that has them.
  put_disc(L"dropped\\sub\\second.iso");
  SendMessageW(g_state.main_window, WM_DROPFILES, (WPARAM)make_drop({dropped}), 0);
  ASSERT_TRUE(wait_for_identification());
  EXPECT_EQ(g_state.entry_count, 3);
  EXPECT_EQ(g_state.selected, 1);
  g_state.selected = -1;
  put_disc(L"dropped\\third.iso");
  put_disc(L"dropped\\sub\\fourth.iso");
  SendMessageW(g_state.main_window, WM_DROPFILES, (WPARAM)make_drop({dropped}), 0);
  ASSERT_TRUE(wait_for_identification());
  EXPECT_EQ(g_state.entry_count, 5);
  EXPECT_EQ(g_state.selected, 3);
  // A drop that brings nothing new leaves no selection made up.
  g_state.selected = -1;
  SendMessageW(g_state.main_window, WM_DROPFILES, (WPARAM)make_drop({dropped}), 0);
  ASSERT_TRUE(wait_for_identification());
  EXPECT_EQ(g_state.selected, -1);
}

TEST_F(LibraryTest, ImagesInTheLaunchersOwnFoldersAreAddedWithAWarning) {
  // Builds replace and delete what lies in games, toolchain and downloads; an
  // image kept there is added, and the status line says to move it.
  make_folder(L"games\\mox1");
  make_folder(L"toolchain");
  make_folder(L"mine");
  put_disc(L"games\\mox1\\kept here.iso");
  put_disc(L"toolchain\\tools disc.iso");
  put_disc(L"mine\\fine.iso");
  auto warning = [](const wchar_t* name, const wchar_t* managed) {
    return L"Added 1 disc image. " + std::wstring(name) + L" is in the launcher's " + managed +
           L" folder, whose files builds replace and delete. Move it to a folder of your own before you build.";
  };
  struct Case {
    const char* name;
    std::function<void()> add;
    std::wstring status;
  } cases[] = {
      {"dialog, own folder", [&] { add_chosen_files((join(folder, L"mine\\fine.iso") + L'\0').c_str()); },
       L"Added 1 disc image."},
      {"dialog, games", [&] { add_chosen_files((join(folder, L"games\\mox1\\kept here.iso") + L'\0').c_str()); },
       warning(L"kept here.iso", L"games")},
      {"drop, toolchain", [&] { add_dropped_path(join(folder, L"toolchain\\tools disc.iso").c_str()); },
       warning(L"tools disc.iso", L"toolchain")},
      {"drop, folder holding games", [&] { add_dropped_path(join(folder, L"games").c_str()); },
       warning(L"kept here.iso", L"games")},
      {"scan",
       [&] {
         DeleteFileW(join(folder, L"toolchain\\tools disc.iso").c_str());  // one warned image, whatever the order
         scan_chosen_folder(folder.c_str());
       },
       L"Added 2 disc images." + warning(L"kept here.iso", L"games").substr(19)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_state.entry_count = 0;
    g_state.selected = -1;
    wcscpy(g_state.status_text, L"kept");
    g_state.status_is_error = false;
    c.add();
    ASSERT_TRUE(wait_for_identification());
    EXPECT_GT(g_state.entry_count, 0) << "the image is added all the same";
    EXPECT_EQ(std::wstring(g_state.status_text), c.status);
    EXPECT_EQ(g_state.status_is_error, c.status.find(L"Move it") != std::wstring::npos);
  }
}

TEST_F(LibraryTest, RemovalKeepsTheSelectionTheRunningGameAndTheBuildWithTheirEntries) {
  struct Case {
    const char* name;
    int count, selected, running, build_entry, build_running;
    bool removes;
    int selected_after, running_after, build_entry_after;
  } cases[] = {
      {"last of three", 3, 2, -1, -1, 0, true, 1, -1, -1},
      {"first of three", 3, 0, -1, -1, 0, true, 0, -1, -1},
      {"the only one", 1, 0, -1, -1, 0, true, -1, -1, -1},
      {"before the running game", 3, 0, 2, -1, 0, true, 0, 1, -1},
      {"after the running game", 3, 2, 0, -1, 0, true, 1, 0, -1},
      {"the running game's own", 3, 1, 1, -1, 0, false, 1, 1, -1},
      {"nothing selected", 3, -1, -1, -1, 0, false, -1, -1, -1},
      {"before the entry being built", 3, 0, -1, 2, 1, true, 0, -1, 1},
      {"after the entry being built", 3, 2, -1, 0, 1, true, 1, -1, 0},
      {"the entry being built", 3, 1, -1, 1, 1, false, 1, -1, 1},
      {"the entry of a finished build", 3, 1, -1, 1, 0, true, 1, -1, -1},
      {"before a finished build's entry", 3, 0, -1, 2, 0, true, 0, -1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_state.entry_count = 0;
    for (int i = 0; i < c.count; i++) {
      LibraryEntry& e = g_state.entries[i];
      memset(&e, 0, sizeof e);
      wcscpy(e.path, (L"C:\\discs\\" + std::to_wstring(i) + L".iso").c_str());
      e.catalog_row = -1;
      e.status = DISC_NOT_FOUND;
    }
    g_state.entry_count = c.count;
    g_state.selected = c.selected;
    g_state.running_entry = c.running;
    g_job.entry_index = c.build_entry;
    g_job.running = c.build_running;
    wcscpy(g_state.status_text, L"old");
    arm_save_probe();

    dispatch_command(CMD_REMOVE_ENTRY, 0);

    EXPECT_EQ(g_state.entry_count, c.removes ? c.count - 1 : c.count);
    EXPECT_EQ(g_state.selected, c.selected_after);
    EXPECT_EQ(g_state.running_entry, c.running_after);
    EXPECT_EQ(g_job.entry_index, c.build_entry_after);
    EXPECT_EQ(saved(), c.removes);
    EXPECT_STREQ(g_state.status_text, c.removes ? L"" : L"old");
    if (c.removes) {
      // The others keep their order, and the file on disk is never touched.
      std::vector<std::wstring> expected;
      for (int i = 0; i < c.count; i++)
        if (i != c.selected) expected.push_back(L"C:\\discs\\" + std::to_wstring(i) + L".iso");
      EXPECT_EQ(library(), expected);
      EXPECT_EQ(ini_string(L"library", L"count"), std::to_wstring(c.count - 1));
    }
  }
  g_job.running = 0;
  g_state.running_entry = -1;
}

TEST_F(LibraryTest, RemovingAnEntryLeavesItsImageFileAlone) {
  std::wstring disc = join(folder, L"pal.iso");
  write_disc(disc, "SXPE_100.01");
  ASSERT_EQ(add_entry(disc), 0);
  g_state.selected = 0;
  dispatch_command(CMD_REMOVE_ENTRY, 0);
  EXPECT_EQ(g_state.entry_count, 0);
  EXPECT_EQ(g_state.selected, -1);
  EXPECT_NE(GetFileAttributesW(disc.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(ini_string(L"library", L"selected"), L"-1");
}
