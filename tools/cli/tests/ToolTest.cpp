// The `veskgsm` binary run as a user runs it, against the modem simulator on
// a pseudo-terminal. No real serial port is opened.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "component/VeskGSM.h"
#include "tools/simulator/ModemSimulator.h"
#include "tools/simulator/SmsPdu.h"

namespace vesk::sim {
namespace {

using json = nlohmann::json;
using namespace std::chrono_literals;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;

  std::vector<json> JsonLines() const {
    std::vector<json> lines;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) lines.push_back(json::parse(line));
    return lines;
  }
};

std::string Quote(const std::string& arg) {
  std::string q = "'";
  for (char c : arg) {
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
  }
  return q + "'";
}

std::string Slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs `program` with `args` (and `input` on standard input); waits for it.
Outcome RunProgram(const std::string& program, const std::vector<std::string>& args, const std::string& input = "") {
  static int counter = 0;
  const auto dir = std::filesystem::temp_directory_path() /
                   ("veskgsm-tool-test-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
  std::filesystem::create_directories(dir);
  {
    std::ofstream(dir / "in") << input;
  }
  std::string command = Quote(program);
  for (const std::string& a : args) command += " " + Quote(a);
  command += " <" + Quote((dir / "in").string()) + " >" + Quote((dir / "out").string()) + " 2>" +
             Quote((dir / "err").string());
  const int raw = std::system(command.c_str());
  Outcome outcome;
  outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  outcome.out = Slurp(dir / "out");
  outcome.err = Slurp(dir / "err");
  std::filesystem::remove_all(dir);
  return outcome;
}

Outcome RunTool(const std::vector<std::string>& args, const std::string& input = "") {
  return RunProgram(VESKGSM_BINARY, args, input);
}

// ------------------------------------------------------------------ usage

TEST(ToolUsage, NoSubcommandIsBadUsage) {
  const Outcome o = RunTool({});
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("subcommand is required"), std::string::npos) << o.err;
  EXPECT_EQ(o.out, "");
}

TEST(ToolUsage, MissingPortIsBadUsage) {
  const Outcome o = RunTool({"send", "+15550100", "hi"});
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("--port is required"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("veskgsm send --help"), std::string::npos) << o.err;
}

TEST(ToolUsage, UnknownEncodingIsBadUsage) {
  const Outcome o = RunTool({"pdu", "encode", "--encoding", "9bit", "+15550100", "hi"});
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("9bit"), std::string::npos) << o.err;
}

TEST(ToolUsage, UnknownOptionIsBadUsage) {
  const Outcome o = RunTool({"at", "--port", "/nonexistent", "--frobnicate", "AT"});
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("frobnicate"), std::string::npos) << o.err;
}

TEST(ToolUsage, DeleteNeedsIndexesOrAll) {
  const Outcome o = RunTool({"delete", "--port", "/nonexistent"});
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("INDEX... or --all"), std::string::npos) << o.err;
}

TEST(ToolUsage, SettingsFileThatDoesNotReadIsBadUsage) {
  const auto path = std::filesystem::temp_directory_path() / ("veskgsm-settings-" + std::to_string(::getpid()));
  std::ofstream(path) << "Delay = 50\r\nNoSuchProperty = 1\r\n";
  const Outcome o = RunTool({"at", "--port", "/nonexistent", "--settings", path.string(), "AT"});
  std::filesystem::remove(path);
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("NoSuchProperty"), std::string::npos) << o.err;
}

TEST(ToolUsage, AbsentPortFails) {
  const Outcome o = RunTool({"at", "--port", "/tmp/veskgsm-no-such-modem", "AT"});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("/tmp/veskgsm-no-such-modem"), std::string::npos) << o.err;
}

TEST(ToolUsage, PortsAreTheComponentsList) {
  // Only the machine's list is read, as the component reads it; nothing is
  // opened.
  TVeskGSM gsm;
  TStringList names;
  gsm.GetExistingCommPortNames(names);
  const Outcome o = RunTool({"ports", "--json"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.err, "");
  const auto lines = o.JsonLines();
  ASSERT_EQ(static_cast<int>(lines.size()), names.Count()) << o.out;
  for (int i = 0; i < names.Count(); ++i) {
    EXPECT_EQ(lines[i]["port"], WideToUtf8(names[i]));
    const std::string device = lines[i]["device"];
    EXPECT_EQ(device.rfind("/dev/", 0), 0u) << device;
  }
}

TEST(ToolUsage, EmptyOrMultiLineCommandIsBadUsage) {
  Outcome o = RunTool({"at", "--port", "/nonexistent", ""});
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("empty command"), std::string::npos) << o.err;
  o = RunTool({"at", "--port", "/nonexistent", "AT\rAT+CMGS=1"});
  EXPECT_EQ(o.status, 2);
}

