// Shared helpers of the window and launch tests; see window_harness.h.
#include <windows.h>
#include <objbase.h>
#include <stdio.h>
#include <string.h>
#include <atomic>
#include <thread>

#include "core/state.h"
#include "app/window.h"
#include "library/disc_identify.h"
#include "library/identify_worker.h"
#include "library/iso_image.h"
#include "library/library.h"
#include "support/iso_builder.h"
#include "ui/draw_kit.h"
#include "support/window_harness.h"
#include "ui/ui_state.h"
#include "ui/hit_regions.h"
#include "pipeline/job_status.h"

// One window serves every test that leaves it standing: under Wine without a
// window manager, each destroyed window costs a two-second wait.
static HWND shared_window = NULL;

std::wstring open_launcher_window(const wchar_t* name) {
  static bool registered = false;
  CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
  if (!registered) registered = register_window_class(GetModuleHandleW(NULL));
  if (shared_window && !IsWindow(shared_window)) shared_window = NULL;
  if (shared_window) ReleaseCapture();
  // Work queued by an earlier test would land in this one's library.
  set_image_read_hook(NULL);
  forget_pending_adds();
  pump_until(identification_idle, 10000);
  reset_state();
  reset_job_status();
  reset_ui_state();
  // In the build tree, not the temporary folder: the launcher refuses to
  // build there, and the window's build tests must reach the worker.
  std::wstring work = L"Z:";
  for (const char* c = TELVAR_BINARY_DIR "/tests/app/work"; *c; c++)
    work += *c == '/' ? L'\\' : (wchar_t)(unsigned char)*c;
  std::wstring folder = make_test_folder_in(work, name);
  wcscpy(g_state.launcher_dir, folder.c_str());
  wcscpy(g_state.settings_path, join(folder, L"telvar.ini").c_str());
  WritePrivateProfileStringW(L"build", L"release_url", join(folder, L"no-release").c_str(),
                             g_state.settings_path);
  create_fonts();
  if (shared_window) {
    g_state.main_window = shared_window;
    ShowWindow(shared_window, SW_RESTORE);
    SetWindowPos(shared_window, NULL, 0, 0, px(1100), px(860), SWP_NOMOVE | SWP_NOZORDER);
  } else {
    shared_window = create_main_window(GetModuleHandleW(NULL));
    ShowWindow(shared_window, SW_SHOWNORMAL);
  }
  UpdateWindow(shared_window);
  pump_for(30);
  return folder;
}

void close_launcher_window() { pump_for(20); }

static void handle_waiting_messages() {
  MSG message;
  while (PeekMessageW(&message, NULL, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) continue;  // posted by a destroyed window
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void pump_for(int ms) {
  DWORD start = GetTickCount();
  do {
    handle_waiting_messages();
    MsgWaitForMultipleObjects(0, NULL, FALSE, 5, QS_ALLINPUT);
  } while ((int)(GetTickCount() - start) < ms);
  handle_waiting_messages();
}

bool pump_until(const std::function<bool()>& done, int timeout_ms) {
  DWORD start = GetTickCount();
  while (!done()) {
    if ((int)(GetTickCount() - start) >= timeout_ms) return done();
    handle_waiting_messages();
    MsgWaitForMultipleObjects(0, NULL, FALSE, 5, QS_ALLINPUT);
  }
  return true;
}

bool wait_for_identification(int timeout_ms) {
  return pump_until([] { return identification_idle() && !add_in_progress(); }, timeout_ms);
}

void arm_save_probe() { WritePrivateProfileStringW(L"library", L"probe", L"1", g_state.settings_path); }

bool saved() { return ini_string(L"library", L"probe") != L"1"; }

std::wstring ini_string(const wchar_t* section, const wchar_t* key) {
  wchar_t value[PATH_UNITS];
  GetPrivateProfileStringW(section, key, L"<missing>", value, PATH_UNITS, g_state.settings_path);
  return value;
}

void write_disc(const std::wstring& path, const char* serial, bool reference_boot) {
  std::string boot = reference_boot ? reference_boot_file(serial) : std::string("another revision\n");
  write_bytes(path, build_disc(serial, boot));
}

std::wstring windows_path(const char* unix_path) {
  std::wstring path = L"Z:";
  for (const char* c = unix_path; *c; c++) path += *c == '/' ? L'\\' : (wchar_t)(unsigned char)*c;
  return path;
}

std::wstring install_standin_game(const std::wstring& launcher_dir) {
  std::wstring folder = launcher_dir;
  for (const wchar_t* part : {L"games", L"mox1", L"build", L"windows"}) {
    folder = join(folder, part);
    CreateDirectoryW(folder.c_str(), NULL);
  }
  CopyFileW(windows_path(STANDIN_GAME_EXE).c_str(), join(folder, L"mox1_wrapper.exe").c_str(), FALSE);
  write_bytes(join(folder, L"mox1_game.dll"), "");
  return folder;
}

int add_entry(const std::wstring& path) {
  int before = g_state.entry_count;
  add_disc(path.c_str(), false);
  return g_state.entry_count > before ? before : -1;
}

void set_regions(std::initializer_list<HitRegion> regions) {
  g_ui.hit_region_count = 0;
  for (const HitRegion& r : regions) add_hit_region(r.rect, r.id, r.arg);
}

LPARAM point(int x, int y) { return MAKELPARAM(x, y); }

struct DialogSearch {
  HWND found;
};

static BOOL CALLBACK find_dialog(HWND window, LPARAM context) {
  wchar_t name[16];
  if (IsWindowVisible(window) && GetClassNameW(window, name, 16) && wcscmp(name, L"#32770") == 0) {
    ((DialogSearch*)context)->found = window;
    return FALSE;
  }
  return TRUE;
}

DialogSeen with_dialog(const std::function<void()>& action, const std::function<void(HWND)>& answer) {
  DialogSeen seen;
  DWORD thread = GetCurrentThreadId();
  std::atomic<bool> finished(false);
  std::thread helper([&] {
    // Until the action returns (it may show no dialog at all), or 20 seconds.
    for (int tries = 0; tries < 2000 && !finished; tries++) {
      DialogSearch search = {NULL};
      EnumThreadWindows(thread, find_dialog, (LPARAM)&search);
      if (search.found) {
        Sleep(100);  // let the dialog finish its set-up
        wchar_t text[512] = L"";
        GetWindowTextW(search.found, text, 512);
        seen.title = text;
        text[0] = 0;
        GetDlgItemTextW(search.found, 0xFFFF, text, 512);  // a message box's text
        seen.text = text;
        seen.found = true;
        answer(search.found);
        return;
      }
      Sleep(10);
    }
  });
  action();
  finished = true;
  helper.join();
  return seen;
}

