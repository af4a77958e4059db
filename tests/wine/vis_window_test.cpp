// The visual window's procedure and the skin colour reader, against a test host window.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "engine/renderer.h"
#include "plugin/full_screen.h"
#include "plugin/host_records.h"
#include "plugin/skin_reader.h"
#include "plugin/vis_window.h"

using namespace tarnevox;

namespace {

// A host main window that hands out the skin bitmap it is given and records what the
// visual window posts to it.
struct TestHost {
  HWND window = nullptr;
  HBITMAP nextBitmap = nullptr;
  int skinRequests = 0;
  std::vector<MSG> received;
};
TestHost* gHost = nullptr;

LRESULT CALLBACK hostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (gHost != nullptr && message == WM_USER && lParam == 503) {
    ++gHost->skinRequests;
    HBITMAP bitmap = gHost->nextBitmap;
    gHost->nextBitmap = nullptr;  // the plug-in owns what it was given
    return reinterpret_cast<LRESULT>(bitmap);
  }
  if (gHost != nullptr && message >= WM_KEYFIRST && message <= WM_KEYLAST) {
    gHost->received.push_back(MSG{window, message, wParam, lParam, 0, {}});
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// A 24-bit bitmap whose top row holds the given pixels (0x00BBGGRR) from x 0 on.
HBITMAP makeSkinBitmap(const std::vector<COLORREF>& row, int width) {
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, 2);
  ReleaseDC(nullptr, screen);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ previous = SelectObject(dc, bitmap);
  for (int x = 0; x < width; ++x) {
    SetPixel(dc, x, 0, x < static_cast<int>(row.size()) ? row[x] : RGB(1, 2, 3));
  }
  SelectObject(dc, previous);
  DeleteDC(dc);
  return bitmap;
}

// A full-width skin row: distinct colours at every probe, a filler elsewhere.
std::vector<COLORREF> skinRow(COLORREF reference = RGB(9, 9, 9)) {
  std::vector<COLORREF> row(112, RGB(7, 7, 7));
  for (int i = 0; i < 22; ++i) row[48 + 2 * i] = RGB(10 * i, 100 + i, 200 - i);
  row[111] = reference;
  return row;
}

class VisWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gHost = &host_;
    WNDCLASSW hostClass = {};
    hostClass.lpfnWndProc = hostProc;
    hostClass.lpszClassName = L"TarnevoxTestHost";
    RegisterClassW(&hostClass);
    host_.window = CreateWindowExW(0, hostClass.lpszClassName, L"host", WS_OVERLAPPEDWINDOW, 0,
                                   0, 100, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(host_.window, nullptr);
    WNDCLASSW visualClass = {};
    visualClass.lpfnWndProc = visWindowProc;
    visualClass.lpszClassName = L"TarnevoxTestVisual";
    RegisterClassW(&visualClass);
    visual_ = CreateWindowExW(0, visualClass.lpszClassName, nullptr, WS_OVERLAPPEDWINDOW, 0, 0,
                              64, 64, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(visual_, nullptr) << "WM_CREATE must not refuse the window";
    module_.parentWindow = host_.window;
    module_.userData = 0;
  }
  void TearDown() override {
    releaseSkinBitmap();
    if (visual_ != nullptr) DestroyWindow(visual_);
    drainQuitMessages();
    DestroyWindow(host_.window);
    if (renderer_ != nullptr) delete renderer_;
    gHost = nullptr;
  }

  void attachModule() {
    SetWindowLongPtrW(visual_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&module_));
  }
  void attachRenderer() {
    renderer_ = createRenderer();
    module_.userData = reinterpret_cast<std::intptr_t>(renderer_);
  }
  void dispatchPosted() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  }
  int drainQuitMessages(WPARAM* code = nullptr) {
    int quits = 0;
    MSG message;
    while (PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
      ++quits;
      if (code != nullptr) *code = message.wParam;
    }
    return quits;
  }

  TestHost host_;
  HWND visual_ = nullptr;
  VisModule module_ = {};
  Renderer* renderer_ = nullptr;
};

