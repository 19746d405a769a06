// Plays Explorer for one or more right-clicks, in the order given on the command line:
//   background DIR        Initialize for the background of folder DIR
//   select N P1 .. PN     Initialize with the shell's data object for N items of one folder
//   droplist N P1 .. PN   Initialize with a plain drop list (paths the shell cannot name)
//   menu / hostmenu       QueryContextMenu (first identifier 100) into an empty popup menu, or
//                         at position 1 of one holding "Open" and "Properties"; prints the menu
//   menu-defaultonly      the same with CMF_DEFAULTONLY
//   lastid N              the last identifier the following queries offer (32767 by default)
//   again                 QueryContextMenu once more into the same menu
//   helptext              GetCommandString for offset 0 (help text, wide and narrow, cut to 5
//                         characters; verbs) and for offset 2
//   measure               WM_MEASUREITEM through IContextMenu3::HandleMenuMsg2
//   draw ID TOP HEIGHT    WM_DRAWITEM for item ID in a rectangle TOP..TOP+HEIGHT; prints
//                         the first row that got pixels
//   invoke N              InvokeCommand for command offset N (a verb given as a number)
//   invoke-short          InvokeCommand with a record that says it is 8 bytes long, at the end of
//                         readable memory
//   hostile-drop KIND PATH  Initialize with a data object that gives the drop list for PATH
//                         broken as KIND says: stream, file, short, outside, open
//   helptext-null         GetCommandString for offset 0 with no buffer (validation, help texts,
//                         verb), and with a buffer of size 0
//   invoke-verb TEXT      InvokeCommand with a verb given as a string
//   invoke-verb-high N    the verb "open" at an address whose low 32 bits are N (bits 16 to 31
//                         zero), as a 64-bit host may have one
//   new                   release the handler (menu first) and create a fresh one
//   another               keep the handler (and its menu) and create a fresh one beside it;
//                         `again` then offers the kept menu to the new handler
//   drop-kept             release the kept handlers (their menus first)
//   alive                 which bitmaps printed so far still exist
//   soak N                N more right-clicks like the last Initialize and menu; prints how
//                         many GDI objects and handles they left
//   unload                release everything, let COM unload the module; prints whether it
//                         went and what it left of the GDI objects it made
//   icon FILE KIND        write a 32 x 32 icon file: plain (green, left half masked), red (the
//                         same with red), alpha (half-transparent red left, blue right)
//   write FILE TEXT       write a text file;  delete FILE  delete a file
//   getenv NAME           print one of the host's environment variables (or "unset")
//   watch NAME / watched  look at one of the host's environment variables from another thread,
//                         as often as it can, until `watched` prints whether it ever changed
//   peakmem MB            whether the host's peak working set stayed below MB mebibytes
//   stamp FILE / restamp FILE / later FILE   remember, put back or advance its write time
//   wait MS               let MS milliseconds pass, as between two right-clicks
//   xselect N P1 .. PN    Windows 11's menu: the shell item array for N items (a background
//                         comes as its folder: xselect 1 DIR)
//   xmenu                 create the command class, print its title, icon, flags and state for
//                         the items, and each subcommand's
//   xinvoke N             Invoke subcommand N (from 1) with the items
//   xnull                 the command's state, and each subcommand's Invoke, for an item array
//                         whose one item comes as null
//   xitems N P1 .. PN     Windows 11's menu: an item array of N items that need not exist ("null"
//                         for a null item, "ThisPC" for This PC); xempty: an array of none;
//                         xnone: no array at all
//   xlong BASE LENGTH file|folder|site  a path of LENGTH characters below BASE (made, for a
//                         folder), as the one item, or as the folder window's folder
//   xsite DIR|ThisPC both|view|browser|nothing  a folder window on DIR, given to the command as
//                         its site from the next xmenu on, offering its folder view, its browser
//   xsite-refs            how many references the command and its subcommands hold on the window
//   xsetsite / xsetsite-null / xgetsite / xrelease  SetSite(the window) once more,
//                         SetSite(NULL), GetSite, release the command
//   xstate                the command's state for the items
//   xenum                 the enumerator's contract: Next one and several at a time, at and past
//                         the end, Skip, Reset; and each subcommand's flags and subcommands
//   xcompare              whether the last classic submenu and the subcommands show the same
//                         titles in the same order
//   free-unused           ask COM to unload what is unused now, as Explorer does from time to time
//   can-unload            release everything and ask the module itself whether it can unload
//                         (it stays loaded); prints its answer and the GDI objects it still holds
//   unload-race           with everything released, the module's DllCanUnloadNow on another
//                         thread, held (test build, VELMAR_PAUSE_IN=DllCanUnloadNow) after it
//                         found no object alive, while this thread right-clicks as the last
//                         Initialize did; prints that menu and whether its bitmaps outlived it
//   spread N DIR CONFIG KEPT  N right-clicks on DIR, each with settings (written to CONFIG)
//                         listing KEPT and an interpreter file of its own (a new icon in DIR);
//                         prints the most GDI objects held meanwhile and at the end
// Prints one line per step: "create=0x........" or "<step>=0x........" with the HRESULT.
// Exits with kHeapCorruptedExit when its heaps are damaged at the end.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tools/explorer/folder_window.h"
#include "tools/explorer/heap_check.h"
#include "tools/explorer/menu_reader.h"
#include "tools/explorer/misbehaving_callers.h"
#include "tools/explorer/module_copy.h"
#include "tools/explorer/resource_counts.h"
#include "tools/explorer/shell_host.h"
#include "tools/explorer/temp_dir.h"

