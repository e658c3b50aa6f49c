#include "tools/cli/Commands.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "codec/StatusReport.h"
#include "commands/Answers.h"
#include "commands/StateAnswers.h"
#include "component/VeskGSM.h"
#include "incoming/Reassembly.h"
#include "port/SerialDevice.h"
#include "sending/Split.h"
#include "tools/cli/Format.h"
#include "tools/demo/Demo.h"
#include "tools/simulator/SimulatorCommand.h"

namespace vesk::cli {

using json = nlohmann::json;

namespace {

std::atomic<bool> gInterrupted{false};

extern "C" void OnInterrupt(int) { gInterrupted = true; }

void CatchInterrupts() {
  gInterrupted = false;
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
}

// Results go out one line at a time, whichever thread has one.
class Printer {
 public:
  Printer(std::ostream& out, bool asJson) : out_(out), json_(asJson) {}
  bool Json() const { return json_; }
  // The JSON object when --json, else the plain line.
  void Print(const json& object, const std::string& plain) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (json_)
      out_ << Dump(object) << std::endl;
    else
      out_ << plain << std::endl;
  }

 private:
  std::ostream& out_;
  bool json_;
  std::mutex mutex_;
};

std::string ReadAll(std::istream& in) {
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// TEXT, or standard input for "-"; one final line break of the input is
// dropped (echo and here-strings add it).
std::string MessageText(const std::string& text) {
  if (text != "-") return text;
  std::string all = ReadAll(std::cin);
  if (!all.empty() && all.back() == '\n') all.pop_back();
  if (!all.empty() && all.back() == '\r') all.pop_back();
  return all;
}

TMessageEncoding EncodingFromName(const std::string& name) {
  if (name == "7bit") return me7bit;
  if (name == "8bit") return me8bit;
  if (name == "ucs2") return meUCS2;
  if (name == "auto") return meAuto;
  throw UsageError("unknown encoding '" + name + "' (auto, 7bit, 8bit or ucs2)");
}

// ISO 639-1 codes and the national language tables they name.
struct LanguageCode {
  const char* code;
  TNationalLanguageShiftTables table;
};
constexpr LanguageCode kLanguageCodes[] = {
    {"tr", stTurkish}, {"es", stSpanish},   {"pt", stPortuguese}, {"bn", stBengali}, {"gu", stGujarati},
    {"hi", stHindi},   {"kn", stKannada},   {"ml", stMalayalam},  {"or", stOriya},   {"pa", stPunjabi},
    {"ta", stTamil},   {"te", stTelugu},    {"ur", stUrdu},
};

TNationalLanguageShiftTablesSet TablesFromCodes(const std::vector<std::string>& codes) {
  TNationalLanguageShiftTablesSet set;
  for (const std::string& code : codes) {
    bool known = false;
    for (const LanguageCode& l : kLanguageCodes)
      if (code == l.code) {
        set.Include(l.table);
        known = true;
      }
    if (!known)
      throw UsageError("unknown language '" + code + "' (tr, es, pt, bn, gu, hi, kn, ml, or, pa, ta, te, ur)");
  }
  return set;
}

// The code of a table; null for none (stDefault).
json TableCode(TNationalLanguageShiftTables table) {
  for (const LanguageCode& l : kLanguageCodes)
    if (table == l.table) return l.code;
  return nullptr;
}

const char* EncodingName(TMessageEncoding encoding) {
  switch (encoding) {
    case meAuto: return "auto";
    case me7bit: return "7bit";
    case me8bit: return "8bit";
    case meUCS2: return "ucs2";
  }
  return "auto";
}

// How a text goes, as one line.
void PrintInfo(Printer& printer, const TSMSInfo& info) {
  const char* units = info.Encoding == me7bit ? "septets" : "octets";
  const char* left = info.Encoding == me7bit ? "septets" : info.Encoding == meUCS2 ? "characters" : "octets";
  std::string tables;
  if (info.LockingShift != stDefault) tables += ", locking " + TableCode(info.LockingShift).get<std::string>();
  if (info.SingleShift != stDefault) tables += ", single " + TableCode(info.SingleShift).get<std::string>();
  printer.Print({{"encoding", EncodingName(info.Encoding)},
                 {"locking", TableCode(info.LockingShift)},
                 {"single", TableCode(info.SingleShift)},
                 {"parts", info.Parts},
                 {"units_per_part", info.UnitsPerPart},
                 {"remaining", info.Remaining}},
                std::string(EncodingName(info.Encoding)) + tables + ": " + std::to_string(info.Parts) +
                    (info.Parts == 1 ? " part of " : " parts of ") + std::to_string(info.UnitsPerPart) + " " + units +
                    ", " + std::to_string(info.Remaining) + " " + left + " left");
}

// The component set up from the common options: the settings file first,
// then the options given on the command line.
void Configure(TVeskGSM& gsm, const CommonOptions& common) {
  gsm.SetDelay(100);
  if (!common.settings.empty()) {
    std::ifstream file(common.settings, std::ios::binary);
    if (!file) throw UsageError("cannot read the settings file " + common.settings);
    try {
      ReadComponentText(gsm, ReadAll(file));
    } catch (const Exception& e) {
      throw UsageError("settings file " + common.settings + ": " + e.Message());
    }
  }
  if (!common.port.empty()) {
    const TCommPort port = gsm.StringToCommPort(common.port);
    if (port == spCustom) gsm.SetCustomPortName(common.port);
    gsm.SetCommPort(port);
  }
  if (common.baud > 0) {
    const TBaudRate speed = gsm.IntToBaudRate(common.baud);
    if (speed == brCustom) gsm.SetCustomBaudRate(common.baud);
    gsm.SetBaudRate(speed);
  }
  if (common.delay > 0) gsm.SetDelay(common.delay);
  if (!common.log.empty()) {
    gsm.SetLogFile(Utf8ToWide(common.log));
    gsm.SetLog(true);
  }
}

// Opens the port without the reader thread's own set-up; `setup` runs the
// modem set-up here, on this thread, so that it is over before the
// command's own dialogue starts. False, with the reason on `err`, when the
// port is absent or cannot be opened.
bool OpenModem(TVeskGSM& gsm, const CommonOptions& common, bool setup, std::ostream& err) {
  try {
    if (!gsm.Open(true)) {
      err << "veskgsm: " << common.port << " is not present\n";
      return false;
    }
  } catch (const EVeskGSMException& e) {
    err << "veskgsm: " << e.Message() << "\n";
    return false;
  }
  if (setup)
    gsm.InitGSMModem();
  else
    gsm.ExecuteATCommand("ATE0", '\r');
  return true;
}

std::vector<std::string> Lines(const TStrings& list) {
  std::vector<std::string> lines;
  for (int i = 0; i < list.Count(); ++i) lines.push_back(WideToUtf8(list[i]));
  return lines;
}

// The decoded message as JSON fields and as a line.
struct MessageFields {
  WideString text;
  AnsiString sender, smsc;
  TDateTime stamp = 0;
  int zone = 0;
  int status = -1;

  json Json() const {
    return {{"text", WideToUtf8(text)},     {"sender", AnsiText(sender)},
            {"smsc", AnsiText(smsc)},       {"timestamp", stamp == 0 ? json() : json(IsoTimestamp(stamp))},
            {"timezone", zone},             {"status", status}};
  }
  std::string Plain() const {
    std::string line = "from " + AnsiText(sender);
    if (!smsc.empty()) line += " via " + AnsiText(smsc);
    if (stamp != 0) line += " at " + IsoTimestamp(stamp) + " (" + ZoneText(zone) + ")";
    if (status >= 0) line += ", " + StatusName(status);
    return line + ": " + WideToUtf8(text);
  }
};

// The typed error of a failed call as JSON fields: `error` the modem's line
// (or why the call failed without one), `error_kind`, `error_code` (null
// when none), `error_text` (the standard's text).
void AddError(json& object, const TModemError& e, const std::string& line) {
  object["error"] = line.empty() ? AnsiText(e.Line.empty() ? e.Text : e.Line) : line;
  object["error_kind"] = ModemErrorKindName(e.Kind);
  object["error_code"] = e.Number >= 0 ? json(e.Number) : json();
  object["error_text"] = AnsiText(e.Text);
}

json UssdJson(const TUSSDResult& r) {
  return {{"status", static_cast<int>(r.Status)},
          {"status_text", USSDStatusName(r.Status)},
          {"text", WideToUtf8(r.Text)},
          {"dcs", r.DCS >= 0 ? json(r.DCS) : json()},
          {"decoded", r.Decoded}};
}

// "+CMS ERROR: 38 (Network out of order; temporary)" for a person.
std::string ErrorText(const TModemError& e, const std::string& line) {
  std::string text = line.empty() ? AnsiText(e.Line.empty() ? e.Text : e.Line) : line;
  if (e.IsError() && !e.Text.empty() && AnsiText(e.Text) != text)
    text += " (" + AnsiText(e.Text) + (e.IsTemporary() ? "; temporary" : "") + ")";
  else if (e.IsTemporary())
    text += " (temporary)";
  return text;
}

// "120" or "0.5".
std::string FormatSeconds(double seconds) {
  std::ostringstream text;
  text << seconds;
  return text.str();
}

std::string IndexText(const std::vector<int>& indexes) {
  std::string text;
  for (int i : indexes) text += (text.empty() ? "" : ",") + std::to_string(i);
  return text.empty() ? "?" : text;
}

}  // namespace

// ------------------------------------------------------------------ ports

int RunPorts(const CommonOptions& common, std::ostream& out, std::ostream&) {
  TVeskGSM gsm;
  TStringList names;
  gsm.GetExistingCommPortNames(names);
  Printer printer(out, common.json);
  for (const std::string& name : Lines(names)) {
    const TCommPort port = gsm.StringToCommPort(name);
    // COMn stands for /dev/ttyS(n-1) here.
    const std::string device = port == spCustom ? name : "/dev/ttyS" + std::to_string(static_cast<int>(port) - 1);
    printer.Print({{"port", name}, {"device", device}}, device == name ? name : name + "  " + device);
  }
  return kExitOk;
}

// ------------------------------------------------------------------ detect

namespace {

// The machine's serial ports, or the ports the user named, remembering the
// last one opened: the scan reports a port by name only as spCustom.
class ScanPorts : public SerialPlatform {
 public:
  explicit ScanPorts(std::vector<std::string> only) : only_(std::move(only)) {}
  std::unique_ptr<SerialDevice> Open(const AnsiString& name, int& error) noexcept override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      opened_ = name;
    }
    return real_->Open(name, error);
  }
  std::vector<AnsiString> PortNames() noexcept override {
    if (only_.empty()) return real_->PortNames();
    return {only_.begin(), only_.end()};
  }
  bool IsPresentDevice(const AnsiString& name) noexcept override { return real_->IsPresentDevice(name); }
  bool CaseSensitiveNames() const noexcept override { return real_->CaseSensitiveNames(); }
  bool SameDevice(const AnsiString& a, const AnsiString& b) noexcept override { return real_->SameDevice(a, b); }
  AnsiString ErrorText(int error) noexcept override { return real_->ErrorText(error); }
  AnsiString Opened() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return opened_;
  }

 private:
  std::shared_ptr<SerialPlatform> real_ = DefaultSerialPlatform();
  std::vector<std::string> only_;
  mutable std::mutex mutex_;
  AnsiString opened_;
};

