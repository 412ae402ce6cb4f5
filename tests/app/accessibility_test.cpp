// The window's accessibility tree read back as a screen reader reads it,
// through the platform's client functions: AccessibleObjectFromWindow,
// AccessibleChildren and the IAccessible getters. Names, roles and states of
// the main view and the settings panel, the focus following Tab, the events
// for focus and the status line, and a command performed through the tree.
#include <gtest/gtest.h>
#include <windows.h>
#include <oleacc.h>
#include <string>
#include <vector>

#include "access_fixture.h"
#include "app/keyboard.h"
#include "core/state.h"
#include "pipeline/job_status.h"
#include "ui/draw_kit.h"
#include "ui/ui_state.h"

// One child as a reader sees it.
struct Node {
  LONG child = 0;
  std::wstring name, value, description;
  LONG role = 0, state = 0;
};

static std::wstring take(BSTR text) {
  std::wstring out = text ? text : L"";
  SysFreeString(text);
  return out;
}

static VARIANT child_id(LONG id) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = id;
  return v;
}

static Node read_node(IAccessible* acc, LONG child) {
  Node node;
  node.child = child;
  VARIANT id = child_id(child);
  BSTR text = NULL;
  if (acc->get_accName(id, &text) == S_OK) node.name = take(text);
  text = NULL;
  if (acc->get_accValue(id, &text) == S_OK) node.value = take(text);
  text = NULL;
  if (acc->get_accDescription(id, &text) == S_OK) node.description = take(text);
  VARIANT v;
  VariantInit(&v);
  if (acc->get_accRole(id, &v) == S_OK && v.vt == VT_I4) node.role = v.lVal;
  VariantInit(&v);
  if (acc->get_accState(id, &v) == S_OK && v.vt == VT_I4) node.state = v.lVal;
  return node;
}

class TreeTest : public AccessTest {
 protected:
  void TearDown() override {
    if (acc) acc->Release();
    acc = NULL;
    AccessTest::TearDown();
  }
  // The client object of the window, through the platform's client function.
  void open_tree() {
    paint();
    if (acc) acc->Release();
    acc = NULL;
    HRESULT hr = AccessibleObjectFromWindow(window, (DWORD)OBJID_CLIENT, IID_IAccessible, (void**)&acc);
    ASSERT_EQ(hr, S_OK);
    ASSERT_TRUE(acc != NULL);
  }
  // Every child, listed with AccessibleChildren.
  std::vector<Node> children() {
    std::vector<Node> out;
    long count = 0;
    EXPECT_EQ(acc->get_accChildCount(&count), S_OK);
    std::vector<VARIANT> ids(count > 0 ? count : 1);
    long got = 0;
    EXPECT_EQ(AccessibleChildren(acc, 0, count, ids.data(), &got), S_OK);
    EXPECT_EQ(got, count);
    for (long i = 0; i < got; i++) {
      EXPECT_EQ(ids[i].vt, VT_I4) << "children are simple elements";
      if (ids[i].vt == VT_I4) out.push_back(read_node(acc, ids[i].lVal));
      VariantClear(&ids[i]);
    }
    return out;
  }
  static const Node* named(const std::vector<Node>& nodes, const std::wstring& name, LONG role) {
    for (const Node& n : nodes)
      if (n.name == name && n.role == role) return &n;
    return NULL;
  }
  IAccessible* acc = NULL;
};