// ------------------------------------------------------------------ pdu

// The codec's reference SMS-SUBMIT vectors (tests/codec/submit_test.cpp).
TEST(ToolPdu, EncodeMatchesTheCodecVectors) {
  Outcome o = RunTool({"pdu", "encode", "+15550100", "hellohello"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "21 0011000891515510000000AA0AE8329BFD4697D9EC37\n");

  o = RunTool({"pdu", "encode", "--json", "--smsc", "+15550199", "+15550100", "hellohello"});
  ASSERT_EQ(o.status, 0) << o.err;
  ASSERT_EQ(o.JsonLines().size(), 1u);
  EXPECT_EQ(o.JsonLines()[0], json::parse(R"({"length":21,"pdu":"05915155109911000891515510000000AA0AE8329BFD4697D9EC37"})"));

  o = RunTool({"pdu", "encode", "--encoding", "ucs2", "--flash", "+15550100", "hi"});
  EXPECT_EQ(o.out, "16 0011000891515510000018AA0400680069\n");
}

TEST(ToolPdu, EncodeSplitsALongTextAsASendDoes) {
  const std::string text(200, 'x');
  const Outcome o = RunTool({"pdu", "encode", "--json", "--reference", "42", "+15550100", text});
  ASSERT_EQ(o.status, 0) << o.err;
  const auto lines = o.JsonLines();
  ASSERT_EQ(lines.size(), 2u);
  // Concatenation element: reference 0x2A, two parts, part 1 then 2.
  EXPECT_NE(lines[0]["pdu"].get<std::string>().find("0500032A0201"), std::string::npos);
  EXPECT_NE(lines[1]["pdu"].get<std::string>().find("0500032A0202"), std::string::npos);
  // 153 septets behind the header in the first part: 140 octets of user
  // data after 12 octets of SMS-SUBMIT fields.
  EXPECT_EQ(lines[0]["length"], 152);

  // The parts, fed back in, give the text again.
  const Outcome back = RunTool({"pdu", "decode", "--json", lines[1]["pdu"], lines[0]["pdu"]});
  ASSERT_EQ(back.status, 0) << back.err;
  ASSERT_EQ(back.JsonLines().size(), 1u);
  EXPECT_EQ(back.JsonLines()[0]["text"], text);
}

// --info first says how the text goes; --language allows the national
// language tables (ISO 639-1 codes). 280 letters of the Turkish locking
// table: two parts with "tr", five UCS2 parts without.
TEST(ToolPdu, EncodeInfoAndLanguages) {
  std::string text;
  for (int i = 0; i < 10; ++i) text += "Ağaçlı şehirde büyük ışığı; ";
  Outcome o = RunTool({"pdu", "encode", "--info", "--json", "--language", "tr", "--reference", "42", "+15550100", text});
  ASSERT_EQ(o.status, 0) << o.err;
  auto lines = o.JsonLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], json::parse(R"({"encoding":"7bit","locking":"tr","single":null,"parts":2,
                                      "units_per_part":149,"remaining":18})"));
  // UDHL 8: the concatenation element, then the Turkish locking shift element.
  EXPECT_NE(lines[1]["pdu"].get<std::string>().find("0800032A0201250101"), std::string::npos);
  EXPECT_NE(lines[2]["pdu"].get<std::string>().find("0800032A0202250101"), std::string::npos);
  const Outcome back = RunTool({"pdu", "decode", "--json", lines[1]["pdu"], lines[2]["pdu"]});
  ASSERT_EQ(back.JsonLines().size(), 1u);
  EXPECT_EQ(back.JsonLines()[0]["text"], text);

  o = RunTool({"pdu", "encode", "--info", "+15550100", text});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out.substr(0, o.out.find('\n')), "ucs2: 5 parts of 134 octets, 55 characters left");

  o = RunTool({"pdu", "encode", "--info", "--language", "es,hi", "+15550100", "Señor García"});
  EXPECT_EQ(o.out.substr(0, o.out.find('\n')), "7bit, single es: 1 part of 155 septets, 142 septets left");

  o = RunTool({"pdu", "encode", "--language", "xx", "+15550100", "hi"});
  EXPECT_EQ(o.status, 2);
}

TEST(ToolPdu, EncodeReadsStandardInput) {
  const Outcome o = RunTool({"pdu", "encode", "+15550100", "-"}, "hellohello\n");
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "21 0011000891515510000000AA0AE8329BFD4697D9EC37\n");
}