TBaudRate StandardSpeed(const TVeskGSM& gsm, int bps, const char* option) {
  const TBaudRate speed = gsm.IntToBaudRate(bps);
  if (speed == brCustom)
    throw UsageError(std::string(option) + " " + std::to_string(bps) +
                     " is not a standard speed (75, 110, 134, 150, 300, 600, 1200 ... 115200, 128000, 230400, "
                     "256000, 460800, 921600)");
  return speed;
}

}  // namespace

int RunDetect(const CommonOptions& common, const DetectOptions& options, std::ostream& out, std::ostream& err) {
  TVeskGSM gsm;
  Configure(gsm, common);
  const TBaudRate from = StandardSpeed(gsm, options.from, "--from");
  const TBaudRate to = StandardSpeed(gsm, options.to, "--to");
  if (from > to) throw UsageError("--from must not be above --to");
  auto ports = std::make_shared<ScanPorts>(options.only);
  gsm.SetSerialPlatform(ports);
  int attempts = 0;
  gsm.OnDetect = [&](TObject*, TCommPort port, TBaudRate speed, bool&) {
    ++attempts;
    const std::string name = port == spCustom ? AnsiText(ports->Opened()) : AnsiText(gsm.CommPortToString(port));
    err << "trying " << name << " at " << gsm.BaudRateToInt(speed) << " bit/s" << std::endl;
  };
  if (ports->PortNames().empty()) {
    err << "veskgsm: no serial port is listed on this machine\n";
    return kExitFailed;
  }
  UnicodeString found;
  TBaudRate speed = from;
  if (!gsm.DetectGSM(from, to, found, speed)) {
    err << "veskgsm: no modem answered (" << attempts << " attempt(s))\n";
    return kExitFailed;
  }
  const std::string port = WideToUtf8(found);
  const int bps = gsm.BaudRateToInt(speed);
  Printer printer(out, common.json);
  printer.Print({{"port", port}, {"baud", bps}}, port + " " + std::to_string(bps));
  return kExitOk;
}

