#include "tools/explorer/heap_check.h"

#include <atomic>
#include <vector>

namespace {
std::atomic<int> g_damaged_children{0};
}

bool ProcessHeapsValid() {
  DWORD count = GetProcessHeaps(0, nullptr);
  std::vector<HANDLE> heaps(count + 8);
  count = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
  if (count > heaps.size()) return false;
  for (DWORD i = 0; i < count; ++i)
    if (!HeapValidate(heaps[i], 0, nullptr)) return false;
  return true;
}

void NoteChildExit(DWORD exit_code) {
  if (exit_code == kHeapCorruptedExit) ++g_damaged_children;
}

int DamagedChildHeaps() { return g_damaged_children; }