// The codec's reference SMS-DELIVER vectors (tests/codec/deliver_test.cpp).
TEST(ToolPdu, DecodeMatchesTheCodecVectors) {
  const Outcome o = RunTool({"pdu", "decode", "--json", "0591515510000408915155103200009130415190628005E8329BFD06",
                         "07911326040000F0040B911346610089F60000208062917314480CC8F71D14969741F977FD07"});
  ASSERT_EQ(o.status, 0) << o.err;
  const auto lines = o.JsonLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], json::parse(R"({"text":"hello","sender":"+15550123","smsc":"+15550100",
                                      "timestamp":"2019-03-14T15:09:26","timezone":8})"));
  EXPECT_EQ(lines[1], json::parse(R"({"text":"How are you?","sender":"+31641600986","smsc":"+31624000000",
                                      "timestamp":"2002-08-26T19:37:41","timezone":-4})"));

  const Outcome plain = RunTool({"pdu", "decode", "0591515510000408915155103200009130415190628005E8329BFD06"});
  EXPECT_EQ(plain.out, "from +15550123 via +15550100 at 2019-03-14T15:09:26 (UTC+02:00, zone 8): hello\n");
}

TEST(ToolPdu, BadPduIsReportedWithItsReason) {
  for (const char* bad : {"0791", "zz", "059151551000040891515510320000913041519062800AE8", ""}) {
    const Outcome o = RunTool({"pdu", "decode", bad});
    EXPECT_EQ(o.status, 1) << bad;
    EXPECT_NE(o.err.find("PDU 1 does not decode: "), std::string::npos) << bad << ": " << o.err;
    EXPECT_EQ(o.out, "");
  }
}

TEST(ToolPdu, MissingPartIsReported) {
  const Outcome encoded = RunTool({"pdu", "encode", "--json", "+15550100", std::string(200, 'y')});
  ASSERT_EQ(encoded.JsonLines().size(), 2u);
  const Outcome o = RunTool({"pdu", "decode", encoded.JsonLines()[0]["pdu"]});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("incomplete"), std::string::npos) << o.err;
}

// ------------------------------------------------------------------ against the simulator

class ToolModem : public ::testing::Test {
 protected:
  ModemSimulator modem_;
  std::string Port() const { return modem_.Path(); }
};

// The keep-alive finds a modem left at the "> " prompt and brings it back;
// each step is a `health` event.
TEST_F(ToolModem, ListenWithKeepAlivePrintsTheRecoverySteps) {
  Outcome o;
  std::thread listener([&] {
    o = RunTool({"listen", "--json", "--keepalive", "1", "--seconds", "9", "--port", Port()});
  });
  // The first keep-alive "AT" after the set-up's last command shows the
  // component idle; the modem sticks only then, so that no set-up command
  // runs into the prompt and brings a second recovery.
  const auto idle = [this] {
    const std::vector<std::string> lines = modem_.Commands();
    const auto last = std::find(lines.rbegin(), lines.rend(), "AT+CGSN");
    return last != lines.rend() && std::find(lines.rbegin(), last, "AT") != last;
  };
  const bool ready = modem_.WaitForCommand("AT+CUSD=1", 10000ms) && modem_.WaitUntil(idle, 10000ms);
  if (ready) modem_.StickAtPrompt();
  listener.join();
  ASSERT_TRUE(ready) << modem_.TranscriptText();
  EXPECT_EQ(o.status, 0) << o.err;
  std::vector<std::string> steps;
  for (const json& e : o.JsonLines()) {
    if (e["event"] != "health") continue;
    steps.push_back(e["step"]);
    EXPECT_EQ(e["port"], Port());
    EXPECT_TRUE(e["reason"].is_string());
  }
  EXPECT_EQ(steps, (std::vector<std::string>{"probe_failed", "escape", "alive"})) << o.out << modem_.TranscriptText();
}

// A modem that comes back under another path is looked for on the --only
// ports, found by its IMEI and reopened there.
TEST_F(ToolModem, ListenFindsTheModemUnderAnotherPathAmongTheOnlyPorts) {
  const std::string first = Port(), moved = Port() + ".moved";
  Outcome o;
  std::thread listener([&] {
    o = RunTool({"listen", "--json", "--seconds", "4", "--port", first, "--only", first, moved});
  });
  // Set up, and the IMEI recorded.
  const bool ready = modem_.WaitForCommand("AT+CUSD=1", 10000ms) && modem_.WaitForCommand("AT+CGSN", 10000ms);
  if (ready) {
    std::this_thread::sleep_for(200ms);
    modem_.ReplugAs(moved, 300ms);
  }
  listener.join();
  ::unlink(moved.c_str());
  ASSERT_TRUE(ready);
  EXPECT_EQ(o.status, 0) << o.err;
  bool found = false;
  for (const json& e : o.JsonLines())
    if (e["event"] == "health" && e["step"] == "found") found = e["port"] == moved;
  EXPECT_TRUE(found) << o.out;
}