namespace {

constexpr UINT kFirstCommand = 100;

void Report(const char* step, HRESULT hr) {
  std::printf("%s=0x%08lX\n", step, static_cast<unsigned long>(hr));
}

bool TakePaths(int argc, wchar_t** argv, int* i, std::vector<std::wstring>* paths) {
  if (*i + 1 >= argc) return false;
  int count = _wtoi(argv[++*i]);
  if (count < 1 || *i + count >= argc) return false;
  for (int k = 0; k < count; ++k) paths->push_back(argv[++*i]);
  return true;
}

// A 32 x 32 icon whose left half is see-through and right half opaque. With alpha, the left
// half is half-transparent red and the mask says "opaque" everywhere, so a conversion that
// wrongly used the mask would show it; without alpha, the mask alone hides the left half.
bool WriteIcon(const std::wstring& path, const std::wstring& kind) {
  const bool alpha = kind == L"alpha", red = kind == L"red";
  const int size = 32, bpp = alpha ? 32 : 24;
  const int stride = ((size * bpp / 8) + 3) & ~3, mask_stride = 4;
  std::string image(40 + stride * size + mask_stride * size, '\0');
  BITMAPINFOHEADER header = {
      sizeof(header), size, size * 2, 1, static_cast<WORD>(bpp), BI_RGB, 0, 0, 0, 0, 0};
  memcpy(&image[0], &header, sizeof(header));
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      auto* p = reinterpret_cast<unsigned char*>(&image[40 + y * stride + x * bpp / 8]);
      bool right = x >= size / 2;
      if (alpha) {  // B G R A
        p[0] = right ? 0xFF : 0x00, p[2] = right ? 0x00 : 0xFF, p[3] = right ? 0xFF : 0x80;
      } else {
        p[1] = right && !red ? 0xFF : 0x00, p[2] = right && red ? 0xFF : 0x00;
      }
    }
    auto* mask = reinterpret_cast<unsigned char*>(&image[40 + stride * size + y * mask_stride]);
    if (!alpha) mask[0] = mask[1] = 0xFF;
  }
  std::string file(6 + 16, '\0');
  WORD dir[3] = {0, 1, 1};
  memcpy(&file[0], dir, sizeof(dir));
  struct {
    BYTE width, height, colors, reserved;
    WORD planes, bit_count;
    DWORD bytes, offset;
  } entry = {size, size, 0, 0, 1, static_cast<WORD>(bpp), static_cast<DWORD>(image.size()), 22};
  memcpy(&file[6], &entry, sizeof(entry));
  return WriteTextFile(path, file + image);
}

HRESULT WriteTime(const std::wstring& path, FILETIME* get, const FILETIME* set) {
  ScopedHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
  BOOL ok = get ? GetFileTime(file.get(), nullptr, nullptr, get)
                : SetFileTime(file.get(), nullptr, nullptr, set);
  return ok ? S_OK : HRESULT_FROM_WIN32(GetLastError());
}

// Reads one environment variable of this process over and over on a thread of its own.
class Watcher {
 public:
  explicit Watcher(const std::wstring& name) : name_(name), first_(Read(name)) {
    thread_.reset(CreateThread(
        nullptr, 0,
        [](void* self) -> DWORD {
          auto* watcher = static_cast<Watcher*>(self);
          while (!watcher->stop_)
            if (Read(watcher->name_) != watcher->first_) watcher->changed_ = true;
          return 0;
        },
        this, 0, nullptr));
  }
  ~Watcher() { Stop(); }
  Watcher(const Watcher&) = delete;
  Watcher& operator=(const Watcher&) = delete;
  const std::wstring& name() const { return name_; }
  bool Stop() {
    stop_ = true;
    if (thread_.get()) WaitForSingleObject(thread_.get(), INFINITE);
    return changed_;
  }

 private:
  static std::wstring Read(const std::wstring& name) {
    std::wstring value(32768, L'\0');
    DWORD length = GetEnvironmentVariableW(name.c_str(), &value[0], 32768);
    value.resize(length < 32768 ? length : 0);
    return length ? value : L"(unset)";
  }
  std::wstring name_, first_;
  std::atomic<bool> stop_{false}, changed_{false};
  ScopedHandle thread_;
};

class Host {
 public:
  bool Create() {
    handler_.reset();
    HRESULT hr = shell_.CreateHandler(&handler_);
    Report("create", hr);
    return SUCCEEDED(hr);
  }

  // One step of the command line: its name, how many words follow it (kPaths: a count, then
  // that many paths), and what it does with them; false ends the run.
  static constexpr int kPaths = -1;
  using Words = std::vector<std::wstring>;
  struct StepKind {
    const wchar_t* name;
    int words;
    bool (*run)(Host& host, const std::wstring& step, const Words& words);
  };
  static const std::vector<StepKind> kSteps;  // after the class

  template <bool (Host::*Method)(const std::wstring&, const Words&)>
  static bool Call(Host& host, const std::wstring& step, const Words& words) {
    return (host.*Method)(step, words);
  }

  bool Step(int argc, wchar_t** argv, int* i) {
    const std::wstring step = argv[*i];
    at_ = *i;
    for (const StepKind& kind : kSteps) {
      if (step != kind.name) continue;
      Words words;
      if (kind.words == kPaths ? !TakePaths(argc, argv, i, &words) : *i + kind.words >= argc)
        return Unreadable();
      for (int k = 0; k < kind.words; ++k) words.push_back(argv[++*i]);
      return kind.run(*this, step, words);
    }
    return Unreadable();
  }

  // A step that cannot run here (an unknown name, words missing, or what it acts on absent).
  bool Unreadable() const {
    std::fprintf(stderr, "shell_host: cannot read step %d\n", at_);
    return false;
  }

  static int Number(const std::wstring& word) { return _wtoi(word.c_str()); }

  bool Select(const std::wstring& step, const Words& paths) {
    init_ = paths;
    init_.insert(init_.begin(), step);
    Report(step == L"select" ? "select" : "droplist", Initialize(handler_.get()));
    return true;
  }

  bool NewMenu(const std::wstring& step, const Words&) {
    menu_.reset(CreatePopupMenu());
    position_ = 0;
    if (step == L"hostmenu") {
      AppendMenuW(menu_.get(), MF_STRING, 1, L"Open");
      AppendMenuW(menu_.get(), MF_STRING, 2, L"Properties");
      position_ = 1;
    }
    flags_ = step == L"menu-defaultonly" ? CMF_DEFAULTONLY : CMF_NORMAL;
    Report("menu", Query(handler_.get(), menu_.get()));
    PrintMenu();
    return true;
  }

