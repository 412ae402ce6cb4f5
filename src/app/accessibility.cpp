// The client area as an MSAA object. Its children are simple elements (child
// ids, no objects of their own): child k is the k-th item of the last paint,
// and the one after the items is the status line. Every answer reads the
// window's own state at the time of the call, on the main thread (calls from
// another process arrive through COM on the thread that made the window), so
// the tree is always the one on screen. What the window's frame answers
// (its parent, its place among the desktop's windows) comes from the
// platform's standard object for the client area.
//
// One object per window, made at the first query and released when the
// window goes; a reader that still holds it afterwards gets
// CO_E_OBJNOTCONNECTED. Memory: the object and the texts of the last events.
#include "app/accessibility.h"

#include <oleacc.h>

#include "app/keyboard.h"
#include "core/state.h"
#include "core/text.h"
#include "pipeline/job_status.h"
#include "ui/ui_state.h"

void status_line_text(wchar_t* out, size_t capacity) {
  if (capacity == 0) return;
  out[0] = 0;
  if (g_job.failed && g_job.entry_index == g_state.selected) {
    job_read_texts(NULL, 0, out, capacity);
    return;
  }
  copy_text(out, capacity, g_state.status_text);
}

// The longer of the two texts the status line may hold.
static const size_t STATUS_LINE_UNITS =
    (size_t)STATUS_TEXT_UNITS > (size_t)ERROR_TEXT_UNITS ? (size_t)STATUS_TEXT_UNITS : (size_t)ERROR_TEXT_UNITS;

static int32_t item_count() { return g_ui.item_count < UI_ITEM_CAPACITY ? g_ui.item_count : UI_ITEM_CAPACITY; }

// What a child id names.
enum ChildKind { CHILD_NONE, CHILD_SELF, CHILD_ITEM, CHILD_STATUS };

static ChildKind child_of(const VARIANT& child, const UiItem** item) {
  *item = NULL;
  if (child.vt != VT_I4) return CHILD_NONE;
  LONG id = child.lVal;
  if (id == CHILDID_SELF) return CHILD_SELF;
  if (id >= 1 && id <= item_count()) {
    *item = &g_ui.items[id - 1];
    return CHILD_ITEM;
  }
  if (id == item_count() + 1) return CHILD_STATUS;
  return CHILD_NONE;
}

static HRESULT give_text(const wchar_t* text, BSTR* out) {
  if (!out) return E_POINTER;
  *out = NULL;
  if (!text || !text[0]) return S_FALSE;
  *out = SysAllocString(text);
  return *out ? S_OK : E_OUTOFMEMORY;
}

static LONG role_of(const UiItem& item) {
  switch (item.role) {
    case UI_ROLE_LIST_ITEM: return ROLE_SYSTEM_LISTITEM;
    case UI_ROLE_SWITCH: return ROLE_SYSTEM_CHECKBUTTON;
    case UI_ROLE_CHOICE: return ROLE_SYSTEM_RADIOBUTTON;
    case UI_ROLE_STEPPER: return ROLE_SYSTEM_SPINBUTTON;
    case UI_ROLE_PROGRESS: return ROLE_SYSTEM_PROGRESSBAR;
    default: return ROLE_SYSTEM_PUSHBUTTON;
  }
}

static LONG state_of(HWND window, const UiItem& item) {
  LONG state = 0;
  if (item.flags & UI_ITEM_DISABLED) state |= STATE_SYSTEM_UNAVAILABLE;
  if (item.flags & UI_ITEM_CHECKED) state |= STATE_SYSTEM_CHECKED;
  if (item.role == UI_ROLE_LIST_ITEM) state |= STATE_SYSTEM_SELECTABLE;
  if (item.flags & UI_ITEM_SELECTED) state |= STATE_SYSTEM_SELECTED;
  if (item.role == UI_ROLE_PROGRESS) state |= STATE_SYSTEM_READONLY;
  // Scrolled out of the window: a reader may still move to it (Tab brings it
  // into sight), but knows it is not on screen now.
  if (item.flags & UI_ITEM_OFFSCREEN) state |= STATE_SYSTEM_OFFSCREEN;
  if (takes_focus(item)) {
    state |= STATE_SYSTEM_FOCUSABLE;
    if (GetFocus() == window && focused_item() == &item) state |= STATE_SYSTEM_FOCUSED;
  }
  return state;
}