TEST_F(VisWindowTest, CreateEraseAndDestroy) {
  EXPECT_EQ(visWindowProc(visual_, WM_CREATE, 0, 0), 0);
  EXPECT_EQ(SendMessageW(visual_, WM_ERASEBKGND, 0, 0), 1);
  attachModule();
  drainQuitMessages();
  // The host's window belongs to another thread, as for a host's visualization thread:
  // the quit message ends that thread's loop.
  noteHostWindow(GetDesktopWindow());
  ASSERT_TRUE(DestroyWindow(visual_));
  WPARAM code = 99;
  EXPECT_EQ(drainQuitMessages(&code), 1) << "exactly one quit message";
  EXPECT_EQ(code, 0u);

  // On the thread of the host's own window a quit message would end the host's main loop;
  // detached, as a failed start leaves it, the window ends without one either.
  noteHostWindow(host_.window);
  for (const bool attached : {true, false}) {
    visual_ = CreateWindowExW(0, L"TarnevoxTestVisual", nullptr, WS_OVERLAPPEDWINDOW, 0, 0, 64,
                              64, nullptr, nullptr, nullptr, nullptr);
    if (attached) attachModule();
    ASSERT_TRUE(DestroyWindow(visual_));
    EXPECT_EQ(drainQuitMessages(), 0) << (attached ? "on the host's thread" : "detached");
  }
  visual_ = nullptr;
}

TEST_F(VisWindowTest, ForwardsOnlyKeyDownAndKeyUpUnchanged) {
  attachModule();
  EXPECT_EQ(SendMessageW(visual_, WM_KEYDOWN, 'Z', 0x002C0001), 0);
  EXPECT_EQ(SendMessageW(visual_, WM_KEYUP, VK_SPACE, static_cast<LPARAM>(0xC0390001u)), 0);
  SendMessageW(visual_, WM_CHAR, 'z', 0x002C0001);
  // Alt+X: not Alt alone, whose release would open the (absent) window menu.
  SendMessageW(visual_, WM_SYSKEYDOWN, 'X', 0x202D0001);
  SendMessageW(visual_, WM_SYSKEYUP, 'X', static_cast<LPARAM>(0xE02D0001u));
  dispatchPosted();
  ASSERT_EQ(host_.received.size(), 2u);
  EXPECT_EQ(host_.received[0].message, static_cast<UINT>(WM_KEYDOWN));
  EXPECT_EQ(host_.received[0].wParam, static_cast<WPARAM>('Z'));
  EXPECT_EQ(host_.received[0].lParam, 0x002C0001);
  EXPECT_EQ(host_.received[1].message, static_cast<UINT>(WM_KEYUP));
  EXPECT_EQ(host_.received[1].wParam, static_cast<WPARAM>(VK_SPACE));
  EXPECT_EQ(host_.received[1].lParam, static_cast<LPARAM>(0xC0390001u));
}

