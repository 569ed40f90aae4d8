// The main dialog in this process, on a simulated device the test controls:
// the test's thread runs the dialog's modal loop, as the program does, and a
// second thread plays the user and the system (device arrivals and removals
// reach the dialog as the WM_DEVICECHANGE messages Windows sends).
#include <windows.h>
#include <commctrl.h>
#include <dbt.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "protocol/flash_layout.h"
#include "sim/sim_device.h"
#include "res/resource.h"
#include "ui/win32/tests/screenshot.h"
#include "ui/win32/update_dlg.h"

// Last: it defines `interface`, a name the simulated bus uses.
#include <shlobj.h>  // DROPFILES

namespace gps {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::seconds;

const std::wstring kConnected = L"設備連線正常!";
const std::wstring kNoDevice = L"設備連線失敗! 請檢查USB連接。";
const std::wstring kErasing = L"正在清除...";
const std::wstring kSucceeded = L"更新成功!";

bool WaitUntil(const std::function<bool()>& done, Clock::duration bound) {
  const auto deadline = Clock::now() + bound;
  for (;;) {
    if (done()) return true;
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::wstring Text(HWND window) {
  wchar_t text[512] = {};
  GetWindowTextW(window, text, static_cast<int>(std::size(text)));
  return text;
}

// A message box (or other dialog box) that the dialog's thread shows over it.
HWND BoxOver(HWND dialog) {
  struct Search {
    HWND dialog;
    HWND box;
  } search{dialog, nullptr};
  EnumThreadWindows(
      GetWindowThreadProcessId(dialog, nullptr),
      [](HWND window, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        wchar_t name[16] = {};
        GetClassNameW(window, name, static_cast<int>(std::size(name)));
        if (window != s->dialog && IsWindowVisible(window) && std::wstring(name) == L"#32770") {
          s->box = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.box;
}

// The texts of a box's controls, one after another: its message and its
// buttons.
std::wstring ChildTexts(HWND box) {
  std::wstring texts;
  EnumChildWindows(
      box,
      [](HWND child, LPARAM param) -> BOOL {
        *reinterpret_cast<std::wstring*>(param) += Text(child) + L"|";
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&texts));
  return texts;
}

// The colour the dialog gives its status line's text.
COLORREF StatusColour(HWND dialog) {
  HDC dc = CreateCompatibleDC(nullptr);
  SetTextColor(dc, RGB(1, 2, 3));
  SendMessageW(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_STATUS)));
  const COLORREF colour = GetTextColor(dc);
  DeleteDC(dc);
  return colour;
}

// Forwards to the simulated bus and counts the calls made on the dialog's
// own thread: during an update only the worker may use the device.
class WatchedBackend : public HidBackend {
 public:
  explicit WatchedBackend(HidBackend& inner) : inner_(inner) {}
  std::atomic<int> uiThreadCalls{0};

  std::vector<std::string> EnumerateInterfaces() override {
    Note();
    return inner_.EnumerateInterfaces();
  }
  std::optional<HidAttributes> QueryAttributes(const std::string& path) override {
    Note();
    return inner_.QueryAttributes(path);
  }
  std::string QuerySerial(const std::string& path) override {
    Note();
    return inner_.QuerySerial(path);
  }
  HidOpenResult OpenData(const std::string& path, HidAccess access) override {
    Note();
    return inner_.OpenData(path, access);
  }
  TransferResult Transfer(HidHandle handle, HidDirection direction, uint8_t* buffer,
                          uint32_t length, uint32_t boundMs, const StopEvent& stop) override {
    Note();
    return inner_.Transfer(handle, direction, buffer, length, boundMs, stop);
  }
  std::optional<HidReportLengths> ReportLengths(HidHandle handle) override {
    Note();
    return inner_.ReportLengths(handle);
  }
  void Cancel(HidHandle handle) override { inner_.Cancel(handle); }
  void Close(HidHandle handle) override { inner_.Close(handle); }

 private:
  void Note() {
    if (GetCurrentThreadId() == uiThread_) ++uiThreadCalls;
  }
  HidBackend& inner_;
  const DWORD uiThread_ = GetCurrentThreadId();  // made on the dialog's thread
};

SimConfig PacedErase() {
  SimConfig config;
  config.progressGap = std::chrono::milliseconds(200);  // 25, 50, 75, 100, "over"
  config.recordReports = false;
  return config;
}

class UpdateDlgTest : public ::testing::Test {
 protected:
  UpdateDlgTest() : device_(PacedErase()) {}

  void SetUp() override {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    dir_ = fs::path(temp) / (L"gps-dlg-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                             fs::path(::testing::UnitTest::GetInstance()
                                          ->current_test_info()
                                          ->name())
                                 .wstring());
    fs::create_directories(dir_);
    previous_ = fs::current_path();
    fs::current_path(dir_);  // the update reads code_data.bin from here
  }
  void TearDown() override {
    fs::current_path(previous_);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  // Runs the dialog on this thread while `user` acts on it from another.
  // Whatever `user` leaves open is closed afterwards, so the loop ends.
  // A `file` given is the one the user named.
  void RunDialog(HidBackend& backend, const std::function<void(HWND)>& user,
                 const fs::path& file = {}) {
    CUpdateDlg dlg(backend, file.empty() ? fs::path(kDefaultImageFile) : file, !file.empty());
    std::thread player([&] {
      HWND window = nullptr;
      const bool shown = WaitUntil(
          [&] { return (window = dlg.GetSafeHwnd()) != nullptr && IsWindowVisible(window); },
          seconds(20));
      if (!shown) {
        ADD_FAILURE() << "the dialog did not show";
        return;
      }
      user(window);
      CloseAll(window);
    });
    dlg.DoModal();
    player.join();
  }

  // Closes message boxes, then the dialog, confirming a close if asked.
  static void CloseAll(HWND dialog) {
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    const bool closed = WaitUntil(
        [&] {
          if (HWND box = BoxOver(dialog)) PostMessageW(box, WM_COMMAND, IDYES, 0);
          return !IsWindow(dialog);
        },
        seconds(30));
    EXPECT_TRUE(closed) << "the dialog did not close";
  }

  static void DeviceEvent(HWND dialog, WPARAM event) {
    DEV_BROADCAST_DEVICEINTERFACE_W change{};
    change.dbcc_size = sizeof(change);
    change.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    SendMessageW(dialog, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&change));
  }

  static std::wstring Status(HWND dialog) { return Text(GetDlgItem(dialog, IDC_STATUS)); }
  static std::wstring ProgressLine(HWND dialog) {
    return Text(GetDlgItem(dialog, IDC_PROGRESS_LINE));
  }
  static bool StartsWith(const std::wstring& text, const std::wstring& start) {
    return text.rfind(start, 0) == 0;
  }
  static bool UpdateEnabled(HWND dialog) {
    return IsWindowEnabled(GetDlgItem(dialog, IDC_UPDATE)) != FALSE;
  }
  static void PressUpdate(HWND dialog) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_UPDATE, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_UPDATE)));
  }

  void WriteImage(const std::string& bytes = std::string(8192, '\x5A'),
                  const fs::path& name = "code_data.bin") {
    std::ofstream out(dir_ / name, std::ios::binary);
    out << bytes;
  }

  SimDevice device_;
  fs::path dir_;
  fs::path previous_;
};

