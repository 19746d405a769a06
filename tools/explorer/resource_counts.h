// How many GDI objects and kernel handles this process holds. Wine's GetGuiResources and
// GetProcessHandleCount answer 0, so both are read from the system's own tables: the shared
// GDI handle table the process environment block points at, and the system handle list.
#pragma once

struct ResourceCounts {
  long gdi_objects = -1;  // -1: not readable
  long handles = -1;
};

ResourceCounts CountResources();