TEST_F(TreeTest, TheMainViewListsRowsButtonsAndTheStatusLine) {
  ASSERT_EQ(built_entry(), 0);
  LibraryEntry missing = g_state.entries[0];
  wcscpy(missing.path, join(folder, L"gone.iso").c_str());
  missing.status = DISC_NOT_FOUND;
  missing.catalog_row = -1;
  g_state.entries[1] = missing;
  g_state.entry_count = 2;
  g_state.selected = 1;  // the missing image: Play, Open log and Game folder disabled
  wcscpy(g_state.status_text, L"Found 0 new disc images.");
  open_tree();

  Node window_node = read_node(acc, CHILDID_SELF);
  EXPECT_EQ(window_node.role, ROLE_SYSTEM_CLIENT);
  EXPECT_EQ(window_node.name, L"Project Telvar");

  std::vector<Node> nodes = children();
  ASSERT_EQ((int)nodes.size(), g_ui.item_count + 1);

  std::vector<const Node*> rows;
  for (const Node& n : nodes)
    if (n.role == ROLE_SYSTEM_LISTITEM) rows.push_back(&n);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_FALSE(rows[0]->name.empty());
  EXPECT_NE(rows[0]->description.find(L"Ready to play"), std::wstring::npos);
  EXPECT_EQ(rows[0]->state & STATE_SYSTEM_SELECTED, 0);
  EXPECT_EQ(rows[1]->name, L"gone.iso");
  EXPECT_EQ(rows[1]->description, L"Disc image not found");
  EXPECT_NE(rows[1]->state & STATE_SYSTEM_SELECTED, 0);
  EXPECT_NE(rows[1]->state & STATE_SYSTEM_SELECTABLE, 0);

  struct Button {
    const wchar_t* name;
    bool enabled;
  } buttons[] = {{L"Add disc image", true}, {L"Scan a folder", true}, {L"Play", false}, {L"Settings", true},
                 {L"Open log", false},      {L"Game folder", false},  {L"Remove", true}};
  for (const Button& b : buttons) {
    SCOPED_TRACE(std::string(b.name, b.name + wcslen(b.name)));
    const Node* n = named(nodes, b.name, ROLE_SYSTEM_PUSHBUTTON);
    ASSERT_TRUE(n != NULL);
    EXPECT_EQ((n->state & STATE_SYSTEM_UNAVAILABLE) != 0, !b.enabled);
    EXPECT_EQ((n->state & STATE_SYSTEM_FOCUSABLE) != 0, b.enabled);
    if (!b.enabled) {
      EXPECT_FALSE(n->description.empty()) << "a disabled button says why";
    }
  }

  const Node& status = nodes.back();
  EXPECT_EQ(status.role, ROLE_SYSTEM_STATICTEXT);
  EXPECT_EQ(status.name, L"Found 0 new disc images.");
}

TEST_F(TreeTest, TheSettingsPanelListsSwitchesTheChoiceAndTheSteppers) {
  fake_entries(1);
  g_state.selected = 0;
  g_state.settings_open = true;
  g_state.vsync = 1;
  g_state.no_gs_thread = 1;  // shown inverted: "Graphics on its own thread" is off
  g_state.no_gl_thread = 0;
  g_state.fps_log = 0;
  g_state.minimize = 1;
  g_state.upscaled = 1;
  g_state.capture_seconds = 1;
  g_state.start_level = -1;
  open_tree();
  std::vector<Node> nodes = children();

  struct Switch {
    const wchar_t* name;
    bool on;
  } switches[] = {{L"VSync", true},
                  {L"Graphics on its own thread", false},
                  {L"OpenGL calls on their own thread", true},
                  {L"Performance statistics", false},
                  {L"Minimize while playing", true}};
  for (const Switch& s : switches) {
    SCOPED_TRACE(std::string(s.name, s.name + wcslen(s.name)));
    const Node* n = named(nodes, s.name, ROLE_SYSTEM_CHECKBUTTON);
    ASSERT_TRUE(n != NULL);
    EXPECT_EQ((n->state & STATE_SYSTEM_CHECKED) != 0, s.on);
  }
  const Node* native = named(nodes, L"Native", ROLE_SYSTEM_RADIOBUTTON);
  const Node* upscaled = named(nodes, L"Upscaled", ROLE_SYSTEM_RADIOBUTTON);
  ASSERT_TRUE(native && upscaled);
  EXPECT_EQ(native->state & STATE_SYSTEM_CHECKED, 0);
  EXPECT_NE(upscaled->state & STATE_SYSTEM_CHECKED, 0);

  const Node* capture = named(nodes, L"F9 capture length", ROLE_SYSTEM_SPINBUTTON);
  const Node* level = named(nodes, L"Start in a level (testing)", ROLE_SYSTEM_SPINBUTTON);
  ASSERT_TRUE(capture && level);
  EXPECT_EQ(capture->value, L"1 second");
  EXPECT_EQ(level->value, L"Off");

  const Node* done = named(nodes, L"Done", ROLE_SYSTEM_PUSHBUTTON);
  const Node* rebuild = named(nodes, L"Rebuild", ROLE_SYSTEM_PUSHBUTTON);
  ASSERT_TRUE(done && rebuild);
  EXPECT_EQ(done->state & STATE_SYSTEM_UNAVAILABLE, 0);
  EXPECT_NE(rebuild->state & STATE_SYSTEM_UNAVAILABLE, 0);
  EXPECT_EQ(rebuild->description, L"Only a supported disc can be rebuilt.");
}