TEST_F(UpdateDlgTest, ProbeTellsEachWayTheDeviceCanBeFound) {
  struct Case {
    const char* name;
    bool onBus;
    bool refuse;
    HidOpenError refusal;
    std::wstring text;
  };
  const Case cases[] = {
      {"present", true, false, HidOpenError::None, kConnected},
      {"absent", false, false, HidOpenError::None, kNoDevice},
      {"no permission", true, true, HidOpenError::AccessDenied,
       L"設備無存取權限! 請洽系統管理員開放此USB設備的存取權限。"},
      {"held by another program", true, true, HidOpenError::Busy,
       L"設備被其他程式佔用! 請關閉該程式後再試。"},
      {"will not open", true, true, HidOpenError::Other, L"設備無法開啟! 請重新插入設備。"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimFaults faults;
    faults.refuseReadOpen = c.refuse;
    faults.refusal = c.refusal;
    device_.SetFaults(faults);
    SimBus bus;
    if (c.onBus) bus.AddDevice(device_);
    RunDialog(bus, [&](HWND dialog) {
      EXPECT_EQ(Status(dialog), c.text);
      EXPECT_TRUE(UpdateEnabled(dialog));
    });
    EXPECT_EQ(bus.OpenHandles(), 0u);  // the probe keeps nothing open
  }
}

// A child window's rectangle in the dialog's client coordinates.
RECT PlaceOf(HWND child) {
  RECT rect{};
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

// The picture is drawn for its place: the bitmap it shows has exactly the
// control's size (never the resource's own pixels), the picture's aspect
// (550 x 250), and it stays above the bar.
void ExpectPictureFitsItsPlace(HWND dialog) {
  HWND picture = GetDlgItem(dialog, IDC_PICTURE);
  const RECT place = PlaceOf(picture);
  const LONG width = place.right - place.left;
  const LONG height = place.bottom - place.top;
  BITMAP shown{};
  const auto bitmap = reinterpret_cast<HGDIOBJ>(SendMessageW(picture, STM_GETIMAGE, IMAGE_BITMAP, 0));
  ASSERT_NE(bitmap, nullptr);
  ASSERT_NE(GetObjectW(bitmap, sizeof(shown), &shown), 0);
  EXPECT_EQ(shown.bmWidth, width);
  EXPECT_EQ(shown.bmHeight, height);
  EXPECT_LE(std::abs(width * 250 - height * 550), 550) << width << "x" << height;
  EXPECT_LT(place.bottom, PlaceOf(GetDlgItem(dialog, IDC_PROGRESS1)).top);
}

TEST_F(UpdateDlgTest, ThePictureIsDrawnForItsPlaceAndFollowsTheMonitorsDpi) {
  SimBus bus(device_);
  RunDialog(bus, [&](HWND dialog) {
    ExpectPictureFitsItsPlace(dialog);
    HWND picture = GetDlgItem(dialog, IDC_PICTURE);
    const RECT before = PlaceOf(picture);
    const auto oldBitmap =
        reinterpret_cast<HGDIOBJ>(SendMessageW(picture, STM_GETIMAGE, IMAGE_BITMAP, 0));

    // The window moves to a monitor of twice the DPI: the dialog manager
    // doubles the place and size of every control, then the dialog hears
    // of the new DPI.
    const UINT dpi = 2 * static_cast<UINT>(GetDeviceCaps(GetDC(dialog), LOGPIXELSY));
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      const RECT r = PlaceOf(child);
      SetWindowPos(child, nullptr, 2 * r.left, 2 * r.top, 2 * (r.right - r.left),
                   2 * (r.bottom - r.top), SWP_NOZORDER | SWP_NOACTIVATE);
    }
    RECT window{};
    GetWindowRect(dialog, &window);
    RECT suggested{window.left, window.top, window.left + 2 * (window.right - window.left),
                   window.top + 2 * (window.bottom - window.top)};
    SendMessageW(dialog, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));

    // It lays the picture out anew, with a bitmap drawn for the new place,
    // once the message has been handled.
    ASSERT_TRUE(WaitUntil(
        [&] {
          BITMAP shown{};
          const auto bitmap = reinterpret_cast<HGDIOBJ>(
              SendMessageW(picture, STM_GETIMAGE, IMAGE_BITMAP, 0));
          const RECT now = PlaceOf(picture);
          return bitmap != oldBitmap && GetObjectW(bitmap, sizeof(shown), &shown) != 0 &&
                 shown.bmWidth == now.right - now.left;
        },
        seconds(10)));
    const RECT after = PlaceOf(picture);
    EXPECT_NEAR(after.left, 2 * before.left, 2);
    EXPECT_NEAR(after.top, 2 * before.top, 2);
    ExpectPictureFitsItsPlace(dialog);
  });
}

