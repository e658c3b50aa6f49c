#include "tools/simulator/SimulatorCommand.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <ostream>
#include <sstream>
#include <system_error>

#include "tools/simulator/ModemSimulator.h"

namespace vesk::sim {

namespace {

volatile sig_atomic_t gStop = 0;
int gSignalPipe = -1;

extern "C" void OnStopSignal(int) {
  gStop = 1;
  if (gSignalPipe >= 0) {
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(gSignalPipe, &c, 1);
  }
}

bool ParseNumber(const std::string& text, long min, long max, long& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < min || value > max) return false;
  out = value;
  return true;
}

// A TP-ST: decimal, or hexadecimal after "0x".
bool ParseStatus(const std::string& text, long& out) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str() + 2, &end, 16);
    if (errno != 0 || *end != '\0' || value < 0 || value > 255) return false;
    out = value;
    return true;
  }
  return ParseNumber(text, 0, 255, out);
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  return parts;
}

// "\r", "\n", "\xHH" and "\\" in console text.
std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out.push_back(text[i]);
      continue;
    }
    const char c = text[++i];
    if (c == 'r') {
      out.push_back('\r');
    } else if (c == 'n') {
      out.push_back('\n');
    } else if (c == 'x' && i + 2 < text.size()) {
      out.push_back(static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

const char* kConsoleHelp = "console commands:\n"
                           "  sms <sender> <text>        incoming message, GSM 7-bit (long texts in parts)\n"
                           "  sms8 <sender> <text>       the same as 8-bit data\n"
                           "  ucs2 <sender> <text>       the same in UCS2\n"
                           "  flash <sender> <text>      a class 0 message\n"
                           "  call <number> [rings]      incoming call\n"
                           "  hangup                     the other party ends the call\n"
                           "  unsolicited <text>         an unsolicited result line\n"
                           "  register <status>          the network registers the modem: home, roaming, searching,\n"
                           "                             denied or none (+CREG/+CGREG/+CEREG as switched on)\n"
                           "  ussd [0|1] <text>          a network-initiated USSD (1: asks for an answer)\n"
                           "  raw <text>                 bytes as given (\\r \\n \\xHH understood)\n"
                           "  errors <count> [line]      an error burst\n"
                           "  drop-notice [count]        the next new-message notices (+CMTI) go missing\n"
                           "  reports <delay-ms> <st>    status reports: their delay, and TP-ST (0 delivered,\n"
                           "                             0x41 failed, 0x46 expired; decimal or 0x hex)\n"
                           "  garbage <count>            arbitrary bytes\n"
                           "  unplug | plug              take the modem away, bring it back\n"
                           "  hang                       answer nothing until the line is closed and opened again\n"
                           "  wedged                     answer AT but no message command until AT+CFUN=1,1,\n"
                           "                             then restart (the port goes away for 3 s)\n"
                           "  stuck-prompt               send \"> \" and take a message body until Ctrl-Z or ESC\n"
                           "  replug-as <path>           vanish, and come back under another path\n"
                           "  state | transcript | help | quit\n";
}  // namespace

void RunConsoleLine(ModemSimulator& sim, const std::string& line, std::ostream& out, bool& quit) {
  std::istringstream in(line);
  std::string verb;
  in >> verb;
  std::string first;
  std::string rest;
  in >> first;
  std::getline(in >> std::ws, rest);
  try {
    if (verb.empty()) return;
    if (verb == "sms" || verb == "sms8" || verb == "ucs2" || verb == "flash") {
      IncomingSms sms;
      sms.sender = first;
      sms.text = rest;
      sms.encoding = verb == "sms8" ? SmsEncoding::EightBit : (verb == "ucs2" ? SmsEncoding::Ucs2 : SmsEncoding::Gsm7Bit);
      sms.flash = verb == "flash";
      sms.reference = static_cast<int>(::getpid() & 0xFF);
      for (const DeliveredPart& part : sim.DeliverSms(sms)) {
        out << "part " << part.partNumber << ": " << (part.storage.empty() ? "-" : part.storage) << " "
            << part.index << " " << part.pdu << "\n";
      }
    } else if (verb == "call") {
      IncomingCall call;
      call.number = first.empty() ? call.number : first;
      long rings = 0;
      if (ParseNumber(rest, 1, 1000, rings)) call.rings = static_cast<int>(rings);
      sim.Ring(call);
    } else if (verb == "hangup") {
      sim.RemoteHangUp();
    } else if (verb == "register") {
      static const struct {
        const char* name;
        int stat;
      } kStatuses[] = {{"none", 0}, {"home", 1}, {"searching", 2}, {"denied", 3}, {"roaming", 5}};
      int stat = -1;
      for (const auto& s : kStatuses)
        if (first == s.name) stat = s.stat;
      if (stat < 0) {
        out << "register: home, roaming, searching, denied or none\n";
        return;
      }
      sim.SetRegistration(stat);
      out << "registration " << first << "\n";
    } else if (verb == "ussd") {
      int m = 0;
      std::string text = first + (rest.empty() ? "" : " " + rest);
      if ((first == "0" || first == "1") && !rest.empty()) {
        m = first == "1" ? 1 : 0;
        text = rest;
      }
      if (text.empty()) {
        out << "ussd: give a text\n";
        return;
      }
      sim.SendUssd(m, text);
    } else if (verb == "unsolicited") {
      sim.SendUnsolicited(first + (rest.empty() ? "" : " " + rest));
    } else if (verb == "raw") {
      sim.SendRaw(Unescape(first + (rest.empty() ? "" : " " + rest)));
    } else if (verb == "errors") {
      long count = 0;
      if (!ParseNumber(first, 1, 1000, count)) {
        out << "errors: give a count\n";
        return;
      }
      sim.SendErrorBurst(static_cast<int>(count), rest.empty() ? "ERROR" : rest);
    } else if (verb == "drop-notice") {
      long count = 1;
      if (!first.empty() && !ParseNumber(first, 1, 1000, count)) {
        out << "drop-notice: give a count\n";
        return;
      }
      sim.DropNextNotices(static_cast<int>(count));
      out << "the next " << count << " notice(s) go missing\n";
    } else if (verb == "reports") {
      long delay = 0, status = 0;
      if (!ParseNumber(first, 0, 600000, delay) || !ParseStatus(rest, status)) {
        out << "reports: give a delay in ms and a status (0-255)\n";
        return;
      }
      ReportPolicy policy;
      policy.delay = Milliseconds(delay);
      policy.status = static_cast<int>(status);
      sim.SetReportPolicy(policy);
      out << "status reports " << delay << " ms after a send, status " << status << "\n";
    } else if (verb == "garbage") {
      long count = 0;
      if (!ParseNumber(first, 1, 100000, count)) {
        out << "garbage: give a count\n";
        return;
      }
      sim.SendGarbage(static_cast<std::size_t>(count), static_cast<unsigned>(::getpid()));
    } else if (verb == "unplug") {
      sim.Unplug();
      out << "unplugged\n";
    } else if (verb == "plug") {
      sim.Plug();
      out << "plugged: " << sim.Path() << " -> " << sim.DevicePath() << "\n";
    } else if (verb == "hang") {
      sim.Hang();
      out << "hung until the line is opened again\n";
    } else if (verb == "wedged") {
      sim.Wedge();
      out << "wedged until AT+CFUN=1,1\n";
    } else if (verb == "stuck-prompt") {
      sim.StickAtPrompt();
      out << "waiting for a message body\n";
    } else if (verb == "replug-as") {
      if (first.empty()) {
        out << "replug-as: give a path\n";
        return;
      }
      sim.ReplugAs(first);
      out << "replugged as " << first << "\n";
    } else if (verb == "state") {
      const ModemState s = sim.State();
      static const char* const kPins[] = {"ready", "SIM PIN", "SIM PUK", "blocked", "no SIM"};
      out << "plugged " << s.plugged << ", client speed " << s.clientLineSpeed << ", echo " << s.echo << ", format "
          << (s.messageFormat ? "text" : "PDU") << ", CNMI " << s.cnmi[0] << "," << s.cnmi[1] << "," << s.cnmi[2] << ","
          << s.cnmi[3] << ", CSMS " << s.csms << ", stored " << sim.Stored().size() << ", sent "
          << sim.Submitted().size() << ", SIM " << kPins[static_cast<int>(s.pin)] << " (PIN tries " << s.pinAttempts
          << ", PUK tries " << s.pukAttempts << "), registration " << s.registration << "\n";
    } else if (verb == "transcript") {
      out << sim.TranscriptText();
    } else if (verb == "help") {
      out << kConsoleHelp;
    } else if (verb == "quit" || verb == "exit") {
      quit = true;
    } else {
      out << "unknown command '" << verb << "' (try help)\n";
    }
  } catch (const std::exception& e) {
    out << verb << ": " << e.what() << "\n";
  }
  out.flush();
}

std::string SimulatorUsage(const std::string& program) {
  return "usage: " + program +
         " [--path PATH] [options]\n"
         "Serves a simulated GSM modem on a pseudo-terminal reached at PATH until interrupted.\n"
         "\n"
         "  --path PATH            where clients open the modem (a symbolic link; default: a new\n"
         "                         path under $TMPDIR or /tmp, printed at start)\n"
         "  --speed BPS            understand the client only at this line speed\n"
         "  --wrong-speed-garbage  answer noise at other speeds (default: silence)\n"
         "  --pin PIN              the SIM asks for this PIN (AT+CPIN)\n"
         "  --puk PUK              the SIM's PUK (default 12345678)\n"
         "  --no-sim               no SIM inserted (AT+CPIN? answers +CME ERROR: 10)\n"
         "  --registration STAT    the network's <stat> at power-on: 0 none, 1 home (default),\n"
         "                         2 searching, 3 denied, 5 roaming\n"
         "  --no-echo              echo off at power-on (ATE0)\n"
         "  --text-mode            text mode at power-on (AT+CMGF=1)\n"
         "  --imei DIGITS          the serial number of AT+CGSN\n"
         "  --signal RSSI[,BER]    the answer of AT+CSQ (default 23,99)\n"
         "  --smsc NUMBER          the service centre of AT+CSCA\n"
         "  --sim-capacity N       positions in storage SM (default 30)\n"
         "  --me-capacity N        positions in storage ME (default 100)\n"
         "  --data-call RESULT     connect, busy or no-carrier (default connect)\n"
         "  --unsupported CMDS     commands to answer ERROR, e.g. +CMGS,+CRC,D\n"
         "  --lower-case           answers in lower case\n"
         "  --split N[:MS]         answers written in N pieces, MS ms apart (default 20)\n"
         "  --delay MS             pause before each answer\n"
         "  --pace BPS             write at the pace of a serial line at BPS bits per second\n"
         "  --max-write N          cut every write into writes of at most N bytes\n"
         "  --never-answer         hear nothing, say nothing\n"
         "  --send-never-answered  AT+CMGS never gets its final result\n"
         "  --fail-sends N[:LINE]  the next N sends end in LINE (default +CMS ERROR: 321)\n"
         "  --report-delay MS      status reports come MS after a send with TP-SRR (default 500)\n"
         "  --report-status ST     their TP-ST: 0 delivered, 0x41 failed, 0x46 expired ...\n"
         "  --ack-timeout MS       under AT+CSMS=1, deliver again what no AT+CNMA acknowledged\n"
         "                         within MS (default 10000)\n"
         "  --trace                print the dialogue on standard error\n"
         "  --console              read event commands (sms, call, unplug ...) from standard input\n"
         "  --help                 this text\n";
}

bool ParseSimulatorOptions(const std::vector<std::string>& args, SimulatorOptions& options, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  ModemConfig& c = options.config;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    std::string v;
    long n = 0;
    if (a == "--help" || a == "-h") {
      options.help = true;
    } else if (a == "--path") {
      if (!value(c.path) || c.path.empty()) return fail("--path needs a path");
    } else if (a == "--speed") {
      if (!value(v) || !ParseNumber(v, 1, 100000000, n)) return fail("--speed needs a speed in bits per second");
      c.quirks.lineSpeed = static_cast<unsigned>(n);
    } else if (a == "--wrong-speed-garbage") {
      c.quirks.wrongSpeedReply = WrongSpeedReply::Garbage;
    } else if (a == "--pin") {
      if (!value(c.pin) || c.pin.empty()) return fail("--pin needs a PIN");
    } else if (a == "--puk") {
      if (!value(c.puk) || c.puk.empty()) return fail("--puk needs a PUK");
    } else if (a == "--no-sim") {
      c.simInserted = false;
    } else if (a == "--registration") {
      if (!value(v) || !ParseNumber(v, 0, 5, n) || n == 4) return fail("--registration needs 0, 1, 2, 3 or 5");
      c.registration = static_cast<int>(n);
    } else if (a == "--no-echo") {
      c.echo = false;
    } else if (a == "--text-mode") {
      c.messageFormat = 1;
    } else if (a == "--imei") {
      if (!value(c.imei)) return fail("--imei needs digits");
    } else if (a == "--signal") {
      if (!value(v)) return fail("--signal needs RSSI[,BER]");
      const std::vector<std::string> parts = Split(v, ',');
      long ber = 99;
      if (parts.empty() || !ParseNumber(parts[0], 0, 99, n) || (parts.size() > 1 && !ParseNumber(parts[1], 0, 99, ber))) {
        return fail("--signal needs RSSI[,BER]");
      }
      c.rssi = static_cast<int>(n);
      c.ber = static_cast<int>(ber);
    } else if (a == "--smsc") {
      if (!value(c.serviceCentre)) return fail("--smsc needs a number");
    } else if (a == "--sim-capacity" || a == "--me-capacity") {
      if (!value(v) || !ParseNumber(v, 1, 1000, n)) return fail(a + " needs a count from 1 to 1000");
      (a == "--sim-capacity" ? c.simCapacity : c.phoneCapacity) = static_cast<std::size_t>(n);
    } else if (a == "--data-call") {
      if (!value(v)) return fail("--data-call needs connect, busy or no-carrier");
      if (v == "connect") {
        c.dataCall = DataCallOutcome::Connect;
      } else if (v == "busy") {
        c.dataCall = DataCallOutcome::Busy;
      } else if (v == "no-carrier") {
        c.dataCall = DataCallOutcome::NoCarrier;
      } else {
        return fail("--data-call needs connect, busy or no-carrier");
      }
    } else if (a == "--unsupported") {
      if (!value(v)) return fail("--unsupported needs command names");
      for (const std::string& name : Split(v, ',')) {
        if (!name.empty()) c.unsupported.insert(name);
      }
    } else if (a == "--lower-case") {
      c.quirks.lowerCase = true;
    } else if (a == "--split") {
      if (!value(v)) return fail("--split needs N[:MS]");
      const std::vector<std::string> parts = Split(v, ':');
      long ms = 20;
      if (parts.empty() || !ParseNumber(parts[0], 1, 1000, n) || (parts.size() > 1 && !ParseNumber(parts[1], 0, 60000, ms))) {
        return fail("--split needs N[:MS]");
      }
      c.quirks.answerPieces = static_cast<int>(n);
      c.quirks.pieceDelay = Milliseconds(ms);
    } else if (a == "--delay") {
      if (!value(v) || !ParseNumber(v, 0, 600000, n)) return fail("--delay needs milliseconds");
      c.quirks.answerDelay = Milliseconds(n);
    } else if (a == "--pace") {
      if (!value(v) || !ParseNumber(v, 1, 100000000, n)) return fail("--pace needs bits per second");
      c.quirks.pacingBitsPerSecond = static_cast<unsigned>(n);
    } else if (a == "--max-write") {
      if (!value(v) || !ParseNumber(v, 1, 1000000, n)) return fail("--max-write needs a byte count");
      c.quirks.maxWriteChunk = static_cast<unsigned>(n);
    } else if (a == "--never-answer") {
      c.quirks.neverAnswers = true;
    } else if (a == "--send-never-answered") {
      c.quirks.sendNeverAnswered = true;
    } else if (a == "--fail-sends") {
      if (!value(v)) return fail("--fail-sends needs N[:LINE]");
      const std::size_t colon = v.find(':');
      if (!ParseNumber(v.substr(0, colon), 1, 1000000, n)) return fail("--fail-sends needs N[:LINE]");
      options.failSends = static_cast<int>(n);
      if (colon != std::string::npos) options.failResult = v.substr(colon + 1);
    } else if (a == "--report-delay") {
      if (!value(v) || !ParseNumber(v, 0, 600000, n)) return fail("--report-delay needs milliseconds");
      c.reports.delay = Milliseconds(n);
    } else if (a == "--report-status") {
      if (!value(v) || !ParseStatus(v, n)) return fail("--report-status needs a status from 0 to 255");
      c.reports.status = static_cast<int>(n);
    } else if (a == "--ack-timeout") {
      if (!value(v) || !ParseNumber(v, 1, 600000, n)) return fail("--ack-timeout needs milliseconds");
      c.ackTimeout = Milliseconds(n);
    } else if (a == "--trace") {
      options.trace = true;
    } else if (a == "--console") {
      options.console = true;
    } else {
      return fail("unknown option " + a);
    }
  }
  return true;
}