// Child id of the focused item, or 0.
static LONG focused_child() {
  const UiItem* item = focused_item();
  return item ? (LONG)(item - g_ui.items) + 1 : 0;
}

// What each property says for a child (never CHILD_NONE: the getters
// refuse it before they ask).
static HRESULT name_text(HWND, ChildKind kind, const UiItem* item, BSTR* out) {
  wchar_t status[STATUS_LINE_UNITS];
  switch (kind) {
    case CHILD_SELF: return give_text(L"Project Telvar", out);
    case CHILD_ITEM: return give_text(item->name, out);
    case CHILD_STATUS: status_line_text(status, sizeof status / sizeof status[0]); return give_text(status, out);
    default: return E_INVALIDARG;
  }
}

static HRESULT value_text(HWND, ChildKind kind, const UiItem* item, BSTR* out) {
  if (kind == CHILD_ITEM && (item->role == UI_ROLE_STEPPER || item->role == UI_ROLE_PROGRESS))
    return give_text(item->detail, out);
  return S_FALSE;
}

static HRESULT description_text(HWND, ChildKind kind, const UiItem* item, BSTR* out) {
  if (kind != CHILD_ITEM) return S_FALSE;
  if (item->role == UI_ROLE_LIST_ITEM) return give_text(item->detail, out);
  return give_text(disabled_reason(*item), out);
}

static HRESULT shortcut_answer(HWND, ChildKind kind, const UiItem* item, BSTR* out) {
  return kind == CHILD_ITEM ? give_text(shortcut_text(item->id), out) : S_FALSE;
}

static HRESULT default_action_text(HWND, ChildKind kind, const UiItem* item, BSTR* out) {
  if (kind != CHILD_ITEM || !takes_focus(*item)) return S_FALSE;
  switch (item->role) {
    case UI_ROLE_LIST_ITEM: return give_text(L"Select", out);
    case UI_ROLE_SWITCH: return give_text(item->flags & UI_ITEM_CHECKED ? L"Uncheck" : L"Check", out);
    case UI_ROLE_CHOICE: return give_text(L"Check", out);
    case UI_ROLE_STEPPER: return give_text(L"Increase", out);
    default: return give_text(L"Press", out);
  }
}

static HRESULT role_number(HWND, ChildKind kind, const UiItem* item, LONG* value) {
  switch (kind) {
    case CHILD_SELF: *value = ROLE_SYSTEM_CLIENT; return S_OK;
    case CHILD_ITEM: *value = role_of(*item); return S_OK;
    case CHILD_STATUS: *value = ROLE_SYSTEM_STATICTEXT; return S_OK;
    default: return E_INVALIDARG;
  }
}

static HRESULT state_number(HWND window, ChildKind kind, const UiItem* item, LONG* value) {
  switch (kind) {
    case CHILD_SELF:
      *value = STATE_SYSTEM_FOCUSABLE | (GetFocus() == window && !focused_item() ? STATE_SYSTEM_FOCUSED : 0);
      return S_OK;
    case CHILD_ITEM: *value = state_of(window, *item); return S_OK;
    case CHILD_STATUS: *value = STATE_SYSTEM_READONLY; return S_OK;
    default: return E_INVALIDARG;
  }
}