TEST_F(UpdateDlgTest, StatusLineFollowsArrivalAndRemovalWhileIdle) {
  SimBus bus(device_);
  device_.Unplug();
  RunDialog(bus, [&](HWND dialog) {
    EXPECT_EQ(Status(dialog), kNoDevice);
    device_.Plug();
    DeviceEvent(dialog, DBT_DEVICEARRIVAL);
    EXPECT_EQ(Status(dialog), kConnected);
    device_.Unplug();
    DeviceEvent(dialog, DBT_DEVICEREMOVECOMPLETE);
    EXPECT_EQ(Status(dialog), kNoDevice);
    // Other broadcasts (volumes, ports) are not the device's.
    device_.Plug();
    DEV_BROADCAST_HDR volume{sizeof(volume), DBT_DEVTYP_VOLUME, 0};
    SendMessageW(dialog, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&volume));
    EXPECT_EQ(Status(dialog), kNoDevice);
  });
  EXPECT_EQ(bus.OpenHandles(), 0u);
}

TEST_F(UpdateDlgTest, DeviceEventsNeitherTouchTheDeviceDuringAnUpdateNorReplaceItsLastText) {
  WriteImage();
  SimBus bus(device_);
  WatchedBackend backend(bus);
  RunDialog(backend, [&](HWND dialog) {
    ASSERT_EQ(Status(dialog), kConnected);
    PressUpdate(dialog);
    ASSERT_TRUE(WaitUntil([&] { return Status(dialog) == kErasing; }, seconds(20)));
    // From here on (the press's own look at the device is before).
    backend.uiThreadCalls = 0;
    // The title carries the whole job's percentage while it runs.
    EXPECT_TRUE(WaitUntil([&] { return Text(dialog).find(L"% - 道路安全警示系統更新介面") != std::wstring::npos; },
                          seconds(20)))
        << Text(dialog).size();
    DeviceEvent(dialog, DBT_DEVICEREMOVECOMPLETE);
    DeviceEvent(dialog, DBT_DEVICEARRIVAL);
    EXPECT_NE(Status(dialog), kConnected);
    EXPECT_NE(Status(dialog), kNoDevice);
    EXPECT_FALSE(UpdateEnabled(dialog));

    ASSERT_TRUE(WaitUntil([&] { return UpdateEnabled(dialog); }, seconds(30)));
    EXPECT_EQ(Status(dialog), kSucceeded);
    EXPECT_EQ(Text(dialog), L"道路安全警示系統更新介面");
    DeviceEvent(dialog, DBT_DEVICEREMOVECOMPLETE);
    DeviceEvent(dialog, DBT_DEVICEARRIVAL);
    EXPECT_EQ(Status(dialog), kSucceeded);
    EXPECT_EQ(backend.uiThreadCalls, 0);
  });
  EXPECT_EQ(device_.Restarts(), 1);
}