TEST_F(ToolModem, AtPrintsTheAnswerLines) {
  Outcome o = RunTool({"at", "--port", Port(), "AT+CSQ", "AT+CGMI"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "+CSQ: 23,99\nOK\nVeskSoft\nOK\n");

  o = RunTool({"at", "--json", "--port", Port(), "AT+NOSUCH"});
  EXPECT_EQ(o.status, 1);
  ASSERT_EQ(o.JsonLines().size(), 1u);
  EXPECT_EQ(o.JsonLines()[0]["command"], "AT+NOSUCH");
  EXPECT_EQ(o.JsonLines()[0]["ok"], false);
}

TEST_F(ToolModem, InfoReadsIdentityAndSignal) {
  const Outcome o = RunTool({"info", "--json", "--port", Port()});
  ASSERT_EQ(o.status, 0) << o.err;
  ASSERT_EQ(o.JsonLines().size(), 1u);
  const json info = o.JsonLines()[0];
  EXPECT_EQ(info["imei"], "490154203237518");
  EXPECT_EQ(info["signal"], 23);
  // Every probe succeeds on the simulator.
  EXPECT_EQ(info["capabilities"], 2 + 4 + 8 + 16 + 32 + 64 + 128);
  // The modem's state.
  EXPECT_EQ(info["sim"], "ready");
  EXPECT_EQ(info["pin_retries"], 3);
  EXPECT_EQ(info["registration"], "home");
  EXPECT_EQ(info["operator"], "VESK");
  EXPECT_EQ(info["technology"], "E-UTRAN");
  EXPECT_EQ(info["smsc"], "+15550100");
}

TEST(ToolState, InfoOfALockedSimOffTheNetwork) {
  ModemConfig config;
  config.pin = "1234";
  config.registration = 2;
  ModemSimulator modem(config);
  const Outcome o = RunTool({"info", "--json", "--port", modem.Path()});
  ASSERT_EQ(o.JsonLines().size(), 1u) << o.err;
  const json info = o.JsonLines()[0];
  EXPECT_EQ(info["sim"], "pin");
  EXPECT_EQ(info["pin_retries"], 3);
  EXPECT_EQ(info["registration"], "searching");
  EXPECT_EQ(info["operator"], nullptr);
  EXPECT_EQ(info["technology"], nullptr);
  const Outcome plain = RunTool({"info", "--port", modem.Path()});
  EXPECT_NE(plain.out.find("SIM pin (3 PIN tries left)"), std::string::npos) << plain.out;
  EXPECT_NE(plain.out.find("network searching"), std::string::npos) << plain.out;
}

TEST_F(ToolModem, UssdPrintsTheNetworksAnswer) {
  Outcome o = RunTool({"ussd", "--json", "--port", Port(), "*100#"});
  ASSERT_EQ(o.status, 0) << o.err;
  ASSERT_EQ(o.JsonLines().size(), 1u);
  EXPECT_EQ(o.JsonLines()[0]["status"], 0);
  EXPECT_EQ(o.JsonLines()[0]["text"], "Your balance is 12.34 EUR, valid until 31/12/2026.");
  EXPECT_EQ(o.JsonLines()[0]["dcs"], 15);
  // A menu in one go, each reply to the menu before it.
  o = RunTool({"ussd", "--json", "--port", Port(), "*101#", "--reply", "2", "--reply", "1"});
  ASSERT_EQ(o.status, 0) << o.err;
  ASSERT_EQ(o.JsonLines().size(), 3u);
  EXPECT_EQ(o.JsonLines()[0]["status"], 1);
  EXPECT_EQ(o.JsonLines()[0]["text"], "Menu\n1 Balance\n2 Bundles");
  EXPECT_EQ(o.JsonLines()[1]["text"], "Bundles\n1 Daily 1 GB\n2 Weekly 5 GB");
  EXPECT_EQ(o.JsonLines()[2]["status"], 0);
  EXPECT_EQ(o.JsonLines()[2]["text"], "Daily 1 GB bundle activated");
  // Or one step a run: the session stays open in between.
  o = RunTool({"ussd", "--port", Port(), "*101#"});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "further action required: Menu\n1 Balance\n2 Bundles\n");
  o = RunTool({"ussd", "--json", "--port", Port(), "--reply", "1"});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.JsonLines()[0]["text"], "Balance: 12.34 EUR");
}