  // A verb whose address lies above 4 GiB, where a verb's high word is not zero.
  bool InvokeHighVerb(const std::wstring&, const Words& w) {
    UINT_PTR low = static_cast<UINT_PTR>(Number(w[0]));
    char* base = static_cast<char*>(VirtualAlloc(reinterpret_cast<void*>(0x100000000ull), 0x10000,
                                                 MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (!base || reinterpret_cast<UINT_PTR>(base) != 0x100000000ull) {
      Report("invoke", E_OUTOFMEMORY);
      return true;
    }
    strcpy(base + low, "open");
    Report("invoke", Invoke(base + low));
    VirtualFree(base, 0, MEM_RELEASE);
    return true;
  }

  bool SelectFolders(const std::wstring&, const Words& paths) {
    std::vector<PidlPtr> lists;
    std::vector<PCIDLIST_ABSOLUTE> raw;
    for (const std::wstring& path : paths) {
      lists.push_back(ShellHost::FolderIdList(path));
      raw.push_back(lists.back().get());
    }
    Report("xselect", SHCreateShellItemArrayFromIDLists(static_cast<UINT>(raw.size()), raw.data(),
                                                        items_.put()));
    return true;
  }

  bool MakeSite(const std::wstring&, const Words& w) {
    const std::wstring& folder = w[0];
    const std::wstring& offers = w[1];
    window_.reset(new FolderWindow(folder == L"ThisPC" ? nullptr : folder.c_str(),
                                   offers == L"view"      ? FolderWindow::Offers::kFolderView
                                   : offers == L"browser" ? FolderWindow::Offers::kBrowser
                                   : offers == L"nothing" ? FolderWindow::Offers::kNothing
                                                          : FolderWindow::Offers::kBoth));
    return true;
  }

  bool ClearSite(const std::wstring&, const Words&) {
    if (!command_) return Unreadable();
    ComPtr<IObjectWithSite> with_site;
    HRESULT hr = command_->QueryInterface(IID_IObjectWithSite, with_site.put_void());
    Report("xsetsite-null", SUCCEEDED(hr) ? with_site->SetSite(nullptr) : hr);
    return true;
  }

  bool ShowSite(const std::wstring&, const Words&) {
    if (!command_) return Unreadable();
    ComPtr<IObjectWithSite> with_site;
    ComPtr<IServiceProvider> site;
    HRESULT hr = command_->QueryInterface(IID_IObjectWithSite, with_site.put_void());
    if (SUCCEEDED(hr)) hr = with_site->GetSite(IID_IServiceProvider, site.put_void());
    std::printf("xgetsite=0x%08lX %s\n", static_cast<unsigned long>(hr),
                !site                                                          ? "none"
                : window_ && site.get() == static_cast<void*>(window_->site()) ? "the window"
                                                                               : "another");
    return true;
  }

  // The command and its subcommands asked about an item that has no file system path.
  bool NullItems(const std::wstring&, const Words&) {
    if (!command_) return Unreadable();
    ComPtr<IShellItemArray> items = ItemArray({L""});
    EXPCMDSTATE state = 0xFF;
    HRESULT hr = command_->GetState(items.get(), TRUE, &state);
    std::printf("xnull state=0x%lX (0x%08lX)\n", static_cast<unsigned long>(state),
                static_cast<unsigned long>(hr));
    for (size_t n = 0; n < subcommands_.size(); ++n)
      std::printf("xnull xinvoke %zu=0x%08lX\n", n + 1,
                  static_cast<unsigned long>(subcommands_[n]->Invoke(items.get(), nullptr)));
    return true;
  }

  bool Alive(const std::wstring&, const Words&) {
    std::vector<int> numbers;
    for (const auto& seen : bitmaps_)
      if (GetObjectType(seen.first) == OBJ_BITMAP) numbers.push_back(seen.second);
    std::sort(numbers.begin(), numbers.end());
    std::string alive;
    for (int number : numbers) alive += " #" + std::to_string(number);
    std::printf("alive=%s\n", alive.empty() ? " none" : alive.c_str());
    return true;
  }

  bool ShowVariable(const std::wstring&, const Words& w) {
    std::wstring value(32768, L'\0');
    DWORD length = GetEnvironmentVariableW(w[0].c_str(), &value[0], 32768);
    value.resize(length < 32768 ? length : 0);
    std::printf("%s=%s\n", Utf8(w[0]).c_str(), length ? Utf8(value).c_str() : "(unset)");
    return true;
  }

  bool PeakMemory(const std::wstring&, const Words& w) {
    unsigned long limit = wcstoul(w[0].c_str(), nullptr, 10);
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof(memory);
    bool below = K32GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory)) &&
                 memory.PeakWorkingSetSize < (static_cast<SIZE_T>(limit) << 20);
    std::printf("peakmem below %lu MiB: %s\n", limit, below ? "yes" : "no");
    return true;
  }

  // stamp: remembers the file's write time; restamp: puts it back; later: one step later.
  bool Stamp(const std::wstring& step, const Words& w) {
    const std::wstring& path = w[0];
    HRESULT hr = S_OK;
    if (step == L"stamp") {
      hr = WriteTime(path, &stamps_[path], nullptr);
    } else {
      FILETIME time = stamps_[path];
      if (step == L"later" && SUCCEEDED(hr = WriteTime(path, &time, nullptr)))
        time.dwHighDateTime += 1;
      if (SUCCEEDED(hr)) hr = WriteTime(path, nullptr, &time);
    }
    Report(std::string(step.begin(), step.end()).c_str(), hr);
    return true;
  }

  void Finish() {
    menu_.reset();
    handler_.reset();
    kept_.clear();
    subcommands_.clear();
    command_.reset();
    items_.reset();
  }

  // Windows 11's menu for `items_`: the command and its subcommands, printed.
  void ExplorerMenu() {
    HRESULT hr = CoCreateInstance(CLSID_ExplorerCommand, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IExplorerCommand, command_.put_void());
    Report("xcreate", hr);
    if (FAILED(hr)) return;
    if (window_) GiveSite();  // Explorer gives the folder window to the top command alone
    EXPCMDFLAGS flags = 0;
    command_->GetFlags(&flags);
    std::printf("xcommand %s flags=0x%lX\n", Describe(command_.get()).c_str(),
                static_cast<unsigned long>(flags));
    subcommands_.clear();
    ComPtr<IEnumExplorerCommand> list;
    Report("xenum", command_->EnumSubCommands(list.put()));
    if (!list) return;
    for (;;) {
      ComPtr<IExplorerCommand> sub;
      ULONG fetched = 0;
      if (list->Next(1, sub.put(), &fetched) != S_OK || fetched != 1) break;
      std::printf("  xitem %zu %s\n", subcommands_.size() + 1, Describe(sub.get()).c_str());
      subcommands_.push_back(std::move(sub));
    }
  }