// A device that leaves during the page writes: the stage's texts, then a box
// that says what it means for the device and what to do.
TEST_F(UpdateDlgTest, AFailureHalfwaySaysWhatToDo) {
  WriteImage();
  SimFaults faults;
  faults.unplugAfterReports = 10;  // erase, write command, 8 data reports
  device_.SetFaults(faults);
  SimBus bus(device_);
  RunDialog(bus, [&](HWND dialog) {
    PressUpdate(dialog);
    HWND box = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (box = BoxOver(dialog)) != nullptr; }, seconds(20)));
    EXPECT_EQ(Status(dialog), L"資料庫寫入失敗!");
    HWND message = FindWindowExW(box, nullptr, L"Static", nullptr);
    while (message && Text(message).empty()) message = FindWindowExW(box, message, L"Static", nullptr);
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(Text(message).rfind(L"更新沒有完成：", 0), 0u) << Text(message).size();
    test::Screenshot(box, "failure-halfway-advice");
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitUntil([&] { return UpdateEnabled(dialog); }, seconds(20)));
    // The status line reads as a failure, the bar stays where the write got
    // to (of 33 pages, two were sent whole, shown as the write shows them),
    // and the line under it says where the update stopped.
    EXPECT_EQ(StatusColour(dialog), RGB(0xB0, 0x00, 0x20));
    EXPECT_EQ(SendMessageW(GetDlgItem(dialog, IDC_PROGRESS1), PBM_GETRANGE, FALSE, 0), 33);
    EXPECT_EQ(SendMessageW(GetDlgItem(dialog, IDC_PROGRESS1), PBM_GETPOS, 0, 0), 3);
    EXPECT_TRUE(StartsWith(ProgressLine(dialog), L"更新停止於步驟 2/2 寫入中 "))
        << ProgressLine(dialog).size();
    test::Screenshot(dialog, "failure-halfway");
  });
  EXPECT_EQ(device_.Restarts(), 0);
}

