// A GSM modem on a POSIX pseudo-terminal, for tests, demonstrations and
// application development without hardware.
//
// The modem speaks the AT dialogue of V.250, TS 27.007 and TS 27.005: command
// lines starting with "AT" and ending with CR, several commands on one line
// ("AT+CLIP=1;+CRC=1"), echo (of each byte as it arrives), "OK" / "ERROR" /
// "+CME ERROR: n" / "+CMS ERROR: n" finals framed with CR LF, message sending
// with the "> " prompt in PDU and text mode, storages "SM" and "ME", incoming
// messages announced with "+CMTI:" (or routed as "+CMT:", acknowledged with
// AT+CNMA under AT+CSMS=1), status reports for messages sent with TP-SRR
// ("+CDS:", "+CDSI:" or stored in "SR"), calls with RING / "+CRING:" and
// "+CLIP:".
// ModemConfig and Quirks (SimTypes.h) give its settings and misbehaviour.
//
// Clients reach it under a stable path (a symbolic link to /dev/pts/N) that
// survives Unplug() and Plug(). Open it with O_RDWR | O_NOCTTY and put the
// line in raw mode. Data the modem sends while no client has the line open
// waits in the pseudo-terminal, as on a real line nobody reads; discard it
// with tcflush(fd, TCIFLUSH) after opening when it does not matter.
//
// Modem lines: a pseudo-terminal has none. TIOCMGET/TIOCMSET on the client's
// side fail with ENOTTY; the simulator neither offers nor fakes DTR, RTS,
// CTS, DSR, DCD or RI.
//
// Line speed: with Quirks::lineSpeed set, the modem understands the client
// only when the speed the client set on its side (cfsetospeed, or TCSETS2
// for other speeds) is that speed; otherwise it hears noise and says nothing
// (or noise). The speed is read when the bytes are taken off the line, so a
// client changes it before writing. Events (messages, calls, raw bytes) go
// out whatever the speed.
//
// Threads: one I/O thread per simulator does all reading and writing. Every
// public method may be called from any thread; the trace sink runs on the
// I/O thread and must neither call back into the simulator nor throw.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tools/simulator/SimTypes.h"

namespace vesk::sim {

class ModemSimulator {
 public:
  // Opens a fresh pseudo-terminal, publishes config.path (or a generated
  // path) and starts the I/O thread. Throws std::system_error when the
  // pseudo-terminal or the path cannot be made.
  explicit ModemSimulator(ModemConfig config = {});
  // Stops the I/O thread, closes the pseudo-terminal and removes the path.
  ~ModemSimulator();
  ModemSimulator(const ModemSimulator&) = delete;
  ModemSimulator& operator=(const ModemSimulator&) = delete;

  // The stable path clients open.
  std::string Path() const;
  // The pseudo-terminal behind it now; empty while unplugged.
  std::string DevicePath() const;

  // --- Events ---------------------------------------------------------------

  // Stores the message (each part of a long one, in partOrder) and announces
  // it as AT+CNMI asks. Returns what became of each part.
  std::vector<DeliveredPart> DeliverSms(const IncomingSms& sms);
  // Stores a PDU exactly as given (hex, service centre part first), valid
  // or not, in `storage` (empty: the receive storage), announced like a
  // delivered message when `announce`. Returns its index, -1 when the
  // storage is unknown or full.
  int StoreRawPdu(const std::string& storage, const std::string& hex, SmsStatus status = SmsStatus::ReceivedUnread,
                  bool announce = true);
  // Rings call.rings times, call.interval apart, the first ring at once:
  // "RING" (or "+CRING: VOICE" after AT+CRC=1), then "+CLIP: ..." after
  // AT+CLIP=1. ATA answers; ATS0=n answers by itself after n rings.
  void Ring(const IncomingCall& call = {});
  // The other party ends the call: "NO CARRIER".
  void RemoteHangUp();
  // `count` lines of `line`, each framed "\r\n<line>\r\n", at once.
  void SendErrorBurst(int count, const std::string& line = "ERROR");
  // `count` arbitrary bytes (any value 0-255), the same for the same seed.
  void SendGarbage(std::size_t count, unsigned seed = 1);
  // Bytes exactly as given.
  void SendRaw(const std::string& bytes);
  // An unsolicited result "\r\n<text>\r\n", held back like the modem's own
  // while a message body is being typed.
  void SendUnsolicited(const std::string& text);
  // The network registers the modem (<stat> of TS 27.007 7.2: 0 not
  // registered, 1 home, 2 searching, 3 denied, 5 roaming): +CREG, +CGREG
  // and +CEREG as the client switched them on, when the status changes.
  void SetRegistration(int stat);
  // A network-initiated USSD: +CUSD: <m>,"<text>",15, when the client has
  // switched presentation on (AT+CUSD=1).
  void SendUssd(int m, const std::string& utf8);
  // Removes the path, then closes the modem's side: the client sees end of
  // file, EIO or POLLHUP. Pending output and rings are dropped.
  void Unplug();
  // A fresh pseudo-terminal under the same path; with
  // ModemConfig::resetOnPlug the modem starts afresh. Throws
  // std::system_error like the constructor.
  void Plug();
  bool IsPlugged() const;

