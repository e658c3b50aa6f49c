// Value types of the modem simulator's programming interface.
//
// Included by ModemSimulator.h; kept apart so that the simulator's own PDU
// code can use them without pulling in the threaded simulator.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace vesk::sim {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

// TS 23.038 4: the three character sets of a short message.
enum class SmsEncoding { Gsm7Bit, EightBit, Ucs2 };

// TS 23.040 9.2.3.24.1 (IEI 00) and 9.2.3.24.8 (IEI 08).
enum class ConcatReference { EightBit, SixteenBit };

// What a data call (ATD without ';') ends in.
enum class DataCallOutcome { Connect, Busy, NoCarrier };

// What the modem does with what it hears at a line speed other than its own.
enum class WrongSpeedReply { Silence, Garbage };

// TS 27.005 3.1 <stat>, in its numeric order.
enum class SmsStatus { ReceivedUnread, ReceivedRead, StoredUnsent, StoredSent };

// The SIM: ready, asking for its PIN (3 tries), asking for its PUK (10
// tries), blocked for good after the last wrong PUK, or missing.
enum class PinState { Ready, SimPin, SimPuk, Blocked, NoSim };

enum class CallState { Idle, Ringing, Voice, DataOnline, DataCommand };

// Misbehaviour the simulator can be told to show. All can be changed while it
// runs (ModemSimulator::SetQuirks).
struct Quirks {
  // Result codes and information text in lower case ("ok", "+cmgs: 3").
  // Message bodies in text mode keep their case; PDUs turn lower-case hex.
  bool lowerCase = false;
  // Every answer and unsolicited result is written in this many pieces,
  // cut at arbitrary byte positions, with pieceDelay between them.
  int answerPieces = 1;
  Milliseconds pieceDelay{20};
  // Pause between a command line's last byte and the start of its answer.
  Milliseconds answerDelay{0};
  // Everything the modem writes (echo, answers, unsolicited results) goes
  // out at the pace of a serial line at this many bits per second, 10 bits
  // a byte (start bit, 8 data bits, stop bit): at 4800 a byte every
  // 2.08 ms, in small writes, so a client polling the line sees an answer
  // arrive bit by bit. Real time, whatever the client's clock. 0: off,
  // each write goes out at once.
  unsigned pacingBitsPerSecond = 0;
  // Every write cut into writes of at most this many bytes, a short gap
  // (kWriteChunkGap, 2 ms) apart, or the paced time of the bytes when that
  // is longer. 0: off.
  unsigned maxWriteChunk = 0;
  // The modem hears nothing and says nothing: no echo, no answer. Received
  // bytes still reach the transcript.
  bool neverAnswers = false;
  // AT+CMGS takes the body (and records the message) but its final result
  // ("+CMGS: <mr>" and OK) never comes.
  bool sendNeverAnswered = false;
  // Line speed in bits per second at which the modem understands the client;
  // 0 means any. At any other speed it reacts as wrongSpeedReply says.
  unsigned lineSpeed = 0;
  WrongSpeedReply wrongSpeedReply = WrongSpeedReply::Silence;
};

// TS 23.040 9.2.3.15 TP-ST values a status report may carry.
namespace report_status {
constexpr int kDelivered = 0x00;
constexpr int kStillTryingBusy = 0x21;  // SME busy, the SC tries again
constexpr int kIncompatibleDestination = 0x41;
constexpr int kValidityExpired = 0x46;
constexpr int kGaveUpNoResponse = 0x62;  // no response from the SME, no more attempts
}  // namespace report_status

// The status reports the network sends for messages sent with TP-SRR
// (TS 23.040 9.2.3.5): one per part, `delay` after the part was accepted
// (and each interim status `delay` apart before it), routed as AT+CNMI
// <ds> asks: 1 as +CDS, 2 stored in "SR" and announced with +CDSI, 0
// stored in "SR" silently.
struct ReportPolicy {
  Milliseconds delay{500};
  // The final TP-ST, unless a part or a destination has its own.
  int status = report_status::kDelivered;
  // The final TP-ST of a part (numbered from 1) of any long message.
  std::map<int, int> byPart;
  // The final TP-ST of every part sent to a destination, as the PDU gives
  // it ("+15550100").
  std::map<std::string, int> byDestination;
  // Temporary statuses (0x20 to 0x3F) reported first, in order.
  std::vector<int> interim;
};