// ------------------------------------------------------------------ at

int RunAt(const CommonOptions& common, const AtOptions& options, std::ostream& out, std::ostream& err) {
  for (const std::string& command : options.commands) {
    if (Trim(command).empty()) throw UsageError("an empty command");
    if (command.find_first_of("\r\n\x1A\x1B") != std::string::npos)
      throw UsageError("a command holds a line break, Ctrl-Z or escape: give each command as its own argument");
  }
  TVeskGSM gsm;
  Configure(gsm, common);
  if (!OpenModem(gsm, common, false, err)) return kExitFailed;
  Printer printer(out, common.json);
  int status = kExitOk;
  for (const std::string& command : options.commands) {
    TStringList answer;
    const int count = gsm.ExecuteATCommand(command, &answer, options.timeout, '\r');
    const std::vector<std::string> lines = Lines(answer);
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    const bool ok = count > 0 && at::ReadCommandAnswer(text).Succeeded();
    if (!ok) status = kExitFailed;
    std::string plain;
    for (const std::string& line : lines) plain += (plain.empty() ? "" : "\n") + line;
    if (count == 0) plain = "(no answer to " + command + " within " + std::to_string(options.timeout) + " s)";
    printer.Print({{"command", command}, {"lines", lines}, {"ok", ok}}, plain);
  }
  gsm.Close();
  return status;
}

// ------------------------------------------------------------------ info