// In a window lower than the settings panel every control stays in the tree;
// those scrolled out of the window say so, and scrolling changes which.
TEST_F(TreeTest, ControlsScrolledOutOfTheWindowAreOffscreen) {
  fake_entries(1);
  g_state.selected = 0;
  g_state.settings_open = true;
  set_client_size(1100, 560);
  open_tree();
  struct Check {
    const wchar_t* name;
    LONG role;
  } top = {L"Done", ROLE_SYSTEM_PUSHBUTTON}, bottom = {L"Start in a level (testing)", ROLE_SYSTEM_SPINBUTTON};
  std::vector<Node> nodes = children();
  const Node* done = named(nodes, top.name, top.role);
  const Node* level = named(nodes, bottom.name, bottom.role);
  ASSERT_TRUE(done && level);
  EXPECT_EQ(done->state & STATE_SYSTEM_OFFSCREEN, 0);
  EXPECT_NE(level->state & STATE_SYSTEM_OFFSCREEN, 0) << "below a 560-pixel window";

  key(VK_END);  // the panel's foot
  ASSERT_GT(g_ui.pane_scroll, px(60));
  open_tree();
  nodes = children();
  done = named(nodes, top.name, top.role);
  level = named(nodes, bottom.name, bottom.role);
  ASSERT_TRUE(done && level);
  EXPECT_NE(done->state & STATE_SYSTEM_OFFSCREEN, 0) << "scrolled up out of the window";
  EXPECT_EQ(level->state & STATE_SYSTEM_OFFSCREEN, 0);
}

TEST_F(TreeTest, TheProgressBarHasTheStageAndThePercentage) {
  fake_entries(1);
  g_state.selected = 0;
  g_job.running = 1;
  g_job.entry_index = 0;
  g_job.progress = 0.42;
  wcscpy(g_job.stage_text, L"Building the game");
  open_tree();
  std::vector<Node> nodes = children();
  const Node* bar = named(nodes, L"Building the game", ROLE_SYSTEM_PROGRESSBAR);
  ASSERT_TRUE(bar != NULL);
  EXPECT_EQ(bar->value, L"42%");
  const Node* cancel = named(nodes, L"Cancel", ROLE_SYSTEM_PUSHBUTTON);
  ASSERT_TRUE(cancel != NULL);
  EXPECT_EQ(cancel->state & STATE_SYSTEM_UNAVAILABLE, 0);
  g_job.running = 0;
}

// Win events the window raised, as a reader's out-of-context hook gets them.
struct SeenEvent {
  DWORD event;
  LONG object, child;
};
static std::vector<SeenEvent> g_events;
static HWND g_events_window;

static void CALLBACK on_win_event(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG object, LONG child, DWORD, DWORD) {
  if (hwnd == g_events_window) g_events.push_back({event, object, child});
}

static bool has_event(DWORD event, LONG child) {
  for (const SeenEvent& e : g_events)
    if (e.event == event && e.object == OBJID_CLIENT && e.child == child) return true;
  return false;
}

