// gearloft host database bridge: the process-wide state the scan, the query calls and the probe share.
// Internal to src/hostdb; everything here is guarded by the bridge mutex unless its comment says not.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/platform.h"

namespace gearloft::bridge {

// The one lock around the candidate list, the current object and every call into the game together
// with the copy of its result. Created on first use and never destroyed.
platform::Mutex* Mutex();

// Candidate globals in order of discovery, without duplicates.
std::vector<uintptr_t>& CandidateList();
// Mirror of CandidateList().size(), readable without the lock.
void PublishCandidateCount();
size_t CandidateCountUnlocked();

// The chosen global (0 while none); written under the lock, read without it by HasCurrent.
std::atomic<uintptr_t>& Current();

// Reads the object, its table and its ExecuteQuery through `global`, all guarded, and checks that
// the method lies in committed executable memory. False when any step fails or gives 0.
bool ResolveMethod(uintptr_t global, uintptr_t* object, uintptr_t* method);

}  // namespace gearloft::bridge