int RunInfo(const CommonOptions& common, std::ostream& out, std::ostream& err) {
  TVeskGSM gsm;
  Configure(gsm, common);
  if (!OpenModem(gsm, common, true, err)) return kExitFailed;
  const AnsiString imei = gsm.GetIMEI();
  const int signal = gsm.GetSignalStrength();
  const TSIMState sim = gsm.GetSIMState();
  const int retries = gsm.GetPINRetries();
  const TRegistration registration = gsm.GetRegistration();
  const TOperator op = gsm.GetOperator();
  const AnsiString smsc = gsm.GetServiceCenter();
  if (!common.json) err << "probing the modem's capabilities (about 8 s)..." << std::endl;
  const int mask = gsm.TestGSMModemCapabilities();
  gsm.Close();
  Printer printer(out, common.json);
  const std::string technology = AccessTechnologyName(op.Technology);
  const std::string operatorName = op.Format >= 0 ? WideToUtf8(op.Name) : std::string();
  const json object = {{"imei", AnsiText(imei)},
                       {"signal", signal},
                       {"capabilities", mask},
                       {"sim", SIMStateName(sim)},
                       {"pin_retries", retries},
                       {"registration", RegistrationStatusName(registration.Status)},
                       {"operator", operatorName.empty() ? json() : json(operatorName)},
                       {"technology", technology.empty() ? json() : json(technology)},
                       {"smsc", AnsiText(smsc)}};
  std::string network = RegistrationStatusName(registration.Status);
  if (!operatorName.empty()) network += " on " + operatorName;
  if (!technology.empty()) network += " (" + technology + ")";
  printer.Print(object, "IMEI " + (imei.empty() ? std::string("(none)") : AnsiText(imei)) + "\nsignal " +
                            std::to_string(signal) + (signal == 99 ? " (not known)" : " of 31") + "\ncapabilities " +
                            std::to_string(mask) + " (" + CapabilityNames(mask) + ")\nSIM " + SIMStateName(sim) +
                            (retries >= 0 ? " (" + std::to_string(retries) + " PIN tries left)" : "") + "\nnetwork " +
                            network + "\nservice centre " + (smsc.empty() ? std::string("(none)") : AnsiText(smsc)));
  if (imei.empty()) {
    err << "veskgsm: the modem did not answer\n";
    return kExitFailed;
  }
  return kExitOk;
}

// ------------------------------------------------------------------ send

namespace {

// What the reports said of the message a send made: its outcome once every
// part had a final status, and the status that decided it.
class DeliveryWatch {
 public:
  explicit DeliveryWatch(TVeskGSM& gsm) {
    gsm.OnStatusReport = [this](TObject*, int reference, const AnsiString&, int status, TDateTime, TDateTime) {
      std::lock_guard<std::mutex> lock(mutex_);
      statuses_[reference] = status;
    };
    gsm.OnMessageStatus = [this](TObject*, const AnsiString& recipient, const std::vector<int>& references,
                                 TMessageOutcome outcome) {
      std::lock_guard<std::mutex> lock(mutex_);
      told_.push_back({recipient, references, outcome});
      changed_.notify_all();
    };
  }
  // Waits up to `seconds` for the outcome of the message whose parts have
  // these references; false when none came.
  bool Wait(const std::vector<int>& references, double seconds, AnsiString& recipient, TMessageOutcome& outcome,
            int& status) {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    for (;;) {
      for (const Told& t : told_) {
        if (t.references != references) continue;
        recipient = t.recipient;
        outcome = t.outcome;
        status = Deciding(t);
        return true;
      }
      if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) return false;
    }
  }

 private:
  struct Told {
    AnsiString recipient;
    std::vector<int> references;
    TMessageOutcome outcome;
  };
  // The failed part's status, else an expired one, else the last part's.
  int Deciding(const Told& t) const {
    int status = -1;
    for (int reference : t.references) {
      const auto it = statuses_.find(reference);
      if (it == statuses_.end()) continue;
      const int st = it->second;
      if (t.outcome == moFailed && st != codec::kStatusValidityExpired &&
          codec::ClassOfStatus(st) != codec::ReportStatusClass::Completed)
        return st;
      if (t.outcome == moExpired && st == codec::kStatusValidityExpired) return st;
      status = st;
    }
    return status;
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<int, int> statuses_;
  std::vector<Told> told_;
};

}  // namespace