struct ModemConfig {
  // Where clients find the modem: a symbolic link to the pseudo-terminal,
  // replaced atomically. Empty: a fresh path under the temporary directory.
  std::string path;

  // Power-on settings (ATZ and AT&F return to them).
  bool echo = true;
  int cmee = 1;                   // AT+CMEE: 0 "ERROR", 1 numeric, 2 verbose
  std::string characterSet = "IRA";  // AT+CSCS
  int messageFormat = 0;          // AT+CMGF: 0 PDU, 1 text

  // The SIM. An empty PIN means the SIM is ready at power-on.
  bool simInserted = true;  // false: AT+CPIN? answers +CME ERROR: 10
  std::string pin;
  std::string puk = "12345678";
  std::string imsi = "001010123456789";
  std::size_t simCapacity = 30;    // storage "SM"
  std::size_t phoneCapacity = 100; // storage "ME"
  std::size_t reportCapacity = 50;  // storage "SR", status reports
  std::string serviceCentre = "+15550100";

  // The device.
  std::string manufacturer = "VeskSoft";
  std::string model = "VSIM GSM";
  std::string revision = "1.0";
  std::string imei = "490154203237518";
  int rssi = 23;
  int ber = 99;
  // <stat> of +CREG, +CGREG and +CEREG (TS 27.007 7.2): 0 not registered,
  // 1 home, 2 searching, 3 denied, 5 roaming. Changed while running with
  // ModemSimulator::SetRegistration (console: register ...).
  int registration = 1;
  std::string operatorName = "VESK";      // AT+COPS? <format> 0 and 1
  std::string operatorNumeric = "00101";  // <format> 2
  int accessTechnology = 7;               // <AcT> of AT+COPS? (7 E-UTRAN); -1 leaves it out
  // How long the network takes to answer a USSD request (real time), and
  // to give up on *103# (the scripted network time-out).
  Milliseconds ussdDelay{300};
  Milliseconds ussdTimeout{1500};
  DataCallOutcome dataCall = DataCallOutcome::Connect;
  int firstMessageReference = 0;   // TP-MR of the first message sent
  // The phonebook: a number's name, shown as <alpha> in read answers,
  // listings and caller identification (names may hold commas and result
  // words: "Ringo", "Smith, ERROR Ltd").
  std::map<std::string, std::string> phonebook;

  // A plug-in again starts the modem afresh (settings back to the power-on
  // values, PIN asked again, the call dropped); stored messages stay.
  bool resetOnPlug = true;

  // Commands that answer ERROR as if the modem lacked them, named as they
  // follow "AT": "+CMGS", "+CRC", "D", "A", "E", "S0" ... (case-insensitive).
  std::set<std::string> unsupported;

  // Status reports of messages sent with TP-SRR.
  ReportPolicy reports;
  // With AT+CSMS=1, a message or report routed to the client (+CMT, +CDS)
  // that no AT+CNMA acknowledges within this time is delivered again, at
  // most maxRedeliveries times (TS 27.005 3.4.4 leaves what the network
  // does to it; this is what a client must be ready for).
  Milliseconds ackTimeout{10000};
  int maxRedeliveries = 3;

  Quirks quirks;
};

// TS 23.040 9.2.3.11 TP-Service-Centre-Time-Stamp.
struct SmsTimestamp {
  int year = 2019;
  int month = 3;
  int day = 14;
  int hour = 15;
  int minute = 9;
  int second = 26;
  int zoneQuarterHours = 8;  // signed, negative west of Greenwich
};

