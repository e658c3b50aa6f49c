// The outbox's scheduler against a scripted modem and a clock the test
// moves: priority, the not_before and not_after windows, retries with
// backoff, temporary against permanent errors, bodies without an answer,
// and a failing message that holds up nothing else.
#include <gtest/gtest.h>

#include <deque>

#include "tools/gateway/Outbox.h"
#include "tools/gateway/tests/TestSupport.h"

namespace vesk::gateway {
namespace {

using testing::TempDir;
using testing::TestClock;

// A modem whose answers the test writes in advance, by message text.
class ScriptedSender : public MessageSender {
 public:
  struct Answer {
    SendAttempt attempt;
    bool reachesBody = true;  // asks for the body's prompt (beforeBody runs)
  };
  void Script(const std::string& text, std::vector<Answer> answers) {
    for (Answer& a : answers) scripts_[text].push_back(std::move(a));
  }
  SendAttempt Send(const OutboxMessage& m, const std::function<void()>& beforeBody) override {
    sent.push_back(m.text);
    Answer a;
    auto it = scripts_.find(m.text);
    if (it != scripts_.end() && !it->second.empty()) {
      a = it->second.front();
      it->second.pop_front();
    } else {
      a.attempt.sent = true;
      a.attempt.references = {static_cast<int>(sent.size() % 256)};
    }
    if (a.reachesBody) beforeBody();
    return a.attempt;
  }
  std::vector<std::string> sent;

 private:
  std::map<std::string, std::deque<Answer>> scripts_;
};

ScriptedSender::Answer Fails(const std::string& error, bool bodyWritten = true, bool reachesBody = true) {
  ScriptedSender::Answer a;
  a.attempt.sent = false;
  a.attempt.error = error;
  a.attempt.bodyWritten = bodyWritten;
  a.reachesBody = reachesBody;
  return a;
}

class SchedulerTest : public ::testing::Test {
 protected:
  SchedulerTest() {
    StoreOptions o;
    o.path = dir.Path("store.db");
    store = OpenSqliteStore(o);
    OutboxPolicy policy;
    policy.maxAttempts = 3;
    policy.backoff = 30000;
    outbox = std::make_unique<Outbox>(*store, "gw", policy, clock.Fn());
  }

  std::int64_t Queue(const std::string& text, int priority = 0, std::optional<Millis> notBefore = {},
                     std::optional<Millis> notAfter = {}, const std::string& modem = "") {
    NewMessage m;
    m.to = "+15550123";
    m.text = text;
    m.priority = priority;
    m.notBefore = notBefore;
    m.notAfter = notAfter;
    m.modem = modem;
    return store->Queue(m, clock());
  }
  // Sends until nothing is due now.
  void Drain(const std::string& modem = "m1") {
    while (outbox->SendNext(modem, false, sender)) {
    }
  }
  MessageState State(std::int64_t id) { return store->GetMessage(id)->state; }

  TempDir dir;
  TestClock clock;
  std::unique_ptr<Store> store;
  std::unique_ptr<Outbox> outbox;
  ScriptedSender sender;
};

TEST_F(SchedulerTest, HigherPriorityFirstThenOldestFirst) {
  Queue("low 1");
  Queue("high", 5);
  Queue("low 2");
  Queue("middle", 2);
  Drain();
  EXPECT_EQ(sender.sent, (std::vector<std::string>{"high", "middle", "low 1", "low 2"}));
}

TEST_F(SchedulerTest, NotBeforeHoldsAMessageBack) {
  const Millis t0 = clock();
  Queue("later", 9, t0 + 60000);
  Queue("now");
  Drain();
  EXPECT_EQ(sender.sent, std::vector<std::string>{"now"});
  clock.Advance(59999);
  Drain();
  EXPECT_EQ(sender.sent.size(), 1u);
  clock.Advance(1);
  Drain();
  EXPECT_EQ(sender.sent.back(), "later");
}

TEST_F(SchedulerTest, NotAfterExpiresAMessageThatCouldNotGo) {
  const Millis t0 = clock();
  const std::int64_t id = Queue("too late", 0, std::nullopt, t0 + 1000);
  clock.Advance(1000);
  EXPECT_FALSE(outbox->SendNext("m1", false, sender)) << "never claimed past its window";
  EXPECT_EQ(store->ExpireDue(clock()), std::vector<std::int64_t>{id});
  EXPECT_EQ(State(id), MessageState::Expired);
  EXPECT_TRUE(sender.sent.empty());
}

TEST_F(SchedulerTest, AMessageForOneModemWaitsForIt) {
  Queue("for right", 0, {}, {}, "right");
  Queue("any");
  Drain("left");
  EXPECT_EQ(sender.sent, std::vector<std::string>{"any"});
  Drain("right");
  EXPECT_EQ(sender.sent.back(), "for right");
}

TEST_F(SchedulerTest, TemporaryErrorsRetryWithDoublingBackoff) {
  sender.Script("flaky", {Fails("+CMS ERROR: 38"), Fails("+CMS ERROR: 42")});
  const std::int64_t id = Queue("flaky");
  auto first = outbox->SendNext("m1", false, sender);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->state, MessageState::Queued);
  EXPECT_EQ(first->error->kind, "temporary");
  EXPECT_EQ(first->error->code, 38);
  EXPECT_EQ(first->retryAt, clock() + 30000);