TEST_F(ToolModem, UssdFailuresAndUsage) {
  Outcome o = RunTool({"ussd", "--json", "--port", Port(), "*103#"});
  EXPECT_EQ(o.status, 1);
  ASSERT_EQ(o.JsonLines().size(), 1u);
  EXPECT_EQ(o.JsonLines()[0]["status"], 5);
  EXPECT_EQ(o.JsonLines()[0]["status_text"], "network time-out");
  EXPECT_EQ(RunTool({"ussd", "--port", Port(), "*100#;ATH"}).status, 2);
  EXPECT_EQ(RunTool({"ussd", "--port", Port()}).status, 2);
  o = RunTool({"ussd", "--json", "--port", Port(), "--cancel"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.JsonLines()[0]["cancelled"], true);
}

TEST(ToolState, PinAndPuk) {
  ModemConfig config;
  config.pin = "1234";
  ModemSimulator modem(config);
  Outcome o = RunTool({"pin", "--json", "--port", modem.Path(), "0000"});
  EXPECT_EQ(o.status, 1);
  ASSERT_EQ(o.JsonLines().size(), 1u) << o.err;
  EXPECT_EQ(o.JsonLines()[0]["unlocked"], false);
  EXPECT_EQ(o.JsonLines()[0]["error"], "+CME ERROR: 16");
  EXPECT_EQ(o.JsonLines()[0]["error_kind"], "cme");
  EXPECT_EQ(o.JsonLines()[0]["error_code"], 16);
  EXPECT_EQ(o.JsonLines()[0]["error_text"], "incorrect password");
  EXPECT_EQ(o.JsonLines()[0]["pin_retries"], 2);
  EXPECT_EQ(RunTool({"pin", "--port", modem.Path(), "1111"}).status, 1);
  // One try left: refused unless it is meant to be the last.
  o = RunTool({"pin", "--json", "--port", modem.Path(), "2222"});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.JsonLines()[0]["error_kind"], "none");
  EXPECT_EQ(o.JsonLines()[0]["error_code"], nullptr);
  EXPECT_EQ(o.JsonLines()[0]["pin_retries"], 1);
  o = RunTool({"pin", "--json", "--port", modem.Path(), "--last-try", "2222"});
  EXPECT_EQ(o.JsonLines()[0]["sim"], "puk");
  o = RunTool({"pin", "--json", "--port", modem.Path(), "--puk", "12345678", "--new-pin", "4321"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.JsonLines()[0]["unlocked"], true);
  EXPECT_EQ(o.JsonLines()[0]["sim"], "ready");
  EXPECT_EQ(RunTool({"pin", "--port", modem.Path(), "--puk", "12345678"}).status, 2);
  EXPECT_EQ(RunTool({"pin", "--port", modem.Path()}).status, 2);
}

TEST_F(ToolModem, SendReturnsZeroAndTheModemHoldsThePdu) {
  const Outcome o = RunTool({"send", "--wait-for-prompt", "--port", Port(), "+15550100", "hellohello"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "sent, message reference(s) 0\n");
  const auto sent = modem_.Submitted();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].pdu, "0011000891515510000000AA0AE8329BFD4697D9EC37");
  EXPECT_EQ(sent[0].text, "hellohello");
}

TEST_F(ToolModem, SendWithALanguage) {
  const Outcome o =
      RunTool({"send", "--wait-for-prompt", "--language", "tr", "--port", Port(), "+15550100", "Ağrı ışığı"});
  EXPECT_EQ(o.status, 0) << o.err;
  const auto sent = modem_.Submitted();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].singleShift, 1);
  EXPECT_EQ(sent[0].text, "Ağrı ışığı");
  EXPECT_EQ(RunTool({"send", "--text-mode", "--language", "tr", "--port", Port(), "+15550100", "hi"}).status, 2);
}

TEST_F(ToolModem, SendInTextModeFromStandardInput) {
  const Outcome o =
      RunTool({"send", "--json", "--text-mode", "--wait-for-prompt", "--port", Port(), "+15550100", "-"}, "Grüße\n");
  EXPECT_EQ(o.status, 0) << o.err;
  ASSERT_EQ(o.JsonLines().size(), 1u);
  EXPECT_EQ(o.JsonLines()[0]["sent"], true);
  const auto sent = modem_.Submitted();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_FALSE(sent[0].pduMode);
  EXPECT_EQ(sent[0].destination, "+15550100");
}