// A message arriving from the network.
struct IncomingSms {
  std::string text;                      // UTF-8
  std::string sender = "+15550123";      // digits (with '+' when international) or a name
  int senderType = 0;                    // TS 23.040 9.1.2.5; 0: 145, 129 or 208 from the sender
  std::string serviceCentre = "+15550100";
  SmsTimestamp timestamp;
  SmsEncoding encoding = SmsEncoding::Gsm7Bit;
  // A sender that chooses an encoding for each part: the encodings of parts
  // 1, 2, ... in turn (the last one for any further part). The text is cut
  // at each part's own capacity, and the message always goes in parts.
  // Empty: every part in `encoding`.
  std::vector<SmsEncoding> partEncodings;
  bool flash = false;                    // message class 0
  // Long texts go as concatenated parts.
  ConcatReference referenceSize = ConcatReference::EightBit;
  int reference = 1;
  // The order the parts arrive in, by part number from 1; empty: in order.
  // A number may be left out (the part never arrives) or repeated.
  std::vector<int> partOrder;
  // Storage to put it in; empty: the receive storage of AT+CPMS (<mem3>).
  std::string storage;
  // Announce it ("+CMTI:" or "+CMT:" as AT+CNMI asks). False pre-loads the
  // storage silently.
  bool announce = true;
};

// One part of an IncomingSms as the simulator delivered it.
struct DeliveredPart {
  int partNumber = 1;
  std::string pdu;        // hex, service centre part included
  std::string storage;    // empty when routed to the client directly (+CMT)
  int index = -1;         // -1 when not stored (storage full, or +CMT)
};

struct IncomingCall {
  std::string number = "+15550123";
  int numberType = 0;     // 0: 145 with '+', else 129
  int rings = 3;
  Milliseconds interval{1000};
  // After the last ring the caller gives up: "NO CARRIER" unless answered.
  bool hangUpAfterRings = true;
};

// TS 23.040 9.2.3.24.1 / 9.2.3.24.8.
struct ConcatInfo {
  int reference = 0;
  int total = 0;
  int sequence = 0;
};

// A message the client handed to AT+CMGS.
struct SubmittedMessage {
  bool pduMode = false;
  std::string pdu;               // PDU mode: the hex as received, upper case
  int tpduLength = 0;            // PDU mode: the <length> of AT+CMGS
  std::string serviceCentre;     // from the PDU, or AT+CSCA when it carries none
  std::string destination;
  int destinationType = 0;
  int dcs = 0;
  SmsEncoding encoding = SmsEncoding::Gsm7Bit;
  std::string text;              // UTF-8; 8-bit data as Latin-1 code points
  std::optional<ConcatInfo> concat;
  // The national language identifiers (TS 23.038 6.2.1.2.4) of the
  // locking and single shift elements in the PDU's header, by which its
  // text was read; 0 when absent.
  int lockingShift = 0;
  int singleShift = 0;
  int messageReference = 0;      // the <mr> answered
  bool answered = true;          // false with Quirks::sendNeverAnswered
  bool reportRequested = false;  // TP-SRR set
};

// A message in one of the storages, as AT+CMGR would show it in PDU mode.
struct StoredSms {
  std::string storage;
  int index = 0;
  SmsStatus status = SmsStatus::ReceivedUnread;
  std::string pdu;               // hex, service centre part included
};

enum class Direction { Received, Sent };

struct TranscriptEntry {
  Direction direction = Direction::Received;
  Clock::time_point time;
  std::string bytes;             // one read from or one write to the line
};

// The modem's settings and state at one moment.
struct ModemState {
  bool plugged = false;
  unsigned clientLineSpeed = 0;  // what the client last set, bits per second
  bool echo = true;
  bool verbose = true;           // ATV
  bool quiet = false;            // ATQ
  int autoAnswerRings = 0;       // ATS0
  int cmee = 1;
  std::string characterSet;
  int messageFormat = 0;
  bool showTextHeader = false;   // AT+CSDH
  int cnmi[5] = {0, 0, 0, 0, 0};
  int csms = 0;  // AT+CSMS <service>
  bool clip = false;
  int clir = 0;
  bool crc = false;
  std::string readStorage, writeStorage, receiveStorage;
  std::string serviceCentre;
  PinState pin = PinState::Ready;
  int pinAttempts = 3;  // tries left
  int pukAttempts = 10;
  int registration = 1;  // <stat>, as the network gives it
  int cregMode = 0;      // <n> of AT+CREG, AT+CGREG, AT+CEREG
  int cgregMode = 0;
  int ceregMode = 0;
  int ussdMenu = 0;  // 0 no USSD session, 1 the menu of *101#, 2 its bundles
  CallState call = CallState::Idle;
  std::string lastDialled;
};

}  // namespace vesk::sim
