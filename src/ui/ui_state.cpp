// The window's own state and its values at process start.
#include "ui/ui_state.h"

#include <string.h>

UiState g_ui;

void reset_ui_state() { memset(&g_ui, 0, sizeof g_ui); }