int RunSimulatorCommand(const std::string& program, const std::vector<std::string>& args, std::ostream& out,
                        std::ostream& err) {
  SimulatorOptions options;
  std::string error;
  if (!ParseSimulatorOptions(args, options, &error)) {
    err << program << ": " << error << "\n" << SimulatorUsage(program);
    return 2;
  }
  if (options.help) {
    out << SimulatorUsage(program);
    return 0;
  }

  int pipeFds[2];
  if (::pipe(pipeFds) != 0) {
    err << program << ": pipe: " << std::system_category().message(errno) << "\n";
    return 1;
  }
  gStop = 0;
  gSignalPipe = pipeFds[1];
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  struct sigaction oldInt {};
  struct sigaction oldTerm {};
  ::sigaction(SIGINT, &action, &oldInt);
  ::sigaction(SIGTERM, &action, &oldTerm);

  int status = 0;
  try {
    ModemSimulator sim(options.config);
    std::mutex traceMutex;
    if (options.trace) {
      sim.SetTraceSink([&err, &traceMutex](const TranscriptEntry& e) {
        std::lock_guard<std::mutex> lock(traceMutex);
        err << (e.direction == Direction::Received ? "<- " : "-> ") << Printable(e.bytes) << std::endl;
      });
    }
    if (options.failSends > 0) sim.FailNextSends(options.failSends, options.failResult);
    out << "modem at " << sim.Path() << " (" << sim.DevicePath() << ")"
        << (options.config.quirks.lineSpeed ? ", " + std::to_string(options.config.quirks.lineSpeed) + " bit/s" : "")
        << "; Ctrl-C stops" << (options.console ? ", 'help' lists console commands" : "") << std::endl;

    std::string pending;
    bool quit = false;
    bool console = options.console;
    while (!gStop && !quit) {
      pollfd fds[2] = {{pipeFds[0], POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
      const int ready = ::poll(fds, console ? 2 : 1, -1);
      if (ready < 0 && errno != EINTR) break;
      if (ready <= 0 || !console || !(fds[1].revents & (POLLIN | POLLHUP))) continue;
      char buffer[512];
      const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
      if (n <= 0) {
        console = false;  // end of input: keep serving until a signal
        continue;
      }
      pending.append(buffer, static_cast<std::size_t>(n));
      for (std::size_t eol; (eol = pending.find('\n')) != std::string::npos;) {
        std::string line = pending.substr(0, eol);
        pending.erase(0, eol + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        RunConsoleLine(sim, line, out, quit);
      }
    }
    sim.SetTraceSink(nullptr);
    out << "stopped" << std::endl;
  } catch (const std::exception& e) {
    err << program << ": " << e.what() << "\n";
    status = 1;
  }

  ::sigaction(SIGINT, &oldInt, nullptr);
  ::sigaction(SIGTERM, &oldTerm, nullptr);
  gSignalPipe = -1;
  ::close(pipeFds[0]);
  ::close(pipeFds[1]);
  return status;
}

}  // namespace vesk::sim