int RunSend(const CommonOptions& common, const SendOptions& options, std::ostream& out, std::ostream& err) {
  const TMessageEncoding encoding = EncodingFromName(options.encoding);
  const std::string text = MessageText(options.text);
  if (options.textMode && (options.encoding != "auto" || options.flash))
    throw UsageError("--encoding and --flash apply to PDU mode, not with --text-mode");
  const TNationalLanguageShiftTablesSet tables = TablesFromCodes(options.languages);
  if (options.textMode && !tables.Empty()) throw UsageError("--language applies to PDU mode, not with --text-mode");
  TVeskGSM gsm;
  Configure(gsm, common);
  gsm.SetWaitForPrompt(options.waitForPrompt);
  if (!options.languages.empty()) gsm.SetNationalLanguageTables(tables);
  // Asked before the set-up, which then routes the reports.
  if (options.report) gsm.SetStatusReportRequest(true);
  DeliveryWatch watch(gsm);
  if (!OpenModem(gsm, common, true, err)) return kExitFailed;
  bool sent;
  if (options.textMode)
    sent = gsm.SendSMSAsText(options.number, options.smsc, WideToAnsi(Utf8ToWide(text)));
  else
    sent = gsm.SendSMSAsPDU(options.number, options.smsc, Utf8ToWide(text), encoding, options.flash);
  const AnsiString error = gsm.GetLastSendError();
  const TModemError modemError = gsm.GetLastModemError();
  const std::vector<int> references = gsm.GetLastMessageReferences();
  AnsiString recipient;
  TMessageOutcome outcome = moFailed;
  int status = -1;
  bool told = false;
  if (sent && options.report) {
    if (!common.json) err << "waiting for the status report (up to " << options.reportTimeout << " s)..." << std::endl;
    told = watch.Wait(references, options.reportTimeout, recipient, outcome, status);
  }
  gsm.Close();
  Printer printer(out, common.json);
  std::string refs;
  for (int r : references) refs += " " + std::to_string(r);
  if (sent && options.report) {
    const std::string delivery = told ? std::string(OutcomeName(outcome)) : "unknown";
    json object = {{"sent", true},
                   {"references", references},
                   {"delivery", delivery},
                   {"status", told && status >= 0 ? json(status) : json()}};
    object["message_status"] =
        told ? json({{"recipient", AnsiText(recipient)}, {"references", references}, {"outcome", delivery}}) : json();
    std::string plain = "sent" + (refs.empty() ? std::string() : ", message reference(s)" + refs) + "\n";
    if (told)
      plain += delivery + (status >= 0 ? " (status " + std::to_string(status) + ")" : std::string());
    else
      plain += "delivery unknown: no status report within " + FormatSeconds(options.reportTimeout) + " s";
    printer.Print(object, plain);
    return told && outcome == moDelivered ? kExitOk : kExitFailed;
  }
  if (sent) {
    printer.Print({{"sent", true}, {"references", references}},
                  "sent" + (refs.empty() ? std::string() : ", message reference(s)" + refs));
    return kExitOk;
  }
  json failure = {{"sent", false}, {"references", references}};
  AddError(failure, modemError, AnsiText(error));
  printer.Print(failure, "not sent: " + ErrorText(modemError, AnsiText(error)));
  return kExitFailed;
}

// ------------------------------------------------------------------ listen