TEST_F(UpdateDlgTest, AnUpdateThatSetNoTextLeavesTheProbeTextFollowingTheDevice) {
  SimBus bus(device_);  // and no code_data.bin
  RunDialog(bus, [&](HWND dialog) {
    PressUpdate(dialog);
    HWND box = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (box = BoxOver(dialog)) != nullptr; }, seconds(20)));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitUntil([&] { return UpdateEnabled(dialog); }, seconds(20)));
    EXPECT_EQ(Status(dialog), kConnected);
    device_.Unplug();
    DeviceEvent(dialog, DBT_DEVICEREMOVECOMPLETE);
    EXPECT_EQ(Status(dialog), kNoDevice);
  });
}

// The line under the status line: the file before, the whole job's step,
// percentage and a warning not to unplug during, the time taken after.
TEST_F(UpdateDlgTest, TheProgressLineFollowsTheWholeJob) {
  WriteImage();
  SimBus bus(device_);
  RunDialog(bus, [&](HWND dialog) {
    EXPECT_TRUE(StartsWith(ProgressLine(dialog), L"檔案: code_data.bin (8.0 KB, "));
    EXPECT_NE(StatusColour(dialog), RGB(0xB0, 0x00, 0x20));
    PressUpdate(dialog);
    // Halfway through the erase, for the picture.
    ASSERT_TRUE(WaitUntil(
        [&] {
          return StartsWith(ProgressLine(dialog), L"步驟 1/2 清除中 ") &&
                 SendMessageW(GetDlgItem(dialog, IDC_PROGRESS1), PBM_GETPOS, 0, 0) >= 50;
        },
        seconds(20)));
    const std::wstring line = ProgressLine(dialog);
    EXPECT_EQ(line.substr(line.size() - 10), L"更新中，請勿拔除設備");
    test::Screenshot(dialog, "in-progress");
    ASSERT_TRUE(WaitUntil([&] { return UpdateEnabled(dialog); }, seconds(30)));
    EXPECT_EQ(Status(dialog), kSucceeded);
    EXPECT_TRUE(StartsWith(ProgressLine(dialog), L"更新完成，共用時 "));
    // After a success the bar empties, as the update leaves it.
    EXPECT_EQ(SendMessageW(GetDlgItem(dialog, IDC_PROGRESS1), PBM_GETPOS, 0, 0), 0);
  });
}

// Once the job has run long enough to know its pace, the line tells the
// time left (the picture of an update in progress for the README).
TEST_F(UpdateDlgTest, TheTimeLeftShowsOnceThePaceIsKnown) {
  WriteImage();
  SimConfig config;
  for (uint32_t i = 1; i <= 20; ++i) config.progress.push_back(i * 5);
  config.progressGap = std::chrono::milliseconds(600);  // a 12 s erase
  config.recordReports = false;
  SimDevice slow(config);
  SimBus bus(slow);
  RunDialog(bus, [&](HWND dialog) {
    PressUpdate(dialog);
    ASSERT_TRUE(WaitUntil([&] { return ProgressLine(dialog).find(L"，剩餘約 ") != std::wstring::npos; },
                          seconds(20)));
    EXPECT_TRUE(StartsWith(ProgressLine(dialog), L"步驟 1/2 清除中 "));
    test::Screenshot(dialog, "in-progress-time-left");
    // Closing confirms the stop, and the update ends with the dialog.
  });
}

