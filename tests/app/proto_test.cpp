#include <gtest/gtest.h>
#include "residenthost.h"
#include "testsupport.h"
#include "app/glimmessages.h"
namespace {
struct Found { DWORD pid; HWND box; };
BOOL CALLBACK EnumBox(HWND w, LPARAM p) {
  Found* f = (Found*)p; DWORD pid = 0; GetWindowThreadProcessId(w, &pid);
  char cls[64] = {}; GetClassNameA(w, cls, 64);
  if (pid == f->pid && strcmp(cls, "#32770") == 0 && IsWindowVisible(w)) { f->box = w; return FALSE; }
  return TRUE;
}
TEST(Proto, TrayFailure) {
  apptest::ResidentHost host("");
  ASSERT_TRUE(host.Start(true));
  host.Resume();
  Found f{GetCurrentProcessId(), nullptr};
  ASSERT_TRUE(testsupport::WaitUntil([&]{ f.box = nullptr; EnumWindows(EnumBox, (LPARAM)&f); return f.box != nullptr; }, 10000));
  char title[128] = {}; GetWindowTextA(f.box, title, 128);
  char text[256] = {}; GetDlgItemTextA(f.box, 0xFFFF, text, 256);
  printf("title=%s text=%s\n", title, text);
  PostMessageA(f.box, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(host.WaitForEnd(10000));
}
}
