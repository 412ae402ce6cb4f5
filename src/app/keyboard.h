// The keyboard's side of the window: the focus that Tab walks over the items
// of the last paint, the shortcuts of the common commands, and the tooltip
// texts that name those shortcuts and say why a button is disabled.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "ui/hit_regions.h"

// True for an item that takes the focus: it carries a command and is enabled.
bool takes_focus(const UiItem& item);

// Moves the focus step items on (1: Tab, -1: Shift+Tab) among those that take
// it, wrapping at either end; from no focus, Tab lands on the first and
// Shift+Tab on the last. Shows the focus ring. False when nothing takes focus.
bool move_focus(int step);

// Sets the focus to the item of this command and argument and shows the ring.
void set_focus(int32_t id, int32_t arg);

// The command a shortcut key performs, or 0. ctrl and shift are the state of
// those keys. Delete and Escape are not here: they ask first.
int32_t shortcut_command(WPARAM key, bool ctrl, bool shift);

// The shortcut's text for a command ("Ctrl+O"), or null when it has none.
const wchar_t* shortcut_text(int32_t id);

// Why the item is disabled, in a sentence, or null when it is enabled.
const wchar_t* disabled_reason(const UiItem& item);

// The tooltip for an item: its label, its shortcut in parentheses, and on a
// disabled item the reason. False (and an empty text) for an item that has
// none (the progress bar, a library row).
bool tooltip_text(const UiItem& item, wchar_t* out, size_t capacity);