  // Title, icon and state of a command for `items_`.
  std::string Describe(IExplorerCommand* command) {
    auto text = [](HRESULT hr, LPWSTR value) {
      std::string out = SUCCEEDED(hr) && value ? "\"" + Utf8(value) + "\"" : "none";
      CoTaskMemFree(value);
      return out;
    };
    LPWSTR title = nullptr, icon = nullptr;
    HRESULT title_hr = command->GetTitle(items_.get(), &title);
    HRESULT icon_hr = command->GetIcon(items_.get(), &icon);
    EXPCMDSTATE state = 0;
    HRESULT state_hr = command->GetState(items_.get(), TRUE, &state);
    char state_text[32];
    std::snprintf(state_text, sizeof(state_text), "0x%lX", static_cast<unsigned long>(state));
    return text(title_hr, title) + " icon=" + text(icon_hr, icon) +
           " state=" + (SUCCEEDED(state_hr) ? state_text : "failed");
  }

  void GiveSite() {
    ComPtr<IObjectWithSite> with_site;
    HRESULT hr = command_->QueryInterface(IID_IObjectWithSite, with_site.put_void());
    Report("xsetsite", SUCCEEDED(hr) ? with_site->SetSite(window_->site()) : hr);
  }

  // A path of exactly `length` characters below `base`: folders of up to 100 characters, and for
  // a file a last name "x.py"; the folders are made (with the long-path prefix), the file is not.
  void LongPath(const std::wstring& base, size_t length, const std::wstring& kind) {
    std::wstring path = base;
    const size_t target = length - (kind == L"file" ? 5 : 0);  // "\\x.py"
    while (path.size() + 1 < target) {
      size_t left = target - path.size(), segment = left - 1;         // a backslash, then the name
      if (segment > 100) segment = left - 101 >= 2 ? 100 : left - 3;  // 2 or more for the next
      path += L"\\" + std::wstring(segment, L'd');
      CreateDirectoryW((L"\\\\?\\" + path).c_str(), nullptr);
    }
    if (kind == L"file") path += L"\\x.py";
    if (kind == L"site")
      window_.reset(new FolderWindow(path.c_str(), FolderWindow::Offers::kBoth));
    else
      items_ = ItemArray({path});
    std::printf("xlong %s: %zu characters\n", Utf8(kind).c_str(), path.size());
  }

  void EnumeratorContract() {
    ComPtr<IEnumExplorerCommand> list;
    HRESULT hr = command_->EnumSubCommands(list.put());
    Report("xenum", hr);
    if (!list) return;
    auto title = [&](IExplorerCommand* command) {
      LPWSTR text = nullptr;
      std::string out = command && SUCCEEDED(command->GetTitle(items_.get(), &text)) && text
                            ? "\"" + Utf8(text) + "\""
                            : "none";
      CoTaskMemFree(text);
      return out;
    };
    // Next for `count` into an array with a marker behind what it may write.
    auto take = [&](ULONG count, bool with_fetched) {
      std::vector<IExplorerCommand*> out(count + 1, reinterpret_cast<IExplorerCommand*>(1));
      ULONG fetched = 0xFFFF;
      HRESULT result = list->Next(count, out.data(), with_fetched ? &fetched : nullptr);
      std::string line = "  next " + std::to_string(count) + "=0x";
      char code[16];
      std::snprintf(code, sizeof(code), "%08lX", static_cast<unsigned long>(result));
      line += code;
      if (with_fetched) line += " fetched=" + std::to_string(fetched);
      ULONG given = with_fetched && fetched <= count ? fetched : (result == S_OK ? count : 0);
      for (ULONG k = 0; k < given; ++k) {
        line += " " + title(out[k]);
        if (out[k]) out[k]->Release();
      }
      bool untouched = true;
      for (ULONG k = given; k <= count; ++k)
        untouched = untouched && out[k] == reinterpret_cast<IExplorerCommand*>(1);
      std::printf("%s%s\n", line.c_str(), untouched ? "" : " (wrote past what it gave)");
    };
    take(1, true);
    take(1, false);
    take(5, true);  // past the end
    take(1, true);  // at the end
    std::printf("  reset=0x%08lX\n", static_cast<unsigned long>(list->Reset()));
    std::printf("  skip 1=0x%08lX\n", static_cast<unsigned long>(list->Skip(1)));
    take(1, true);
    std::printf("  skip 9=0x%08lX\n", static_cast<unsigned long>(list->Skip(9)));
    take(2, true);
    list->Reset();
    for (;;) {  // each subcommand: no subcommands of its own
      ComPtr<IExplorerCommand> sub;
      ULONG fetched = 0;
      if (list->Next(1, sub.put(), &fetched) != S_OK) break;
      EXPCMDFLAGS flags = 0xFF;
      ComPtr<IEnumExplorerCommand> own;
      HRESULT own_hr = sub->EnumSubCommands(own.put());
      std::printf("  %s flags=0x%lX subcommands=0x%08lX %s\n", title(sub.get()).c_str(),
                  SUCCEEDED(sub->GetFlags(&flags)) ? static_cast<unsigned long>(flags) : 0xFFul,
                  static_cast<unsigned long>(own_hr), own ? "given" : "none");
    }
  }

  void ExplorerCompare() {
    std::vector<std::string> classic, explorer;
    for (const MenuItemView& item : ReadMenu(menu_.get()))
      for (const MenuItemView& sub : item.submenu) classic.push_back(Utf8(sub.text));
    for (const auto& sub : subcommands_) {
      LPWSTR title = nullptr;
      explorer.push_back(SUCCEEDED(sub->GetTitle(items_.get(), &title)) && title ? Utf8(title)
                                                                                 : "");
      CoTaskMemFree(title);
    }
    if (classic == explorer) {
      std::printf("xcompare: same %zu items\n", classic.size());
      return;
    }
    std::printf("xcompare: differ\n");
    for (const std::string& text : classic) std::printf("  classic \"%s\"\n", text.c_str());
    for (const std::string& text : explorer) std::printf("  explorer \"%s\"\n", text.c_str());
  }