TEST_F(ToolModem, SendFailurePrintsTheModemsReason) {
  modem_.FailNextSends(1, "+CMS ERROR: 38");
  const Outcome o = RunTool({"send", "--json", "--wait-for-prompt", "--port", Port(), "+15550100", "hi"});
  EXPECT_EQ(o.status, 1);
  ASSERT_EQ(o.JsonLines().size(), 1u);
  EXPECT_EQ(o.JsonLines()[0]["sent"], false);
  EXPECT_EQ(o.JsonLines()[0]["error"], "+CMS ERROR: 38");
  EXPECT_EQ(o.JsonLines()[0]["error_kind"], "cms");
  EXPECT_EQ(o.JsonLines()[0]["error_code"], 38);
  EXPECT_EQ(o.JsonLines()[0]["error_text"], "Network out of order");
}

TEST_F(ToolModem, ListenPrintsAnInjectedMessage) {
  Outcome o;
  std::thread listener([&] { o = RunTool({"listen", "--json", "--seconds", "3", "--port", Port()}); });
  // Once the modem is set up (its last step switches USSD results on).
  const bool ready = modem_.WaitForCommand("AT+CUSD=1", 10000ms);
  IncomingSms sms;
  sms.text = "ping from the network";
  sms.sender = "+15550777";
  if (ready) modem_.DeliverSms(sms);
  listener.join();
  ASSERT_TRUE(ready);
  EXPECT_EQ(o.status, 0) << o.err;
  bool connected = false, announced = false, read = false, disconnected = false;
  for (const json& e : o.JsonLines()) {
    const std::string event = e["event"];
    if (event == "connect") connected = e["port"] == Port();
    if (event == "disconnect") disconnected = true;
    if (event == "new_message") announced = e["storage"] == "SM" && e["index"] == 1;
    if (event == "message") {
      read = true;
      EXPECT_EQ(e["text"], "ping from the network");
      EXPECT_EQ(e["sender"], "+15550777");
      EXPECT_EQ(e["smsc"], "+15550100");
      EXPECT_EQ(e["timestamp"], "2019-03-14T15:09:26");
      EXPECT_EQ(e["timezone"], 8);
      EXPECT_EQ(e["status"], 0);
      EXPECT_EQ(e["listing"], false);
      EXPECT_EQ(e["storage"], "SM");
      EXPECT_EQ(e["indexes"], json::array({1}));
    }
  }
  EXPECT_TRUE(connected) << o.out;
  EXPECT_TRUE(announced) << o.out;
  EXPECT_TRUE(read) << o.out;
  EXPECT_TRUE(disconnected) << o.out;
}

TEST_F(ToolModem, ListenPrintsRegistrationsAndNetworkUssd) {
  Outcome o;
  std::thread listener([&] { o = RunTool({"listen", "--json", "--seconds", "3", "--port", Port()}); });
  const bool ready = modem_.WaitForCommand("AT+CUSD=1", 10000ms);
  if (ready) {
    modem_.SetRegistration(5);
    modem_.SendUssd(0, "Your bonus has arrived");
  }
  listener.join();
  ASSERT_TRUE(ready);
  EXPECT_EQ(o.status, 0) << o.err;
  std::vector<json> registrations, ussd;
  for (const json& e : o.JsonLines()) {
    if (e["event"] == "registration") registrations.push_back(e);
    if (e["event"] == "ussd") ussd.push_back(e);
  }
  ASSERT_EQ(registrations.size(), 3u) << o.out;  // +CREG, +CGREG, +CEREG
  EXPECT_EQ(registrations[0]["status"], "roaming");
  EXPECT_EQ(registrations[0]["source"], "+CREG");
  EXPECT_EQ(registrations[0]["area"], "1A2B");
  EXPECT_EQ(registrations[2]["technology"], "E-UTRAN");
  ASSERT_EQ(ussd.size(), 1u) << o.out;
  EXPECT_EQ(ussd[0]["status"], 0);
  EXPECT_EQ(ussd[0]["text"], "Your bonus has arrived");
}

// ------------------------------------------------------------------ delivery reports and direct delivery

class ToolReports : public ::testing::Test {
 protected:
  static ModemConfig Config(int status, std::chrono::milliseconds delay) {
    ModemConfig config;
    config.reports.status = status;
    config.reports.delay = delay;
    return config;
  }
  void Start(const ModemConfig& config) { modem_ = std::make_unique<ModemSimulator>(config); }
  std::string Port() const { return modem_->Path(); }
  std::unique_ptr<ModemSimulator> modem_;
};

TEST_F(ToolReports, SendWithReportWaitsForTheOutcome) {
  Start(Config(report_status::kDelivered, 200ms));
  const Outcome o =
      RunTool({"send", "--json", "--report", "--wait-for-prompt", "--port", Port(), "+15550100", "hellohello"});
  EXPECT_EQ(o.status, 0) << o.err;
  ASSERT_EQ(o.JsonLines().size(), 1u) << o.out;
  EXPECT_EQ(o.JsonLines()[0], json::parse(R"({"sent":true,"references":[0],"delivery":"delivered","status":0,
      "message_status":{"recipient":"+15550100","references":[0],"outcome":"delivered"}})"));
  // TP-SRR went with the message.
  EXPECT_EQ(modem_->Submitted().at(0).pdu, "0031000891515510000000AA0AE8329BFD4697D9EC37");
}