// "更新" with no device says so and starts nothing; the button stays usable.
TEST_F(UpdateDlgTest, UpdateWithoutADeviceStartsNothing) {
  WriteImage();
  SimBus bus(device_);
  RunDialog(bus, [&](HWND dialog) {
    ASSERT_EQ(Status(dialog), kConnected);
    device_.Unplug();  // with no notification yet
    PressUpdate(dialog);
    ASSERT_TRUE(WaitUntil([&] { return Status(dialog) == kNoDevice; }, seconds(20)));
    EXPECT_TRUE(UpdateEnabled(dialog));
    EXPECT_EQ(BoxOver(dialog), nullptr);
    test::Screenshot(dialog, "no-device-update-pressed");
  });
  EXPECT_EQ(device_.OutputReportCount(), 0u);
}

// A close during an update asks with answers of its own: "繼續更新", the
// default, and "中斷更新", which stops the update and closes.
TEST_F(UpdateDlgTest, TheCloseQuestionAnswersInWords) {
  WriteImage();
  SimBus bus(device_);
  RunDialog(bus, [&](HWND dialog) {
    PressUpdate(dialog);
    ASSERT_TRUE(WaitUntil([&] { return Status(dialog) == kErasing; }, seconds(20)));
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    HWND box = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (box = BoxOver(dialog)) != nullptr; }, seconds(20)));
    const std::wstring texts = ChildTexts(box);
    EXPECT_NE(texts.find(L"中斷更新|"), std::wstring::npos);
    EXPECT_NE(texts.find(L"繼續更新|"), std::wstring::npos);
    EXPECT_NE(texts.find(L"確定要中斷更新並關閉嗎?"), std::wstring::npos);
    test::Screenshot(box, "user-stop-question");
    PostMessageW(box, WM_COMMAND, IDYES, reinterpret_cast<LPARAM>(GetDlgItem(box, IDYES)));
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }, seconds(20)));
  });
  EXPECT_EQ(device_.Restarts(), 0);
}

// An update that ends while the close question is open takes the question
// away: the user reads the update's last text, and the dialog stays.
TEST_F(UpdateDlgTest, AnUpdateEndingUnderTheCloseQuestionTakesItAway) {
  WriteImage();
  SimBus bus(device_);
  RunDialog(bus, [&](HWND dialog) {
    PressUpdate(dialog);
    ASSERT_TRUE(WaitUntil([&] { return Status(dialog) == kErasing; }, seconds(20)));
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    HWND box = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (box = BoxOver(dialog)) != nullptr; }, seconds(20)));
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); }, seconds(30)));
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_EQ(Status(dialog), kSucceeded);
    EXPECT_TRUE(WaitUntil([&] { return UpdateEnabled(dialog); }, seconds(10)));
  });
  EXPECT_EQ(device_.Restarts(), 1);
}

// A WM_DROPFILES as the shell sends it for one file.
HGLOBAL DropOf(const fs::path& file) {
  const std::wstring name = file.wstring();
  const size_t bytes = sizeof(DROPFILES) + (name.size() + 2) * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GHND, bytes);
  auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
  drop->pFiles = sizeof(DROPFILES);
  drop->fWide = TRUE;
  std::copy(name.begin(), name.end(),
            reinterpret_cast<wchar_t*>(reinterpret_cast<char*>(drop) + sizeof(DROPFILES)));
  GlobalUnlock(memory);
  return memory;
}