TEST_F(TreeTest, TheFocusFollowsTabAndIsAnnounced) {
  fake_entries(2);
  g_state.selected = 0;
  SetForegroundWindow(window);
  SetFocus(window);
  open_tree();
  g_events.clear();
  g_events_window = window;
  HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_FOCUS, EVENT_OBJECT_LIVEREGIONCHANGED, NULL, on_win_event,
                                       GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
  ASSERT_TRUE(hook != NULL);

  VARIANT focus;
  VariantInit(&focus);
  ASSERT_EQ(acc->get_accFocus(&focus), S_OK);
  EXPECT_EQ(focus.vt, VT_I4);
  EXPECT_EQ(focus.lVal, CHILDID_SELF) << "the window itself, before any Tab";

  for (int tab = 0; tab < 4; tab++) {
    SCOPED_TRACE(tab);
    key(VK_TAB);
    pump_for(30);
    ASSERT_TRUE(focused_item() != NULL) << "Tab focused nothing";
    LONG expected = (LONG)(focused_item() - g_ui.items) + 1;
    VariantInit(&focus);
    ASSERT_EQ(acc->get_accFocus(&focus), S_OK);
    ASSERT_EQ(focus.vt, VT_I4);
    EXPECT_EQ(focus.lVal, expected);
    Node n = read_node(acc, focus.lVal);
    EXPECT_NE(n.state & STATE_SYSTEM_FOCUSED, 0);
    EXPECT_EQ(n.name, focused_item()->name);
    EXPECT_TRUE(has_event(EVENT_OBJECT_FOCUS, expected));
  }

  // A changed status line is a live region: the reader hears the new text.
  g_events.clear();
  wcscpy(g_state.status_text, L"No log yet: it is written when the game runs.");
  paint();
  pump_for(50);
  LONG status = g_ui.item_count + 1;
  EXPECT_TRUE(has_event(EVENT_OBJECT_LIVEREGIONCHANGED, status));
  EXPECT_TRUE(has_event(EVENT_OBJECT_NAMECHANGE, status));
  EXPECT_EQ(read_node(acc, status).name, L"No log yet: it is written when the game runs.");
  // The same text again is not told twice.
  g_events.clear();
  paint();
  pump_for(50);
  EXPECT_FALSE(has_event(EVENT_OBJECT_LIVEREGIONCHANGED, status));

  // The end of a build is announced through the status line.
  g_events.clear();
  g_job.entry_index = 0;
  SendMessageW(window, WM_APP_BUILD_PROGRESS, 1, 0);
  UpdateWindow(window);
  pump_for(50);
  EXPECT_TRUE(has_event(EVENT_OBJECT_LIVEREGIONCHANGED, g_ui.item_count + 1));
  EXPECT_EQ(read_node(acc, g_ui.item_count + 1).name, L"Built. Ready to play.");

  // So is a failed one.
  g_job.failed = 1;
  g_job.entry_index = 0;
  wcscpy(g_job.error_text, L"The build failed.");
  paint();
  pump_for(50);
  EXPECT_TRUE(has_event(EVENT_OBJECT_LIVEREGIONCHANGED, g_ui.item_count + 1));
  EXPECT_EQ(read_node(acc, g_ui.item_count + 1).name, L"The build failed.");
  UnhookWinEvent(hook);
}

TEST_F(TreeTest, TheDefaultActionPerformsTheItemsCommand) {
  fake_entries(1);
  g_state.selected = 0;
  g_state.settings_open = true;
  g_state.vsync = 1;
  open_tree();
  std::vector<Node> nodes = children();
  const Node* vsync = named(nodes, L"VSync", ROLE_SYSTEM_CHECKBUTTON);
  ASSERT_TRUE(vsync != NULL);
  EXPECT_EQ(acc->accDoDefaultAction(child_id(vsync->child)), S_OK);
  EXPECT_TRUE(pump_until([] { return g_state.vsync == 0; }, 2000));
  // A disabled button has no action.
  const Node* rebuild = named(nodes, L"Rebuild", ROLE_SYSTEM_PUSHBUTTON);
  ASSERT_TRUE(rebuild != NULL);
  EXPECT_NE(acc->accDoDefaultAction(child_id(rebuild->child)), S_OK);
}

// ---- From another process ----------------------------------------------------------

#ifdef PROJECT_TELVAR_EXE
struct LauncherProcess {
  DWORD id;
  HWND found;
};