  // --- Faults of a modem that stops answering ----------------------------------

  // Hears nothing (and says nothing) until the client has closed the line
  // and opened it again: a firmware hang that a DTR drop cures. A line no
  // client holds is cured at once.
  void Hang();
  bool IsHung() const;
  // Answers "AT" and other commands, but no message command (they are
  // echoed and never answered), until AT+CFUN=1,1: that answers OK, and
  // the port goes away for `restartGone` and comes back (the modem
  // restarted, under the same path).
  void Wedge(Milliseconds restartGone = Milliseconds(3000));
  bool IsWedged() const;
  // Sends "> " and takes what comes as a message body, until Ctrl-Z or ESC.
  void StickAtPrompt();
  // The port vanishes and, `gone` later, comes back under `path` (the old
  // path is removed); the modem keeps its state, like a USB stick that
  // re-enumerates under another name.
  void ReplugAs(const std::string& path, Milliseconds gone = Milliseconds(1000));

  // --- Changes while running ------------------------------------------------

  void SetQuirks(const Quirks& quirks);
  Quirks GetQuirks() const;
  // Whether a command ("+CMGS", "D", "S0", ...) exists; one that does not
  // answers ERROR.
  void SetSupported(const std::string& command, bool supported);
  // The next `count` message sends (AT+CMGS) end in `finalResult` instead of
  // "+CMGS: <mr>" and OK, and are not recorded.
  void FailNextSends(int count, const std::string& finalResult = "+CMS ERROR: 321");
  void SetSignal(int rssi, int ber);
  void SetDataCallOutcome(DataCallOutcome outcome);
  // How the network reports on messages sent with TP-SRR, from the next
  // one on.
  void SetReportPolicy(const ReportPolicy& policy);
  // The next `count` new-message notices (+CMTI) go missing: the messages
  // are stored, never announced.
  void DropNextNotices(int count);

  // --- What happened --------------------------------------------------------

  // Each read from and write to the line, in order.
  std::vector<TranscriptEntry> Transcript() const;
  // The transcript one entry a line: "+12.345 <- AT+CMGF=1\r" with control
  // characters escaped (\r \n \x1A ...); "->" for what the modem sent.
  std::string TranscriptText() const;
  // All bytes received / sent, concatenated.
  std::string ReceivedBytes() const;
  std::string SentBytes() const;
  // Forgets the transcript and the received and sent bytes (not the
  // commands or messages).
  void ClearTranscript();
  // Command lines as received, from "AT" up to the CR left out.
  std::vector<std::string> Commands() const;
  // Messages accepted by AT+CMGS, in order.
  std::vector<SubmittedMessage> Submitted() const;
  // Messages in the storages.
  std::vector<StoredSms> Stored() const;
  ModemState State() const;
  // Deliveries made again for want of an AT+CNMA, acknowledgements taken,
  // status reports sent (stored ones included).
  int Redeliveries() const;
  int Acknowledgements() const;
  int StatusReportsSent() const;
  // Called on the I/O thread with each new transcript entry.
  void SetTraceSink(std::function<void(const TranscriptEntry&)> sink);

  // --- Waiting without sleeping blindly --------------------------------------

  // Until condition() holds (checked at once and after every change the
  // simulator sees) or the timeout passes; returns the last check.
  bool WaitUntil(const std::function<bool()>& condition, Milliseconds timeout) const;
  // Until `occurrences` command lines starting with `prefix` (any case) came.
  bool WaitForCommand(std::string_view prefix, Milliseconds timeout, std::size_t occurrences = 1) const;
  // Until the received / sent bytes contain `bytes`.
  bool WaitForReceived(std::string_view bytes, Milliseconds timeout) const;
  bool WaitForSent(std::string_view bytes, Milliseconds timeout) const;
  // Until `count` messages were accepted for sending.
  bool WaitForSubmitted(std::size_t count, Milliseconds timeout) const;
  // Until everything the modem has to say so far has been written.
  bool WaitForOutputDrained(Milliseconds timeout) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The SMS-DELIVER PDUs (hex, service centre part included) the simulator
// would store for a message, in part order.
std::vector<std::string> DeliverPdus(const IncomingSms& sms);

// Bytes as the transcript text shows them: \r, \n, \\ and \xHH for other
// control and non-ASCII bytes.
std::string Printable(std::string_view bytes);

}  // namespace vesk::sim