 private:
  struct Kept {
    ComPtr<IShellExtInit> handler;
    UniqueMenu menu;  // destroyed first, as a host closes its menu before the handler goes
  };

  HRESULT Initialize(IShellExtInit* handler) {
    if (init_.empty()) return E_UNEXPECTED;
    std::vector<std::wstring> paths(init_.begin() + 1, init_.end());
    if (init_[0] == L"background") return ShellHost::InitializeBackground(handler, paths[0]);
    if (init_[0] == L"select") return ShellHost::InitializeSelection(handler, paths);
    ComPtr<IDataObject> data = ShellHost::DropListDataObject(paths);
    return handler->Initialize(nullptr, data.get(), nullptr);
  }

  HRESULT Query(IShellExtInit* handler, HMENU menu) {
    ComPtr<IContextMenu> context;
    HRESULT hr = handler->QueryInterface(IID_IContextMenu, context.put_void());
    if (FAILED(hr)) return hr;
    return context->QueryContextMenu(menu, position_, kFirstCommand, last_, flags_);
  }

  // One line per item: `id=101 "Python here" data=module bitmap=#1 16x16x32 px=...`; a bitmap
  // keeps its number for the run, and 32-bit ones show two pixels (left and right half, at
  // 3/16 and 12/16 of the width, half way down).
  void PrintItems(const std::vector<MenuItemView>& items, int depth) {
    ULONG_PTR marker = reinterpret_cast<ULONG_PTR>(GetModuleHandleW(kModuleFileName));
    for (const MenuItemView& item : items) {
      char data[32];
      if (item.data == marker && marker)
        std::snprintf(data, sizeof(data), "module");
      else
        std::snprintf(data, sizeof(data), "0x%llx", static_cast<unsigned long long>(item.data));
      std::printf("%*sid=%u \"%s\" data=%s bitmap=%s\n", 2 * depth + 2, "", item.id,
                  Utf8(item.text).c_str(), data, Describe(item.bitmap).c_str());
      if (item.has_submenu) PrintItems(item.submenu, depth + 1);
    }
  }
  void PrintMenu() { PrintItems(ReadMenu(menu_.get()), 0); }

  std::string Describe(HBITMAP bitmap) {
    if (!bitmap) return "none";
    if (bitmap == HBMMENU_CALLBACK) return "owner-drawn";
    BitmapPixels pixels;
    if (!ReadBitmap(bitmap, &pixels)) return "invalid";
    auto known = bitmaps_.emplace(bitmap, static_cast<int>(bitmaps_.size()) + 1).first;
    char text[96];
    int length = std::snprintf(text, sizeof(text), "#%d %dx%dx%d", known->second, pixels.width,
                               pixels.height, pixels.bits_per_pixel);
    if (pixels.bits_per_pixel == 32 && pixels.width >= 16 && pixels.height >= 16)
      std::snprintf(text + length, sizeof(text) - length, " px=%08x,%08x",
                    pixels.at(pixels.width * 3 / 16, pixels.height / 2),
                    pixels.at(pixels.width * 12 / 16, pixels.height / 2));
    return text;
  }

  HRESULT Invoke(LPCSTR verb) {
    ComPtr<IContextMenu> context;
    HRESULT hr = handler_->QueryInterface(IID_IContextMenu, context.put_void());
    if (FAILED(hr)) return hr;
    CMINVOKECOMMANDINFO info = {};
    info.cbSize = sizeof(info);
    info.lpVerb = verb;
    info.nShow = SW_SHOWNORMAL;
    return context->InvokeCommand(&info);
  }

  void HelpText() {
    ComPtr<IContextMenu> context;
    if (FAILED(handler_->QueryInterface(IID_IContextMenu, context.put_void()))) return;
    const struct {
      UINT_PTR id;
      UINT flags, size;
      const char* name;
    } asks[] = {{0, GCS_HELPTEXTW, 5, "helptextW/5"},
                {0, GCS_VERBW, 64, "verbW"},
                {0, GCS_HELPTEXTA, 64, "helptextA"},
                {0, GCS_VERBA, 64, "verbA"},
                {2, GCS_HELPTEXTW, 64, "helptextW(2)"}};
    for (const auto& ask : asks) {
      wchar_t text[64] = L"untouched";
      char* narrow = reinterpret_cast<char*>(text);
      if (!(ask.flags & GCS_UNICODE)) strcpy(narrow, "untouched");
      HRESULT hr = context->GetCommandString(ask.id, ask.flags, nullptr, narrow, ask.size);
      std::printf("%s=0x%08lX \"%s\"\n", ask.name, static_cast<unsigned long>(hr),
                  ask.flags & GCS_UNICODE ? Utf8(text).c_str() : narrow);
    }
  }

  void HelpTextWithoutBuffer() {
    ComPtr<IContextMenu> context;
    if (FAILED(handler_->QueryInterface(IID_IContextMenu, context.put_void()))) return;
    const struct {
      UINT flags;
      const char* name;
    } asks[] = {{GCS_VALIDATEW, "validateW"},
                {GCS_HELPTEXTW, "helptextW"},
                {GCS_HELPTEXTA, "helptextA"},
                {GCS_VERBW, "verbW"}};
    for (const auto& ask : asks)
      std::printf("%s(null)=0x%08lX\n", ask.name,
                  static_cast<unsigned long>(
                      context->GetCommandString(0, ask.flags, nullptr, nullptr, MAX_PATH)));
    wchar_t text[16] = L"untouched";
    HRESULT hr =
        context->GetCommandString(0, GCS_HELPTEXTW, nullptr, reinterpret_cast<LPSTR>(text), 0);
    std::printf("helptextW/0=0x%08lX \"%s\"\n", static_cast<unsigned long>(hr), Utf8(text).c_str());
  }

