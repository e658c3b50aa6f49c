// veskgsm: the library's command-line face. Every sub-command is a thin use
// of TVeskGSM's public calls; --json turns each result line into one JSON
// object (the field names are documented in the README and are kept).
//
// Exit status: 0 success, 1 when the modem said no or nothing answered,
// 2 for bad usage (with a message on standard error).
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "tools/cli/Commands.h"
#include "tools/gateway/Commands.h"
#include "tools/gateway/Gateway.h"

namespace {

void AddCommon(CLI::App& sub, vesk::cli::CommonOptions& common) {
  sub.add_flag("--json", common.json, "one JSON object per line");
  sub.add_option("--baud", common.baud, "line speed in bit/s")->check(CLI::Range(1, 4000000));
  sub.add_option("--delay", common.delay, "milliseconds between two polls of the port")->check(CLI::Range(1, 60000));
  sub.add_option("--log", common.log, "append the received traffic to FILE");
  sub.add_option("--settings", common.settings,
                 "published properties, one \"Name = Value\" line each, applied before the options");
}

void AddPort(CLI::App& sub, vesk::cli::CommonOptions& common) {
  AddCommon(sub, common);
  sub.add_option("--port,-p", common.port, "the modem's port: a device path, or COMn")->required();
}

const char* const kLanguageHelp =
    "national language tables the text may go in, ISO 639-1 codes: tr,es,pt,bn,gu,hi,kn,ml,or,pa,ta,te,ur";
const CLI::IsMember kLanguageCheck({"tr", "es", "pt", "bn", "gu", "hi", "kn", "ml", "or", "pa", "ta", "te", "ur"});

}  // namespace

