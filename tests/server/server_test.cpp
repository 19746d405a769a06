// The module as a host loads it: class factory, object identity, unloading and resources.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/class_id.h"
#include "velmar_version.h"
#include "tools/explorer/module_copy.h"
#include "common/owners.h"
#include "tools/explorer/resource_counts.h"

namespace {

typedef HRESULT(STDAPICALLTYPE* GetClassObjectFn)(REFCLSID, REFIID, void**);
typedef HRESULT(STDAPICALLTYPE* PlainExportFn)();

const CLSID kOtherClass = {0x11111111, 0x2222, 0x3333, {4, 5, 6, 7, 8, 9, 10, 11}};

class LoadedModule {
 public:
  explicit LoadedModule(const std::wstring& path) : module_(LoadLibraryW(path.c_str())) {}
  ~LoadedModule() {
    if (module_) FreeLibrary(module_);
  }
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;
  HMODULE get() const { return module_; }
  template <class F>
  F Export(const char* name) const {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
  }

 private:
  HMODULE module_;
};

class ModuleTest : public ::testing::Test {
 protected:
  ModuleTest() : module_(copy_.dll_path()) {}
  void SetUp() override {
    ASSERT_TRUE(copy_.copied());
    ASSERT_NE(module_.get(), nullptr);
    get_class_object_ = module_.Export<GetClassObjectFn>("DllGetClassObject");
    can_unload_now_ = module_.Export<PlainExportFn>("DllCanUnloadNow");
    ASSERT_NE(get_class_object_, nullptr);
    ASSERT_NE(can_unload_now_, nullptr);
  }
  HRESULT Factory(ComPtr<IClassFactory>* factory) {
    return get_class_object_(CLSID_ExtensionsShellEx, IID_IClassFactory, factory->put_void());
  }

  ModuleCopy copy_;
  LoadedModule module_;
  GetClassObjectFn get_class_object_ = nullptr;
  PlainExportFn can_unload_now_ = nullptr;
};

TEST_F(ModuleTest, ClassObjectIsCachedAndOnlyForOurClass) {
  ComPtr<IClassFactory> first, second;
  ComPtr<IUnknown> other;
  EXPECT_EQ(get_class_object_(kOtherClass, IID_IClassFactory, other.put_void()),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(get_class_object_(CLSID_ExtensionsShellEx, IID_IClassFactory, nullptr), E_POINTER);
  ASSERT_EQ(Factory(&first), S_OK);
  ASSERT_EQ(Factory(&second), S_OK);
  EXPECT_EQ(first.get(), second.get());
  ComPtr<IUnknown> unknown;
  EXPECT_EQ(get_class_object_(CLSID_ExtensionsShellEx, IID_IShellExtInit, unknown.put_void()),
            E_NOINTERFACE);
}

TEST_F(ModuleTest, HandlerAnswersItsInterfacesWithOneIdentity) {
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(Factory(&factory), S_OK);
  ComPtr<IShellExtInit> init;
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IShellExtInit, nullptr), E_POINTER);
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IShellExtInit, init.put_void()), S_OK);

  ComPtr<IContextMenu> menu;
  ComPtr<IContextMenu2> menu2;
  ComPtr<IContextMenu3> menu3;
  ASSERT_EQ(init.As(IID_IContextMenu, &menu), S_OK);
  ASSERT_EQ(init.As(IID_IContextMenu2, &menu2), S_OK);
  ASSERT_EQ(init.As(IID_IContextMenu3, &menu3), S_OK);
  EXPECT_EQ(static_cast<void*>(menu.get()), static_cast<void*>(menu3.get()));
  EXPECT_EQ(static_cast<void*>(menu2.get()), static_cast<void*>(menu3.get()));
  EXPECT_NE(static_cast<void*>(init.get()), static_cast<void*>(menu3.get()));

  ComPtr<IUnknown> from_init, from_menu;
  ASSERT_EQ(init.As(IID_IUnknown, &from_init), S_OK);
  ASSERT_EQ(menu3.As(IID_IUnknown, &from_menu), S_OK);
  EXPECT_EQ(from_init.get(), from_menu.get());
  EXPECT_EQ(static_cast<void*>(from_init.get()), static_cast<void*>(init.get()));

  ComPtr<IShellFolder> folder;
  EXPECT_EQ(init.As(IID_IShellFolder, &folder), E_NOINTERFACE);
}

