// Fuzzes the build script's output handling: the bytes are cut into lines
// twice, whole and in chunks split at a point taken from the input, and both
// must give the same lines; every line fits its buffer, progress lines give a
// known stage row, and the remembered lines stay terminated and bounded.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "pipeline/progress_line.h"

static void collect(const char* line, void* context) {
  auto* lines = static_cast<std::vector<std::string>*>(context);
  size_t length = strlen(line);
  if (length > OUTPUT_LINE_BYTES - 1) abort();
  lines->push_back(line);
}

static std::vector<std::string> split(const char* bytes, size_t size, size_t chunk) {
  static LineSplitter splitter;
  splitter_reset(&splitter);
  std::vector<std::string> lines;
  for (size_t at = 0; at < size; at += chunk) {
    size_t n = size - at < chunk ? size - at : chunk;
    splitter_feed(&splitter, bytes + at, n, collect, &lines);
  }
  return lines;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  size_t chunk = 1 + data[0] % 64;
  const char* bytes = reinterpret_cast<const char*>(data + 1);
  size--;
  std::vector<std::string> whole = split(bytes, size, size ? size : 1);
  if (split(bytes, size, chunk) != whole) abort();

  static OutputTail tail;
  tail_reset(&tail);
  for (const std::string& line : whole) {
    ProgressUpdate update;
    LineKind kind = parse_progress_line(line.c_str(), &update);
    if (kind == LINE_PROGRESS) {
      if (!update.stage || !update.stage->text || update.second <= 0) abort();
      if (update.fraction != update.fraction) abort();  // never NaN
    } else if (kind == LINE_ORDINARY) {
      tail_store(&tail, line.c_str());
    }
  }
  const char* last = tail_last(&tail);
  if (last && strlen(last) > TAIL_LINE_BYTES - 1) abort();
  return 0;
}