  void Measure() {
    ComPtr<IContextMenu3> context;
    HRESULT hr = handler_->QueryInterface(IID_IContextMenu3, context.put_void());
    MEASUREITEMSTRUCT measure = {};
    measure.CtlType = ODT_MENU;
    measure.itemID = kFirstCommand + 1;
    LRESULT result = 0;
    if (SUCCEEDED(hr))
      hr = context->HandleMenuMsg2(WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&measure), &result);
    std::printf("measure=0x%08lX width=%u height=%u result=%lld\n", static_cast<unsigned long>(hr),
                measure.itemWidth, measure.itemHeight, static_cast<long long>(result));
  }

  void Draw(UINT id, int top, int height) {
    ComPtr<IContextMenu3> context;
    HRESULT hr = handler_->QueryInterface(IID_IContextMenu3, context.put_void());
    constexpr int kWidth = 64, kHeight = 160;
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), kWidth, -kHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP target = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(dc, target);
    DRAWITEMSTRUCT draw = {};
    draw.CtlType = ODT_MENU;
    draw.itemID = id;
    draw.hDC = dc;
    draw.rcItem = {0, top, kWidth, top + height};
    LRESULT result = 0;
    if (SUCCEEDED(hr))
      hr = context->HandleMenuMsg2(WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&draw), &result);
    GdiFlush();
    int first_row = -1;
    const uint32_t* pixels = static_cast<const uint32_t*>(bits);
    for (int y = 0; y < kHeight && first_row < 0; ++y)
      for (int x = 0; x < kWidth && first_row < 0; ++x)
        if (pixels[y * kWidth + x] != 0) first_row = y;
    SelectObject(dc, previous);
    DeleteObject(target);
    DeleteDC(dc);
    std::printf("draw=0x%08lX result=%lld first_row=%d\n", static_cast<unsigned long>(hr),
                static_cast<long long>(result), first_row);
  }

  // Right-clicks as a host makes them: create, Initialize, QueryContextMenu, close, release.
  void Soak(int count) {
    HRESULT failed = S_OK;
    auto cycle = [&]() {
      ComPtr<IShellExtInit> handler;
      HRESULT hr = shell_.CreateHandler(&handler);
      if (SUCCEEDED(hr)) hr = Initialize(handler.get());
      UniqueMenu menu(CreatePopupMenu());
      if (SUCCEEDED(hr)) hr = Query(handler.get(), menu.get());
      if (FAILED(hr)) failed = hr;
    };
    for (int k = 0; k < 20; ++k) cycle();  // the shell's own caches settle first
    ResourceCounts before = CountResources();
    for (int k = 0; k < count; ++k) cycle();
    ResourceCounts after = CountResources();
    std::printf("soak=0x%08lX cycles=%d gdi%+ld handles%+ld\n", static_cast<unsigned long>(failed),
                count, after.gdi_objects - before.gdi_objects, after.handles - before.handles);
  }

  static HRESULT ModuleCanUnload() {
    HMODULE module = GetModuleHandleW(kModuleFileName);
    auto can_unload = module ? reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void*>(
                                   GetProcAddress(module, "DllCanUnloadNow")))
                             : nullptr;
    return can_unload ? can_unload() : E_NOINTERFACE;
  }

  bool UnloadRace() {
    Finish();
    const std::wstring process = std::to_wstring(GetCurrentProcessId());
    ScopedHandle paused(CreateEventW(nullptr, TRUE, FALSE, (L"VelmarPaused-" + process).c_str()));
    ScopedHandle resume(CreateEventW(nullptr, TRUE, FALSE, (L"VelmarResume-" + process).c_str()));
    HRESULT answer = E_PENDING;
    ScopedHandle thread(CreateThread(
        nullptr, 0,
        [](void* result) -> DWORD {
          *static_cast<HRESULT*>(result) = ModuleCanUnload();
          return 0;
        },
        &answer, 0, nullptr));
    if (!thread.get() || WaitForSingleObject(paused.get(), 10000) != WAIT_OBJECT_0) {
      std::printf("unload-race: the module did not pause\n");
      SetEvent(resume.get());
      if (thread.get()) WaitForSingleObject(thread.get(), 15000);
      return false;
    }
    bool created = Create();
    if (created) {
      Report("init", Initialize(handler_.get()));
      menu_.reset(CreatePopupMenu());
      Report("menu", Query(handler_.get(), menu_.get()));
    }
    SetEvent(resume.get());
    WaitForSingleObject(thread.get(), 15000);
    if (!created) return false;
    PrintMenu();
    int shown = 0, alive = 0;
    std::vector<MenuItemView> items = ReadMenu(menu_.get());
    for (size_t k = 0; k < items.size(); ++k) {
      if (items[k].has_submenu)
        items.insert(items.end(), items[k].submenu.begin(), items[k].submenu.end());
      if (!items[k].bitmap) continue;
      ++shown;
      alive += GetObjectType(items[k].bitmap) == OBJ_BITMAP;
    }
    std::printf("unload-race: can-unload=0x%08lX bitmaps alive %d of %d\n",
                static_cast<unsigned long>(answer), alive, shown);
    return true;
  }

  // Right-clicks each showing an interpreter file never shown before, and `kept` every time.
  void Spread(int count, const std::wstring& folder, const std::wstring& config,
              const std::wstring& kept) {
    auto entry = [](const std::wstring& path) {
      return L"<python><path>" + path + L"</path><version>3.0</version><bits>64</bits></python>";
    };
    HRESULT failed = S_OK;
    ResourceCounts before = CountResources();
    long peak = before.gdi_objects;
    for (int k = 1; k <= count; ++k) {
      std::wstring icon = folder + L"\\spread-" + std::to_wstring(k) + L".ico";
      // A comment that grows: each version of the settings differs in size from the last.
      std::wstring text = L"<configure><!--" + std::wstring(k, L'-') + L"-->" + entry(kept) +
                          entry(icon) + L"</configure>";
      if (!WriteIcon(icon, L"plain") || !WriteTextFile(config, Utf8(text))) failed = E_FAIL;
      ComPtr<IShellExtInit> handler;
      HRESULT hr = shell_.CreateHandler(&handler);
      if (SUCCEEDED(hr)) hr = ShellHost::InitializeBackground(handler.get(), folder);
      UniqueMenu menu(CreatePopupMenu());
      if (SUCCEEDED(hr)) hr = Query(handler.get(), menu.get());
      if (FAILED(hr)) failed = hr;
      menu.reset();
      handler.reset();
      peak = std::max(peak, CountResources().gdi_objects);
    }
    ResourceCounts after = CountResources();
    std::printf("spread=0x%08lX cycles=%d gdi-peak%+ld gdi-end%+ld\n",
                static_cast<unsigned long>(failed), count, peak - before.gdi_objects,
                after.gdi_objects - before.gdi_objects);
  }

  void Unload() {
    Finish();
    CoFreeUnusedLibraries();
    bool gone = GetModuleHandleW(kModuleFileName) == nullptr;
    ResourceCounts now = CountResources();
    std::printf("unload=%s gdi-left=%ld\n", gone ? "done" : "refused",
                now.gdi_objects > start_.gdi_objects ? now.gdi_objects - start_.gdi_objects : 0);
  }

  // What the host itself makes once (a menu, a screen DC for reading bitmaps) is made before
  // the first count, so that the count after unloading shows only what the module left.
  static ResourceCounts CountAfterWarmUp() {
    UniqueMenu menu(CreatePopupMenu());
    AppendMenuW(menu.get(), MF_STRING, 1, L"warm-up");
    HBITMAP bitmap = CreateBitmap(16, 16, 1, 32, nullptr);
    BitmapPixels pixels;
    ReadBitmap(bitmap, &pixels);
    DeleteObject(bitmap);
    return CountResources();
  }

  ShellHost shell_;
  ResourceCounts start_ = CountAfterWarmUp();
  ComPtr<IShellExtInit> handler_;
  UniqueMenu menu_;  // declared after the handler: destroyed first
  std::vector<std::unique_ptr<Kept>> kept_;
  std::vector<std::wstring> init_;
  UINT position_ = 0, flags_ = CMF_NORMAL, last_ = 0x7FFF;
  std::map<HBITMAP, int> bitmaps_;
  std::map<std::wstring, FILETIME> stamps_;
  int at_ = 0;  // the step being read, for the message when it cannot run
  ComPtr<IShellItemArray> items_;
  ComPtr<IExplorerCommand> command_;
  std::vector<ComPtr<IExplorerCommand>> subcommands_;
  std::unique_ptr<Watcher> watcher_;
  std::unique_ptr<FolderWindow> window_;  // its objects live on while the command holds them
};

