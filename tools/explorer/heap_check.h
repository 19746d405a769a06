// Heap checks for the Explorer stand-in and the test programs. The suite runs Wine with its heap
// checking on (WINEDEBUG warn+heap, scripts/test.sh): freed blocks are filled with 0xFEEE and
// held back from reuse, so a read after free sees that pattern instead of the old text; and
// every block carries a tail pattern that HeapValidate checks, so writes past a live block's
// end or into a freed one are found.
#pragma once

#include <windows.h>

// The exit code of a host whose heaps were found damaged (STATUS_HEAP_CORRUPTION).
constexpr DWORD kHeapCorruptedExit = 0xC0000374;

// Whether every heap of this process passes HeapValidate.
bool ProcessHeapsValid();

// Children of this process that ended with kHeapCorruptedExit (counted by the child runners).
void NoteChildExit(DWORD exit_code);
int DamagedChildHeaps();