int RunListen(const CommonOptions& common, const ListenOptions& options, std::ostream& out, std::ostream& err) {
  TVeskGSM gsm;
  Configure(gsm, common);
  // Events run on this thread, in CheckSynchronize below.
  SetMainThread();
  gsm.SetNeedSynchronization(true);
  gsm.SetAutoReconnect(true);
  gsm.SetAutoReconnectCheckInterval(500);
  Printer printer(out, common.json);
  const std::string port = common.port;

  gsm.OnRing = [&](TObject*, const AnsiString& caller) {
    printer.Print({{"event", "ring"}, {"caller", AnsiText(caller)}},
                  "ring" + (caller.empty() ? std::string() : " from " + AnsiText(caller)));
  };
  gsm.OnNewMessage = [&](TObject*, const AnsiString& storage, int index) {
    printer.Print({{"event", "new_message"}, {"storage", AnsiText(storage)}, {"index", index}},
                  "new message at " + AnsiText(storage) + " " + std::to_string(index));
  };
  gsm.OnReadMessage = [&](TObject* sender, const WideString& text, const AnsiString& phone,
                          const AnsiString& centre, TDateTime stamp, int zone, int status) {
    auto* g = static_cast<TVeskGSM*>(sender);
    const MessageFields m{text, phone, centre, stamp, zone, status};
    json object = {{"event", "message"}};
    object.update(m.Json());
    object["listing"] = g->GetIsListing();
    object["storage"] = AnsiText(g->GetMessageLocation());
    object["indexes"] = g->GetMessageIndexes();
    std::string where;
    if (!g->GetMessageLocation().empty())
      where = " [" + AnsiText(g->GetMessageLocation()) + " " + IndexText(g->GetMessageIndexes()) + "]";
    printer.Print(object, "message" + where + " " + m.Plain());
  };
  gsm.OnStatusReport = [&](TObject*, int reference, const AnsiString& recipient, int status, TDateTime,
                           TDateTime discharged) {
    const bool delivered = codec::ClassOfStatus(status) == codec::ReportStatusClass::Completed;
    printer.Print({{"event", "status_report"},
                   {"reference", reference},
                   {"recipient", AnsiText(recipient)},
                   {"status", status},
                   {"delivered", delivered},
                   {"discharge", discharged == 0 ? json() : json(IsoTimestamp(discharged))}},
                  "status report " + std::to_string(reference) + " to " + AnsiText(recipient) + ": " +
                      (delivered ? "delivered" : "not delivered") + " (status " + std::to_string(status) + ")" +
                      (discharged == 0 ? std::string() : " at " + IsoTimestamp(discharged)));
  };
  gsm.OnError = [&](TObject*, const AnsiString& text) {
    const std::string line = AnsiText(Trim(text));
    json object = {{"event", "error"}, {"text", line}};
    // A stored message that did not decode comes as its read answer.
    const bool readAnswer = Pos("+CMGR:", UpperCase(text)) > 0 || Pos("+CMGL:", UpperCase(text)) > 0;
    const AnsiString reason = readAnswer ? gsm.GetLastDecodeError() : AnsiString();
    if (!reason.empty()) object["reason"] = AnsiText(reason);
    printer.Print(object, "error: " + Printable(line));
  };
  gsm.OnRegistrationChange = [&](TObject*, const TRegistration& r) {
    const std::string technology = AccessTechnologyName(r.Technology);
    printer.Print({{"event", "registration"},
                   {"status", RegistrationStatusName(r.Status)},
                   {"source", AnsiText(r.Source)},
                   {"area", AnsiText(r.Area)},
                   {"cell", AnsiText(r.Cell)},
                   {"technology", technology.empty() ? json() : json(technology)}},
                  "registration " + std::string(RegistrationStatusName(r.Status)) + " (" + AnsiText(r.Source) + ")");
  };
  gsm.OnUSSD = [&](TObject*, const TUSSDResult& r) {
    json object = {{"event", "ussd"}};
    object.update(UssdJson(r));
    printer.Print(object, "ussd " + std::string(USSDStatusName(r.Status)) +
                              (r.Text.empty() ? std::string() : ": " + WideToUtf8(r.Text)));
  };
  gsm.OnConnect = [&](TObject*, TCommPort) { printer.Print({{"event", "connect"}, {"port", port}}, "connect " + port); };
  gsm.OnDisconnect = [&](TObject*, TCommPort) {
    printer.Print({{"event", "disconnect"}, {"port", port}}, "disconnect " + port);
  };
  gsm.OnFault = [&](TObject*, TCommPort) {
    printer.Print({{"event", "fault"}, {"port", port}}, "fault: " + port + " went away");
  };
  gsm.OnHealth = [&](TObject*, THealthStep step, const AnsiString& reason) {
    const std::string now = AnsiText(gsm.CommPortToString(gsm.GetCommPort()));
    printer.Print({{"event", "health"}, {"step", HealthStepName(step)}, {"reason", AnsiText(reason)}, {"port", now}},
                  "health " + std::string(HealthStepName(step)) + " on " + now + ": " + AnsiText(reason));
  };

  if (options.direct) gsm.SetNewMessageIndication(nmDirect);
  gsm.SetKeepAliveInterval(options.keepAlive);
  if (!options.only.empty()) {
    std::string names;
    for (const std::string& name : options.only) names += (names.empty() ? "" : ",") + name;
    gsm.SetReattachPorts(names);
  }
  if (options.checkInterval >= 0) gsm.SetStoredMessageCheckInterval(options.checkInterval);

  CatchInterrupts();
  if (!OpenModem(gsm, common, true, err)) return kExitFailed;
  if (!common.json) err << "listening on " << port << (options.seconds > 0 ? "" : "; Ctrl-C stops") << std::endl;
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(static_cast<long long>(options.seconds * 1000));
  while (!gInterrupted && (options.seconds <= 0 || std::chrono::steady_clock::now() < deadline))
    CheckSynchronize(50);
  gsm.SetAutoReconnect(false);
  gsm.Close();
  while (CheckSynchronize(0)) {
  }
  return kExitOk;
}

// ------------------------------------------------------------------ ussd

int RunUssd(const CommonOptions& common, const UssdOptions& options, std::ostream& out, std::ostream& err) {
  if (options.code.empty() && options.replies.empty() && !options.cancel)
    throw UsageError("ussd needs a CODE, --reply TEXT or --cancel");
  const AnsiString why = options.code.empty() ? AnsiString() : at::CheckUSSDCode(options.code);
  if (!why.empty()) throw UsageError(AnsiText(why) + ": " + options.code);
  for (const std::string& reply : options.replies)
    if (const AnsiString bad = at::CheckUSSDReply(reply); !bad.empty()) throw UsageError(AnsiText(bad) + ": " + reply);
  TVeskGSM gsm;
  Configure(gsm, common);
  if (!OpenModem(gsm, common, true, err)) return kExitFailed;
  Printer printer(out, common.json);
  int status = kExitOk;
  auto print = [&](const TUSSDResult& r) {
    json object = UssdJson(r);
    std::string plain = std::string(USSDStatusName(r.Status));
    if (!r.Text.empty()) plain += ": " + WideToUtf8(r.Text);
    if (r.Status == usFailed || r.Status == usTimeOut || r.Status == usCancelled) {
      const TModemError e = gsm.GetLastModemError();
      AddError(object, e, "");
      plain += ": " + ErrorText(e, "");
    }
    printer.Print(object, plain);
  };
  // An answer from the network that it means as one: a text, a menu, or
  // the end of the session.
  auto answered = [](const TUSSDResult& r) {
    return r.Status == usNoFurtherAction || r.Status == usFurtherAction || r.Status == usTerminated;
  };
  TUSSDResult last;
  last.Status = usFurtherAction;  // replies alone continue a menu opened before
  if (!options.code.empty()) {
    last = gsm.SendUSSD(options.code, options.timeout);
    print(last);
    if (!answered(last)) status = kExitFailed;
  }
  for (const std::string& reply : options.replies) {
    if (last.Status != usFurtherAction) break;
    last = gsm.ReplyUSSD(reply, options.timeout);
    print(last);
    if (!answered(last)) status = kExitFailed;
  }
  if (options.cancel) {
    const bool cancelled = gsm.CancelUSSD();
    printer.Print({{"cancelled", cancelled}}, cancelled ? "session ended" : "the modem refused to end the session");
    if (!cancelled) status = kExitFailed;
  }
  gsm.Close();
  return status;
}