const std::vector<Host::StepKind> Host::kSteps = {
    // The classic menu: initialising, querying, invoking and drawing.
    {L"background", 1,
     [](Host& h, const std::wstring&, const Words& w) {
       h.init_ = {L"background", w[0]};
       Report("background", h.Initialize(h.handler_.get()));
       return true;
     }},
    {L"select", kPaths, Call<&Host::Select>},
    {L"droplist", kPaths, Call<&Host::Select>},
    {L"menu", 0, Call<&Host::NewMenu>},
    {L"hostmenu", 0, Call<&Host::NewMenu>},
    {L"menu-defaultonly", 0, Call<&Host::NewMenu>},
    {L"lastid", 1,
     [](Host& h, const std::wstring&, const Words& w) {
       h.last_ = static_cast<UINT>(Number(w[0]));
       return true;
     }},
    {L"again", 0,
     [](Host& h, const std::wstring&, const Words&) {
       if (!h.menu_.get() && h.kept_.empty()) return h.Unreadable();
       HMENU menu = h.menu_.get() ? h.menu_.get() : h.kept_.back()->menu.get();
       Report("again", h.Query(h.handler_.get(), menu));
       h.PrintItems(ReadMenu(menu), 0);
       return true;
     }},
    {L"invoke", 1,
     [](Host& h, const std::wstring&, const Words& w) {
       Report("invoke", h.Invoke(MAKEINTRESOURCEA(Number(w[0]))));
       return true;
     }},
    {L"invoke-verb", 1,
     [](Host& h, const std::wstring&, const Words& w) {
       Report("invoke", h.Invoke(std::string(w[0].begin(), w[0].end()).c_str()));
       return true;
     }},
    // Invoking, help texts and owner-drawn icons.
    {L"invoke-verb-high", 1, Call<&Host::InvokeHighVerb>},
    {L"helptext", 0,
     [](Host& h, const std::wstring&, const Words&) { return h.HelpText(), true; }},
    {L"helptext-null", 0,
     [](Host& h, const std::wstring&, const Words&) {
       return h.HelpTextWithoutBuffer(), true;
     }},
    {L"invoke-short", 0,
     [](Host& h, const std::wstring&, const Words&) {
       ComPtr<IContextMenu> context;
       HRESULT hr = h.handler_->QueryInterface(IID_IContextMenu, context.put_void());
       Report("invoke-short", SUCCEEDED(hr) ? InvokeWithShortRecord(context.get()) : hr);
       return true;
     }},
    {L"hostile-drop", 2,
     [](Host& h, const std::wstring&, const Words& w) {
       ComPtr<IDataObject> data = HostileDropList(w[0], w[1]);
       HRESULT hr = h.handler_->Initialize(nullptr, data.get(), nullptr);
       std::printf("hostile-drop %s=0x%08lX\n", Utf8(w[0]).c_str(),
                   static_cast<unsigned long>(hr));
       return true;
     }},
    {L"measure", 0,
     [](Host& h, const std::wstring&, const Words&) { return h.Measure(), true; }},
    {L"draw", 3,
     [](Host& h, const std::wstring&, const Words& w) {
       h.Draw(static_cast<UINT>(Number(w[0])), Number(w[1]), Number(w[2]));
       return true;
     }},
    // Windows 11's command: its items, site, state, subcommands and invokes.
    {L"xselect", kPaths, Call<&Host::SelectFolders>},
    {L"xmenu", 0,
     [](Host& h, const std::wstring&, const Words&) { return h.ExplorerMenu(), true; }},
    {L"xinvoke", 1,
     [](Host& h, const std::wstring&, const Words& w) {
       size_t n = static_cast<size_t>(Number(w[0]));
       Report("xinvoke", n >= 1 && n <= h.subcommands_.size()
                             ? h.subcommands_[n - 1]->Invoke(h.items_.get(), nullptr)
                             : E_INVALIDARG);
       return true;
     }},
    {L"xitems", kPaths,
     [](Host& h, const std::wstring&, const Words& w) {
       Words paths = w;
       for (std::wstring& path : paths)
         path = path == L"null" ? L"" : path == L"ThisPC" ? L"This PC" : path;
       h.items_ = ItemArray(paths);
       return true;
     }},
    {L"xnone", 0,
     [](Host& h, const std::wstring&, const Words&) { return h.items_.reset(), true; }},
    {L"xempty", 0,
     [](Host& h, const std::wstring&, const Words&) {
       h.items_ = ItemArray({});
       return true;
     }},
    {L"xlong", 3,
     [](Host& h, const std::wstring&, const Words& w) {
       h.LongPath(w[0], static_cast<size_t>(Number(w[1])), w[2]);
       return true;
     }},
    // The folder window as the command's site, and the command's state and list.
    {L"xsite", 2, Call<&Host::MakeSite>},
    {L"xsite-refs", 0,
     [](Host& h, const std::wstring&, const Words&) {
       if (!h.window_) return h.Unreadable();
       std::printf("xsite-refs %ld\n", h.window_->HeldByOthers());
       return true;
     }},
    {L"xsetsite", 0,
     [](Host& h, const std::wstring&, const Words&) {
       if (!h.command_ || !h.window_) return h.Unreadable();
       h.GiveSite();
       return true;
     }},
    {L"xsetsite-null", 0, Call<&Host::ClearSite>},
    {L"xgetsite", 0, Call<&Host::ShowSite>},
    {L"xrelease", 0,
     [](Host& h, const std::wstring&, const Words&) { return h.command_.reset(), true; }},
    {L"xstate", 0,
     [](Host& h, const std::wstring&, const Words&) {
       if (!h.command_) return h.Unreadable();
       EXPCMDSTATE state = 0xFF;
       HRESULT hr = h.command_->GetState(h.items_.get(), TRUE, &state);
       std::printf("xstate=0x%08lX state=0x%lX\n", static_cast<unsigned long>(hr),
                   static_cast<unsigned long>(state));
       return true;
     }},
    {L"xnull", 0, Call<&Host::NullItems>},
    {L"xenum", 0,
     [](Host& h, const std::wstring&, const Words&) {
       if (!h.command_) return h.Unreadable();
       h.EnumeratorContract();
       return true;
     }},
    {L"xcompare", 0,
     [](Host& h, const std::wstring&, const Words&) { return h.ExplorerCompare(), true; }},
    // Handler objects, the module's life, the process and its files.
    {L"new", 0,
     [](Host& h, const std::wstring&, const Words&) {
       h.menu_.reset();
       return h.Create();
     }},
    {L"another", 0,
     [](Host& h, const std::wstring&, const Words&) {
       h.kept_.emplace_back(new Kept{std::move(h.handler_), UniqueMenu(h.menu_.release())});
       return h.Create();
     }},
    {L"drop-kept", 0,
     [](Host& h, const std::wstring&, const Words&) { return h.kept_.clear(), true; }},
    {L"alive", 0, Call<&Host::Alive>},
    {L"soak", 1,
     [](Host& h, const std::wstring&, const Words& w) { return h.Soak(Number(w[0])), true; }},
    {L"unload", 0, [](Host& h, const std::wstring&, const Words&) { return h.Unload(), true; }},
    {L"free-unused", 0,
     [](Host&, const std::wstring&, const Words&) { return CoFreeUnusedLibraries(), true; }},
    {L"can-unload", 0,
     [](Host& h, const std::wstring&, const Words&) {
       h.Finish();
       HRESULT hr = ModuleCanUnload();
       ResourceCounts now = CountResources();
       std::printf("can-unload=0x%08lX gdi-left=%ld\n", static_cast<unsigned long>(hr),
                   now.gdi_objects - h.start_.gdi_objects);
       return true;
     }},
    {L"unload-race", 0,
     [](Host& h, const std::wstring&, const Words&) { return h.UnloadRace(); }},
    // Settings spread over folders, the process's variables and memory, and files.
    {L"spread", 4,
     [](Host& h, const std::wstring&, const Words& w) {
       return h.Spread(Number(w[0]), w[1], w[2], w[3]), true;
     }},
    {L"wait", 1,
     [](Host&, const std::wstring&, const Words& w) {
       return Sleep(static_cast<DWORD>(Number(w[0]))), true;
     }},
    {L"icon", 2,
     [](Host&, const std::wstring&, const Words& w) {
       Report("icon", WriteIcon(w[0], w[1]) ? S_OK : E_FAIL);
       return true;
     }},
    {L"getenv", 1, Call<&Host::ShowVariable>},
    {L"watch", 1,
     [](Host& h, const std::wstring&, const Words& w) {
       return h.watcher_.reset(new Watcher(w[0])), true;
     }},
    {L"watched", 0,
     [](Host& h, const std::wstring&, const Words&) {
       if (!h.watcher_) return h.Unreadable();
       std::printf("watched %s: %s\n", Utf8(h.watcher_->name()).c_str(),
                   h.watcher_->Stop() ? "changed" : "unchanged");
       h.watcher_.reset();
       return true;
     }},
    {L"peakmem", 1, Call<&Host::PeakMemory>},
    {L"write", 2,
     [](Host&, const std::wstring&, const Words& w) {
       Report("write", WriteTextFile(w[0], Utf8(w[1])) ? S_OK : E_FAIL);
       return true;
     }},
    {L"delete", 1,
     [](Host&, const std::wstring&, const Words& w) {
       Report("delete", DeleteFileW(w[0].c_str()) ? S_OK : HRESULT_FROM_WIN32(GetLastError()));
       return true;
     }},
    {L"stamp", 1, Call<&Host::Stamp>},
    {L"restamp", 1, Call<&Host::Stamp>},
    {L"later", 1, Call<&Host::Stamp>},
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);  // plain line feeds, whatever reads them
  SetProcessDPIAware();                  // as Explorer is
  setvbuf(stdout, nullptr, _IONBF, 0);
  int result = 0;
  {
    Host host;
    if (!host.Create()) return 3;
    for (int i = 1; i < argc && result == 0; ++i)
      if (!host.Step(argc, argv, &i)) result = 2;
    host.Finish();
  }
  if (!ProcessHeapsValid()) {
    std::fprintf(stderr, "shell_host: heap damaged\n");
    return static_cast<int>(kHeapCorruptedExit);
  }
  return result;
}
