// What a careless or hostile caller hands a shell extension, for the Explorer stand-in: a data
// object that answers the drop list in a form other than the one asked for, or with a broken
// block; an invocation record shorter than the fields it should hold. (An item array that gives a
// null item: ItemArray in folder_window.h.)
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>

#include "common/owners.h"

// `kind`: stream (the list as a stream), file (as a file name), short (a block smaller than the
// header), outside (names said to start past the block's end), open (names without their end).
ComPtr<IDataObject> HostileDropList(const std::wstring& kind, const std::wstring& path);

// InvokeCommand with a record whose size says 8 bytes, at the very end of readable memory: a
// read past its size is an access violation.
HRESULT InvokeWithShortRecord(IContextMenu* menu);
