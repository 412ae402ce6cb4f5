// The result record and the caller's progress record; see transfer_result.h.
#include "transfer/transfer_result.h"

#include <stdarg.h>
#include <string.h>

#include "core/text.h"

enum { TRANSFER_STAGE_UNITS = 256 };  // a stage text, cut beyond

void clear_transfer_result(TransferResult* result) { memset(result, 0, sizeof *result); }

bool transfer_failed(TransferResult* result, TransferFailure failure, const wchar_t* detail) {
  result->failure = failure;
  copy_text(result->detail, TRANSFER_DETAIL_UNITS, detail ? detail : L"");
  return false;
}

void report_transfer(const TransferProgress* progress, double fraction, const wchar_t* format, ...) {
  if (!progress || !progress->progress) return;
  wchar_t stage[TRANSFER_STAGE_UNITS];
  va_list args;
  va_start(args, format);
  format_text_v(stage, TRANSFER_STAGE_UNITS, format, args);
  va_end(args);
  progress->progress(progress->context, fraction, stage);
}

bool transfer_cancelled(const TransferProgress* progress) {
  return progress && progress->cancelled && progress->cancelled(progress->context);
}

const wchar_t* transfer_label(const TransferProgress* progress) {
  return progress && progress->label ? progress->label : L"";
}
