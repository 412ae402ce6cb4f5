// The build script's output, byte by byte: splitting it into lines, reading
// its "[progress] WORD CURRENT TOTAL" lines into a stage text and a fraction
// of the whole job, and remembering the last ordinary lines for the error
// text of a failed build.
//
// Byte-level: no Windows header, no allocation. A line holds at most
// OUTPUT_LINE_BYTES - 1 bytes (a longer one is split, the byte that did not
// fit is dropped); a remembered line at most TAIL_LINE_BYTES - 1 bytes, cut
// before a UTF-8 character that would not fit whole.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

enum {
  OUTPUT_LINE_BYTES = 4096,   // line buffer: a line of 4095 bytes and its terminator
  TAIL_LINES = 16,            // ordinary lines remembered
  TAIL_LINE_BYTES = 300,      // a remembered line: 299 bytes and its terminator
  STAGE_WORD_BYTES = 32,      // a stage word of at most 31 bytes
};

// The part of the job's progress bar that the build script fills.
#define BUILD_PROGRESS_FROM 0.32
#define BUILD_PROGRESS_TO 0.99

struct ProgressStage {
  const char* word;          // the stage word; null for the row of every other word
  const wchar_t* text;       // stage text shown
  double lo, hi;             // part of the build stage this row covers, 0 to 1
  const wchar_t* format;     // text format: the text and 0 or 2 counters
  int counters;              // 0 or 2 counter arguments
};

struct ProgressUpdate {
  const ProgressStage* stage;  // the selected row
  double fraction;             // fraction of the whole job, not clamped
  int first, second;           // counter arguments when stage->counters is 2
};

enum LineKind {
  LINE_ORDINARY,             // remember it (when not empty)
  LINE_PROGRESS,             // a progress line that parsed: update filled
  LINE_PROGRESS_IGNORED,     // starts with "[progress]" but does not parse
};

// Classifies one complete line (zero-terminated, without its line end).
LineKind parse_progress_line(const char* line, ProgressUpdate* update);

// The last TAIL_LINES ordinary lines; line k goes into slot k mod TAIL_LINES.
struct OutputTail {
  char lines[TAIL_LINES][TAIL_LINE_BYTES];
  uint32_t count;            // lines stored during this run
};

void tail_reset(OutputTail* tail);
void tail_store(OutputTail* tail, const char* line);   // empty lines are dropped
const char* tail_last(const OutputTail* tail);         // null when nothing was stored

// Cuts a stream of chunks into lines. A line ends at a line feed (a carriage
// return before it is removed) or when it already holds 4095 bytes and one
// more arrives (that byte is dropped). An unfinished line waits for the next
// chunk; one that never ends is never handed on.
struct LineSplitter {
  char line[OUTPUT_LINE_BYTES];
  size_t length;
};

typedef void (*LineHandler)(const char* line, void* context);
void splitter_reset(LineSplitter* splitter);
void splitter_feed(LineSplitter* splitter, const char* bytes, size_t count, LineHandler handler, void* context);