  clock.Advance(29999);
  EXPECT_FALSE(outbox->SendNext("m2", false, sender)) << "not before the backoff";
  clock.Advance(1);
  auto second = outbox->SendNext("m2", false, sender);  // any modem
  ASSERT_TRUE(second);
  EXPECT_EQ(second->retryAt, clock() + 60000) << "doubled";

  clock.Advance(60000);
  auto third = outbox->SendNext("m1", false, sender);
  ASSERT_TRUE(third);
  EXPECT_EQ(third->state, MessageState::Sent);
  EXPECT_EQ(store->GetMessage(id)->attempts, 3);
}

TEST_F(SchedulerTest, ARetryGoesToAnotherModemFirst) {
  sender.Script("flaky", {Fails("+CMS ERROR: 38")});
  Queue("flaky");
  ASSERT_TRUE(outbox->SendNext("left", false, sender));
  clock.Advance(30000);
  EXPECT_FALSE(outbox->SendNext("left", false, sender)) << "due, but left to the others for a while";
  auto retried = outbox->SendNext("right", false, sender);
  ASSERT_TRUE(retried);
  EXPECT_EQ(retried->state, MessageState::Sent);
}

TEST_F(SchedulerTest, TemporaryErrorsGiveUpAfterMaxAttempts) {
  sender.Script("doomed", {Fails("+CMS ERROR: 38"), Fails("+CMS ERROR: 38"), Fails("+CMS ERROR: 38")});
  const std::int64_t id = Queue("doomed");
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(outbox->SendNext("m1", false, sender)) << "attempt " << i + 1;
    // The only modem takes it again one backoff after it fell due.
    clock.Advance(Outbox::RetryDelay(30000, i + 1) + 30000);
  }
  const OutboxMessage m = *store->GetMessage(id);
  EXPECT_EQ(m.state, MessageState::Failed);
  EXPECT_EQ(m.attempts, 3);
  EXPECT_NE(m.error->text.find("gave up after 3 attempts"), std::string::npos) << m.error->text;
  EXPECT_FALSE(outbox->SendNext("m1", false, sender));
}

TEST_F(SchedulerTest, PermanentErrorsFailAtOnce) {
  sender.Script("unassigned", {Fails("+CMS ERROR: 1")});
  sender.Script("bad pdu", {Fails("+CMS ERROR: 304", false)});
  sender.Script("refused", {Fails("no phone number", false, false)});
  const std::int64_t a = Queue("unassigned"), b = Queue("bad pdu"), c = Queue("refused");
  Drain();
  for (std::int64_t id : {a, b, c}) {
    const OutboxMessage m = *store->GetMessage(id);
    EXPECT_EQ(m.state, MessageState::Failed) << m.text;
    EXPECT_EQ(m.error->kind, "permanent") << m.text;
    EXPECT_EQ(m.attempts, 1) << m.text;
  }
}

TEST_F(SchedulerTest, NoAnswerAfterTheBodyIsUncertainAndNeverResent) {
  sender.Script("lost answer", {Fails("no final result from the modem within 15 seconds")});
  sender.Script("lost port", {Fails("/dev/ttyUSB0 is not open. GSM Modem is not connected.")});
  const std::int64_t a = Queue("lost answer"), b = Queue("lost port");
  Drain();
  clock.Advance(86400000);
  Drain();
  EXPECT_EQ(sender.sent, (std::vector<std::string>{"lost answer", "lost port"}));
  EXPECT_EQ(State(a), MessageState::Uncertain);
  EXPECT_EQ(State(b), MessageState::Uncertain);
  EXPECT_EQ(store->GetMessage(a)->error->kind, "uncertain");
}

TEST_F(SchedulerTest, FailuresBeforeTheBodyAreTemporary) {
  sender.Script("no prompt", {Fails("no \"> \" prompt after AT+CMGS=23 within 15 seconds", false)});
  sender.Script("port lost early", {Fails("the connection closed during the send", false, false)});
  const std::int64_t a = Queue("no prompt"), b = Queue("port lost early");
  Drain();
  EXPECT_EQ(State(a), MessageState::Queued);
  EXPECT_EQ(State(b), MessageState::Queued);
  EXPECT_EQ(store->GetMessage(a)->error->kind, "temporary");
}

