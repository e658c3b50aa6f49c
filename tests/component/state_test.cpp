// The modem's state as scripted dialogues: the set-up's last steps, the
// typed errors of each thread, the guarded PIN, the registration (answers
// and unsolicited results apart), waiting for the network, the service
// centre, the operator and USSD waiting on an answer that comes late.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "support/Fixtures.h"

namespace vesk {
namespace {

using testing::FakeModem;
using testing::WaitUntil;
using Lines = std::vector<std::string>;
using Steady = std::chrono::steady_clock;

class ModemState : public testing::ModemTest {
 protected:
  void SetUp() override {
    ModemTest::SetUp();
    gsm->OnError = [this](TObject*, const AnsiString& text) { Note("error:" + text); };
    gsm->OnRegistrationChange = [this](TObject*, const TRegistration& r) {
      Note("registration:" + r.Source + "," + std::to_string(r.Stat) + "," + r.Area);
    };
    gsm->OnUSSD = [this](TObject*, const TUSSDResult& u) {
      Note("ussd:" + std::to_string(static_cast<int>(u.Status)) + "," + WideToUtf8(u.Text));
    };
  }
  void OpenAndSetUp() {
    ASSERT_TRUE(gsm->Open(false));
    ASSERT_TRUE(WaitUntil([&] { return gsm->IsSetUp(); }));
  }
  void Note(const std::string& e) {
    std::lock_guard<std::mutex> lock(mutex);
    events.push_back(e);
  }
  std::vector<std::string> Events() {
    std::lock_guard<std::mutex> lock(mutex);
    return events;
  }
  std::size_t Count(const std::string& line) {
    std::size_t n = 0;
    for (const std::string& l : modem->Lines()) n += l == line;
    return n;
  }
  // Real milliseconds that `clockMs` of the component's clock take.
  static std::chrono::milliseconds Real(double clockMs) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(GetClock()->RealDuration(clockMs));
  }