// The file "更新" writes: a newer download beside the default file is named
// on the file line and offered before the update; a file dropped on the
// window, picked with "選擇檔案…", or given on the command line is taken as
// it is.
TEST_F(UpdateDlgTest, TheFileComesFromTheOfferADropTheFileDialogOrTheCommandLine) {
  const std::string old(1000, '\x11');
  const std::string download(3000, '\x22');
  WriteImage(old);
  WriteImage(download, "code_data (1).bin");
  fs::last_write_time(dir_ / "code_data.bin",
                      fs::last_write_time(dir_ / "code_data (1).bin") - std::chrono::hours(2));
  fs::create_directory(dir_ / "elsewhere");
  WriteImage(std::string(700, '\x33'), "elsewhere/dropped.bin");
  auto flash = [&](size_t length) {
    const std::vector<uint8_t> bytes = device_.ReadFlash(DATABASE_ADDRESS, static_cast<uint32_t>(length));
    return std::string(bytes.begin(), bytes.end());
  };
  SimBus bus(device_);
  RunDialog(bus, [&](HWND dialog) {
    const std::wstring line = ProgressLine(dialog);
    EXPECT_TRUE(StartsWith(line, L"檔案: code_data.bin (1000 位元組, "));
    EXPECT_NE(line.find(L"；資料夾中有較新的 code_data (1).bin"), std::wstring::npos);
    test::Screenshot(dialog, "file-line");

    // The offer, before anything is sent.
    PressUpdate(dialog);
    HWND box = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (box = BoxOver(dialog)) != nullptr; }, seconds(20)));
    EXPECT_TRUE(UpdateEnabled(dialog));
    const std::wstring texts = ChildTexts(box);
    EXPECT_NE(texts.find(L"使用這個檔案|"), std::wstring::npos);
    EXPECT_NE(texts.find(L"使用 code_data.bin|"), std::wstring::npos);
    EXPECT_NE(texts.find(L"取消|"), std::wstring::npos);
    test::Screenshot(box, "offer-question");
    PostMessageW(box, WM_COMMAND, 100, reinterpret_cast<LPARAM>(GetDlgItem(box, 100)));
    ASSERT_TRUE(WaitUntil([&] { return Status(dialog) == kSucceeded && UpdateEnabled(dialog); },
                          seconds(30)));
    EXPECT_EQ(flash(download.size()), download);

    // A file dropped on the window.
    PostMessageW(dialog, WM_DROPFILES,
                 reinterpret_cast<WPARAM>(DropOf(dir_ / "elsewhere" / "dropped.bin")), 0);
    EXPECT_TRUE(WaitUntil([&] { return StartsWith(ProgressLine(dialog), L"檔案: dropped.bin (700 位元組, "); },
                          seconds(10)))
        << ProgressLine(dialog).size();

    // "選擇檔案…" in the system menu: the open dialog, where the user types
    // the name.
    PostMessageW(dialog, WM_SYSCOMMAND, IDM_CHOOSEFILE, 0);
    ASSERT_TRUE(WaitUntil([&] { return (box = BoxOver(dialog)) != nullptr; }, seconds(20)));
    constexpr int kFileNameBox = 0x47C;  // the open dialog's file name (cmb13)
    SetDlgItemTextW(box, kFileNameBox, (dir_ / "code_data.bin").wstring().c_str());
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitUntil([&] { return StartsWith(ProgressLine(dialog), L"檔案: code_data.bin (1000 位元組, "); },
                          seconds(10)))
        << ProgressLine(dialog).size();
    // Named by the user, it is written without a question.
    PressUpdate(dialog);
    ASSERT_TRUE(WaitUntil([&] { return Status(dialog) == kErasing; }, seconds(20)));
    ASSERT_TRUE(WaitUntil([&] { return Status(dialog) == kSucceeded && UpdateEnabled(dialog); },
                          seconds(30)));
    EXPECT_EQ(flash(old.size()), old);
  });

  // Given on the command line: no question either.
  RunDialog(
      bus,
      [&](HWND dialog) {
        EXPECT_TRUE(StartsWith(ProgressLine(dialog), L"檔案: dropped.bin (700 位元組, "));
        PressUpdate(dialog);
        ASSERT_TRUE(WaitUntil([&] { return Status(dialog) == kSucceeded && UpdateEnabled(dialog); },
                              seconds(30)));
      },
      dir_ / "elsewhere" / "dropped.bin");
  EXPECT_EQ(flash(700), std::string(700, '\x33'));
}

}  // namespace
}  // namespace gps
