#include "engine/EngineContext.h"

#include <chrono>

#include "common/Strings.h"

namespace vel {

bool EngineContext::Pause(std::string_view name, int ms) {
  link.NotePause(name, ms);
  return clock->SleepFor(std::chrono::milliseconds(ms), &display.State().cancel);
}

void EngineContext::BuildMapIfMissing(int slot) {
  if (file.MemMap(slot) != nullptr) return;
  const bool shown =
      display.BeginProgress(1, file.RecordCount(0), LoadString(ids::kCreatingMemMap), 1);
  file.GetMemMap(slot, shown ? &display : nullptr,
                 device != nullptr && device->topSegmentStartsHigh);
  if (shown) display.EndProgress();
}

void EngineContext::Fail(Tell how, std::string_view text, int statusCode) {
  if (how != Tell::kBox) display.AppendMessage(std::string(text));
  if (how != Tell::kLog) op.ShowMessage(std::string(text));
  SetStatusCode(statusCode);
}

bool EngineContext::GiveUpOnSilence() {
  if (!op.AskYesNo(Question::kNotResponding, std::string(text::kNotResponding))) return false;
  display.EndProgress();
  RequestCancel();
  return true;
}

void EngineContext::ReportConnectionError() {
  if (Cancelled()) return;
  op.ShowMessage(LoadString(ids::kConnectionError));
  SetStatusCode(ids::kConnectionError);
}

}  // namespace vel
