// The stored-message commands against a scripted modem.
#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "support/Fixtures.h"

namespace vesk {
namespace {

using StoredMessages = testing::ModemTest;
using Lines = std::vector<std::string>;

TEST_F(StoredMessages, GetSMSSelectsTheStorageAndSendsTheReadOnly) {
  OpenQuiet();
  gsm->GetSMS("SM", 3);
  EXPECT_EQ(modem->Lines(), (Lines{"AT+CPMS=\"SM\"", "AT+CMGR=3"}));
  EXPECT_NE(modem->Written().find("AT+CMGR=3\r"), std::string::npos);
}

TEST_F(StoredMessages, GetAllSMSSendsTheStatusAsANumber) {
  OpenQuiet();
  gsm->GetAllSMS("ME", 4);
  EXPECT_EQ(modem->Lines(), (Lines{"AT+CPMS=\"ME\"", "AT+CMGL=4"}));
}

TEST_F(StoredMessages, DeleteSMSDeletesOneMessage) {
  OpenQuiet();
  EXPECT_TRUE(gsm->DeleteSMS("SM", 0));
  EXPECT_EQ(modem->Lines(), (Lines{"AT+CPMS=\"SM\"", "AT+CMGD=0"}));
}

TEST_F(StoredMessages, DeleteSMSWithANegativeIndexSendsTheDeleteFlag) {
  OpenQuiet();
  EXPECT_TRUE(gsm->DeleteSMS("SM", -4));
  EXPECT_TRUE(gsm->DeleteSMS("SM", -1));
  EXPECT_EQ(modem->Lines(), (Lines{"AT+CPMS=\"SM\"", "AT+CMGD=1,4", "AT+CPMS=\"SM\"", "AT+CMGD=1,1"}));
}

TEST_F(StoredMessages, DeleteSMSBelowMinusFourSendsOnlyTheStorage) {
  OpenQuiet();
  EXPECT_FALSE(gsm->DeleteSMS("SM", -5));
  EXPECT_EQ(modem->Lines(), (Lines{"AT+CPMS=\"SM\""}));
}

TEST_F(StoredMessages, DeleteSMSReportsARefusal) {
  OpenQuiet();
  modem->On("AT+CMGD=7", "\r\n+CMS ERROR: 321\r\n");
  EXPECT_FALSE(gsm->DeleteSMS("SM", 7));
}

// A modem that answers each line after a while, one answer after another,
// like a real one: a read's answer may still be on its way when the next
// command goes out.
class SlowModem {
 public:
  explicit SlowModem(testing::FakeModem& modem) : modem_(modem), worker_([this] { Run(); }) {
    modem_.SetHandler([this](testing::FakeModem&, const std::string& line) {
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back(line);
      changed_.notify_all();
      return true;
    });
  }
  ~SlowModem() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
      changed_.notify_all();
    }
    worker_.join();
    modem_.SetHandler(nullptr);
  }
  std::map<std::string, std::string> replies;

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return stop_ || !lines_.empty(); });
      if (stop_) return;
      std::string line = lines_.front();
      lines_.pop_front();
      lock.unlock();
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
      auto found = replies.find(line);
      modem_.Push(found != replies.end() ? found->second : "\r\nOK\r\n");
      lock.lock();
    }
  }
  testing::FakeModem& modem_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> lines_;
  bool stop_ = false;
  std::thread worker_;
};

TEST_F(StoredMessages, ADeleteRightAfterAReadReportsItsOwnOutcome) {
  OpenQuiet();
  PauseReader();  // nobody else reads the read's answer
  SlowModem slow(*modem);
  slow.replies["AT+CMGR=5"] = "\r\n+CMGR: 1,,5\r\n0000\r\n\r\nOK\r\n";
  slow.replies["AT+CMGD=5"] = "\r\n+CMS ERROR: 321\r\n";
  gsm->GetSMS("SM", 5);
  EXPECT_FALSE(gsm->DeleteSMS("SM", 5));
  EXPECT_EQ(modem->Lines(), (Lines{"AT+CPMS=\"SM\"", "AT+CMGR=5", "AT+CPMS=\"SM\"", "AT+CMGD=5"}));
}

TEST_F(StoredMessages, WithoutAnOpenPortTheyRaise) {
  EXPECT_THROW(gsm->GetSMS("SM", 1), EVeskGSMException);
  EXPECT_THROW(gsm->GetAllSMS("SM", 4), EVeskGSMException);
  EXPECT_THROW(gsm->DeleteSMS("SM", 1), EVeskGSMException);
  EXPECT_TRUE(modem->Lines().empty());
}

}  // namespace
}  // namespace vesk
