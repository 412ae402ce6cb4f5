// Output lines and the progress protocol; see progress_line.h.
#include "pipeline/progress_line.h"

#include <limits.h>
#include <stdio.h>
#include <string.h>

static const ProgressStage STAGES[] = {
    {"prepare", L"Translating the game's executable", 0.0, 0.08, L"%ls", 0},
    {"levels", L"Translating the levels", 0.08, 0.3, L"%ls (%d of %d)", 2},
    {"compile", L"Compiling", 0.3, 0.97, L"%ls (%d of %d files)", 2},
    {"link", L"Linking", 0.97, 0.99, L"%ls", 0},
    {nullptr, L"Finishing", 1.0, 1.0, L"%ls", 0},
};
enum { STAGE_ROWS = sizeof STAGES / sizeof STAGES[0] };

static const char PROGRESS_TAG[] = "[progress]";

LineKind parse_progress_line(const char* line, ProgressUpdate* update) {
  if (strncmp(line, PROGRESS_TAG, sizeof PROGRESS_TAG - 1) != 0) return LINE_ORDINARY;

  char word[STAGE_WORD_BYTES];
  int current = 0, total = 0;
  if (sscanf(line, "[progress] %31s %d %d", word, &current, &total) != 3 || total <= 0)
    return LINE_PROGRESS_IGNORED;

  // Letter case matters: "Compile" is some other word.
  const ProgressStage* stage = &STAGES[STAGE_ROWS - 1];
  for (int i = 0; i < STAGE_ROWS - 1; i++)
    if (strcmp(word, STAGES[i].word) == 0) stage = &STAGES[i];

  // Not clamped: a counter outside 0..total shows as such; the bar clamps.
  double within = stage->lo + (stage->hi - stage->lo) * (double)current / (double)total;
  update->stage = stage;
  update->fraction = BUILD_PROGRESS_FROM + (BUILD_PROGRESS_TO - BUILD_PROGRESS_FROM) * within;
  // "levels" shows the level in progress, counted from 1; the largest counter
  // stays where it is rather than wrap to a negative number.
  update->first = (stage == &STAGES[1] && current < INT_MAX) ? current + 1 : current;
  update->second = total;
  return LINE_PROGRESS;
}

void tail_reset(OutputTail* tail) { tail->count = 0; }

void tail_store(OutputTail* tail, const char* line) {
  if (!line[0]) return;
  char* slot = tail->lines[tail->count % TAIL_LINES];
  size_t length = strlen(line);
  if (length > TAIL_LINE_BYTES - 1) {
    // A cut line ends before the character the cut would split: the script
    // writes UTF-8, and half a character would spoil the whole line's text.
    length = TAIL_LINE_BYTES - 1;
    for (int back = 0; back < 3 && length > 0 && ((unsigned char)line[length] & 0xC0) == 0x80; back++) length--;
  }
  memcpy(slot, line, length);
  slot[length] = 0;
  tail->count++;
}

const char* tail_last(const OutputTail* tail) {
  if (tail->count == 0) return nullptr;
  return tail->lines[(tail->count - 1) % TAIL_LINES];
}

void splitter_reset(LineSplitter* splitter) { splitter->length = 0; }

// Ends the line held so far, without a final carriage return, and hands it on.
static void end_line(LineSplitter* splitter, LineHandler handler, void* context) {
  size_t length = splitter->length;
  if (length > 0 && splitter->line[length - 1] == '\r') length--;
  splitter->line[length] = 0;
  handler(splitter->line, context);
  splitter->length = 0;
}

void splitter_feed(LineSplitter* splitter, const char* bytes, size_t count, LineHandler handler, void* context) {
  for (size_t i = 0; i < count; i++) {
    char c = bytes[i];
    if (c == '\n') {
      end_line(splitter, handler, context);
    } else if (splitter->length < OUTPUT_LINE_BYTES - 1) {
      splitter->line[splitter->length++] = c;
    } else {
      // A full line ends here; the byte that did not fit is dropped.
      end_line(splitter, handler, context);
    }
  }
}
