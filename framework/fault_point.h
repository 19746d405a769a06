// A test build (VELMAR_FAULT_INJECTION) throws at the point that the environment variable
// VELMAR_THROW_IN names, so that the tests can show that no exception leaves a COM method. In
// the product a fault point is nothing.
#pragma once

#include <windows.h>

#include <new>

#ifdef VELMAR_FAULT_INJECTION
#define VELMAR_FAULT_POINT(name) ::comfw::ThrowIfAsked(name)
namespace comfw {
inline void ThrowIfAsked(const wchar_t* name) {
  wchar_t asked[64] = {};
  if (GetEnvironmentVariableW(L"VELMAR_THROW_IN", asked, 64) && lstrcmpW(asked, name) == 0)
    throw std::bad_alloc();
}
}  // namespace comfw
#else
#define VELMAR_FAULT_POINT(name) static_cast<void>(0)
#endif