static BOOL CALLBACK find_launcher_window(HWND window, LPARAM context) {
  LauncherProcess* search = (LauncherProcess*)context;
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  wchar_t name[64];
  if (owner == search->id && GetClassNameW(window, name, 64) && wcscmp(name, L"ProjectTelvarLauncher") == 0) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

// Every child of the client object as a reader in another process gets it.
static std::vector<Node> read_children(IAccessible* acc) {
  std::vector<Node> out;
  long count = 0;
  if (acc->get_accChildCount(&count) != S_OK || count <= 0) return out;
  std::vector<VARIANT> ids(count);
  long got = 0;
  if (AccessibleChildren(acc, 0, count, ids.data(), &got) != S_OK) return out;
  for (long i = 0; i < got; i++) {
    if (ids[i].vt == VT_I4) out.push_back(read_node(acc, ids[i].lVal));
    VariantClear(&ids[i]);
  }
  return out;
}

static const Node* find_node(const std::vector<Node>& nodes, const std::wstring& name, LONG role) {
  for (const Node& n : nodes)
    if (n.name == name && n.role == role) return &n;
  return NULL;
}

// ProjectTelvar.exe runs on its own, and this test program reads its tree as
// a screen reader would, across the process boundary: the main view's rows
// and buttons with their states, the settings panel after a key opens it,
// and the focus following Tab.
TEST(TreeFromAnotherProcess, AReaderSeesTheMainViewTheSettingsPanelAndTheFocus) {
  CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
  std::wstring folder = make_temp_folder(L"reader");
  std::wstring program = join(folder, L"ProjectTelvar.exe");
  ASSERT_TRUE(CopyFileW(windows_path(PROJECT_TELVAR_EXE).c_str(), program.c_str(), FALSE));
  std::wstring disc = join(folder, L"pal.iso");
  write_disc(disc, "SXPE_100.01");
  std::wstring ini = join(folder, L"telvar.ini");
  WritePrivateProfileStringW(L"library", L"count", L"1", ini.c_str());
  WritePrivateProfileStringW(L"library", L"disc0", disc.c_str(), ini.c_str());
  WritePrivateProfileStringW(L"library", L"selected", L"0", ini.c_str());

  std::wstring command = L"\"" + program + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessW(program.c_str(), &command[0], NULL, NULL, FALSE, 0, NULL, folder.c_str(), &startup,
                             &process));
  LauncherProcess search = {process.dwProcessId, NULL};
  for (int i = 0; i < 300 && !(search.found && IsWindowVisible(search.found)); i++) {
    Sleep(50);
    if (!search.found) EnumWindows(find_launcher_window, (LPARAM)&search);
  }
  ASSERT_TRUE(search.found != NULL);
  HWND launcher = search.found;
  Sleep(500);  // the first paint

  IAccessible* acc = NULL;
  ASSERT_EQ(AccessibleObjectFromWindow(launcher, (DWORD)OBJID_CLIENT, IID_IAccessible, (void**)&acc), S_OK);
  ASSERT_TRUE(acc != NULL);
  std::vector<Node> nodes = read_children(acc);
  const Node* row = find_node(nodes, L"Tarsel & Quib", ROLE_SYSTEM_LISTITEM);
  ASSERT_TRUE(row != NULL) << "the library row, across the process boundary";
  EXPECT_NE(row->state & STATE_SYSTEM_SELECTED, 0);
  std::wstring said = row->value + L" " + row->description;
  EXPECT_NE(said.find(L"PAL"), std::wstring::npos) << std::string(said.begin(), said.end());
  const Node* build = find_node(nodes, L"Build", ROLE_SYSTEM_PUSHBUTTON);
  const Node* remove = find_node(nodes, L"Remove", ROLE_SYSTEM_PUSHBUTTON);
  ASSERT_TRUE(build && remove);
  EXPECT_EQ(build->state & STATE_SYSTEM_UNAVAILABLE, 0);
  EXPECT_TRUE(find_node(nodes, L"Add disc image", ROLE_SYSTEM_PUSHBUTTON) != NULL);

  // Tab, as the launcher gets it: the focus the reader asks for follows.
  SetForegroundWindow(launcher);
  PostMessageW(launcher, WM_KEYDOWN, VK_TAB, 1);
  Sleep(500);
  VARIANT focus;
  VariantInit(&focus);
  ASSERT_EQ(acc->get_accFocus(&focus), S_OK);
  if (focus.vt == VT_I4) {
    Node focused = read_node(acc, focus.lVal);
    EXPECT_EQ(focused.name, L"Tarsel & Quib") << "the first item in reading order";
  } else {
    ADD_FAILURE() << "no focused child, variant type " << focus.vt;
  }
  VariantClear(&focus);

  // F2 opens the settings panel; the reader sees its switches and steppers.
  PostMessageW(launcher, WM_KEYDOWN, VK_F2, 1);
  Sleep(500);
  nodes = read_children(acc);
  EXPECT_TRUE(find_node(nodes, L"Done", ROLE_SYSTEM_PUSHBUTTON) != NULL);
  EXPECT_TRUE(find_node(nodes, L"VSync", ROLE_SYSTEM_CHECKBUTTON) != NULL);
  EXPECT_TRUE(find_node(nodes, L"Upscaled", ROLE_SYSTEM_RADIOBUTTON) != NULL);
  const Node* capture = find_node(nodes, L"F9 capture length", ROLE_SYSTEM_SPINBUTTON);
  ASSERT_TRUE(capture != NULL);
  EXPECT_EQ(capture->value, L"3 seconds");
  acc->Release();

  PostMessageW(launcher, WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForSingleObject(process.hProcess, 10000), WAIT_OBJECT_0);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}
#endif
