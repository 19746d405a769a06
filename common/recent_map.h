// A map that keeps at most a fixed number of entries: keeping one more pushes out the one used
// longest ago. For the caches of a process that lives for days.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/owners.h"

template <class Key, class Value>
class RecentMap {
 public:
  explicit RecentMap(size_t limit) : limit_(limit > 0 ? limit : 1) {}

  // The value kept under `key`, marked as just used; null when there is none.
  Value* Find(const Key& key) {
    auto found = entries_.find(key);
    if (found == entries_.end()) return nullptr;
    found->second.used = ++uses_;
    return &found->second.value;
  }

  // Keeps `value` under `key`, in place of what was there; gives back the entry it pushed out
  // to stay within the limit, if any.
  std::optional<Value> Keep(const Key& key, Value value) {
    std::optional<Value> pushed_out;
    auto found = entries_.find(key);
    if (found == entries_.end() && entries_.size() >= limit_) {
      auto oldest = entries_.begin();
      for (auto entry = entries_.begin(); entry != entries_.end(); ++entry)
        if (entry->second.used < oldest->second.used) oldest = entry;
      pushed_out = std::move(oldest->second.value);
      entries_.erase(oldest);
    }
    entries_[key] = {std::move(value), ++uses_};
    return pushed_out;
  }

  void Clear() { entries_.clear(); }

  size_t size() const { return entries_.size(); }

  // Calls `visit` with each key and value, from the one used longest ago to the one used last:
  // keeping them again in that order gives a new map the same order of use.
  template <class Visit>
  void ForEach(Visit visit) const {
    std::vector<const typename std::map<Key, Entry>::value_type*> by_use;
    by_use.reserve(entries_.size());
    for (const auto& entry : entries_) by_use.push_back(&entry);
    std::sort(by_use.begin(), by_use.end(),
              [](const auto* a, const auto* b) { return a->second.used < b->second.used; });
    for (const auto* entry : by_use) visit(entry->first, entry->second.value);
  }

 private:
  struct Entry {
    Value value;
    unsigned long long used;
  };
  size_t limit_;
  std::map<Key, Entry> entries_;
  unsigned long long uses_ = 0;
};

// What was learnt from a file or a folder, kept under the stamp it was learnt at, for any thread:
// found only while the stamp is the same. Keeps at most `limit` entries.
template <class Stamp, class Value>
class StampedMemory {
 public:
  explicit StampedMemory(size_t limit) : entries_(limit) {}

  bool Find(const std::wstring& path, const Stamp& stamp, Value* value) {
    ExclusiveLock hold(&lock_);
    const auto* found = entries_.Find(path);
    if (!found || !(found->first == stamp)) return false;
    *value = found->second;
    return true;
  }
  void Keep(const std::wstring& path, const Stamp& stamp, Value value) {
    ExclusiveLock hold(&lock_);
    entries_.Keep(path, {stamp, std::move(value)});
  }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
  RecentMap<std::wstring, std::pair<Stamp, Value>> entries_;
};
