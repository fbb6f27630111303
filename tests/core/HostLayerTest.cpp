// Components, the owning list, conversions and operating-system errors.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "OsTestSupport.h"
#include "quorlink/core/Classes.h"
#include "quorlink/core/SysUtils.h"
#include "platform/Kernel.h"

namespace quorlink {
namespace {

TEST(Conversions, StrToIntReadsDecimalAndDollarHex) {
  EXPECT_EQ(StrToInt("0"), 0);
  EXPECT_EQ(StrToInt("-42"), -42);
  EXPECT_EQ(StrToInt("+7"), 7);
  EXPECT_EQ(StrToInt("$FF"), 255);
  EXPECT_EQ(StrToInt("$7fffffff"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), -2147483648LL);
  for (const char* bad : {"", "-", "$", "12a", " 1", "1 ", "2147483648", "$G", "0x"})
    EXPECT_THROW(StrToInt(bad), EConvertError) << bad;
  EXPECT_EQ(IntToStr(-1205), "-1205");
  EXPECT_EQ(IntToStr(0), "0");
}

TEST(OSErrors, RaiseLastOSErrorCarriesTheSystemText) {
  platform::Kernel().SetLastError(ERROR_ACCESS_DENIED);
  try {
    RaiseLastOSError();
  } catch (const EOSError& e) {
    EXPECT_EQ(e.ErrorCode, ERROR_ACCESS_DENIED);
    const std::string text = testing::SystemErrorText(ERROR_ACCESS_DENIED);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(e.Message().find(text), std::string::npos) << e.Message();
    return;
  }
  FAIL() << "nothing raised";
}

TEST(OSErrors, LastErrorIsPerThread) {
  // Each side reads its own while the other has set its value; starting and
  // joining a thread may itself change the caller's last error on Windows.
  std::atomic<int> step{0};
  DWORD other = 1;
  DWORD mine = 0;
  std::thread t([&] {
    while (step.load() != 1) {
    }
    other = platform::Kernel().GetLastError();
    platform::Kernel().SetLastError(7);
    step.store(2);
  });
  platform::Kernel().SetLastError(5);
  step.store(1);
  while (step.load() != 2) {
  }
  mine = platform::Kernel().GetLastError();
  t.join();
  EXPECT_EQ(other, 0u);
  EXPECT_EQ(mine, 5u);
}

struct Counted : TObject {
  explicit Counted(int& live) : live_(live) { ++live_; }
  ~Counted() override { --live_; }
  int& live_;
};

TEST(ObjectList, DeleteTakesOutThenFrees) {
  int live = 0;
  TObjectList<Counted> list;
  for (int i = 0; i < 3; ++i) list.Add(new Counted(live));
  Counted* second = list[1];
  list.Delete(0);
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list[0], second);
  EXPECT_EQ(live, 2);
  EXPECT_THROW(list.Delete(2), EListError);
  list.Clear();
  EXPECT_EQ(live, 0);
}

struct Named : TComponent {
  Named(TComponent* owner, int& live) : TComponent(owner), live_(live) { ++live_; }
  ~Named() override { --live_; }
  int& live_;
};

TEST(Components, OwnerDestroysWhatItOwns) {
  int live = 0;
  auto* root = new Named(nullptr, live);
  auto* a = new Named(root, live);
  new Named(a, live);
  auto* b = new Named(root, live);
  a->SetName("PortA");
  EXPECT_EQ(root->FindComponent("porta"), a);
  EXPECT_THROW(b->SetName("PortA"), Exception);
  EXPECT_THROW(b->SetName("1st"), Exception);
  delete b;  // leaves its owner's list
  EXPECT_EQ(root->ComponentCount(), 1);
  Free(root);
  EXPECT_EQ(live, 0);
}

}  // namespace
}  // namespace quorlink
