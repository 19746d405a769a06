// What every COM method runs its body through: no C++ exception may reach the caller, since
// inside Explorer one ends the process. A failed allocation is E_OUTOFMEMORY, anything else
// E_UNEXPECTED.
#pragma once

#include <windows.h>

#include <new>

template <class Body>
HRESULT NoThrow(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}