  std::mutex mutex;
  std::vector<std::string> events;
};

// ---------------------------------------------------------------- set-up

TEST_F(ModemState, AModemRefusingTheNewSetUpKeepsWorking) {
  modem->On("AT+CMEE=1", "\r\nERROR\r\n");
  modem->On("AT+CREG=2", "\r\nERROR\r\n");
  modem->On("AT+CGREG=2", "\r\n+CME ERROR: 4\r\n");
  modem->On("AT+CGREG=1", "\r\n+CME ERROR: 4\r\n");
  modem->On("AT+CEREG=2", "\r\nERROR\r\n");
  modem->On("AT+CEREG=1", "\r\nERROR\r\n");
  modem->On("AT+CUSD=1", "\r\n+CME ERROR: 4\r\n");
  modem->On("AT+CGSN", "\r\n490154203237518\r\n\r\nOK\r\n");
  OpenAndSetUp();
  const Lines all = modem->Lines();
  ASSERT_GE(all.size(), 10u);
  EXPECT_EQ(Lines(all.end() - 10, all.end()),
            (Lines{"ATE0", "AT+CMEE=1", "AT+CSCS?", "AT+CREG=2", "AT+CREG=1", "AT+CGREG=2", "AT+CGREG=1", "AT+CEREG=2",
                   "AT+CEREG=1", "AT+CUSD=1"}));
  // The component's own questions that the modem lacks raise no OnError.
  EXPECT_EQ(Events(), Lines{});
  EXPECT_EQ(gsm->GetIMEI(), "490154203237518");
  // The reports the modem refused are not asked for again.
  modem->On("AT+CREG?", "\r\n+CREG: 1,2\r\n\r\nOK\r\n");
  const std::size_t before = modem->Lines().size();
  EXPECT_EQ(gsm->GetRegistration().Status, rsSearching);
  const Lines after = modem->Lines();
  EXPECT_EQ(Lines(after.begin() + static_cast<long>(before), after.end()), (Lines{"AT+CREG?"}));
  EXPECT_EQ(Events(), Lines{});
}

// ---------------------------------------------------------------- errors

TEST_F(ModemState, EveryCommandSetsItsThreadsError) {
  modem->On("AT+CSQ", "\r\n+CME ERROR: 30\r\n", 1);
  modem->On("AT+CMGD=1", "\r\n+CMS ERROR: 321\r\n");
  modem->On("AT+CPMS=\"SM\"", "\r\n+CPMS: 1,30,1,30,1,30\r\n\r\nOK\r\n");
  OpenQuiet();
  EXPECT_EQ(gsm->GetLastModemError().Kind, mekNone);
  EXPECT_EQ(gsm->GetSignalStrength(), 99);
  TModemError e = gsm->GetLastModemError();
  EXPECT_EQ(e.Kind, mekCME);
  EXPECT_EQ(e.Number, 30);
  EXPECT_EQ(e.Text, "no network service");
  EXPECT_EQ(e.Line, "+CME ERROR: 30");
  EXPECT_TRUE(e.IsTemporary());
  EXPECT_TRUE(gsm->ExecuteATCommand("AT"));
  EXPECT_EQ(gsm->GetLastModemError().Kind, mekNone);
  EXPECT_EQ(gsm->GetLastModemError().Text, "");
  EXPECT_FALSE(gsm->DeleteSMS("SM", 1));
  e = gsm->GetLastModemError();
  EXPECT_EQ(e.Kind, mekCMS);
  EXPECT_EQ(e.Number, 321);
  EXPECT_EQ(e.Text, "invalid memory index");
  EXPECT_FALSE(e.IsTemporary());
}

TEST_F(ModemState, NoThreadSeesAnothersError) {
  modem->On("AT+FAIL", "\r\n+CMS ERROR: 38\r\n");
  OpenQuiet();
  std::atomic<bool> failed{false}, succeeded{false};
  TModemError seenByFailing, seenBySucceeding, seenLaterByFailing;
  std::atomic<int> step{0};
  std::thread failing([&] {
    gsm->ExecuteATCommand("AT+FAIL");
    seenByFailing = gsm->GetLastModemError();
    failed = true;
    while (step.load() == 0) std::this_thread::yield();
    seenLaterByFailing = gsm->GetLastModemError();
  });
  std::thread succeeding([&] {
    while (!failed) std::this_thread::yield();
    gsm->ExecuteATCommand("AT");
    seenBySucceeding = gsm->GetLastModemError();
    succeeded = true;
    step = 1;
  });
  failing.join();
  succeeding.join();
  EXPECT_EQ(seenByFailing.Kind, mekCMS);
  EXPECT_EQ(seenByFailing.Number, 38);
  EXPECT_TRUE(seenByFailing.IsTemporary());
  EXPECT_EQ(seenBySucceeding.Kind, mekNone);
  // The other thread's success did not wipe this thread's error.
  EXPECT_EQ(seenLaterByFailing.Kind, mekCMS);
  // And this thread ran nothing.
  EXPECT_EQ(gsm->GetLastModemError().Kind, mekNone);
}

TEST_F(ModemState, ASendsErrorIsTyped) {
  modem->SetHandler([](FakeModem& m, const std::string& line) {
    if (line.rfind("AT+CMGS=", 0) != 0) return false;
    m.Push("\r\n+CMS ERROR: 42\r\n");
    return true;
  });
  OpenQuiet();
  gsm->SetWaitForPrompt(true);
  EXPECT_FALSE(gsm->SendSMSAsPDU("+15550123", "", u"hello"));
  EXPECT_EQ(gsm->GetLastSendError(), "+CMS ERROR: 42");
  const TModemError e = gsm->GetLastModemError();
  EXPECT_EQ(e.Kind, mekCMS);
  EXPECT_EQ(e.Number, 42);
  EXPECT_EQ(e.Text, "Congestion");
  EXPECT_TRUE(e.IsTemporary());
  // A refused argument is no modem error, but says why.
  EXPECT_FALSE(gsm->SendSMSAsPDU("", "", u"hello"));
  EXPECT_EQ(gsm->GetLastModemError().Kind, mekNone);
  EXPECT_EQ(gsm->GetLastModemError().Text, "no phone number");
}

TEST_F(ModemState, NoAnswerAndOtherFinalResultsAreNoModemErrors) {
  modem->On("ATD+15550123;", "\r\nBUSY\r\n");
  modem->On("AT+SILENT", "");
  OpenQuiet();
  EXPECT_FALSE(gsm->DialVoice("+15550123"));
  EXPECT_EQ(gsm->GetLastModemError().Kind, mekNone);
  EXPECT_EQ(gsm->GetLastModemError().Text, "BUSY");
  TStringList answer;
  EXPECT_EQ(gsm->ExecuteATCommand("AT+SILENT", &answer, 2, '\r'), 0);
  EXPECT_EQ(gsm->GetLastModemError().Kind, mekNone);
  EXPECT_EQ(gsm->GetLastModemError().Text, "no answer within 2 seconds");
  EXPECT_FALSE(gsm->GetLastModemError().IsTemporary());
}

// ---------------------------------------------------------------- SIM

TEST_F(ModemState, SimStateAndTries) {
  modem->On("AT+CPIN?", "\r\n+CPIN: SIM PIN\r\n\r\nOK\r\n");
  modem->On("AT+CPINR", "\r\n+CPINR: SIM PIN,2,3\r\n+CPINR: SIM PUK,10,10\r\n\r\nOK\r\n");
  OpenQuiet();
  EXPECT_EQ(gsm->GetSIMState(), ssPINNeeded);
  EXPECT_EQ(gsm->GetPINRetries(), 2);
  modem->On("AT+CPIN?", "\r\n+CME ERROR: 10\r\n");
  EXPECT_EQ(gsm->GetSIMState(), ssNotInserted);
  EXPECT_EQ(gsm->GetLastModemError().Number, 10);
  modem->On("AT+CPINR", "\r\nERROR\r\n");
  EXPECT_EQ(gsm->GetPINRetries(), -1);
  EXPECT_EQ(Events(), Lines{"error:+CME ERROR: 10"});  // AT+CPINR is only asked
}

TEST_F(ModemState, NoPinIsSentWhenThePukIsNeeded) {
  modem->On("AT+CPIN?", "\r\n+CPIN: SIM PUK\r\n\r\nOK\r\n");
  OpenQuiet();
  EXPECT_FALSE(gsm->EnterPIN("1234"));
  EXPECT_FALSE(gsm->EnterPIN("1234", true));
  EXPECT_EQ(modem->Lines(), (Lines{"AT+CPIN?", "AT+CPIN?"}));
  EXPECT_NE(gsm->GetLastModemError().Text.find("PUK"), AnsiString::npos);
}

TEST_F(ModemState, TheLastTryOnlyWhenAskedFor) {
  modem->On("AT+CPIN?", "\r\n+CPIN: SIM PIN\r\n\r\nOK\r\n");
  modem->On("AT+CPINR", "\r\n+CPINR: SIM PIN,1,3\r\n+CPINR: SIM PUK,10,10\r\n\r\nOK\r\n");
  modem->On("AT+CPIN=\"1234\"", "\r\n+CME ERROR: 16\r\n");
  OpenQuiet();
  EXPECT_FALSE(gsm->EnterPIN("1234"));
  EXPECT_EQ(modem->Lines(), (Lines{"AT+CPIN?", "AT+CPINR"}));
  EXPECT_EQ(gsm->GetLastModemError().Kind, mekNone);
  EXPECT_NE(gsm->GetLastModemError().Text.find("one PIN try"), AnsiString::npos);
  EXPECT_FALSE(gsm->EnterPIN("1234", true));  // sent, and wrong
  EXPECT_EQ(Count("AT+CPIN=\"1234\""), 1u);
  EXPECT_EQ(gsm->GetLastModemError().Kind, mekCME);
  EXPECT_EQ(gsm->GetLastModemError().Number, 16);
  EXPECT_EQ(gsm->GetLastModemError().Text, "incorrect password");
  // None left: the SIM wants its PUK, whatever lastTry says.
  modem->On("AT+CPINR", "\r\n+CPINR: SIM PIN,0,3\r\n\r\nOK\r\n");
  EXPECT_FALSE(gsm->EnterPIN("1234", true));
  EXPECT_EQ(Count("AT+CPIN=\"1234\""), 1u);
}

TEST_F(ModemState, EnterPukSendsThePukAndTheNewPin) {
  OpenQuiet();
  EXPECT_TRUE(gsm->EnterPUK("12345678", "4321"));
  for (const auto& [puk, pin] : std::vector<std::pair<const char*, const char*>>{{"1234567", "4321"},
                                                                                 {"123456789", "4321"},
                                                                                 {"1234567a", "4321"},
                                                                                 {"12345678", "432"},
                                                                                 {"12345678", "4321\"\r"}}) {
    EXPECT_FALSE(gsm->EnterPUK(puk, pin)) << puk << " " << pin;
  }
  EXPECT_EQ(modem->Lines(), (Lines{"AT+CPIN=\"12345678\",\"4321\""}));
}

// ---------------------------------------------------------------- registration

TEST_F(ModemState, ACommandsAnswerIsNeverTakenFromTheNews) {
  // A change announced between AT+CREG? and its answer.
  modem->On("AT+CREG?", "\r\n+CREG: 5,\"2AF5\",\"0B88E350\"\r\n\r\n+CREG: 2,1,\"1A2B\",\"00C3F2A1\"\r\n\r\nOK\r\n");
  OpenQuiet();
  const TRegistration r = gsm->GetRegistration();
  EXPECT_EQ(r.Status, rsHome);
  EXPECT_EQ(r.Area, "1A2B");
  EXPECT_EQ(r.Cell, "00C3F2A1");
  EXPECT_EQ(r.Source, "+CREG");
  EXPECT_EQ(modem->Lines(), (Lines{"AT+CREG?"}));  // registered: the others are not needed
  // The news raised its event; the answer raised none.
  EXPECT_TRUE(WaitUntil([&] { return !Events().empty(); }));
  EXPECT_EQ(Events(), (Lines{"registration:+CREG,5,2AF5"}));
}

TEST_F(ModemState, AnAnswerArrivingUnaskedIsNoNews) {
  OpenQuiet();
  modem->Push("\r\n+CREG: 0,1\r\n\r\n+CEREG: 2,1,\"1A2B\",\"0C3F2A1B\",7\r\n");
  modem->Push("\r\n+CGREG: 2\r\n");
  ASSERT_TRUE(WaitUntil([&] { return !Events().empty(); }));
  WaitUntil([] { return false; }, 100);
  EXPECT_EQ(Events(), (Lines{"registration:+CGREG,2,"}));
}

TEST_F(ModemState, TheBestOfThreeReports) {
  modem->On("AT+CREG?", "\r\n+CREG: 0,0\r\n\r\nOK\r\n");
  modem->On("AT+CGREG?", "\r\n+CGREG: 0,2\r\n\r\nOK\r\n");
  modem->On("AT+CEREG?", "\r\n+CEREG: 0,5\r\n\r\nOK\r\n");
  OpenQuiet();
  TRegistration r = gsm->GetRegistration();
  EXPECT_EQ(r.Status, rsRoaming);
  EXPECT_EQ(r.Source, "+CEREG");
  EXPECT_EQ(modem->Lines(), (Lines{"AT+CREG?", "AT+CGREG?", "AT+CEREG?"}));
  // A modem on LTE alone: the older reports refused, not asked again.
  modem->On("AT+CREG?", "\r\n+CME ERROR: 4\r\n");
  modem->On("AT+CGREG?", "\r\nERROR\r\n");
  modem->On("AT+CEREG?", "\r\n+CEREG: 0,1\r\n\r\nOK\r\n");
  EXPECT_EQ(gsm->GetRegistration().Status, rsHome);
  EXPECT_EQ(gsm->GetLastModemError().Kind, mekNone);
  EXPECT_EQ(gsm->GetRegistration().Status, rsHome);
  EXPECT_EQ(Count("AT+CREG?"), 2u);
  EXPECT_EQ(Count("AT+CGREG?"), 2u);
  EXPECT_EQ(Count("AT+CEREG?"), 3u);
  EXPECT_EQ(Events(), Lines{});  // the refusals of its own questions raise nothing
}

TEST_F(ModemState, WaitForNetworkWakesOnTheUnsolicitedResult) {
  for (const char* read : {"AT+CREG?", "AT+CGREG?", "AT+CEREG?"})
    modem->On(read, std::string("\r\n+") + (read + 3) + ": 2,2\r\n\r\nOK\r\n");
  OpenAndSetUp();
  // Counted before the thread starts: under load the reads may all be
  // sent before it runs.
  const std::size_t before = modem->Lines().size();
  std::thread network([&] {
    modem->WaitForLines(before + 3, 5000);
    std::this_thread::sleep_for(Real(3000));
    modem->Push("\r\n+CREG: 1,\"1A2B\",\"00C3F2A1\"\r\n");
  });
  const auto start = Steady::now();
  EXPECT_TRUE(gsm->WaitForNetwork(60));
  network.join();
  // Woken by the result: asked once, no polling.
  EXPECT_EQ(Count("AT+CREG?"), 1u);
  EXPECT_LT(Steady::now() - start, Real(30000));
}

TEST_F(ModemState, WaitForNetworkPollsWithoutUnsolicitedResults) {
  std::atomic<int> asked{0};
  modem->SetHandler([&](FakeModem& m, const std::string& line) {
    if (line != "AT+CREG?") return false;
    m.Push(++asked > 3 ? "\r\n+CREG: 0,1\r\n\r\nOK\r\n" : "\r\n+CREG: 0,2\r\n\r\nOK\r\n");
    return true;
  });
  OpenQuiet();  // no set-up: nothing switched the results on
  EXPECT_TRUE(gsm->WaitForNetwork(60));
  EXPECT_EQ(Count("AT+CREG?"), 4u);
  EXPECT_EQ(Count("AT+CGREG?"), 3u);  // asked while CREG said searching
}

TEST_F(ModemState, WaitForNetworkEndsAtItsTimeOutAndAtClose) {
  modem->On("AT+CREG?", "\r\n+CREG: 0,3\r\n\r\nOK\r\n");
  OpenAndSetUp();
  const auto start = Steady::now();
  EXPECT_FALSE(gsm->WaitForNetwork(4));
  EXPECT_GE(Steady::now() - start, Real(3900));
  std::thread closer([&] {
    std::this_thread::sleep_for(Real(2000));
    gsm->Close();
  });
  const auto again = Steady::now();
  EXPECT_FALSE(gsm->WaitForNetwork(600));
  closer.join();
  EXPECT_LT(Steady::now() - again, Real(60000));
}

// ---------------------------------------------------------------- operator and centre

TEST_F(ModemState, OperatorAndServiceCentre) {
  modem->On("AT+CSCS?", "\r\n+CSCS: \"UCS2\"\r\n\r\nOK\r\n");
  modem->On("AT+COPS?", "\r\n+COPS: 0,0,\"0054002D004D006F00620069006C0065\",2\r\n\r\nOK\r\n");
  modem->On("AT+CSCA?", "\r\n+CSCA: \"002B003400340037003800300032003000390032003000330035\",145\r\n\r\nOK\r\n");
  OpenAndSetUp();
  const std::size_t before = modem->Lines().size();
  const TOperator op = gsm->GetOperator();
  EXPECT_EQ(WideToUtf8(op.Name), "T-Mobile");
  EXPECT_EQ(op.Technology, 2);
  EXPECT_EQ(gsm->GetServiceCenter(), "+447802092035");
  EXPECT_TRUE(gsm->SetServiceCenter("+15550100"));
  EXPECT_TRUE(gsm->SetServiceCenter("5550100"));
  for (const char* bad : {"", "  ", "+1555\r0100", "+1555\"0100"}) EXPECT_FALSE(gsm->SetServiceCenter(bad)) << bad;
  const Lines after = modem->Lines();
  EXPECT_EQ(Lines(after.begin() + static_cast<long>(before), after.end()),
            (Lines{"AT+COPS=3,0", "AT+COPS?", "AT+CSCA?", "AT+CSCA=\"002B00310035003500350030003100300030\",145",
                   "AT+CSCA=\"0035003500350030003100300030\",129"}));
}

// ---------------------------------------------------------------- USSD

TEST_F(ModemState, AUssdAnswerAfterTheOkWakesTheCallWhileOthersGoOn) {
  modem->On("AT+CUSD=1,\"*100#\",15", "\r\nOK\r\n");
  modem->On("AT+CSQ", "\r\n+CSQ: 23,99\r\n\r\nOK\r\n");
  OpenQuiet();
  std::atomic<bool> done{false};
  TUSSDResult result;
  std::thread caller([&] {
    result = gsm->SendUSSD("*100#", 60);
    done = true;
  });
  ASSERT_TRUE(modem->WaitForLines(1, 5000));
  // The port is free while the call waits: another command gets through.
  EXPECT_EQ(gsm->GetSignalStrength(), 23);
  EXPECT_FALSE(done);
  modem->Push("\r\n+CUSD: 0,\"E8329BFD06\",15\r\n");
  caller.join();
  EXPECT_EQ(result.Status, usNoFurtherAction);
  EXPECT_EQ(WideToUtf8(result.Text), "hello");
  EXPECT_EQ(result.DCS, 15);
  EXPECT_EQ(result.Raw, "E8329BFD06");
  EXPECT_TRUE(result.Decoded);
  WaitUntil([] { return false; }, 50);
  EXPECT_EQ(Events(), Lines{});  // the answer is the caller's, not news
}

TEST_F(ModemState, AUssdAnswerBeforeTheOkIsTakenToo) {
  modem->On("AT+CUSD=1,\"*101#\",15", "\r\n+CUSD: 1,\"Menu\n1 Balance\n2 Bundles\",15\r\n\r\nOK\r\n");
  modem->On("AT+CUSD=1,\"2\",15", "\r\nOK\r\n\r\n+CUSD: 2\r\n");
  OpenQuiet();
  TUSSDResult menu = gsm->SendUSSD("*101#", 30);
  EXPECT_EQ(menu.Status, usFurtherAction);
  EXPECT_EQ(WideToUtf8(menu.Text), "Menu\n1 Balance\n2 Bundles");
  TUSSDResult end = gsm->ReplyUSSD("2", 30);
  EXPECT_EQ(end.Status, usTerminated);
  EXPECT_EQ(Events(), Lines{});
}

TEST_F(ModemState, ANetworkInitiatedUssdRaisesOnUssd) {
  OpenQuiet();
  modem->Push("\r\n+CUSD: 1,\"Top up? 1 yes\",15\r\n");
  ASSERT_TRUE(WaitUntil([&] { return !Events().empty(); }));
  EXPECT_EQ(Events(), Lines{"ussd:1,Top up? 1 yes"});
}

TEST_F(ModemState, UssdRefusalsTimeOutsAndCancels) {
  modem->On("AT+CUSD=1,\"*200#\",15", "\r\n+CME ERROR: 30\r\n");
  modem->On("AT+CUSD=1,\"*300#\",15", "\r\nOK\r\n");
  OpenQuiet();
  // Not a USSD code: nothing written.
  for (const char* bad : {"", "*100#\r", "*1\"0#", "ATD1;", "*10 0#"})
    EXPECT_EQ(gsm->SendUSSD(bad, 30).Status, usFailed) << bad;
  EXPECT_EQ(gsm->ReplyUSSD("a\"b", 30).Status, usFailed);
  EXPECT_TRUE(modem->Lines().empty());
  // The modem refuses.
  EXPECT_EQ(gsm->SendUSSD("*200#", 30).Status, usFailed);
  EXPECT_EQ(gsm->GetLastModemError().Number, 30);
  // No answer comes.
  const auto start = Steady::now();
  EXPECT_EQ(gsm->SendUSSD("*300#", 3).Status, usTimeOut);
  EXPECT_GE(Steady::now() - start, Real(2900));
  EXPECT_EQ(gsm->GetLastModemError().Kind, mekNone);
  // Cancelled from another thread while it waits.
  const std::size_t asked = modem->Lines().size();
  std::thread canceller([&] {
    modem->WaitForLines(asked + 1, 5000);
    gsm->CancelUSSD();
  });
  EXPECT_EQ(gsm->SendUSSD("*300#", 600).Status, usCancelled);
  canceller.join();
  EXPECT_EQ(Count("AT+CUSD=2"), 1u);
  // A late answer nobody waits for any more is news.
  modem->Push("\r\n+CUSD: 0,\"late\",15\r\n");
  ASSERT_TRUE(WaitUntil([&] { return Events().size() == 2; }));
  // The refusal raised OnError like any command's; the answers raised nothing.
  EXPECT_EQ(Events(), (Lines{"error:+CME ERROR: 30", "ussd:0,late"}));
}

TEST_F(ModemState, CloseEndsAUssdWait) {
  modem->On("AT+CUSD=1,\"*300#\",15", "\r\nOK\r\n");
  OpenQuiet();
  std::thread closer([&] {
    modem->WaitForLines(1, 5000);
    std::this_thread::sleep_for(Real(1000));
    gsm->Close();
  });
  const auto start = Steady::now();
  EXPECT_EQ(gsm->SendUSSD("*300#", 600).Status, usCancelled);
  closer.join();
  EXPECT_LT(Steady::now() - start, Real(60000));
}

TEST_F(ModemState, TheUssdCodeGoesInTheModemsCharacterSet) {
  modem->On("AT+CSCS?", "\r\n+CSCS: \"UCS2\"\r\n\r\nOK\r\n");
  modem->On("AT+CUSD=1,\"002A0031003000300023\",15", "\r\nOK\r\n\r\n+CUSD: 0,\"00480069\",15\r\n");
  OpenAndSetUp();
  const TUSSDResult r = gsm->SendUSSD("*100#", 30);
  EXPECT_EQ(r.Status, usNoFurtherAction);
  EXPECT_EQ(WideToUtf8(r.Text), "Hi");
}

}  // namespace
}  // namespace vesk