TEST_F(ToolReports, SendWithReportTellsAFailure) {
  Start(Config(report_status::kIncompatibleDestination, 100ms));
  const Outcome o = RunTool({"send", "--report", "--wait-for-prompt", "--port", Port(), "+15550100", "hi"});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "sent, message reference(s) 0\nfailed (status 65)\n");
}

TEST_F(ToolReports, SendWithReportGivesUpAfterItsTimeout) {
  Start(Config(report_status::kDelivered, 60000ms));
  const Outcome o = RunTool({"send", "--json", "--report", "--report-timeout", "0.5", "--wait-for-prompt", "--port",
                             Port(), "+15550100", "hi"});
  EXPECT_EQ(o.status, 1);
  ASSERT_EQ(o.JsonLines().size(), 1u) << o.out;
  EXPECT_EQ(o.JsonLines()[0]["delivery"], "unknown");
  EXPECT_TRUE(o.JsonLines()[0]["status"].is_null());
  EXPECT_TRUE(o.JsonLines()[0]["message_status"].is_null());
}

TEST_F(ToolReports, ListenPrintsStatusReports) {
  Start({});
  Outcome o;
  std::thread listener([&] { o = RunTool({"listen", "--json", "--seconds", "3", "--port", Port()}); });
  const bool ready = modem_->WaitForCommand("AT+CUSD=1", 10000ms);  // the set-up's last
  StatusReportRequest report;
  report.serviceCentre = "+15550100";
  report.messageReference = 77;
  report.recipient = "+15550199";
  report.status = report_status::kValidityExpired;
  report.discharged.second = 40;
  const SmsPdu pdu = EncodeStatusReport(report);
  if (ready) modem_->SendRaw("\r\n+CDS: " + std::to_string(pdu.TpduLength()) + "\r\n" + pdu.Hex() + "\r\n");
  listener.join();
  ASSERT_TRUE(ready);
  EXPECT_EQ(o.status, 0) << o.err;
  std::vector<json> reports;
  for (const json& e : o.JsonLines())
    if (e["event"] == "status_report") reports.push_back(e);
  ASSERT_EQ(reports.size(), 1u) << o.out;
  EXPECT_EQ(reports[0], json::parse(R"({"event":"status_report","reference":77,"recipient":"+15550199","status":70,
      "delivered":false,"discharge":"2019-03-14T15:09:40"})"));
}

TEST_F(ToolReports, ListenDirect) {
  Start({});
  Outcome o;
  std::thread listener([&] { o = RunTool({"listen", "--json", "--direct", "--seconds", "3", "--port", Port()}); });
  const bool ready = modem_->WaitForCommand("AT+CUSD=1", 10000ms);  // the set-up's last
  IncomingSms sms;
  sms.text = "straight through";
  if (ready) modem_->DeliverSms(sms);
  listener.join();
  ASSERT_TRUE(ready);
  EXPECT_EQ(o.status, 0) << o.err;
  std::vector<std::string> texts;
  for (const json& e : o.JsonLines())
    if (e["event"] == "message") texts.push_back(e["text"]);
  EXPECT_EQ(texts, std::vector<std::string>{"straight through"}) << o.out;
  EXPECT_TRUE(modem_->Stored().empty());
  EXPECT_EQ(modem_->Acknowledgements(), 1);
}

TEST_F(ToolReports, ListenWithACheckIntervalFindsAMessageWithoutItsNotice) {
  Start({});
  modem_->DropNextNotices(1);
  Outcome o;
  std::thread listener([&] {
    o = RunTool({"listen", "--json", "--check-interval", "1", "--seconds", "4", "--port", Port()});
  });
  const bool ready = modem_->WaitForCommand("AT+CUSD=1", 10000ms);  // the set-up's last
  IncomingSms sms;
  sms.text = "found by the check";
  if (ready) modem_->DeliverSms(sms);
  listener.join();
  ASSERT_TRUE(ready);
  EXPECT_EQ(o.status, 0) << o.err;
  std::vector<json> messages;
  for (const json& e : o.JsonLines())
    if (e["event"] == "message") messages.push_back(e);
  ASSERT_EQ(messages.size(), 1u) << o.out;
  EXPECT_EQ(messages[0]["text"], "found by the check");
  EXPECT_EQ(messages[0]["listing"], true);
}

