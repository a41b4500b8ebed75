// gearloft fuzz target: the garage LOD fix's four edits of the configuration text (EditGarageText, and
// ReplaceOrInsert under it) on arbitrary bytes, run on a thread with the 1 MiB stack a Windows thread
// gets, as the worker's is. An edit either refuses with a "garage LOD: " reason or succeeds; on success
// a second run gives the same text again (the fix applied at the next start changes nothing more)
// whenever the elements the edits look at are whole (see ElementsAreWhole).
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "garage/garage.h"
#include "platform/platform.h"

namespace {

constexpr size_t kWorkerStack = 1024 * 1024;

struct EditJob {
  std::string text;
  std::string again;
  std::string reason;
  bool edited = false;
  bool edited_again = false;
};

// One worker thread, started once, runs every input's edits.
struct Worker {
  std::mutex mutex;
  std::condition_variable changed;
  EditJob* job = nullptr;  // set by the fuzzer, cleared by the worker when done
};

void RunEdits(EditJob* job) {
  const std::vector<gearloft::GarageEdit>& edits = gearloft::GarageEdits();
  job->edited = gearloft::EditGarageText(edits, &job->text, &job->reason);
  if (!job->edited) return;
  job->again = job->text;
  std::string reason;
  job->edited_again = gearloft::EditGarageText(edits, &job->again, &reason);
}

void WorkerLoop(void* raw) {
  Worker* worker = static_cast<Worker*>(raw);
  std::unique_lock<std::mutex> lock(worker->mutex);
  for (;;) {
    worker->changed.wait(lock, [worker] { return worker->job != nullptr; });
    RunEdits(worker->job);
    worker->job = nullptr;
    worker->changed.notify_all();
  }
}

[[noreturn]] void Fail(const char* what, const std::string& text) {
  std::fprintf(stderr, "%s:\n%s\n", what, text.c_str());
  std::abort();
}

Worker& TheWorker() {
  static Worker& worker = *[] {
    Worker* made = new Worker;
    if (!gearloft::platform::StartThread(WorkerLoop, made, kWorkerStack)) Fail("cannot start a thread", "");
    return made;
  }();
  return worker;
}

// Whether every element the edits look at runs whole from its literal start to its '>' (or to the end)
// without another '<' inside. In a text where one does not, an option inserted before "</selections>"
// can land inside that element, or an edit's match can swallow the element another edit just wrote, and
// the next run edits again; no XML file the game writes is like that.
bool ElementsAreWhole(const std::string& text) {
  for (const gearloft::GarageEdit& edit : gearloft::GarageEdits()) {
    const std::string literal = edit.literal_start;
    for (size_t at = text.find(literal); at != std::string::npos; at = text.find(literal, at + 1)) {
      const size_t close = text.find('>', at + literal.size());
      const size_t inner = text.find('<', at + 1);
      if (inner != std::string::npos && (close == std::string::npos || inner < close)) return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  EditJob job;
  job.text.assign(reinterpret_cast<const char*>(data), size);
  const bool settles = ElementsAreWhole(job.text);
  Worker& worker = TheWorker();
  {
    std::unique_lock<std::mutex> lock(worker.mutex);
    worker.job = &job;
    worker.changed.notify_all();
    worker.changed.wait(lock, [&worker] { return worker.job == nullptr; });
  }
  if (!job.edited) {
    if (job.reason.rfind("garage LOD: ", 0) != 0) Fail("a refusal without its reason", job.reason);
    return 0;
  }
  if (!settles) return 0;
  if (!job.edited_again) Fail("the edited text is refused on a second run", job.text);
  if (job.again != job.text) Fail("a second run changes the edited text again", job.text);
  return 0;
}
