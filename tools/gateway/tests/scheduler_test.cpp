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

// A failure the modem's final result line says, classed by the component's
// rules as the gateway's sender gets it.
ScriptedSender::Answer Fails(const std::string& line, bool bodyWritten = true, bool reachesBody = true) {
  ScriptedSender::Answer a;
  a.attempt.sent = false;
  a.attempt.error = FromResultLine(line);
  a.attempt.bodyWritten = bodyWritten;
  a.reachesBody = reachesBody;
  return a;
}
// A failure with no final result from the modem.
ScriptedSender::Answer FailsWith(ModemError error, bool bodyWritten, bool reachesBody) {
  ScriptedSender::Answer a = Fails("", bodyWritten, reachesBody);
  a.attempt.error = std::move(error);
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
  sender.Script("refused", {FailsWith(RefusedBeforeWriting("no phone number"), false, false)});
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
  sender.Script("lost answer",
                {FailsWith(WithoutAnswer("no final result from the modem within 15 seconds"), true, true)});
  sender.Script("lost port",
                {FailsWith(ConnectionLost("/dev/ttyUSB0 is not open. GSM Modem is not connected."), true, true)});
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
  sender.Script("no prompt",
                {FailsWith(WithoutAnswer("no \"> \" prompt after AT+CMGS=23 within 15 seconds"), false, true)});
  sender.Script("port lost early", {FailsWith(ConnectionLost("the connection closed during the send"), false, false)});
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
      return {true, {1}, {}, true};
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

// The modem's final lines as the component classes them, and what the
// gateway makes of them.
struct ClassifyCase {
  const char* line;
  ModemError::Kind kind;
  int number;  // -1: none
  FailureClass cls;
};

TEST(Classify, TheComponentsErrorDecidesBeforeTheBody) {
  const ClassifyCase cases[] = {
      {"+CMS ERROR: 38", ModemError::Kind::Cms, 38, FailureClass::Temporary},    // network out of order
      {"+cms error: 42", ModemError::Kind::Cms, 42, FailureClass::Temporary},    // congestion
      {"+CMS ERROR: 1", ModemError::Kind::Cms, 1, FailureClass::Permanent},      // unassigned number
      {"+CMS ERROR: 304", ModemError::Kind::Cms, 304, FailureClass::Permanent},  // invalid PDU mode parameter
      {"+CMS ERROR: 10", ModemError::Kind::Cms, 10, FailureClass::Permanent},    // call barred
      {"+CME ERROR: 11", ModemError::Kind::Cme, 11, FailureClass::Permanent},    // SIM PIN required
      {"ERROR", ModemError::Kind::Error, -1, FailureClass::Permanent},           // tells nothing
  };
  for (const ClassifyCase& c : cases) {
    const ModemError e = FromResultLine(c.line);
    EXPECT_EQ(e.kind, c.kind) << c.line;
    EXPECT_EQ(e.number.value_or(-1), c.number) << c.line;
    EXPECT_EQ(e.temporary, c.cls == FailureClass::Temporary) << c.line;
    const Failure f = ClassifyFailure(e, false, 0, 1);
    EXPECT_EQ(f.cls, c.cls) << c.line;
    EXPECT_NE(f.error.text.find(c.line), std::string::npos) << "the line as received: " << f.error.text;
    // An error answered after the body is still the modem's answer.
    EXPECT_EQ(ClassifyFailure(e, true, 0, 1).cls, c.cls) << c.line;
  }
  EXPECT_EQ(FromResultLine("no such line").kind, ModemError::Kind::None);
  EXPECT_EQ(ClassifyFailure(RefusedBeforeWriting("no phone number"), false, 0, 1).cls, FailureClass::Permanent);
  EXPECT_EQ(ClassifyFailure(WithoutAnswer("no prompt"), false, 0, 1).cls, FailureClass::Temporary);
  EXPECT_EQ(ClassifyFailure(ConnectionLost("closed"), false, 0, 1).cls, FailureClass::Temporary);
  EXPECT_EQ(ClassifyFailure(WithoutAnswer("silence"), true, 0, 1).cls, FailureClass::Uncertain);
  EXPECT_EQ(ClassifyFailure(FromResultLine("+CMS ERROR: 38"), false, 1, 2).cls, FailureClass::Permanent)
      << "a part already went";
}

}  // namespace
}  // namespace vesk::gateway
