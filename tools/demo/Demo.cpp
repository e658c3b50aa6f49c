// A walk through the library on the built-in modem simulator: no hardware
// needed. Run it with `make demo`.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <thread>

#include "component/VeskGSM.h"
#include "tools/demo/Demo.h"
#include "tools/simulator/ModemSimulator.h"

using namespace vesk;
using namespace std::chrono_literals;

namespace {

std::mutex gPrint;

void Say(const std::string& text) {
  std::lock_guard<std::mutex> lock(gPrint);
  std::cout << text << std::endl;
}

void Step(const std::string& title) { Say("\n== " + title); }

// Steps that did not do what they should.
int gFailures = 0;

// Reports a step's outcome; a failed one makes the demo's exit status 1.
bool Check(bool ok, const std::string& what) {
  if (!ok) {
    ++gFailures;
    Say("   FAILED: " + what);
  }
  return ok;
}

// Waits up to `ms` for `condition`.
bool Await(const std::function<bool()>& condition, int ms = 10000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

std::string Lines(const TStrings& lines) {
  std::string out;
  for (int i = 0; i < lines.Count(); ++i) out += (i ? " | " : "") + WideToUtf8(lines[i]);
  return out;
}

}  // namespace

int vesk::RunDemo() {
  gFailures = 0;
  sim::ModemConfig config;
  config.quirks.answerDelay = 20ms;  // a little thinking time, as real modems take
  sim::ModemSimulator modem(config);
  Say("VeskGSM demo: a simulated GSM modem is listening on " + modem.Path());

  TVeskGSM gsm;
  gsm.SetCustomPortName(modem.Path());
  gsm.SetBaudRate(br115200);
  gsm.SetDelay(200);  // poll the port five times a second

  std::atomic<int> connects{0};
  gsm.OnConnect = [&](TObject*, TCommPort) {
    ++connects;
    Say("   event OnConnect");
  };
  gsm.OnDisconnect = [](TObject*, TCommPort) { Say("   event OnDisconnect"); };
  gsm.OnFault = [](TObject*, TCommPort) { Say("   event OnFault: the port went away"); };
  // Every whole message the modem delivers, decoded and reassembled.
  std::atomic<int> messages{0};
  std::atomic<int> listed{0};
  gsm.OnNewMessage = [](TObject*, const AnsiString& storage, int index) {
    Say("   event OnNewMessage: " + storage + " " + std::to_string(index) + " (read at once)");
  };
  gsm.OnReadMessage = [&](TObject* sender, const WideString& text, const AnsiString& phone, const AnsiString& centre,
                          TDateTime stamp, int zone, int) {
    auto* g = static_cast<TVeskGSM*>(sender);
    if (g->GetIsListing()) {
      std::string where;
      for (int i : g->GetMessageIndexes()) where += (where.empty() ? "" : ",") + std::to_string(i);
      Say("   listed at " + g->GetMessageLocation() + " " + where + ": from " + phone + ", \"" +
          WideToUtf8(text).substr(0, 40) + (text.size() > 40 ? "...\"" : "\""));
      ++listed;
      return;
    }
    std::string where;
    for (int i : g->GetMessageIndexes()) where += (where.empty() ? "" : ",") + std::to_string(i);
    Say("   event OnReadMessage: from " + phone + " via " + centre + " at " + DateToStr(stamp) + " " +
        TimeToStr(stamp) + " (zone " + std::to_string(zone) + " quarter hours), stored at " +
        g->GetMessageLocation() + " " + where);
    Say("   text: \"" + WideToUtf8(text) + "\"");
    ++messages;
  };
  gsm.OnRing = [](TObject*, const AnsiString& caller) {
    Say("   event OnRing: " + (caller.empty() ? std::string("(no caller identity)") : "caller " + caller));
  };
  std::atomic<bool> showTraffic{false};
  std::mutex seenLock;
  std::string seen;
  gsm.OnReceive = [&](TObject* sender, const AnsiString& text) {
    {
      std::lock_guard<std::mutex> lock(seenLock);
      seen += text;
    }
    if (showTraffic) Say("   event OnReceive: " + static_cast<TVeskGSM*>(sender)->ReplaceControlChars(text));
  };

  Step("1. Open the port; the reader thread sets the modem up");
  Check(gsm.Open(), "the port did not open");
  // The set-up's last step switches the USSD results on.
  Check(modem.WaitForCommand("AT+CUSD=1", 5000ms), "the modem was not set up");
  std::this_thread::sleep_for(300ms);
  for (const std::string& c : modem.Commands()) Say("   the modem received " + c);

  Step("2. Commands: identity, signal, capabilities");
  const AnsiString imei = gsm.GetIMEI();
  Say("   GetIMEI -> " + imei);
  Check(!imei.empty(), "no IMEI read");
  Say("   GetSignalStrength -> " + std::to_string(gsm.GetSignalStrength()));
  TStringList answer;
  gsm.ExecuteATCommand("AT+CGMM", &answer, 15, '\r');
  Say("   AT+CGMM -> " + Lines(answer));
  Say("   capability mask (the modem is probed command by command, one second apart): " +
      std::to_string(gsm.TestGSMModemCapabilities()));

  Step("3. The SMS codec: SMS-SUBMIT PDUs");
  TPDUSMS seven = gsm.StringToPDUSMS(u"+15550100", u"", u"hellohello", meAuto, false, nullptr);
  Say("   \"hellohello\", GSM 7-bit:    AT+CMGS=" + seven.Length + "  " + seven.Data);
  TPDUSMS ucs2 = gsm.StringToPDUSMS(u"+15550100", u"", Utf8ToWide("Grüße, Ελλάδα"), meAuto, true, nullptr);
  Say("   \"Grüße, Ελλάδα\", UCS2 flash: AT+CMGS=" + ucs2.Length + "  " + ucs2.Data);
  TUDH part(0x2A, 1, 2);
  TPDUSMS first = gsm.StringToPDUSMS(u"+15550100", u"", u"first half", meAuto, false, &part);
  Say("   part 1 of 2, reference 42:  AT+CMGS=" + first.Length + "  " + first.Data);

  Step("4. Sending: one message, and a long one in three parts");
  // Each step waits for the modem's answer instead of fixed pauses.
  gsm.SetWaitForPrompt(true);
  bool sent = gsm.SendSMSAsPDU("+15550100", "", Utf8ToWide("Grüße aus dem Simulator"));
  Say("   SendSMSAsPDU -> " + std::string(sent ? "sent" : "failed: " + gsm.GetLastSendError()));
  Check(sent, "the short message was not sent");
  WideString longText;
  for (int i = 1; i <= 20; ++i) longText += Utf8ToWide("part of a long text " + std::to_string(i) + "; ");
  sent = gsm.SendSMSAsPDU("+15550100", "", longText);
  std::string refs;
  for (int r : gsm.GetLastMessageReferences()) refs += " " + std::to_string(r);
  Say("   SendSMSAsPDU (" + std::to_string(longText.size()) + " characters) -> " +
      (sent ? "sent, message references" + refs : "failed: " + gsm.GetLastSendError()));
  Check(sent, "the long message was not sent");
  for (const sim::SubmittedMessage& m : modem.Submitted())
    Say("   the network took: to " + m.destination + ", \"" + m.text.substr(0, 60) + (m.text.size() > 60 ? "..." : "") + "\"");

  Step("5. A message arrives: the notice, the automatic read, the decoded message");
  sim::IncomingSms sms;
  sms.text = "Meet at 7 @ the café {corner}";
  modem.DeliverSms(sms);
  Check(Await([&] { return messages == 1; }), "the message was not reported");

  Step("6. A long message in three parts, arriving out of order");
  sim::IncomingSms longSms;
  // About 370 characters: more than two parts of 153 can carry.
  for (int i = 1; i <= 15; ++i) longSms.text += "line " + std::to_string(i) + " of a long text; ";
  longSms.partOrder = {2, 3, 1};
  longSms.reference = 7;
  modem.DeliverSms(longSms);
  Check(Await([&] { return messages == 2; }), "the long message was not reported");

  Step("7. An incoming call");
  showTraffic = true;
  sim::IncomingCall call;
  call.rings = 2;
  call.interval = 400ms;
  modem.Ring(call);
  Check(Await([&] {
          std::lock_guard<std::mutex> lock(seenLock);
          return seen.find("NO CARRIER") != std::string::npos;
        }),
        "the call did not end");
  showTraffic = false;

  Step("8. The stored messages: list them, then delete them all");
  gsm.GetAllSMS("SM", 4);
  Check(Await([&] { return listed == 2; }), "the listing did not report both messages");
  const bool deleted = gsm.DeleteSMS("SM", -4);
  Say("   DeleteSMS(\"SM\", -4) -> " + std::string(deleted ? "OK" : "refused") + "; the modem now holds " +
      std::to_string(modem.Stored().size()) + " message(s)");
  Check(deleted && modem.Stored().empty(), "the messages were not deleted");

  Step("9. The modem is pulled out and plugged in again");
  gsm.SetAutoReconnect(true);
  gsm.SetAutoReconnectCheckInterval(500);
  modem.Unplug();
  Check(Await([&] { return gsm.IsConnected() == spNone; }), "the unplugged port was not noticed");
  Say("   IsConnected: none, IsFaulted: " + std::string(gsm.GetIsFaulted() ? "yes" : "no"));
  modem.Plug();
  Check(Await([&] { return connects == 2; }), "the port was not reopened");
  Check(modem.WaitForCommand("AT+CUSD=1", 5000ms, 2), "the modem was not set up again");
  const bool answered = gsm.ExecuteATCommand("AT", '\r');
  Say("   reopened and set up again; AT -> " + std::string(answered ? "OK" : "no answer"));
  Check(answered, "the reopened modem did not answer");

  Step("10. Close");
  gsm.Close();
  std::string transcript = (std::filesystem::temp_directory_path() / "veskgsm-demo-transcript.txt").string();
  std::ofstream(transcript) << modem.TranscriptText();
  Say("\nThe modem received " + std::to_string(modem.Commands().size()) +
      " command lines; the whole dialogue is in " + transcript);
  if (gFailures > 0) {
    Say(std::to_string(gFailures) + " step(s) FAILED");
    return 1;
  }
  Say("Every step succeeded.");
  return 0;
}