int main(int argc, char** argv) {
  using namespace vesk::cli;
  std::signal(SIGPIPE, SIG_IGN);

  CLI::App app{"veskgsm: drive a GSM modem on a serial port", "veskgsm"};
  app.require_subcommand(1);
  app.set_help_all_flag("--help-all", "help for every sub-command");

  CommonOptions common;

  CLI::App* ports = app.add_subcommand("ports", "list the serial ports present");
  AddCommon(*ports, common);

  DetectOptions detectOptions;
  CLI::App* detect = app.add_subcommand("detect", "scan the serial ports and line speeds for a modem");
  AddCommon(*detect, common);
  detect->add_option("--from", detectOptions.from, "the lowest speed tried, bit/s (default 75)");
  detect->add_option("--to", detectOptions.to, "the highest speed tried, bit/s (default 921600)");
  detect->add_option("--only", detectOptions.only, "try these ports only (device paths), not the machine's list");

  CLI::App* at = app.add_subcommand("at", "run AT commands and print their answer lines");
  AddPort(*at, common);
  AtOptions atOptions;
  at->add_option("--timeout", atOptions.timeout, "seconds to wait for each answer")->check(CLI::Range(1, 600));
  at->add_option("COMMAND", atOptions.commands, "commands, such as AT+CSQ")->required();

  CLI::App* info = app.add_subcommand(
      "info", "the modem's IMEI, signal strength, capabilities, SIM, network, operator and service centre");
  AddPort(*info, common);

  UssdOptions ussdOptions;
  CLI::App* ussd = app.add_subcommand("ussd", "send a USSD code (a balance, a menu) and print the network's answer");
  AddPort(*ussd, common);
  ussd->add_option("--timeout", ussdOptions.timeout, "seconds to wait for each answer (default 30)")
      ->check(CLI::Range(1, 600));
  ussd->add_option("--reply", ussdOptions.replies, "answer a menu with TEXT (again for each further menu)");
  ussd->add_flag("--cancel", ussdOptions.cancel, "end the USSD session (AT+CUSD=2)");
  ussd->add_option("CODE", ussdOptions.code, "the code, such as *100# (digits, *, #, +)");

  PinOptions pinOptions;
  CLI::App* pin = app.add_subcommand("pin", "unlock the SIM with its PIN, or with its PUK and a new PIN");
  AddPort(*pin, common);
  pin->add_flag("--last-try", pinOptions.lastTry, "send the PIN even when it is the last try left");
  CLI::Option* pukOption = pin->add_option("--puk", pinOptions.puk, "the PUK (8 digits)");
  pin->add_option("--new-pin", pinOptions.newPin, "the new PIN set with the PUK (4 to 8 digits)")->needs(pukOption);
  pin->add_option("PIN", pinOptions.pin, "the PIN (4 to 8 digits)")->excludes(pukOption);

  SendOptions sendOptions;
  CLI::App* send = app.add_subcommand("send", "send a short message");
  AddPort(*send, common);
  send->add_option("--smsc", sendOptions.smsc, "the service centre's number");
  send->add_option("--encoding", sendOptions.encoding, "auto, 7bit, 8bit or ucs2")
      ->check(CLI::IsMember({"auto", "7bit", "8bit", "ucs2"}));
  send->add_option("--language", sendOptions.languages, kLanguageHelp)->delimiter(',')->check(kLanguageCheck);
  send->add_flag("--flash", sendOptions.flash, "a class 0 message, shown at once");
  send->add_flag("--text-mode", sendOptions.textMode, "send in the modem's text mode");
  send->add_flag("--wait-for-prompt", sendOptions.waitForPrompt, "wait for the modem at each step, not fixed pauses");
  send->add_flag("--report", sendOptions.report, "ask for a status report and wait for the message's outcome");
  send->add_option("--report-timeout", sendOptions.reportTimeout,
                   "seconds to wait for the outcome with --report (default 120)")
      ->check(CLI::Range(0.0, 1e7));
  send->add_option("NUMBER", sendOptions.number, "the recipient's number")->required();
  send->add_option("TEXT", sendOptions.text, "the message in UTF-8, or - for standard input")->required();

  ListenOptions listenOptions;
  CLI::App* listen = app.add_subcommand("listen", "print the modem's events as they come");
  AddPort(*listen, common);
  listen->add_option("--seconds", listenOptions.seconds, "stop after this many seconds (default: until interrupted)")
      ->check(CLI::Range(0.0, 1e7));
  listen->add_flag("--direct", listenOptions.direct,
                   "messages and reports routed straight to the tool (+CMT, +CDS), never stored");
  listen
      ->add_option("--check-interval", listenOptions.checkInterval,
                   "list the storage's unread messages every N seconds (0: never)")
      ->check(CLI::Range(0, 86400));
  listen
      ->add_option("--keepalive", listenOptions.keepAlive,
                   "ask the modem AT after N idle seconds, and bring it back when it stops answering (0: never)")
      ->check(CLI::Range(0, 86400));
  listen->add_option("--only", listenOptions.only,
                     "look for the modem (by its IMEI) on these ports only when it comes back under another name");

  StorageOptions storageOptions;
  CLI::App* list = app.add_subcommand("list", "list the stored messages");
  AddPort(*list, common);
  list->add_option("--storage", storageOptions.storage, "the storage: SM, ME ...");

  CLI::App* del = app.add_subcommand("delete", "delete stored messages");
  AddPort(*del, common);
  del->add_option("--storage", storageOptions.storage, "the storage: SM, ME ...");
  CLI::Option* all = del->add_flag("--all", storageOptions.all, "every message of the storage");
  del->add_option("INDEX", storageOptions.indexes, "stored indexes")->excludes(all)->check(CLI::NonNegativeNumber);

  CLI::App* pdu = app.add_subcommand("pdu", "the SMS codec without a modem");
  pdu->require_subcommand(1);
  EncodeOptions encodeOptions;
  CLI::App* encode = pdu->add_subcommand("encode", "the SMS-SUBMIT PDUs a send would write, one line per part");
  AddCommon(*encode, common);
  encode->add_option("--smsc", encodeOptions.smsc, "the service centre's number");
  encode->add_option("--encoding", encodeOptions.encoding, "auto, 7bit, 8bit or ucs2")
      ->check(CLI::IsMember({"auto", "7bit", "8bit", "ucs2"}));
  encode->add_option("--language", encodeOptions.languages, kLanguageHelp)->delimiter(',')->check(kLanguageCheck);
  encode->add_flag("--info", encodeOptions.info,
                   "first how the text goes: encoding, tables, parts, units a part holds, room left in the last");
  encode->add_flag("--flash", encodeOptions.flash, "a class 0 message");
  encode->add_option("--reference", encodeOptions.reference,
                     "the concatenation reference of a long message (default: random, as a send picks it)")
      ->check(CLI::Range(0, 255));
  encode->add_option("NUMBER", encodeOptions.number, "the recipient's number")->required();
  encode->add_option("TEXT", encodeOptions.text, "the message in UTF-8, or - for standard input")->required();
  std::vector<std::string> decodeHex;
  CLI::App* decode = pdu->add_subcommand("decode", "decode SMS-DELIVER PDUs, fed in order; one line per message");
  AddCommon(*decode, common);
  decode->add_option("HEX", decodeHex, "PDUs in hexadecimal, service centre part first")->required();

  SimulateOptions simulateOptions;
  CLI::App* simulate = app.add_subcommand("simulate", "run the modem simulator until interrupted");
  simulate->add_option("--link", simulateOptions.link, "the path clients open (default: a fresh one under /tmp)");
  simulate->add_option("--baud", simulateOptions.baud, "answer only at this line speed")->check(CLI::Range(1, 4000000));
  simulate->allow_extras();
  simulate->footer("Further options go to the simulator itself: veskgsm simulate --help-sim lists them.\n"
                   "Lines on standard input inject events (sms, call, unplug, plug ...; 'help' lists them).");

  CLI::App* demo = app.add_subcommand("demo", "walk through the library on the simulator");
  (void)demo;

  // The gateway: a pool of modems and a store (tools/gateway/).
  std::string serveConfig, logLevel = "info", logFile;
  CLI::App* serve = app.add_subcommand("serve", "run the SMS gateway over the modems of a configuration");
  serve->add_option("--config,-c", serveConfig, "the gateway's configuration (TOML)")->required();
  serve->add_option("--log-level", logLevel, "error, warn, info or debug")
      ->check(CLI::IsMember({"error", "warn", "info", "debug"}));
  serve->add_option("--log", logFile, "append the log to FILE (reopened on SIGHUP), not standard error");

  vesk::gateway::QueueOptions queueOptions;
  CLI::App* queue = app.add_subcommand("queue", "queue a message for the gateway to send; prints its id");
  queue->add_option("--config,-c", queueOptions.config, "the gateway's configuration (TOML)")->required();
  queue->add_option("--priority", queueOptions.priority, "higher goes first (default 0)");
  queue->add_option("--not-before", queueOptions.notBefore, "not sent before: 2024-05-01T12:00:00Z, +30m, @EPOCH");
  queue->add_option("--not-after", queueOptions.notAfter, "expires unsent after this time");
  queue->add_option("--modem", queueOptions.modem, "only this modem may send it");
  queue->add_option("--encoding", queueOptions.encoding, "auto, 7bit, 8bit or ucs2")
      ->check(CLI::IsMember({"auto", "7bit", "8bit", "ucs2"}));
  queue->add_flag("--flash", queueOptions.flash, "a class 0 message, shown at once");
  queue->add_flag("--json", queueOptions.json, "print {\"id\", \"state\", \"parts\"}");
  queue->add_option("NUMBER", queueOptions.number, "the recipient's number")->required();
  queue->add_option("TEXT", queueOptions.text, "the message in UTF-8, or - for standard input")->required();

  vesk::gateway::MessagesOptions messagesOptions;
  CLI::App* messages = app.add_subcommand("messages", "the gateway's outgoing messages and their states");
  messages->add_option("--config,-c", messagesOptions.config, "the gateway's configuration (TOML)")->required();
  messages->add_option("--state", messagesOptions.state, "only messages in this state");
  messages->add_option("--id", messagesOptions.id, "only this message")->check(CLI::PositiveNumber);
  messages->add_flag("--json", messagesOptions.json, "one JSON object per line");

  vesk::gateway::InboxOptions inboxOptions;
  CLI::App* inbox = app.add_subcommand("inbox", "the messages the gateway received");
  inbox->add_option("--config,-c", inboxOptions.config, "the gateway's configuration (TOML)")->required();
  inbox->add_option("--after", inboxOptions.after, "only entries after this id")->check(CLI::NonNegativeNumber);
  inbox->add_flag("--json", inboxOptions.json, "one JSON object per line");

  vesk::gateway::StatusOptions statusOptions;
  CLI::App* status = app.add_subcommand("status", "the gateway's modems, queue and last errors, from its store");
  status->add_option("--config,-c", statusOptions.config, "the gateway's configuration (TOML)")->required();
  status->add_flag("--json", statusOptions.json, "one JSON object");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return 0;
  } catch (const CLI::CallForAllHelp&) {
    std::cout << app.help("", CLI::AppFormatMode::All);
    return 0;
  } catch (const CLI::ParseError& e) {
    std::string command = "veskgsm";
    for (CLI::App* sub : app.get_subcommands()) {
      command += " " + sub->get_name();
      for (CLI::App* inner : sub->get_subcommands()) command += " " + inner->get_name();
    }
    std::cerr << "veskgsm: " << e.what() << "\n";
    std::cerr << "Run '" << command << " --help' for usage.\n";
    return kExitUsage;
  }

  try {
    if (*ports) return RunPorts(common, std::cout, std::cerr);
    if (*detect) return RunDetect(common, detectOptions, std::cout, std::cerr);
    if (*at) return RunAt(common, atOptions, std::cout, std::cerr);
    if (*info) return RunInfo(common, std::cout, std::cerr);
    if (*ussd) return RunUssd(common, ussdOptions, std::cout, std::cerr);
    if (*pin) return RunPin(common, pinOptions, std::cout, std::cerr);
    if (*send) return RunSend(common, sendOptions, std::cout, std::cerr);
    if (*listen) return RunListen(common, listenOptions, std::cout, std::cerr);
    if (*list) return RunList(common, storageOptions, std::cout, std::cerr);
    if (*del) return RunDelete(common, storageOptions, std::cout, std::cerr);
    if (*encode) return RunEncode(common, encodeOptions, std::cout, std::cerr);
    if (*decode) return RunDecode(common, decodeHex, std::cout, std::cerr);
    if (*simulate) {
      simulateOptions.extra = simulate->remaining();
      return RunSimulate(simulateOptions, std::cout, std::cerr);
    }
    if (*demo) return RunDemoCommand();
    if (*serve) return vesk::gateway::Serve(serveConfig, logLevel, logFile, std::cerr);
    if (*queue) {
      if (queueOptions.text == "-") {
        queueOptions.text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        if (!queueOptions.text.empty() && queueOptions.text.back() == '\n') queueOptions.text.pop_back();
        if (!queueOptions.text.empty() && queueOptions.text.back() == '\r') queueOptions.text.pop_back();
      }
      return vesk::gateway::RunQueue(queueOptions, std::cout, std::cerr);
    }
    if (*messages) return vesk::gateway::RunMessages(messagesOptions, std::cout, std::cerr);
    if (*inbox) return vesk::gateway::RunInbox(inboxOptions, std::cout, std::cerr);
    if (*status) return vesk::gateway::RunStatus(statusOptions, std::cout, std::cerr);
  } catch (const UsageError& e) {
    std::cerr << "veskgsm: " << e.what() << "\n";
    return kExitUsage;
  } catch (const std::exception& e) {
    std::cerr << "veskgsm: " << e.what() << "\n";
    return kExitFailed;
  }
  return kExitUsage;
}