// ------------------------------------------------------------------ pin

int RunPin(const CommonOptions& common, const PinOptions& options, std::ostream& out, std::ostream& err) {
  const bool puk = !options.puk.empty();
  if (puk == !options.pin.empty()) throw UsageError("pin needs a PIN, or --puk PUK with --new-pin PIN");
  if (puk && options.newPin.empty()) throw UsageError("--puk needs --new-pin");
  TVeskGSM gsm;
  Configure(gsm, common);
  if (!OpenModem(gsm, common, true, err)) return kExitFailed;
  const bool unlocked = puk ? gsm.EnterPUK(options.puk, options.newPin) : gsm.EnterPIN(options.pin, options.lastTry);
  const TModemError e = gsm.GetLastModemError();
  const TSIMState sim = gsm.GetSIMState();
  const int retries = gsm.GetPINRetries();
  gsm.Close();
  Printer printer(out, common.json);
  json object = {{"unlocked", unlocked}, {"sim", SIMStateName(sim)}, {"pin_retries", retries}};
  std::string plain = std::string(unlocked ? "unlocked" : "not unlocked") + "; SIM " + SIMStateName(sim) +
                      (retries >= 0 ? ", " + std::to_string(retries) + " PIN tries left" : "");
  if (!unlocked) {
    AddError(object, e, "");
    plain += ": " + ErrorText(e, "");
  }
  printer.Print(object, plain);
  return unlocked ? kExitOk : kExitFailed;
}

// ------------------------------------------------------------------ list and delete

int RunList(const CommonOptions& common, const StorageOptions& options, std::ostream& out, std::ostream& err) {
  TVeskGSM gsm;
  Configure(gsm, common);
  SetMainThread();
  gsm.SetNeedSynchronization(true);
  // The listing asks for every message by its PDU-mode status (4).
  gsm.SetMessageFormat(mfPDU);
  Printer printer(out, common.json);
  int count = 0;
  gsm.OnReadMessage = [&](TObject* sender, const WideString& text, const AnsiString& phone,
                          const AnsiString& centre, TDateTime stamp, int zone, int status) {
    auto* g = static_cast<TVeskGSM*>(sender);
    const MessageFields m{text, phone, centre, stamp, zone, status};
    const std::vector<int> indexes = g->GetMessageIndexes();
    AnsiString storage = g->GetMessageLocation();
    if (storage.empty()) storage = options.storage;
    json object = {{"storage", AnsiText(storage)}, {"indexes", indexes}};
    object.update(m.Json());
    printer.Print(object, AnsiText(storage) + " " + IndexText(indexes) + " " + m.Plain());
    ++count;
  };
  // Every final result after the listing was asked for: the storage
  // selection's, then the listing's.
  std::vector<at::TResult> finals;
  std::string pending;
  gsm.OnReceive = [&](TObject*, const AnsiString& text) {
    // OnReceive has the text in capitals; the framing takes it in pieces.
    pending += text;
    const at::TFraming framing = at::Frame(pending, false);
    for (const at::TResult& r : framing.Results)
      if (r.Kind == at::TResultKind::Final) finals.push_back(r);
    pending.erase(0, framing.Consumed);
  };
  if (!OpenModem(gsm, common, true, err)) return kExitFailed;
  finals.clear();
  pending.clear();
  gsm.GetAllSMS(options.storage, 4);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (finals.size() < 2 && std::chrono::steady_clock::now() < deadline) CheckSynchronize(50);
  gsm.Close();
  while (CheckSynchronize(0)) {
  }
  if (finals.size() < 2) {
    err << "veskgsm: the listing was not answered\n";
    return kExitFailed;
  }
  if (finals[0].Final != at::TFinalCode::Ok) {
    err << "veskgsm: the storage " << options.storage << " was refused: " << AnsiText(Trim(finals[0].Line)) << "\n";
    return kExitFailed;
  }
  if (finals[1].Final != at::TFinalCode::Ok) {
    err << "veskgsm: the listing was refused: " << AnsiText(Trim(finals[1].Line)) << "\n";
    return kExitFailed;
  }
  if (!common.json) err << count << " message(s)" << std::endl;
  return kExitOk;
}