// In full screen the keys go on as before, except the Escape that leaves it: neither its
// repeats nor its release reach the host. Alt+Enter's repeats do not toggle again, closing
// the full-screen window only leaves it, and the stop ends it with the visual window.
TEST_F(VisWindowTest, FullScreenKeepsEveryKeyButTheEscapeThatLeavesIt) {
  const HWND frame = CreateWindowExW(0, L"TarnevoxTestHost", L"frame", WS_OVERLAPPEDWINDOW, 0, 0,
                                     300, 200, nullptr, nullptr, nullptr, nullptr);
  const HWND visual = CreateWindowExW(0, L"TarnevoxTestVisual", nullptr, WS_CHILD | WS_VISIBLE,
                                      0, 0, 100, 100, frame, nullptr, nullptr, nullptr);
  ASSERT_NE(visual, nullptr);
  SetWindowLongPtrW(visual, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&module_));
  const auto inFrame = [&] { return GetParent(visual) == frame; };

  SendMessageW(visual, WM_SYSKEYDOWN, VK_RETURN, 0x201C0001);
  ASSERT_FALSE(inFrame());
  SendMessageW(visual, WM_SYSKEYDOWN, VK_RETURN, 0x601C0001);  // held: a repeat
  EXPECT_FALSE(inFrame());
  SendMessageW(visual, WM_KEYDOWN, 'Z', 0x002C0001);
  SendMessageW(visual, WM_KEYUP, 'Z', static_cast<LPARAM>(0xC02C0001u));
  SendMessageW(visual, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
  EXPECT_TRUE(inFrame());
  SendMessageW(visual, WM_KEYDOWN, VK_ESCAPE, 0x40010001);
  SendMessageW(visual, WM_KEYUP, VK_ESCAPE, static_cast<LPARAM>(0xC0010001u));
  EXPECT_TRUE(inFrame());
  SendMessageW(visual, WM_KEYDOWN, VK_ESCAPE, 0x00010001);  // in the frame: the host's
  // A release that went elsewhere: the next press is the host's all the same.
  SendMessageW(visual, WM_LBUTTONDBLCLK, MK_LBUTTON, 0);
  SendMessageW(visual, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
  EXPECT_TRUE(inFrame());
  SendMessageW(visual, WM_KEYDOWN, VK_ESCAPE, 0x00010001);

  SendMessageW(visual, WM_LBUTTONDBLCLK, MK_LBUTTON, 0);
  const HWND fullScreen = GetParent(visual);
  ASSERT_NE(fullScreen, frame);
  SendMessageW(fullScreen, WM_CLOSE, 0, 0);
  EXPECT_TRUE(inFrame());
  EXPECT_FALSE(IsWindow(fullScreen));

  SendMessageW(visual, WM_LBUTTONDBLCLK, MK_LBUTTON, 0);
  ASSERT_FALSE(inFrame());
  closeFullScreen();
  EXPECT_FALSE(IsWindow(visual));
  dispatchPosted();
  ASSERT_EQ(host_.received.size(), 4u);
  EXPECT_EQ(host_.received[0].wParam, static_cast<WPARAM>('Z'));
  EXPECT_EQ(host_.received[1].message, static_cast<UINT>(WM_KEYUP));
  for (const int i : {2, 3}) {
    EXPECT_EQ(host_.received[i].message, static_cast<UINT>(WM_KEYDOWN));
    EXPECT_EQ(host_.received[i].wParam, static_cast<WPARAM>(VK_ESCAPE));
    EXPECT_EQ(host_.received[i].lParam, 0x00010001);
  }
  DestroyWindow(frame);
}

TEST_F(VisWindowTest, WithoutAModuleKeysAndDisplayChangesDoNothing) {
  EXPECT_EQ(SendMessageW(visual_, WM_KEYDOWN, 'A', 1), 0);
  EXPECT_EQ(SendMessageW(visual_, WM_DISPLAYCHANGE, 32, MAKELPARAM(1024, 768)), 0);
  dispatchPosted();
  EXPECT_TRUE(host_.received.empty());
  EXPECT_EQ(host_.skinRequests, 0);
  // A module without a renderer is not recoloured either: the skin is not even asked for.
  attachModule();
  EXPECT_EQ(SendMessageW(visual_, WM_DISPLAYCHANGE, 32, 0), 0);
  EXPECT_EQ(host_.skinRequests, 0);
}

TEST_F(VisWindowTest, DisplayChangeRecoloursTheRendererFromTheSkin) {
  attachModule();
  attachRenderer();
  std::vector<COLORREF> row = skinRow();
  row[48] = RGB(0, 51, 102);    // entry 0: background
  row[50] = RGB(255, 128, 1);   // entry 1: foreground
  host_.nextBitmap = makeSkinBitmap(row, 112);
  EXPECT_EQ(SendMessageW(visual_, WM_DISPLAYCHANGE, 32, 0), 0);
  EXPECT_EQ(host_.skinRequests, 1);
  EXPECT_EQ(renderer_->foreground.alpha, 1.0f);
  EXPECT_EQ(renderer_->foreground.red, 1.0f);
  EXPECT_EQ(renderer_->foreground.green, static_cast<float>(128 / 255.0));
  EXPECT_EQ(renderer_->foreground.blue, static_cast<float>(1 / 255.0));
  EXPECT_EQ(renderer_->background.red, 0.0f);
  EXPECT_EQ(renderer_->background.green, static_cast<float>(51 / 255.0));
  EXPECT_EQ(renderer_->background.blue, static_cast<float>(102 / 255.0));
  EXPECT_EQ(renderer_->background.alpha, 1.0f);
}

TEST_F(VisWindowTest, OtherMessagesGoToTheDefaultProcedure) {
  SetWindowTextW(visual_, L"caption");
  wchar_t text[16] = {};
  GetWindowTextW(visual_, text, 16);
  EXPECT_STREQ(text, L"caption");
}

// The reader itself, against bitmaps made here.
class SkinReaderTest : public VisWindowTest {
 protected:
  std::uint32_t readWith(HBITMAP bitmap, int entry) {
    host_.nextBitmap = bitmap;
    readSkinColors(host_.window);
    return gSkinColors.entries[entry];
  }
};

TEST_F(SkinReaderTest, ProbesTheTopRowAndKeepsTheBitmap) {
  const std::vector<COLORREF> row = skinRow();
  HBITMAP bitmap = makeSkinBitmap(row, 112);
  readWith(bitmap, 0);
  EXPECT_EQ(skinBitmap, bitmap);
  for (int i = 0; i < 22; ++i) EXPECT_EQ(gSkinColors.entries[i], row[48 + 2 * i]) << i;
}

TEST_F(SkinReaderTest, UnusablePixelsTakeTheirFallbacks) {
  std::vector<COLORREF> row = skinRow(RGB(40, 40, 40));
  row[48] = RGB(0, 198, 255);     // entry 0: the excluded colour
  row[50] = RGB(40, 40, 40);      // entry 1: equals the reference pixel
  row[48 + 2 * 18] = RGB(0, 198, 255);
  row[48 + 2 * 19] = RGB(40, 40, 40);
  row[48 + 2 * 20] = RGB(0, 198, 255);
  row[48 + 2 * 21] = RGB(40, 40, 40);
  readWith(makeSkinBitmap(row, 112), 0);
  EXPECT_EQ(gSkinColors.entries[0], 0x000000u) << "black background";
  EXPECT_EQ(gSkinColors.entries[1], 0x00FF00u) << "green foreground";
  EXPECT_EQ(gSkinColors.entries[18], row[48 + 2 * 4]);
  EXPECT_EQ(gSkinColors.entries[19], row[48 + 2 * 6]);
  EXPECT_EQ(gSkinColors.entries[20], row[48 + 2 * 4]);
  const std::uint32_t e2 = row[48 + 2 * 2];
  const std::uint32_t e6 = row[48 + 2 * 6];
  EXPECT_EQ(gSkinColors.entries[21], ((e2 >> 1) & 0x7F7F7Fu) + ((e6 >> 1) & 0x7F7F7Fu));
}

TEST_F(SkinReaderTest, ABitmapTooSmallGivesTheDefaults) {
  // 60 pixels wide: entries 0 to 5 are probed, the rest and the reference lie outside.
  std::vector<COLORREF> row = skinRow();
  readWith(makeSkinBitmap(row, 60), 0);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(gSkinColors.entries[i], row[48 + 2 * i]) << i;
  EXPECT_EQ(gSkinColors.entries[6], 0xC60000u);
  EXPECT_EQ(gSkinColors.entries[17], 0x3C2424u);
  EXPECT_EQ(gSkinColors.entries[18], row[48 + 2 * 4]) << "entry 4 was read in this pass";
  EXPECT_EQ(gSkinColors.entries[19], 0xC60000u) << "entry 6 was itself a fallback";
  EXPECT_EQ(gSkinColors.entries[21],
            ((row[52] >> 1) & 0x7F7F7Fu) + ((0xC60000u >> 1) & 0x7F7F7Fu));
}

TEST_F(SkinReaderTest, NoBitmapKeepsTheColoursAndASecondReadDeletesTheFirst) {
  const std::vector<COLORREF> row = skinRow();
  HBITMAP first = makeSkinBitmap(row, 112);
  readWith(first, 0);
  ASSERT_EQ(skinBitmap, first);
  HBITMAP second = makeSkinBitmap(skinRow(RGB(1, 1, 1)), 112);
  readWith(second, 0);
  EXPECT_EQ(GetObjectType(first), 0u) << "the first bitmap was deleted";
  EXPECT_EQ(skinBitmap, second);

  const std::uint32_t before = gSkinColors.entries[3];
  readWith(nullptr, 0);  // the host offers no skin this time
  EXPECT_EQ(GetObjectType(second), 0u) << "deleted all the same";
  EXPECT_EQ(skinBitmap, nullptr);
  EXPECT_EQ(gSkinColors.entries[3], before);
  EXPECT_EQ(host_.skinRequests, 3);
}

}  // namespace
