#include "shellext/saved_icons.h"

#include <cstring>

#include "command/command_utils.h"
#include "common/owners.h"

namespace {

constexpr char kMagic[4] = {'V', 'M', 'I', '1'};
constexpr DWORD kFileLimit = 4u << 20;  // 128 bitmaps of 64 x 64 pixels come to 2 MB
constexpr uint32_t kPathLimit = 32767;

// Reads fields one after another from a byte block; any read past its end fails every later one.
class Fields {
 public:
  Fields(const char* data, size_t size) : at_(data), end_(data + size) {}
  bool Read(void* out, size_t size) {
    if (!ok_ || size > static_cast<size_t>(end_ - at_)) return ok_ = false;
    std::memcpy(out, at_, size);
    at_ += size;
    return true;
  }
  template <class T>
  bool Read(T* out) {
    return Read(out, sizeof(T));
  }
  bool ok() const { return ok_; }
  bool done() const { return at_ == end_; }

 private:
  const char* at_;
  const char* end_;
  bool ok_ = true;
};

template <class T>
void Append(std::string* out, const T& value) {
  out->append(reinterpret_cast<const char*>(&value), sizeof(value));
}

}  // namespace

std::wstring SavedIcons::UserFile() {
  wchar_t folder[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", folder, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(folder) + L"\\Velmar\\menu-icons.bin"
                                         : std::wstring();
}

SavedIcons& SavedIcons::Instance() {
  static SavedIcons saved(UserFile());
  return saved;
}

SavedIcons::SavedIcons(std::wstring file) : file_(std::move(file)) {}

void SavedIcons::LoadOnce() {
  if (loaded_) return;
  loaded_ = true;
  // Refused before it is read when its size says so; checked again once read (it may have grown).
  FileStamp stamp;
  std::string bytes;
  if (file_.empty() || !ReadFileStamp(file_, &stamp) || stamp.size > kFileLimit ||
      !read_file(file_, bytes) || bytes.empty() || bytes.size() > kFileLimit)
    return;
  Fields fields(bytes.data(), bytes.size());
  char magic[4] = {};
  uint32_t count = 0;
  if (!fields.Read(magic, sizeof(magic)) || std::memcmp(magic, kMagic, sizeof(magic)) != 0 ||
      !fields.Read(&count) || count > kEntryLimit)
    return;
  RecentMap<std::wstring, Entry> entries(kEntryLimit);
  for (uint32_t k = 0; k < count; ++k) {
    uint32_t chars = 0;
    Entry entry;
    if (!fields.Read(&chars) || chars == 0 || chars > kPathLimit) return;
    std::wstring path(chars, L'\0');
    LONG width = 0, height = 0;
    if (!fields.Read(&path[0], chars * sizeof(wchar_t)) || !fields.Read(&entry.stamp.write_time) ||
        !fields.Read(&entry.stamp.size) || !fields.Read(&width) || !fields.Read(&height) ||
        width < 1 || width > kSideLimit || height < 1 || height > kSideLimit)
      return;
    entry.size = {width, height};
    entry.pixels.resize(static_cast<size_t>(width) * height);
    if (!fields.Read(entry.pixels.data(), entry.pixels.size() * sizeof(uint32_t))) return;
    entries.Keep(path, std::move(entry));
  }
  if (fields.done()) entries_ = std::move(entries);  // all of it, or nothing
}

bool SavedIcons::Pixels(const std::wstring& path, const FileStamp& stamp, SIZE size,
                        std::vector<uint32_t>* pixels) {
  ExclusiveLock hold(&lock_);
  LoadOnce();
  const Entry* entry = entries_.Find(path);
  if (!entry || !(entry->stamp == stamp) || entry->size.cx != size.cx || entry->size.cy != size.cy)
    return false;
  *pixels = entry->pixels;
  return true;
}

void SavedIcons::Keep(const std::wstring& path, const FileStamp& stamp, HBITMAP bitmap) {
  DIBSECTION section = {};
  if (!bitmap || GetObjectW(bitmap, sizeof(section), &section) != sizeof(section) ||
      section.dsBm.bmBitsPixel != 32 || !section.dsBm.bmBits || section.dsBm.bmWidth < 1 ||
      section.dsBm.bmWidth > kSideLimit || section.dsBm.bmHeight < 1 ||
      section.dsBm.bmHeight > kSideLimit)
    return;
  GdiFlush();
  Entry entry;
  entry.stamp = stamp;
  entry.size = {section.dsBm.bmWidth, section.dsBm.bmHeight};
  const auto* pixels = static_cast<const uint32_t*>(section.dsBm.bmBits);
  entry.pixels.assign(pixels, pixels + static_cast<size_t>(entry.size.cx) * entry.size.cy);
  ExclusiveLock hold(&lock_);
  LoadOnce();
  entries_.Keep(path, std::move(entry));
  changed_ = true;
}

void SavedIcons::Save() {
  ExclusiveLock hold(&lock_);
  if (!changed_ || file_.empty()) return;
  changed_ = false;
  std::string bytes(kMagic, sizeof(kMagic));
  Append(&bytes, static_cast<uint32_t>(entries_.size()));
  entries_.ForEach([&](const std::wstring& path, const Entry& entry) {
    Append(&bytes, static_cast<uint32_t>(path.size()));
    bytes.append(reinterpret_cast<const char*>(path.data()), path.size() * sizeof(wchar_t));
    Append(&bytes, entry.stamp.write_time);
    Append(&bytes, entry.stamp.size);
    Append(&bytes, entry.size.cx);
    Append(&bytes, entry.size.cy);
    bytes.append(reinterpret_cast<const char*>(entry.pixels.data()),
                 entry.pixels.size() * sizeof(uint32_t));
  });
  const std::wstring folder = file_.substr(0, file_.find_last_of(L'\\'));
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring partial = file_ + L"." + std::to_wstring(GetCurrentProcessId()) + L".tmp";
  bool written = false;
  {
    ScopedHandle out(CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD wrote = 0;
    written =
        out &&
        WriteFile(out.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr) &&
        wrote == bytes.size();
  }
  if (!written || !MoveFileExW(partial.c_str(), file_.c_str(), MOVEFILE_REPLACE_EXISTING))
    DeleteFileW(partial.c_str());
}
