// What the benchmarks time: one right-click as Explorer makes it, in Windows 10's menu and in
// Windows 11's, by our handler, the peer's or the floor's, and the figures made of many.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "common/owners.h"
#include "tools/explorer/shell_host.h"

double Milliseconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end);

struct Figures {
  double median_ms = 0;
  double p99_ms = 0;
  double first_ms = 0;  // the first sample
};
Figures Summary(std::vector<double> samples);
double Median(std::vector<double> samples);

// The handlers compared: ours, 7-Zip's Explorer extension (registered beforehand) and the floor
// (tools/floor), which reads nothing and inserts as many items as ours.
enum class Handler { kOurs, kPeer, kFloor };
const char* HandlerName(Handler handler);
const CLSID& MenuClass(Handler handler);
const CLSID& CommandClass(Handler handler);  // ours and the floor only

// The floor's registration in the prefix for this process's life.
class FloorRegistration {
 public:
  explicit FloorRegistration(int submenu_items);
  ~FloorRegistration();
  FloorRegistration(const FloorRegistration&) = delete;
  FloorRegistration& operator=(const FloorRegistration&) = delete;
};

// A right-clicked item: its data object and its shell item array are made once beforehand, as
// Explorer has them at hand when it calls the handler.
struct Selection {
  explicit Selection(const std::wstring& path);
  PidlPtr folder;
  ComPtr<IDataObject> data;
  ComPtr<IShellItemArray> items;
};

// The steps of a right-click in Windows 10's menu: create, Initialize, QueryContextMenu,
// destroy the menu, release. In Windows 11's: create, the command's GetTitle, GetIcon and
// GetState, EnumSubCommands, every subcommand's GetTitle, GetIcon and GetState, release.
constexpr int kSteps = 5;
extern const char* const kMenuStepNames[kSteps];
extern const char* const kCommandStepNames[kSteps];

// The milliseconds of one right-click; each step's time is added to `steps` when given. A
// handler that cannot be made ends the program.
double MenuRightClick(const ShellHost& host, Handler handler, const Selection& selection,
                      std::vector<double>* steps = nullptr);
double CommandRightClick(Handler handler, const Selection& selection,
                         std::vector<double>* steps = nullptr);
