// A caller of the transfer functions that is no build job: it keeps every
// stage text and fraction it hears and answers "cancelled" as told.
#pragma once
#include <string>
#include <vector>

#include "transfer/transfer_result.h"

struct TransferListener {
  std::vector<std::wstring> stages;
  std::vector<double> fractions;
  bool cancel;
  TransferProgress progress;  // points at this record; label as given
};

inline void listener_hears(void* context, double fraction, const wchar_t* stage) {
  TransferListener* l = (TransferListener*)context;
  l->stages.push_back(stage);
  l->fractions.push_back(fraction);
}
inline bool listener_cancels(void* context) { return ((TransferListener*)context)->cancel; }

// Sets up listener to hear a transfer labelled label, cancelling when cancel.
inline const TransferProgress* listen_to_transfer(TransferListener* listener, const wchar_t* label, bool cancel) {
  listener->stages.clear();
  listener->fractions.clear();
  listener->cancel = cancel;
  listener->progress = {listener_hears, listener_cancels, listener, label};
  return &listener->progress;
}