TEST_F(SchedulerTest, APartlySentMessageIsNotSentAgain) {
  ScriptedSender::Answer partial = Fails("+CMS ERROR: 38");
  partial.attempt.references = {10, 11};
  sender.Script("three parts", {partial});
  const std::int64_t id = Queue("three parts");
  Drain();
  clock.Advance(86400000);
  Drain();
  const OutboxMessage m = *store->GetMessage(id);
  EXPECT_EQ(m.state, MessageState::Failed);
  EXPECT_EQ(m.parts.size(), 2u) << "the parts that went out are recorded";
  EXPECT_NE(m.error->text.find("part 3"), std::string::npos) << m.error->text;
  EXPECT_EQ(sender.sent.size(), 1u);
}

TEST_F(SchedulerTest, AFailingMessageDoesNotBlockTheOthers) {
  sender.Script("stuck", {Fails("+CMS ERROR: 42"), Fails("+CMS ERROR: 42"), Fails("+CMS ERROR: 42")});
  Queue("stuck", 9);
  for (int i = 0; i < 5; ++i) Queue("fine " + std::to_string(i));
  Drain();
  // The stuck one went first (priority), failed, and waits its backoff
  // while the others go.
  ASSERT_EQ(sender.sent.size(), 6u);
  EXPECT_EQ(sender.sent[0], "stuck");
  EXPECT_EQ(sender.sent[5], "fine 4");
  EXPECT_EQ(store->CountByState().at("sent"), 5);
}

TEST_F(SchedulerTest, TheStoreKnowsBeforeTheBodyGoesOut) {
  // A sender that checks, as it would write the body, what a restart
  // would make of the message.
  class Checking : public MessageSender {
   public:
    explicit Checking(Store& s) : store_(s) {}
    SendAttempt Send(const OutboxMessage& m, const std::function<void()>& beforeBody) override {
      phaseBefore = store_.GetMessage(m.id)->phase;
      beforeBody();
      phaseAtBody = store_.GetMessage(m.id)->phase;
      return {true, {1}, "", true};
    }
    int phaseBefore = -1, phaseAtBody = -1;

   private:
    Store& store_;
  } checking(*store);
  Queue("watched");
  ASSERT_TRUE(outbox->SendNext("m1", false, checking));
  EXPECT_EQ(checking.phaseBefore, 0);
  EXPECT_EQ(checking.phaseAtBody, 1);
}

TEST(RetryDelay, DoublesUpToADay) {
  EXPECT_EQ(Outbox::RetryDelay(30000, 1), 30000);
  EXPECT_EQ(Outbox::RetryDelay(30000, 2), 60000);
  EXPECT_EQ(Outbox::RetryDelay(30000, 5), 480000);
  EXPECT_EQ(Outbox::RetryDelay(30000, 60), 86400000);
  EXPECT_EQ(Outbox::RetryDelay(0, 3), 0);
}

TEST(Pacer, KeepsAModemToItsRate) {
  Pacer pacer(12);  // one every 5 s
  EXPECT_TRUE(pacer.Ready(0));
  pacer.Started(1000);
  EXPECT_FALSE(pacer.Ready(5999));
  EXPECT_TRUE(pacer.Ready(6000));
  pacer.Started(6100);  // a little late: the schedule holds
  EXPECT_EQ(pacer.NextAllowed(), 11000);
  pacer.Started(60000);  // after a pause: no burst to catch up
  EXPECT_EQ(pacer.NextAllowed(), 65000);
  Pacer unlimited(0);
  unlimited.Started(5);
  EXPECT_TRUE(unlimited.Ready(5));
}

TEST(Classify, ModemErrorsReadFromTheSendErrorText) {
  EXPECT_EQ(ReadModemError("+CMS ERROR: 38").kind, ModemError::Kind::Cms);
  EXPECT_EQ(ReadModemError("+cms error: 38").number, 38);
  EXPECT_EQ(ReadModemError("+CME ERROR: 100").kind, ModemError::Kind::Cme);
  EXPECT_EQ(ReadModemError("ERROR").kind, ModemError::Kind::Error);
  EXPECT_EQ(ReadModemError("no answer to AT+CMGF=0 within 15 seconds").kind, ModemError::Kind::NoAnswer);
  EXPECT_EQ(ReadModemError("the phone number holds a control character or a double quote").kind,
            ModemError::Kind::Refused);
  EXPECT_EQ(ReadModemError("").kind, ModemError::Kind::None);
  EXPECT_FALSE(ReadModemError("+CMS ERROR").number);
}

TEST(Classify, CmsCausesSplitIntoTemporaryAndPermanent) {
  for (int n : {38, 41, 42, 47, 111, 192, 194, 300, 310, 314, 322, 330, 331, 332, 500, 517})
    EXPECT_TRUE(IsTemporaryCms(n)) << n;
  for (int n : {1, 8, 10, 21, 29, 30, 50, 69, 96, 128, 144, 176, 193, 195, 196, 303, 304, 305})
    EXPECT_FALSE(IsTemporaryCms(n)) << n;
}

}  // namespace
}  // namespace vesk::gateway