TEST_F(ModuleTest, CanUnloadOnlyWhenNothingIsHeld) {
  EXPECT_EQ(can_unload_now_(), S_OK);
  {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(Factory(&factory), S_OK);
    EXPECT_EQ(can_unload_now_(), S_FALSE);  // a factory held by a client
    ComPtr<IShellExtInit> init;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IShellExtInit, init.put_void()), S_OK);
    factory.reset();
    EXPECT_EQ(can_unload_now_(), S_FALSE);  // a live handler
    init.reset();
    EXPECT_EQ(can_unload_now_(), S_OK);
  }
  {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(Factory(&factory), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory.reset();
    EXPECT_EQ(can_unload_now_(), S_FALSE);  // a server lock
    ASSERT_EQ(Factory(&factory), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory.reset();
    EXPECT_EQ(can_unload_now_(), S_OK);
  }
}

TEST_F(ModuleTest, ResourcesNameTheProduct) {
  wchar_t text[64] = {};
  EXPECT_GT(LoadStringW(module_.get(), 100, text, 64), 0);
  EXPECT_STREQ(text, L"ExtensionsShellEx");

  HRSRC manifest = FindResourceW(module_.get(), MAKEINTRESOURCEW(2), MAKEINTRESOURCEW(24));
  ASSERT_NE(manifest, nullptr);
  std::string xml(static_cast<const char*>(LockResource(LoadResource(module_.get(), manifest))),
                  SizeofResource(module_.get(), manifest));
  EXPECT_NE(xml.find("level=\"asInvoker\""), std::string::npos);
  EXPECT_NE(xml.find("uiAccess=\"false\""), std::string::npos);

  // Icon group 219: six 32-bit images, 16 to 256 pixels square.
  HRSRC group = FindResourceW(module_.get(), MAKEINTRESOURCEW(219), MAKEINTRESOURCEW(14));
  ASSERT_NE(group, nullptr);
  const BYTE* dir = static_cast<const BYTE*>(LockResource(LoadResource(module_.get(), group)));
  ASSERT_GE(SizeofResource(module_.get(), group), 6u + 6 * 14);
  EXPECT_EQ(*reinterpret_cast<const WORD*>(dir + 4), 6);
  std::vector<int> sizes;
  for (int i = 0; i < 6; ++i) {
    const BYTE* entry = dir + 6 + 14 * i;
    sizes.push_back(entry[0] == 0 ? 256 : entry[0]);
    EXPECT_EQ(*reinterpret_cast<const WORD*>(entry + 6), 32) << "bits of image " << i;
  }
  EXPECT_EQ(sizes, (std::vector<int>{16, 32, 48, 64, 128, 256}));

  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeW(copy_.dll_path().c_str(), &handle);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(copy_.dll_path().c_str(), 0, size, info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(VELMAR_VERSION_MINOR, VELMAR_VERSION_MAJOR));
  EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(0, VELMAR_VERSION_PATCH));
  EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(VELMAR_VERSION_MINOR, VELMAR_VERSION_MAJOR));
  EXPECT_EQ(fixed->dwFileOS, 4u);
  EXPECT_EQ(fixed->dwFileType, 2u);
  const std::pair<const wchar_t*, const wchar_t*> strings[] = {
      {L"FileDescription", L"Velmar Extensions"},
      {L"ProductName", L"Velmar Extensions"},
      {L"InternalName", L"Velmar Extensions"},
      {L"OriginalFilename", L"VelmarExtensionsShell.dll"},
      {L"FileVersion", L"" VELMAR_FILE_VERSION_TEXT},
      {L"ProductVersion", L"" VELMAR_PRODUCT_VERSION_TEXT},
  };
  for (const auto& expected : strings) {
    wchar_t* value = nullptr;
    std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + expected.first;
    ASSERT_TRUE(
        VerQueryValueW(info.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
        << query.size();
    EXPECT_STREQ(value, expected.second);
  }
}

// Blocks in use on the C runtime's heap, where the module's objects live. Heap checking (the
// test runs' warn+heap) keeps freed blocks aside, filled with 0xFEEEFEEE and walked as in use:
// those are not counted.
size_t BlocksInUse() {
  typedef HANDLE(__cdecl * HeapHandleFn)();
  const auto heap_handle = reinterpret_cast<HeapHandleFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"msvcrt.dll"), "_get_heap_handle")));
  const HANDLE heap = heap_handle ? heap_handle() : nullptr;
  if (!heap || !HeapLock(heap)) return 0;
  const uint64_t kFreed = 0xFEEEFEEEFEEEFEEEull;
  size_t in_use = 0;
  PROCESS_HEAP_ENTRY entry = {};
  while (HeapWalk(heap, &entry)) {
    if (!(entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)) continue;
    uint64_t head = 0;
    if (entry.cbData >= sizeof(head)) memcpy(&head, entry.lpData, sizeof(head));
    in_use += head != kFreed;
  }
  HeapUnlock(heap);
  return in_use;
}

// A host that loads and unloads the module again and again (as Explorer may, between
// right-clicks) gets back what each load took: the class factory it keeps, and the C++ runtime's
// reserve for exceptions.
TEST(ModuleUnload, EachLoadGivesBackWhatItTook) {
  ModuleCopy copy(L"unload");
  ASSERT_TRUE(copy.copied());
  auto growth = [&](bool with_factory) {
    const long before = static_cast<long>(BlocksInUse());
    for (int i = 0; i < 20; ++i) {
      LoadedModule module(copy.dll_path());
      ComPtr<IClassFactory> factory;  // released before the module is
      if (with_factory)
        module.Export<GetClassObjectFn>("DllGetClassObject")(CLSID_ExtensionsShellEx,
                                                             IID_IClassFactory, factory.put_void());
    }
    return static_cast<long>(BlocksInUse()) - before;
  };
  growth(true);
  EXPECT_LT(growth(false), 5);
  EXPECT_LT(growth(true), 5);
}

// The counters the soak scenario reads move with objects of known count, so its flat line means
// something.
TEST(ResourceCounters, MoveWithKnownObjects) {
  ResourceCounts before = CountResources();
  std::vector<HBITMAP> bitmaps;
  std::vector<ScopedHandle> events;
  for (int i = 0; i < 10; ++i) {
    bitmaps.push_back(CreateBitmap(4, 4, 1, 32, nullptr));
    events.emplace_back(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  }
  ResourceCounts during = CountResources();
  for (HBITMAP bitmap : bitmaps) DeleteObject(bitmap);
  events.clear();
  ResourceCounts after = CountResources();
  EXPECT_EQ(during.gdi_objects - before.gdi_objects, 10);
  EXPECT_EQ(during.handles - before.handles, 10);
  EXPECT_EQ(after.gdi_objects, before.gdi_objects);
  EXPECT_EQ(after.handles, before.handles);
}

}  // namespace
