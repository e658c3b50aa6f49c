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

  CLI::App* info = app.add_subcommand("info", "the modem's IMEI, signal strength and capability mask");
  AddPort(*info, common);

  SendOptions sendOptions;
  CLI::App* send = app.add_subcommand("send", "send a short message");
  AddPort(*send, common);
  send->add_option("--smsc", sendOptions.smsc, "the service centre's number");
  send->add_option("--encoding", sendOptions.encoding, "auto, 7bit, 8bit or ucs2")
      ->check(CLI::IsMember({"auto", "7bit", "8bit", "ucs2"}));
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
  listen->add_option("--check-interval", listenOptions.checkInterval,
                     "list the storage's unread messages every N seconds (0: never)")
      ->check(CLI::Range(0, 86400));

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
  } catch (const UsageError& e) {
    std::cerr << "veskgsm: " << e.what() << "\n";
    return kExitUsage;
  } catch (const std::exception& e) {
    std::cerr << "veskgsm: " << e.what() << "\n";
    return kExitFailed;
  }
  return kExitUsage;
}
