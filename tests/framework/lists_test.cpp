// String lists, object lists, sets, and the scope-exit helper.
#include <gtest/gtest.h>

#include "component/Enums.h"
#include "component/Framework.h"

namespace vesk {
namespace {

TEST(TStringList, AddReadReplaceDeleteInsert) {
  TStringList list;
  EXPECT_EQ(list.Add(u"a"), 0);
  EXPECT_EQ(list.Add(AnsiString("b\xe9")), 1);  // through the ANSI code page
  EXPECT_EQ(list[1], u"b\u00e9");
  list.Put(0, u"z");
  list.Insert(1, u"m");
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list[0], u"z");
  EXPECT_EQ(list[1], u"m");
  EXPECT_EQ(list.IndexOf(u"m"), 1);
  EXPECT_EQ(list.IndexOf(u"x"), -1);
  list.Delete(0);
  EXPECT_EQ(list[0], u"m");
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
}

TEST(TStringList, IndexOutOfRangeRaisesListError) {
  TStringList list;
  list.Add(u"only");
  EXPECT_THROW(list.Get(1), EListError);
  EXPECT_THROW(list.Get(-1), EListError);
  EXPECT_THROW(list.Put(1, u"x"), EListError);
  EXPECT_THROW(list.Delete(2), EListError);
  EXPECT_THROW(list.Insert(3, u"x"), EListError);
  EXPECT_NO_THROW(list.Insert(1, u"end"));  // inserting at the end is allowed
}

TEST(TStringList, BatchUpdatesNest) {
  TStringList list;
  list.BeginUpdate();
  list.BeginUpdate();
  EXPECT_EQ(list.UpdateCount(), 2);
  list.EndUpdate();
  list.EndUpdate();
  list.EndUpdate();  // one too many is harmless
  EXPECT_EQ(list.UpdateCount(), 0);
}

TEST(TObjectList, NeverFreesItsItems) {
  struct Counted : TObject {
    explicit Counted(int& alive) : alive_(alive) { ++alive_; }
    ~Counted() override { --alive_; }
    int& alive_;
  };
  int alive = 0;
  Counted a(alive), b(alive);
  {
    TObjectList<Counted> list;
    list.Add(&a);
    list.Insert(0, &b);
    EXPECT_EQ(list.Get(0), &b);
    list.Put(1, &b);
    list.Delete(0);
    EXPECT_EQ(list.Count(), 1);
    EXPECT_THROW(list.Get(1), EListError);
  }
  EXPECT_EQ(alive, 2);
}

TEST(TSet, HoldsEveryOneOf256Ports) {
  TCommPortSet ports;
  EXPECT_TRUE(ports.Empty());
  ports.Include(spCOM1);
  ports.Include(spCOM254);
  ports.Include(spCustom);
  EXPECT_TRUE(ports.Contains(spCOM254));
  EXPECT_TRUE(ports.Contains(spCustom));
  EXPECT_FALSE(ports.Contains(spNone));
  EXPECT_EQ(ports.Size(), 3u);
  ports.Exclude(spCOM254);
  EXPECT_FALSE(ports.Contains(spCOM254));
  EXPECT_EQ(TCommPortSet({spCOM1, spCustom}), ports);
}

TEST(TSet, LineStatusBitsRunFromCts) {
  TLineStatusSet lines{lsCTS, lsDCD};
  EXPECT_EQ(lines.Bits(), 0b1001u);
  EXPECT_EQ(TLineStatusSet::FromBits(0b0110), TLineStatusSet({lsDSR, lsRING}));
}

TEST(TScopeExit, RunsOnEveryWayOutUnlessDismissed) {
  int runs = 0;
  {
    auto count = OnScopeExit([&] { ++runs; });
  }
  EXPECT_EQ(runs, 1);
  try {
    auto count = OnScopeExit([&] { ++runs; });
    throw std::runtime_error("leaving by an exception");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(runs, 2);
  {
    auto count = OnScopeExit([&] { ++runs; });
    count.Dismiss();
  }
  EXPECT_EQ(runs, 2);
  // Moved: the moved-from helper no longer runs, the new one runs once.
  {
    auto first = OnScopeExit([&] { ++runs; });
    auto second = std::move(first);
  }
  EXPECT_EQ(runs, 3);
}

}  // namespace
}  // namespace vesk