TEST_F(ToolModem, ListThenDelete) {
  IncomingSms one;
  one.text = "first";
  one.announce = false;
  modem_.DeliverSms(one);
  IncomingSms two;
  two.text = std::string(170, 'z');  // two parts
  two.announce = false;
  modem_.DeliverSms(two);

  Outcome o = RunTool({"list", "--json", "--port", Port()});
  ASSERT_EQ(o.status, 0) << o.err;
  auto lines = o.JsonLines();
  ASSERT_EQ(lines.size(), 2u) << o.out;
  EXPECT_EQ(lines[0]["text"], "first");
  EXPECT_EQ(lines[0]["indexes"], json::array({1}));
  EXPECT_EQ(lines[0]["storage"], "SM");
  EXPECT_EQ(lines[1]["text"], std::string(170, 'z'));
  EXPECT_EQ(lines[1]["indexes"], json::array({2, 3}));

  o = RunTool({"delete", "--port", Port(), "1", "3"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "SM 1 deleted\nSM 3 deleted\n");
  ASSERT_EQ(modem_.Stored().size(), 1u);
  EXPECT_EQ(modem_.Stored()[0].index, 2);

  // A position outside the storage: the modem refuses, the tool says so.
  o = RunTool({"delete", "--json", "--port", Port(), "99"});
  EXPECT_EQ(o.status, 1);
  ASSERT_EQ(o.JsonLines().size(), 1u);
  EXPECT_EQ(o.JsonLines()[0], json::parse(R"({"storage":"SM","index":99,"deleted":false})"));

  o = RunTool({"delete", "--port", Port(), "--all"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_TRUE(modem_.Stored().empty());

  o = RunTool({"list", "--port", Port()});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "");
}

TEST_F(ToolModem, ListOfAnUnknownStorageFails) {
  const Outcome o = RunTool({"list", "--port", Port(), "--storage", "XX"});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("XX"), std::string::npos) << o.err;
}

// The scan over a port the test names (never the machine's list): the
// modem answers at 19200 only, the scan starts at 38400 and goes down.
TEST(ToolDetect, FindsTheModemAtItsSpeed) {
  ModemConfig config;
  config.quirks.lineSpeed = 19200;
  ModemSimulator modem(config);
  const Outcome o = RunTool({"detect", "--json", "--only", modem.Path(), "--from", "9600", "--to", "38400"});
  ASSERT_EQ(o.status, 0) << o.err;
  ASSERT_EQ(o.JsonLines().size(), 1u);
  EXPECT_EQ(o.JsonLines()[0], json({{"port", modem.Path()}, {"baud", 19200}}));
  EXPECT_NE(o.err.find("trying " + modem.Path() + " at 38400 bit/s\ntrying " + modem.Path() + " at 19200 bit/s\n"),
            std::string::npos)
      << o.err;
  EXPECT_EQ(o.err.find("at 9600"), std::string::npos) << o.err;  // found before
}

TEST(ToolDetect, NothingAnswersOnAnAbsentPort) {
  const Outcome o = RunTool({"detect", "--only", "/tmp/veskgsm-no-such-modem", "--from", "9600", "--to", "9600"});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("no modem answered"), std::string::npos) << o.err;
  EXPECT_EQ(o.out, "");
}

TEST(ToolDetect, SpeedsMustBeStandardAndInOrder) {
  Outcome o = RunTool({"detect", "--only", "/tmp/veskgsm-no-such-modem", "--from", "9601"});
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("not a standard speed"), std::string::npos) << o.err;
  o = RunTool({"detect", "--only", "/tmp/veskgsm-no-such-modem", "--from", "19200", "--to", "9600"});
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("--from must not be above --to"), std::string::npos) << o.err;
}

// The example application of examples/ sends, then prints what comes in.
TEST_F(ToolModem, ExampleApplicationSendsAndReceives) {
  Outcome o;
  std::thread app([&] { o = RunProgram(EXAMPLE_SEND_RECEIVE, {Port(), "+15550100", "hello from the example", "3"}); });
  const bool sent = modem_.WaitForSubmitted(1, 10000ms) && modem_.WaitForCommand("AT+CNMI=2,1", 1000ms);
  IncomingSms sms;
  sms.text = "and hello back";
  if (sent) modem_.DeliverSms(sms);
  app.join();
  ASSERT_TRUE(sent);
  EXPECT_EQ(modem_.Submitted()[0].text, "hello from the example");
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("sent to +15550100\n"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("message from +15550123 (centre +15550100, sent 2019-03-14 15:09:26): and hello back\n"),
            std::string::npos)
      << o.out;
}

}  // namespace
}  // namespace vesk::sim