class ClientAccessible final : public IAccessible {
 public:
  explicit ClientAccessible(HWND window) : refs_(1), window_(window), standard_(NULL) {
    CreateStdAccessibleObject(window, OBJID_CLIENT, IID_IAccessible, (void**)&standard_);
  }
  void disconnect() {
    window_ = NULL;
    if (standard_) standard_->Release();
    standard_ = NULL;
  }
  HWND window() const { return window_; }

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IAccessible) {
      *out = static_cast<IAccessible*>(this);
      AddRef();
      return S_OK;
    }
    *out = NULL;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return (ULONG)InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG left = InterlockedDecrement(&refs_);
    if (left == 0) {
      disconnect();
      delete this;
    }
    return (ULONG)left;
  }

  // IDispatch: readers call the IAccessible methods directly.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }

  // Every getter of a child's text or number starts the same way: the answer
  // cleared, the window still there, the child looked up; then one function
  // per property answers for the child.
  typedef HRESULT (*TextAnswer)(HWND window, ChildKind kind, const UiItem* item, BSTR* out);
  typedef HRESULT (*NumberAnswer)(HWND window, ChildKind kind, const UiItem* item, LONG* value);
  HRESULT answer_text(VARIANT child, BSTR* out, TextAnswer answer) {
    if (!out) return E_POINTER;
    *out = NULL;
    if (!window_) return CO_E_OBJNOTCONNECTED;
    const UiItem* item;
    ChildKind kind = child_of(child, &item);
    return kind == CHILD_NONE ? E_INVALIDARG : answer(window_, kind, item, out);
  }
  HRESULT answer_number(VARIANT child, VARIANT* out, NumberAnswer answer) {
    if (!out) return E_POINTER;
    VariantInit(out);
    if (!window_) return CO_E_OBJNOTCONNECTED;
    const UiItem* item;
    ChildKind kind = child_of(child, &item);
    if (kind == CHILD_NONE) return E_INVALIDARG;
    LONG value = 0;
    HRESULT result = answer(window_, kind, item, &value);
    if (result != S_OK) return result;
    out->vt = VT_I4;
    out->lVal = value;
    return S_OK;
  }

  // IAccessible
  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
    if (!parent) return E_POINTER;
    *parent = NULL;
    if (!window_) return CO_E_OBJNOTCONNECTED;
    return standard_ ? standard_->get_accParent(parent) : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    if (!window_) return CO_E_OBJNOTCONNECTED;
    *count = item_count() + 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
    if (!out) return E_POINTER;
    *out = NULL;
    if (!window_) return CO_E_OBJNOTCONNECTED;
    const UiItem* item;
    ChildKind kind = child_of(child, &item);
    // Simple elements: the parent answers for them, by child id.
    return kind == CHILD_ITEM || kind == CHILD_STATUS ? S_FALSE : E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* out) override {
    return answer_text(child, out, name_text);
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* out) override {
    return answer_text(child, out, value_text);
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* out) override {
    return answer_text(child, out, description_text);
  }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
    return answer_number(child, role, role_number);
  }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
    return answer_number(child, state, state_number);
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT, BSTR* out) override {
    if (out) *out = NULL;
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, long* topic) override {
    if (file) *file = NULL;
    if (topic) *topic = 0;
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* out) override {
    return answer_text(child, out, shortcut_answer);
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
    if (!focus) return E_POINTER;
    VariantInit(focus);
    if (!window_) return CO_E_OBJNOTCONNECTED;
    if (GetFocus() != window_) return S_FALSE;  // VT_EMPTY: the focus is elsewhere
    focus->vt = VT_I4;
    focus->lVal = focused_child();  // 0 is CHILDID_SELF: the window with no item focused
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
    if (!selection) return E_POINTER;
    VariantInit(selection);
    if (!window_) return CO_E_OBJNOTCONNECTED;
    for (int32_t i = 0; i < item_count(); i++) {
      if (g_ui.items[i].flags & UI_ITEM_SELECTED) {
        selection->vt = VT_I4;
        selection->lVal = i + 1;
        return S_OK;
      }
    }
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* out) override {
    return answer_text(child, out, default_action_text);
  }
  HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override {
    if (!window_) return CO_E_OBJNOTCONNECTED;
    const UiItem* item;
    if (child_of(child, &item) != CHILD_ITEM) return E_INVALIDARG;
    if (!takes_focus(*item)) return S_FALSE;
    if (flags & SELFLAG_TAKEFOCUS) {
      set_focus(item->id, item->arg);
      InvalidateRect(window_, NULL, FALSE);
    }
    if ((flags & SELFLAG_TAKESELECTION) && item->role == UI_ROLE_LIST_ITEM)
      PostMessageW(window_, WM_APP_ACCESSIBLE_COMMAND, (WPARAM)item->id, (LPARAM)item->arg);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height, VARIANT child) override {
    if (!left || !top || !width || !height) return E_POINTER;
    *left = *top = *width = *height = 0;
    if (!window_) return CO_E_OBJNOTCONNECTED;
    const UiItem* item;
    RECT rect;
    switch (child_of(child, &item)) {
      case CHILD_SELF:
      case CHILD_STATUS: GetClientRect(window_, &rect); break;
      case CHILD_ITEM: rect = item->rect; break;
      default: return E_INVALIDARG;
    }
    MapWindowPoints(window_, NULL, (POINT*)&rect, 2);
    *left = rect.left;
    *top = rect.top;
    *width = rect.right - rect.left;
    *height = rect.bottom - rect.top;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
    if (!end) return E_POINTER;
    VariantInit(end);
    if (!window_) return CO_E_OBJNOTCONNECTED;
    const UiItem* item;
    ChildKind kind = child_of(start, &item);
    LONG count = item_count() + 1, from = start.lVal, to = 0;
    if (kind == CHILD_NONE) return E_INVALIDARG;
    if (kind == CHILD_SELF) {
      if (direction == NAVDIR_FIRSTCHILD) to = 1;
      else if (direction == NAVDIR_LASTCHILD) to = count;
      else return standard_ ? standard_->accNavigate(direction, start, end) : S_FALSE;
    } else if (direction == NAVDIR_NEXT || direction == NAVDIR_DOWN || direction == NAVDIR_RIGHT) {
      to = from < count ? from + 1 : 0;
    } else if (direction == NAVDIR_PREVIOUS || direction == NAVDIR_UP || direction == NAVDIR_LEFT) {
      to = from > 1 ? from - 1 : 0;
    }
    if (to == 0) return S_FALSE;
    end->vt = VT_I4;
    end->lVal = to;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* child) override {
    if (!child) return E_POINTER;
    VariantInit(child);
    if (!window_) return CO_E_OBJNOTCONNECTED;
    POINT at = {x, y};
    ScreenToClient(window_, &at);
    RECT client;
    GetClientRect(window_, &client);
    if (!PtInRect(&client, at)) return S_FALSE;
    child->vt = VT_I4;
    child->lVal = CHILDID_SELF;
    // Last drawn first, as the mouse finds regions.
    for (int32_t i = item_count() - 1; i >= 0; i--) {
      if (PtInRect(&g_ui.items[i].rect, at)) {
        child->lVal = i + 1;
        break;
      }
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
    if (!window_) return CO_E_OBJNOTCONNECTED;
    const UiItem* item;
    ChildKind kind = child_of(child, &item);
    if (kind == CHILD_NONE) return E_INVALIDARG;
    if (kind != CHILD_ITEM || !takes_focus(*item)) return DISP_E_MEMBERNOTFOUND;
    PostMessageW(window_, WM_APP_ACCESSIBLE_COMMAND, (WPARAM)item->id, (LPARAM)item->arg);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

 private:
  LONG refs_;
  HWND window_;              // null once the window is gone
  IAccessible* standard_;    // the platform's object for this client area, or null
};

// The object of the launcher's one window, held here with one reference.
static ClientAccessible* g_accessible;

LRESULT answer_get_object(HWND window, WPARAM wparam, LPARAM lparam) {
  if ((LONG)lparam != OBJID_CLIENT) return 0;
  if (g_accessible && g_accessible->window() != window) {
    g_accessible->disconnect();
    g_accessible->Release();
    g_accessible = NULL;
  }
  if (!g_accessible) g_accessible = new ClientAccessible(window);
  return LresultFromObject(IID_IAccessible, wparam, static_cast<IAccessible*>(g_accessible));
}

void release_accessible(HWND window) {
  if (!g_accessible || g_accessible->window() != window) return;
  g_accessible->disconnect();
  g_accessible->Release();
  g_accessible = NULL;
}

// What the last events told, so that only changes raise new ones.
static int32_t g_told_focus_id, g_told_focus_arg;
static wchar_t g_told_status[STATUS_LINE_UNITS];

void announce_changes(HWND window) {
  const UiItem* item = focused_item();
  int32_t id = item ? item->id : 0, arg = item ? item->arg : 0;
  if (item && (id != g_told_focus_id || arg != g_told_focus_arg) && GetFocus() == window)
    NotifyWinEvent(EVENT_OBJECT_FOCUS, window, OBJID_CLIENT, focused_child());
  g_told_focus_id = id;
  g_told_focus_arg = arg;

  wchar_t status[sizeof g_told_status / sizeof g_told_status[0]];
  status_line_text(status, sizeof status / sizeof status[0]);
  if (wcscmp(status, g_told_status) != 0) {
    copy_text(g_told_status, sizeof g_told_status / sizeof g_told_status[0], status);
    if (status[0]) {
      // The status line is a polite live region: a reader speaks what it now says.
      LONG child = item_count() + 1;
      NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, window, OBJID_CLIENT, child);
      NotifyWinEvent(EVENT_OBJECT_LIVEREGIONCHANGED, window, OBJID_CLIENT, child);
    }
  }
}
