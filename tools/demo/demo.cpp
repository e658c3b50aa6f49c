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

// Reads a stored message in PDU mode and decodes it.
void ReadMessage(TVeskGSM& gsm, int index) {
  TStringList lines;
  gsm.ExecuteATCommand("AT+CMGR=" + IntToStr(index), &lines, 15, '\r');
  if (lines.Count() < 2) {
    Say("   (no message at " + std::to_string(index) + ")");
    return;
  }
  AnsiString phone, centre;
  TDateTime stamp = 0;
  int zone = 0;
  bool skip = false;
  WideString text = gsm.PDUSMSToString(WideToAnsi(lines[1]), phone, centre, stamp, zone, skip);
  if (skip) {
    Say("   index " + std::to_string(index) + ": a part of a longer message, held until the rest arrives");
    return;
  }
  Say("   index " + std::to_string(index) + ": from " + phone + " via " + centre + " at " + DateToStr(stamp) + " " +
      TimeToStr(stamp) + " (zone " + std::to_string(zone) + " quarter hours)");
  Say("   text: \"" + WideToUtf8(text) + "\"");
}

}  // namespace

int main() {
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
  gsm.Open();
  modem.WaitForCommand("ATE0", 5000ms);
  std::this_thread::sleep_for(300ms);
  for (const std::string& c : modem.Commands()) Say("   the modem received " + c);

  Step("2. Commands: identity, signal, capabilities");
  TStringList answer;
  gsm.ExecuteATCommand("AT+CGSN", &answer, 15, '\r');
  Say("   AT+CGSN -> " + Lines(answer));
  gsm.ExecuteATCommand("AT+CSQ", &answer, 15, '\r');
  Say("   AT+CSQ  -> " + Lines(answer));
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

  Step("4. Sending one by hand: the command, the prompt, the PDU and Ctrl-Z");
  showTraffic = true;
  gsm.SendString("AT+CMGS=" + seven.Length + "\r");
  Await([&] {
    std::lock_guard<std::mutex> lock(seenLock);
    return seen.find(">") != std::string::npos;
  });
  gsm.SendString(seven.Data + "\x1A");
  modem.WaitForSubmitted(1, 5000ms);
  Await([&] {
    std::lock_guard<std::mutex> lock(seenLock);
    return seen.find("+CMGS") != std::string::npos;
  });
  for (const sim::SubmittedMessage& m : modem.Submitted())
    Say("   the network took: to " + m.destination + ", \"" + m.text + "\"");

  Step("5. A message arrives: the notice, then reading and decoding it");
  sim::IncomingSms sms;
  sms.text = "Meet at 7 @ the café {corner}";
  auto delivered = modem.DeliverSms(sms);
  Await([&] {
    std::lock_guard<std::mutex> lock(seenLock);
    return seen.find("+CMTI") != std::string::npos;
  });
  showTraffic = false;
  ReadMessage(gsm, delivered[0].index);

  Step("6. A long message in three parts, arriving out of order");
  sim::IncomingSms longSms;
  // About 370 characters: more than two parts of 153 can carry.
  for (int i = 1; i <= 15; ++i) longSms.text += "line " + std::to_string(i) + " of a long text; ";
  longSms.partOrder = {2, 3, 1};
  longSms.reference = 7;
  for (const sim::DeliveredPart& p : modem.DeliverSms(longSms)) ReadMessage(gsm, p.index);

  Step("7. An incoming call");
  showTraffic = true;
  sim::IncomingCall call;
  call.rings = 2;
  call.interval = 400ms;
  modem.Ring(call);
  Await([&] {
    std::lock_guard<std::mutex> lock(seenLock);
    return seen.find("NO CARRIER") != std::string::npos;
  });
  showTraffic = false;

  Step("8. The modem is pulled out and plugged in again");
  gsm.SetAutoReconnect(true);
  gsm.SetAutoReconnectCheckInterval(500);
  modem.Unplug();
  Await([&] { return gsm.IsConnected() == spNone; });
  Say("   IsConnected: none, IsFaulted: " + std::string(gsm.GetIsFaulted() ? "yes" : "no"));
  modem.Plug();
  Await([&] { return connects == 2; });
  modem.WaitForCommand("ATE0", 5000ms, 2);
  Say("   reopened and set up again; AT -> " + std::string(gsm.ExecuteATCommand("AT", '\r') ? "OK" : "no answer"));

  Step("9. Close");
  gsm.Close();
  std::string transcript = (std::filesystem::temp_directory_path() / "veskgsm-demo-transcript.txt").string();
  std::ofstream(transcript) << modem.TranscriptText();
  Say("\nThe modem received " + std::to_string(modem.Commands().size()) +
      " command lines; the whole dialogue is in " + transcript);
  return 0;
}
