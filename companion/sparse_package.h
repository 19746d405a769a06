// The sparse package that puts "Python here" on Windows 11's first context menu: registered for
// the current user with the install folder as its external location, or removed, through the
// platform's package manager.
#pragma once

#include <string>

// `package` is the signed package file; `external_location` the folder its files are in.
bool RegisterSparsePackage(const std::wstring& package, const std::wstring& external_location,
                           std::wstring* reason);
// For the current user, or for every user (which needs an administrator's rights).
bool UnregisterSparsePackage(bool all_users, std::wstring* reason);
