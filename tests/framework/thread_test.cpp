// Worker threads and synchronized calls.
#include <gtest/gtest.h>

#include <atomic>

#include "component/Thread.h"

namespace vesk {
namespace {

class Worker : public TThread {
 public:
  explicit Worker(std::function<void(Worker&)> body) : body_(std::move(body)) {}
  std::function<void(Worker&)> body_;
  std::atomic<bool> terminatedRan{false};
  bool SleepFor(double ms) { return Sleep(ms); }

 protected:
  void Execute() override { body_(*this); }
  void DoTerminate() override { terminatedRan = true; }
};

TEST(TThread, CreatedSuspendedRunsOnlyAfterStart) {
  std::atomic<bool> ran{false};
  auto t = TThread::Create<Worker>(true, [&](Worker&) { ran = true; });
  EXPECT_FALSE(t->WaitFor(50));
  EXPECT_FALSE(ran);
  t->Start();
  EXPECT_TRUE(t->WaitFor(5000));
  EXPECT_TRUE(ran);
  EXPECT_TRUE(t->terminatedRan);
}

TEST(TThread, TerminateCutsAnInterruptibleSleepShort) {
  std::atomic<bool> sleptWhole{true};
  std::atomic<bool> sleeping{false};
  auto t = TThread::Create<Worker>(false, [&](Worker& w) {
    sleeping = true;
    sleptWhole = w.SleepFor(60000);
  });
  for (int i = 0; i < 1000 && !sleeping; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(sleeping) << "the thread's body never began";
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // well into the sleep by now
  auto start = std::chrono::steady_clock::now();
  t->Terminate();
  EXPECT_TRUE(t->WaitFor(5000));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_FALSE(sleptWhole);
  EXPECT_TRUE(t->Terminated());
}

TEST(TThread, ShortThreadsStartedOneAfterAnotherEachRunTheirBodyOnce) {
  // Each body ends at once, while its Start may still be returning: the
  // case in which a thread library may recycle a thread's record too early.
  std::atomic<int> runs{0};
  for (int i = 0; i < 300; ++i) {
    auto t = TThread::Create<Worker>(false, [&](Worker&) { ++runs; });
    ASSERT_TRUE(t->WaitFor(5000)) << "thread " << i << " never finished";
    ASSERT_EQ(runs.load(), i + 1) << "thread " << i;
  }
}

TEST(TThread, AnExceptionEndsTheBodyAndTheEndWorkStillRuns) {
  auto t = TThread::Create<Worker>(false, [](Worker&) { throw Exception("boom"); });
  ASSERT_TRUE(t->WaitFor(5000));
  EXPECT_EQ(t->FatalException(), "boom");
  EXPECT_TRUE(t->terminatedRan);
}

TEST(TThread, TheObjectOutlivesTheLastOutsideReference) {
  std::atomic<bool> release{false};
  std::atomic<bool> done{false};
  std::weak_ptr<Worker> weak;
  {
    auto t = TThread::Create<Worker>(false, [&](Worker&) {
      while (!release) std::this_thread::yield();
      done = true;
    });
    weak = t;
  }
  EXPECT_FALSE(weak.expired());  // the running thread holds itself
  release = true;
  for (int i = 0; i < 500 && !weak.expired(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_TRUE(done);
  EXPECT_TRUE(weak.expired());
}

TEST(Synchronize, RunsOnTheMainThreadWhenItChecks) {
  ASSERT_TRUE(IsMainThread());
  std::atomic<bool> onMain{false};
  auto t = TThread::Create<Worker>(false, [&](Worker&) { TThread::Synchronize([&] { onMain = IsMainThread(); }); });
  // Nothing runs until the main thread asks.
  EXPECT_FALSE(t->Finished());
  for (int i = 0; i < 2500 && !t->Finished(); ++i) CheckSynchronize(2);
  EXPECT_TRUE(t->WaitFor(5000));
  EXPECT_TRUE(onMain);
}

TEST(Synchronize, WaitForOnTheMainThreadRunsSynchronizedCalls) {
  std::atomic<int> calls{0};
  auto t = TThread::Create<Worker>(false, [&](Worker&) {
    for (int i = 0; i < 3; ++i) TThread::Synchronize([&] { ++calls; });
  });
  EXPECT_TRUE(t->WaitFor(5000));
  EXPECT_EQ(calls, 3);
}

TEST(Synchronize, AnExceptionReachesTheCallingThread) {
  std::atomic<bool> caught{false};
  auto t = TThread::Create<Worker>(false, [&](Worker&) {
    try {
      TThread::Synchronize([] { throw Exception("from main"); });
    } catch (const Exception& e) {
      caught = e.Message() == "from main";
    }
  });
  EXPECT_TRUE(t->WaitFor(5000));
  EXPECT_TRUE(caught);
}

TEST(Synchronize, OnTheMainThreadItIsADirectCall) {
  bool ran = false;
  TThread::Synchronize([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_FALSE(CheckSynchronize(0));
}

TEST(TThread, PriorityIsBestEffortAndNeverFails) {
  std::atomic<bool> release{false};
  auto t = TThread::Create<Worker>(false, [&](Worker&) {
    while (!release) std::this_thread::yield();
  });
  t->SetPriority(tpTimeCritical);  // usually refused without privileges
  t->SetPriority(tpIdle);
  EXPECT_EQ(t->GetPriority(), tpIdle);
  release = true;
  EXPECT_TRUE(t->WaitFor(5000));
}

}  // namespace
}  // namespace vesk
