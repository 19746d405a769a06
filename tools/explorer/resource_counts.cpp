#include "tools/explorer/resource_counts.h"

#include <windows.h>
#include <winternl.h>

#include <cstdint>
#include <vector>

namespace {

// One row of the shared GDI handle table (24 bytes on 64-bit Windows and Wine).
#pragma pack(push, 1)
struct GdiHandleEntry {
  uint64_t object;
  uint16_t process_id;
  uint16_t lock_count;
  uint8_t ext_type_stock;  // bit 7: stock object
  uint8_t generation;
  uint8_t type;
  uint8_t flags;
  uint64_t user_pointer;
};
#pragma pack(pop)
static_assert(sizeof(GdiHandleEntry) == 24, "GDI handle table row");
constexpr size_t kGdiHandleCount = 0x10000;
constexpr size_t kPebGdiSharedHandleTable = 0xF8;

struct SystemHandleEntry {
  ULONG owner_pid;
  BYTE object_type;
  BYTE flags;
  USHORT handle_value;
  PVOID object;
  ACCESS_MASK access;
};
struct SystemHandleInformation {
  ULONG count;
  SystemHandleEntry handles[1];
};
constexpr int kSystemHandleInformation = 16;
typedef NTSTATUS(NTAPI* QuerySystemInformationFn)(int, void*, ULONG, ULONG*);

typedef NTSTATUS(NTAPI* QueryInformationProcessFn)(HANDLE, PROCESSINFOCLASS, void*, ULONG, ULONG*);

void* NtdllExport(const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name));
}

long CountGdiObjects() {
  auto query =
      reinterpret_cast<QueryInformationProcessFn>(NtdllExport("NtQueryInformationProcess"));
  PROCESS_BASIC_INFORMATION basic = {};
  if (!query ||
      query(GetCurrentProcess(), ProcessBasicInformation, &basic, sizeof(basic), nullptr) != 0)
    return -1;
  const BYTE* peb = reinterpret_cast<const BYTE*>(basic.PebBaseAddress);
  const GdiHandleEntry* table =
      *reinterpret_cast<const GdiHandleEntry* const*>(peb + kPebGdiSharedHandleTable);
  if (!table) return -1;
  // Windows shares the table across the session and names each row's process; Wine keeps a
  // table per process and leaves the owner 0.
  const uint16_t pid = static_cast<uint16_t>(GetCurrentProcessId());
  long count = 0;
  for (size_t i = 0; i < kGdiHandleCount; ++i) {
    const GdiHandleEntry& entry = table[i];
    if (entry.type == 0 || (entry.ext_type_stock & 0x80)) continue;
    if (entry.process_id == pid || entry.process_id == 0) ++count;
  }
  return count;
}

long CountHandles() {
  auto query = reinterpret_cast<QuerySystemInformationFn>(NtdllExport("NtQuerySystemInformation"));
  if (!query) return -1;
  std::vector<BYTE> buffer(1 << 20);
  for (int attempt = 0; attempt < 8; ++attempt) {
    ULONG needed = 0;
    NTSTATUS status =
        query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status == 0) {
      const auto* info = reinterpret_cast<const SystemHandleInformation*>(buffer.data());
      long count = 0;
      for (ULONG i = 0; i < info->count; ++i)
        if (info->handles[i].owner_pid == GetCurrentProcessId()) ++count;
      return count;
    }
    buffer.resize(needed > buffer.size() ? needed + 65536 : buffer.size() * 2);
  }
  return -1;
}

}  // namespace

ResourceCounts CountResources() {
  ResourceCounts counts;
  counts.gdi_objects = CountGdiObjects();
  counts.handles = CountHandles();
  return counts;
}