int RunDelete(const CommonOptions& common, const StorageOptions& options, std::ostream& out, std::ostream& err) {
  if (!options.all && options.indexes.empty()) throw UsageError("delete needs INDEX... or --all");
  TVeskGSM gsm;
  Configure(gsm, common);
  if (!OpenModem(gsm, common, true, err)) return kExitFailed;
  Printer printer(out, common.json);
  int status = kExitOk;
  auto one = [&](int index) {
    const bool ok = gsm.DeleteSMS(options.storage, options.all ? -4 : index);
    if (!ok) status = kExitFailed;
    const std::string what = options.all ? "all" : std::to_string(index);
    json object = {{"storage", options.storage}, {"deleted", ok}};
    if (options.all)
      object["all"] = true;
    else
      object["index"] = index;
    printer.Print(object, options.storage + " " + what + (ok ? " deleted" : " not deleted: the modem refused"));
  };
  if (options.all)
    one(-1);
  else
    for (int index : options.indexes) one(index);
  gsm.Close();
  return status;
}

// ------------------------------------------------------------------ pdu

int RunEncode(const CommonOptions& common, const EncodeOptions& options, std::ostream& out, std::ostream& err) {
  const TMessageEncoding encoding = EncodingFromName(options.encoding);
  const WideString text = Utf8ToWide(MessageText(options.text));
  TVeskGSM gsm;
  Configure(gsm, common);
  if (!options.languages.empty()) gsm.SetNationalLanguageTables(TablesFromCodes(options.languages));
  // As a send would go: one encoding and one choice of tables for every part.
  codec::MessagePlan plan;
  AnsiString error;
  if (!sending::SplitMessage(text, encoding, gsm.GetNationalLanguageTables(), plan, error)) {
    err << "veskgsm: " << AnsiText(error) << "\n";
    return kExitFailed;
  }
  const WideString number = Utf8ToWide(options.number);
  const WideString centre = Utf8ToWide(options.smsc);
  Printer printer(out, common.json);
  if (options.info) PrintInfo(printer, plan.Info);
  const TSMSInfo& how = plan.Info;
  auto print = [&](const TPDUSMS& pdu) {
    int length = 0;
    TryStrToInt(pdu.Length, length);
    printer.Print({{"length", length}, {"pdu", pdu.Data}}, pdu.Length + " " + pdu.Data);
  };
  if (plan.Parts.size() == 1) {
    print(codec::StringToPDUSMS(number, centre, text, how.Encoding, options.flash, nullptr, how.LockingShift,
                                how.SingleShift));
    return kExitOk;
  }
  // The reference a send picks: random, one for all parts.
  Randomize();
  const auto reference = static_cast<std::uint8_t>(options.reference >= 0 ? options.reference : Random(255));
  const auto count = static_cast<std::uint8_t>(plan.Parts.size());
  for (std::size_t i = 0; i < plan.Parts.size(); ++i) {
    const TUDH header(reference, static_cast<std::uint8_t>(i + 1), count);
    print(codec::StringToPDUSMS(number, centre, plan.Parts[i], how.Encoding, false, &header, how.LockingShift,
                                how.SingleShift));
  }
  return kExitOk;
}

int RunDecode(const CommonOptions& common, const std::vector<std::string>& hex, std::ostream& out,
              std::ostream& err) {
  TVeskGSM gsm;
  Printer printer(out, common.json);
  int status = kExitOk;
  int number = 0;
  for (const std::string& pdu : hex) {
    ++number;
    MessageFields m;
    bool skip = false;
    m.text = gsm.PDUSMSToString(pdu, m.sender, m.smsc, m.stamp, m.zone, skip);
    const AnsiString reason = gsm.GetLastDecodeError();
    if (!reason.empty()) {
      err << "veskgsm: PDU " << number << " does not decode: " << AnsiText(reason) << "\n";
      status = kExitFailed;
      continue;
    }
    if (skip) continue;  // a part of a long message: the last part prints it
    json object = m.Json();
    object.erase("status");
    printer.Print(object, m.Plain());
  }
  if (gsm.SMSContainer().Count() > 0) {
    err << "veskgsm: " << gsm.SMSContainer().Count()
        << " long message(s) incomplete: parts are missing from the PDUs given\n";
    status = kExitFailed;
  }
  return status;
}

// ------------------------------------------------------------------ simulate and demo

int RunSimulate(const SimulateOptions& options, std::ostream& out, std::ostream& err) {
  std::vector<std::string> args = {"--console"};
  if (!options.link.empty()) args.insert(args.end(), {"--path", options.link});
  if (options.baud > 0) args.insert(args.end(), {"--speed", std::to_string(options.baud)});
  for (const std::string& a : options.extra) args.push_back(a == "--help-sim" ? "--help" : a);
  return sim::RunSimulatorCommand("veskgsm simulate", args, out, err);
}

int RunDemoCommand() { return RunDemo(); }

}  // namespace vesk::cli
