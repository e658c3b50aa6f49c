// VeskGSM: drives a GSM modem, or a phone acting as one, on a serial port
// through its AT command set.
//
// One TVeskGSM object per modem. Create it (with an owner, or none),
// set its properties and event handlers, Open() it and call its methods
// from the application's thread. A reader thread owns the open port, waits
// on it, raises the events as text arrives, and looks at the modem lines
// and the port list at least every Delay milliseconds.
//
// Threads and events:
//   * OnReceive, OnRing, OnNewMessage, OnReadMessage, OnError (and
//     OnRegistrationChange, OnUSSD) come from the reader thread, or from the
//     main thread when NeedSynchronization is true; text read by a command
//     (ExecuteATCommand, ReadString ...) raises them on the thread that ran
//     the command.
//   * OnFault: the main thread with NeedSynchronization, else the reader.
//   * OnDisconnect: always the reader thread, as it ends.
//   * OnConnect: the thread that called Open (the reconnect thread when it
//     reopens the port by itself).
//   * OnSend: the thread that wrote.
//   * OnDetect: the thread that called DetectGSM.
// With NeedSynchronization true the main thread must run the synchronized
// calls: see component/Thread.h (CheckSynchronize, ProcessMessages).
//
// Errors: failures of the modem dialogue are results (false, 0, empty).
// EVeskGSMException is raised for a call that needs an open port when none
// is open, a device that cannot be opened, a refused combination of data
// width and stop bits, and a traffic log that cannot be written. What an
// application's event handler raises reaches whoever raised the event: the
// caller of a command (OnSend, and the events of the text a command read),
// of Open (OnConnect) or of DetectGSM (OnDetect); on the reader thread it
// ends the connection (OnDisconnect follows).
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "codec/MessagePlan.h"
#include "codec/Submit.h"
#include "commands/Errors.h"
#include "commands/ModemState.h"
#include "component/Component.h"
#include "component/DeliveryReports.h"
#include "component/Enums.h"
#include "component/Framework.h"
#include "component/Health.h"
#include "component/Thread.h"
#include "port/SerialDevice.h"

namespace vesk {

class TComThread;
class TReconnectThread;
class TConnection;
class TConcatenatedSMSCollection;
namespace codec {
struct DecodedSMS;
struct DeliverPDU;
}
namespace at {
struct TResult;
struct TCommandAnswer;
}

// The component's exception.
class EVeskGSMException : public Exception {
 public:
  using Exception::Exception;
};

// ---------------------------------------------------------------- events

using TConnectEvent = std::function<void(TObject* Sender, TCommPort Port)>;
using TSendReceiveEvent = std::function<void(TObject* Sender, const AnsiString& Buffer)>;
using TRingEvent = std::function<void(TObject* Sender, const AnsiString& CallerNumber)>;
using TNewMessageEvent = std::function<void(TObject* Sender, const AnsiString& Location, int Index)>;
// TimeZone in quarter hours east of Greenwich; Status 0 received unread,
// 1 received read, 2 stored unsent, 3 stored sent, -1 unknown.
using TReadMessageEvent =
    std::function<void(TObject* Sender, const WideString& MessageText, const AnsiString& PhoneNumber,
                       const AnsiString& CenterNumber, TDateTime TimeStamp, int TimeZone, int Status)>;
using TDetectEvent = std::function<void(TObject* Sender, TCommPort Port, TBaudRate BaudRate, bool& Cancel)>;
// ---- the modem's state
using TRegistrationEvent = std::function<void(TObject* Sender, const TRegistration& Registration)>;
using TUSSDEvent = std::function<void(TObject* Sender, const TUSSDResult& Result)>;

// An event: assign a handler with `=`, clear it with `= nullptr`, raise it
// with `()`. Raising without a handler does nothing. Handlers may be set
// from any thread while the component runs.
template <class Handler>
class TEvent {
 public:
  TEvent& operator=(Handler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    handler_ = std::move(handler);
    return *this;
  }
  TEvent& operator=(std::nullptr_t) {
    std::lock_guard<std::mutex> lock(mutex_);
    handler_ = nullptr;
    return *this;
  }
  explicit operator bool() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<bool>(handler_);
  }
  template <class... Args>
  void operator()(Args&&... args) const {
    Handler h;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      h = handler_;
    }
    if (h) h(std::forward<Args>(args)...);
  }

 private:
  mutable std::mutex mutex_;
  Handler handler_;
};

// ---------------------------------------------------------------- the component

class TVeskGSM : public TComponent {
 public:
  explicit TVeskGSM(TComponent* AOwner = nullptr);
  // Ends the connection and reconnection and returns within about 2 s; raises
  // no OnDisconnect. May be called from the component's own event handlers:
  // the reader thread then ends by itself once the handler returns.
  ~TVeskGSM() override;
  TVeskGSM(const TVeskGSM&) = delete;
  TVeskGSM& operator=(const TVeskGSM&) = delete;

  AnsiString ClassName() const override { return "TVeskGSM"; }
  std::vector<TPropertyInfo> PublishedProperties() override;

  // ------------------------------------------------ published properties
  // Setters run on the caller's thread. While the port is open the line
  // setters apply the new settings at once (discarding pending input);
  // a refusal by the port is silent and the value is used at the next Open.

  // The port: "COMn" selects spCOMn, anything else is spCustom; an empty
  // selection reads spCustom. On POSIX, COMn is /dev/ttyS(n-1) and a custom
  // name is a device path ("/dev/ttyUSB0", or "ttyUSB0" for the same).
  TCommPort GetPort() const { return GetCommPort(); }
  void SetPort(TCommPort value) { SetCommPort(value); }
  TCommPort GetCommPort() const;
  void SetCommPort(TCommPort value);
  TBaudRate GetBaudRate() const;
  void SetBaudRate(TBaudRate value);
  TDataWidth GetDataWidth() const;
  // Raises EVeskGSMException "Invalid data-width and stop-bits combination."
  // for 5 bits with two stop bits, or 6 to 8 bits with one and a half.
  void SetDataWidth(TDataWidth value);
  TStopBits GetStopBits() const;
  void SetStopBits(TStopBits value);
  TParityBits GetParity() const;
  void SetParity(TParityBits value);
  bool GetEnableDTROnOpen() const { return FEnableDTROnOpen; }
  void SetEnableDTROnOpen(bool value);
  bool GetEnableRTSOnOpen() const { return FEnableRTSOnOpen; }
  void SetEnableRTSOnOpen(bool value);
  THwFlowControl GetHwFlowControl() const { return FHwFlowControl; }
  void SetHwFlowControl(THwFlowControl value);
  TSwFlowControl GetSwFlowControl() const { return FSwFlowControl; }
  void SetSwFlowControl(TSwFlowControl value);
  TThreadPriority GetPriority() const { return FPriority; }
  void SetPriority(TThreadPriority value);
  AnsiString GetCustomPortName() const;
  void SetCustomPortName(const AnsiString& value);
  int GetCustomBaudRate() const { return FCustomBaudRate; }
  void SetCustomBaudRate(int value);
  bool GetAutoReadNewMessage() const { return FAutoReadNewMessage; }
  void SetAutoReadNewMessage(bool value) { FAutoReadNewMessage = value; }
  TMessageFormat GetMessageFormat() const { return FMessageFormat; }
  // Switches the modem at once while the port is open (AT+CMGF, and
  // AT+CSDH=1 for text); otherwise only records the value for the next Open.
  void SetMessageFormat(TMessageFormat Value);
  // The longest the reader thread waits (milliseconds) before it looks at
  // the modem lines and, when Delay is at least
  // MinCheckDisconnectedInterval, the port list. Received text does not
  // wait for it: it is dispatched as it comes. Where the device itself
  // reports a hang-up (POSIX), a longer Delay costs less and still notices
  // an unplugged USB modem at once.
  int GetDelay() const { return FDelay; }
  void SetDelay(int value) { FDelay = value; }
  int GetInterval() const { return FDelay; }
  void SetInterval(int value) { FDelay = value; }
  bool GetIsFaulted() const { return FIsFaulted; }
  AnsiString GetPIN() const;
  void SetPIN(const AnsiString& value);

  // ------------------------------------------------ events
  // OnReceive gets each text as it was read, in capitals, before the other
  // events of that text. OnRing, OnNewMessage, OnReadMessage and OnError
  // get texts and numbers as the modem sent them. Results are whole lines:
  // a result word inside another line, a quoted field (a sender's
  // phonebook name) or a message body is text. A read answer whose end has
  // not come yet waits for it (at most 2 s after it last grew). A text-mode
  // message is every line of its body, line breaks included (its <length>
  // when the header gives it). OnError gets the modem's error line whole
  // ("+CMS ERROR: 321"), and reports a stored message whose PDU does not
  // decode or that came without its PDU (the answer as received;
  // GetLastDecodeError() says why).
  TEvent<TSendReceiveEvent> OnReceive;
  TEvent<TSendReceiveEvent> OnSend;
  TEvent<TConnectEvent> OnConnect;
  TEvent<TConnectEvent> OnDisconnect;
  TEvent<TRingEvent> OnRing;
  TEvent<TNewMessageEvent> OnNewMessage;
  TEvent<TReadMessageEvent> OnReadMessage;
  TEvent<TDetectEvent> OnDetect;
  TEvent<TConnectEvent> OnFault;
  TEvent<TSendReceiveEvent> OnError;

  // ------------------------------------------------ public properties
  // True inside OnReadMessage for an entry of a listing (GetAllSMS).
  bool GetIsListing() const { return FIsListing; }
  void SetIsListing(bool value) { FIsListing = value; }
  double GetVersion() const { return FVersion; }
  bool GetNeedSynchronization() const { return FNeedSynchronization; }
  void SetNeedSynchronization(bool value) { FNeedSynchronization = value; }
  TDateTime GetLastReceived() const { return FLastReceived; }
  void SetLastReceived(TDateTime value) { FLastReceived = value; }
  UnicodeString GetLogFile() const;
  void SetLogFile(const UnicodeString& value);
  bool GetLog() const { return FLog; }
  void SetLog(bool value) { FLog = value; }
  int GetMinCheckDisconnectedInterval() const { return FMinCheckDisconnectedInterval; }
  void SetMinCheckDisconnectedInterval(int value) { FMinCheckDisconnectedInterval = value; }
  bool GetAutoReconnect() const { return FAutoReconnect; }
  void SetAutoReconnect(bool value) { FAutoReconnect = value; }
  int GetAutoReconnectCheckInterval() const { return FAutoReconnectCheckInterval; }
  void SetAutoReconnectCheckInterval(int value) { FAutoReconnectCheckInterval = value; }
  bool GetCloseWhenLineStatusIsZero() const { return FCloseWhenLineStatusIsZero; }
  void SetCloseWhenLineStatusIsZero(bool value) { FCloseWhenLineStatusIsZero = value; }
  bool GetSkipSetupFailed() const { return FSkipSetupFailed; }
  void SetSkipSetupFailed(bool value) { FSkipSetupFailed = value; }

  // The serial platform the component opens ports through; the machine's
  // own by default. Set it before Open (tests put a fake modem here).
  void SetSerialPlatform(std::shared_ptr<SerialPlatform> platform);
  std::shared_ptr<SerialPlatform> GetSerialPlatform() const;

  // ------------------------------------------------ conversions
  // No side effects; never raise.
  TCommPort StringToCommPort(const AnsiString& Port) const;
  AnsiString CommPortToString(TCommPort Port) const;
  int BaudRateToInt(TBaudRate pBaudRate) const;
  TBaudRate IntToBaudRate(int Value) const;

  // ------------------------------------------------ connection
  // The open port, spNone when none is.
  TCommPort IsConnected() const { return ConnectedTo; }
  // Opens the configured port and starts the reader thread, which applies
  // the line settings and, unless skipInit, sets the modem up. True when a
  // new connection is up; false when that port is open already or is not
  // present. Raises "Cannot connect to %s . %s" when the device cannot be
  // opened. Raises OnConnect on the calling thread. Stops a reconnection
  // in progress.
  bool Open(bool skipInit = false);
  // Ends the connection (whatever the modem is doing) and any reconnection,
  // and waits up to 2 s for the reader thread to release the port;
  // OnDisconnect comes from the reader thread as it ends.
  void Close();

  // ------------------------------------------------ port list
  TCommPortSet GetExistingCommPorts();
  void GetExistingCommPortNames(TStrings& Strings);
  bool IsExistingCommPort(const UnicodeString& pport);
  bool IsExistingCommPort(const AnsiString& pport) { return IsExistingCommPort(AnsiToWide(pport)); }

  // ------------------------------------------------ port input and output
  // Raise "%s is not open. GSM Modem is not connected." when no port is open.
  unsigned SendString(const AnsiString& str);
  AnsiString ReadString();
  AnsiString ReadBuffer();
  bool ClearInputBuffer();

  // ------------------------------------------------ commands
  // Sends strAT and the terminator and collects the answer up to its final
  // result code, a line of its own in any case of letters: OK, ERROR,
  // +CMS ERROR: <n>, +CME ERROR: <n>, NO CARRIER, BUSY, NO ANSWER,
  // NO DIALTONE or CONNECT; the word inside another line (a quoted name, a
  // message text) ends nothing. A read or listing still on its way (the
  // automatic read of a notice, say) is taken in first, so the answer is
  // this command's own. The non-empty lines up to the final one go to
  // ResultList (nullptr allowed). Returns the number of lines, 0 after a
  // time-out. Serialised with other commands and the reader thread.
  // strAT is written as given: the application answers for what it holds.
  int ExecuteATCommand(const AnsiString& strAT, TStrings* ResultList, int timeOutSeconds, char CommandTerminator);
  // True when the final result is OK.
  bool ExecuteATCommand(const AnsiString& strAT, char CommandTerminator = '\r');
  void InitGSMModem();
  std::uint16_t TestGSMModemCapabilities();
  bool SetDefaultStorage(const AnsiString& Location);

  // ------------------------------------------------ device and call commands
  // Each runs one command through ExecuteATCommand on the caller's thread
  // and raises the not-open exception when no port is open. A string that
  // goes into the command line and holds a CR, LF, double quote or other
  // control character is refused (false, nothing written): it would end
  // the command and run the rest as another.
  // The product serial number line of the answer, with echo on or off (""
  // after a time-out or an error).
  AnsiString GetIMEI();
  // The received signal strength indication of the +CSQ line; 99 when none
  // reads.
  int GetSignalStrength();
  // AT+CPIN="<pin>", guarded (commands/State.cpp): a PIN of other than 4
  // to 8 digits is refused, and so is any PIN when the modem says the SIM
  // needs its PUK, or when it reports one try left and lastTry is false
  // (a wrong guess then would lock the SIM); nothing is written then, the
  // result is false and GetLastModemError().Text says why. Asks AT+CPIN?
  // and AT+CPINR first. EnterPIN() sends the PIN property.
  bool EnterPIN(const AnsiString& strPin, bool lastTry = false);
  bool EnterPIN();
  bool HideMyPhoneNumber(bool hideNumber);
  bool SetAutoAnswer(int noRings);
  bool SetEcho(bool state);
  // ATD<number>; and ATD<number>; false at once for an empty number or one
  // with other than dial characters (digits, * # + A B C D, the modifiers
  // , T P ! W @ I G, and blanks, dashes, dots and brackets). True only on
  // OK: BUSY, NO ANSWER, NO CARRIER, NO DIALTONE and CONNECT end the
  // command with false.
  bool DialVoice(const AnsiString& PhoneNumber);
  bool DialData(const AnsiString& PhoneNumber);
  bool AnswerCall();
  bool TerminateCall();

  // ------------------------------------------------ stored messages
  // GetSMS and GetAllSMS select the storage, send the read or list command
  // and return without waiting: the answer raises OnReadMessage later,
  // from the reader thread (or the main thread with NeedSynchronization).
  // A Location holding a control character or a double quote is refused:
  // nothing is written (DeleteSMS and SetDefaultStorage give false). In
  // text mode (MessageFormat mfText) GetAllSMS asks for SmsType 0 to 4 by
  // its word: "REC UNREAD", "REC READ", "STO UNSENT", "STO SENT", "ALL".
  void GetSMS(const AnsiString& Location, int Index);
  void GetAllSMS(const AnsiString& Location, int SmsType);
  // Index >= 0 deletes that message; -1 to -4 are the AT+CMGD delete flags
  // 1 to 4 (read; read and sent; read, sent and unsent; all). True when
  // the modem answered OK.
  bool DeleteSMS(const AnsiString& Location, int Index);

  // Valid only inside an OnReadMessage handler, on its thread (like
  // IsListing): the storage and the stored indexes of the message being
  // reported. One index for a single message, the index of every part
  // that came from a stored position for a concatenated one (in part
  // order); empty when unknown (an answer to a read the component did not
  // ask for through GetSMS, for instance).
  AnsiString GetMessageLocation() const;
  std::vector<int> GetMessageIndexes() const;

  // ------------------------------------------------ SMS codec
  // Pure functions of their arguments; any thread.
  WideString GSM7bitDefaultAlphabet() const;
  bool IsGSM7bitDefaultAlphabet(const WideString& str) const;
  bool IsUnicode(const WideString& str) const;
  AnsiString StringToGSM7bitDefaultAlphabet(const AnsiString& strMessage, TNationalLanguageShiftTables lockingShiftTable,
                                            TNationalLanguageShiftTables singleShiftTable) const;
  WideString GSM7bitDefaultAlphabetToString(const AnsiString& strMessage,
                                            TNationalLanguageShiftTables lockingShiftTable,
                                            TNationalLanguageShiftTables singleShiftTable) const;
  AnsiString ReplaceControlChars(const AnsiString& strInput) const;
  AnsiString StringToPDU7(const AnsiString& str) const;
  AnsiString StringToPDU8(const AnsiString& str) const;
  AnsiString StringToPDU16(const WideString& str) const;
  WideString PDU7ToString(const AnsiString& str) const;
  WideString PDU8ToString(const AnsiString& str) const;
  WideString PDU16ToString(const AnsiString& str) const;
  TPDUSMS StringToPDUSMS(const WideString& PhoneNumber, const WideString& CenterNumber, const WideString& MessageText,
                         TMessageEncoding Encoding, bool Flash, const TUDH* UserDataHeader) const;
  // Decodes one SMS-DELIVER (or stored SMS-SUBMIT) PDU. Parts of a long
  // message are held until the last one arrives (Skip true until then).
  // Malformed input never raises: the message is skipped, its text empty,
  // and GetLastDecodeError() names what was wrong.
  WideString PDUSMSToString(const AnsiString& MessageText, AnsiString& PhoneNumber, AnsiString& CenterNumber,
                            TDateTime& TimeStamp, int& TimeZone, bool& Skip);
  AnsiString GetLastDecodeError() const;
  WideString TextSMSToString(const AnsiString& MessageText, AnsiString& PhoneNumber, AnsiString& CenterNumber,
                             TDateTime& TimeStamp, int& TimeZone, int& Status) const;

  // Parts of long messages waiting for the rest. Entries older than
  // ConcatenatedSMSMaxAge seconds (24 hours by default) are dropped, and at
  // most ConcatenatedSMSMaxEntries are kept (the oldest go first). A value
  // below 1 switches that bound off.
  int GetConcatenatedSMSMaxAge() const { return FConcatenatedSMSMaxAge; }
  void SetConcatenatedSMSMaxAge(int seconds) { FConcatenatedSMSMaxAge = seconds; }
  int GetConcatenatedSMSMaxEntries() const { return FConcatenatedSMSMaxEntries; }
  void SetConcatenatedSMSMaxEntries(int count) { FConcatenatedSMSMaxEntries = count; }
  // The collection itself, for inspection. Not locked: use it only while
  // no PDU is being decoded (the dispatcher decodes on the reader thread).
  TConcatenatedSMSCollection& SMSContainer() { return *FSMSContainer; }

  // ------------------------------------------------ sending
  // Both send on the caller's thread and hold the port for the whole
  // dialogue (every part of a long message): the reader thread neither
  // reads nor dispatches meanwhile, and a command from another thread waits.
  // What the modem says is dispatched as usual (OnReceive, OnError ...), on
  // the caller's thread; every write raises OnSend. With the modem's echo
  // on, the body it echoes is the application's text: it is not the
  // modem's answer and raises no event.
  //
  // True when the modem accepted the message (every part of it) with a
  // final OK after the body (and its echo). False, with GetLastSendError() saying why, when the phone
  // number is blank or holds a control character or a double quote, when
  // the modem answers ERROR, "+CMS ERROR: n" or "+CME ERROR: n" (in any
  // case of letters), when no final answer comes within 15 seconds, or when
  // the connection closes during the send; a long message stops at the
  // first part that fails, and the parts before it stay sent. Raises
  // "%s is not open. GSM Modem is not connected." when no port is open (a
  // blank phone number gives false first) or the port fails during a write.
  //
  // Before each message the dialogue writes an escape (ending a message
  // body an earlier send may have left open), "AT", the message format
  // ("AT+CMGF=1" or "=0") and, when CenterNumber is not blank,
  // "AT+CSCA=\"<CenterNumber>\""; then "AT+CMGS=..." and the body ended
  // by Ctrl-Z. The numbers go as given. MessageFormat is neither read nor
  // changed: the modem is left in the format the send chose.
  //
  // Text mode: MessageText goes unchanged, unsplit; a text holding a zero
  // byte, Ctrl-Z or escape gives false without touching the port (they
  // would end the body early and turn the rest into commands).
  bool SendSMSAsText(const AnsiString& PhoneNumber, const AnsiString& CenterNumber, const AnsiString& MessageText);
  // PDU mode. meAuto picks GSM 7-bit when every character fits the
  // alphabet, UCS2 otherwise. A text longer than one message (160 septets,
  // 140 octets or 70 UCS2 units) goes in concatenated parts of at most 153
  // septets, 134 octets or 67 units, sharing one random reference (0 to
  // 254); no extension character or surrogate pair is split and no
  // character is lost. With meAuto the whole text decides the encoding,
  // and every part goes in it. With NationalLanguageTables set, a text may
  // go in those tables instead, every part naming them in its header and
  // holding fewer septets for it. Flash (message class 0) applies to single
  // messages only.
  // At most 255 parts: a longer text gives false without touching the port.
  bool SendSMSAsPDU(const AnsiString& PhoneNumber, const AnsiString& CenterNumber, const WideString& MessageText,
                    TMessageEncoding Encoding = meAuto, bool Flash = false);
  // The national language tables (TS 23.038 annex A) SendSMSAsPDU may
  // write a text with: stSpanish ... stUrdu; stDefault means nothing.
  // Empty by default, so texts go as they always have (some older phones
  // show national-table messages wrongly). With meAuto the send chooses,
  // for the whole text, the default alphabet, a single shift table, a
  // locking shift table, both, or UCS2, whichever takes the fewest parts
  // (GetSMSInfo tells which); with me7bit the tables replace fewer
  // characters by "?". Any thread; applies from the next send.
  TNationalLanguageShiftTablesSet GetNationalLanguageTables() const {
    return TNationalLanguageShiftTablesSet::FromBits(FNationalLanguageTables.load());
  }
  void SetNationalLanguageTables(TNationalLanguageShiftTablesSet value) { FNationalLanguageTables = value.Bits(); }
  // How SendSMSAsPDU would send MessageText now: the encoding, the tables,
  // the parts, what a part holds and what is left in the last one. A pure
  // function of the text, the encoding and NationalLanguageTables; any
  // thread.
  TSMSInfo GetSMSInfo(const WideString& MessageText, TMessageEncoding Encoding = meAuto) const;
  // False (the default): the dialogue waits fixed pauses between its steps
  // (about 3 s per message, 6.2 s per part of a long one) before reading
  // the final answer. True: each step waits for the modem instead, OK after
  // each set-up command, the "> " prompt after AT+CMGS, the final result
  // after the body, each for up to 15 seconds; a set-up command answered
  // ERROR, or no prompt, then fails the send too. Any thread; applies
  // from the next send.
  void SetWaitForPrompt(bool value) { FWaitForPrompt = value; }
  bool GetWaitForPrompt() const { return FWaitForPrompt; }
  // Why the last send that finished (on any thread) failed: empty after a
  // success; otherwise the modem's final line ("+CMS ERROR: 38"), or a text
  // saying that no answer came or what was wrong with the arguments.
  AnsiString GetLastSendError() const;
  // The message reference ("+CMGS: <mr>") of each part the last send
  // delivered, in order; -1 for a part accepted without one.
  std::vector<int> GetLastMessageReferences() const;

  // ================================================ the modem's state
  // The SIM, the network, the service centre, USSD, and the modem's errors
  // with their meaning (commands/State.cpp, commands/Ussd.cpp). Every call
  // runs its commands through the command engine on the caller's thread,
  // serialised with the other commands, and raises "%s is not open. GSM
  // Modem is not connected." when no port is open. A malformed answer gives
  // the "unknown" value (ssUnknown, rsUnknown, -1, ""), never an exception.

  // The error of the last command or send that this thread ran: every
  // command (ExecuteATCommand and all built on it) and every send sets it,
  // to mekNone after a success. Kept per calling thread (the last 64
  // threads): it never reports another thread's error. A call that refuses
  // its arguments before writing anything leaves mekNone with the reason in
  // Text. GetLastSendError() keeps its text as before.
  TModemError GetLastModemError() const;

  // AT+CPIN? (see TSIMState).
  TSIMState GetSIMState();
  // AT+CPINR (TS 27.007 8.65): the SIM PIN tries left; -1 when the modem
  // does not say.
  int GetPINRetries();
  // AT+CPIN="<puk>","<newPin>": unblocks the SIM with its PUK (8 digits)
  // and sets a new PIN (4 to 8 digits); other values are refused before
  // anything is written.
  bool EnterPUK(const AnsiString& puk, const AnsiString& newPin);

  // The best of AT+CREG?, AT+CGREG? and AT+CEREG? (a modem on LTE may
  // report only the last): registered before searching, denied, not
  // registered and unknown. A report the modem refuses is not asked again
  // on this connection.
  TRegistration GetRegistration();
  // AT+COPS=3,0 then AT+COPS?: the operator's long name and the access
  // technology.
  TOperator GetOperator();
  // True once the modem is registered (home or roaming), false at the
  // time-out (seconds), when the connection closes or is lost. Asks once,
  // then waits for the unsolicited +CREG/+CGREG/+CEREG results the set-up
  // switched on (AT+CREG=2 ...), or, without them, asks again every second.
  // The port is free while it waits. On the main thread it runs pending
  // synchronized calls meanwhile.
  bool WaitForNetwork(int timeoutSeconds);
  // An unsolicited +CREG, +CGREG or +CEREG result (as the set-up switches
  // them on): from the thread that dispatches it, like OnReceive. A
  // command's own answer to AT+CREG? never raises it.
  TEvent<TRegistrationEvent> OnRegistrationChange;

  // AT+CSCA?: the service centre's number, decoded from the modem's
  // character set (IRA, GSM or UCS2 hexadecimal); "" when none is set or
  // it does not read.
  AnsiString GetServiceCenter();
  // AT+CSCA="<number>",<type> in the modem's character set; a number that
  // is blank or holds a control character or double quote is refused.
  bool SetServiceCenter(const AnsiString& number);

  // USSD (TS 27.007 7.15): AT+CUSD=1,"<code>",15, then the +CUSD answer,
  // which may come seconds after the OK. The call waits for it (woken by
  // it, without polling) up to timeoutSeconds; the port is free meanwhile,
  // so commands and sends from other threads go on. One USSD call at a
  // time: a second waits for the first. The code must be digits, '*', '#'
  // and '+' (else usFailed, nothing written). Status usTimeOut when no
  // answer came, usCancelled when CancelUSSD or the end of the connection
  // ended the wait, usFailed when the modem refused (GetLastModemError).
  TUSSDResult SendUSSD(const AnsiString& code, int timeoutSeconds = 30);
  // Answers a menu (status usFurtherAction): printable ASCII, no quote.
  TUSSDResult ReplyUSSD(const AnsiString& text, int timeoutSeconds = 30);
  // AT+CUSD=2: ends the session; a call waiting for an answer returns
  // usCancelled.
  bool CancelUSSD();
  // A +CUSD that no call waits for (network-initiated), from the thread
  // that dispatches it.
  TEvent<TUSSDEvent> OnUSSD;
  // ================================================ end of the modem's state

  // ================================================ modem detection
  // Finds a modem without knowing its port or line speed: opens the listed
  // serial ports one after another, tries line speeds from endBaudRate down
  // to startBaudRate (both included, none when endBaudRate is below
  // startBaudRate) and at each writes "AT+CRC=1\r"; the first port and speed
  // whose answer holds "OK" are reported through pPort and pBaudRate and the
  // result is true. False when nothing answered, no port is listed, the
  // range is empty or the application cancelled; pPort is then spNone (or
  // empty) and pBaudRate is left as it was.
  //
  // The scan opens each candidate itself, one at a time, and closes it before
  // going on; it neither uses nor changes the component's connection, Port
  // or BaudRate, and it skips the port the component has open. At each speed
  // it applies the component's other line settings (data width, parity, stop
  // bits, DTR, RTS, flow control). Only ports that GetExistingCommPortNames
  // lists are tried, under the names it gives them.
  //
  // OnDetect(Sender, Port, BaudRate, Cancel) is raised before each attempt
  // on the calling thread; setting Cancel to true ends the scan with false
  // before anything is written at that speed. An exception the handler
  // raises reaches the caller (the candidate port is closed first). The
  // handler must not destroy the component; if it does, the scan returns
  // false without touching it again.
  //
  // Blocks the calling thread: up to about 1.65 s per silent speed. On the
  // main thread it runs pending synchronized calls (ProcessMessages) after
  // each unanswered poll and after each port. Serial failures never raise.

  // Port numbers from startPort to spCOM254 (spCustom is never tried).
  bool DetectGSM(TCommPort startPort, TBaudRate startBaudRate, TBaudRate endBaudRate, TCommPort& pPort,
                 TBaudRate& pBaudRate);
  // The same from spCOM1.
  bool DetectGSM(TBaudRate startBaudRate, TBaudRate endBaudRate, TCommPort& pPort, TBaudRate& pBaudRate);
  // The same from spCOM1, over every speed from br000075 to br921600.
  bool DetectGSM(TCommPort& pPort, TBaudRate& pBaudRate);
  // The listed port names in list order, for ports without a number (a USB
  // modem, a virtual port). OnDetect receives StringToCommPort(name), so
  // such a port is reported as spCustom; pPort receives the name.
  bool DetectGSM(TBaudRate startBaudRate, TBaudRate endBaudRate, UnicodeString& pPort, TBaudRate& pBaudRate);
  // The name scan over every speed from br000075 to br921600.
  bool DetectGSM(UnicodeString& pPort, TBaudRate& pBaudRate);
  // ================================================ end of modem detection

 protected:
  // ------------------------------------------------ internals
  void WriteLog(const AnsiString& text, bool received);
  bool SetDCBState(SerialDevice* handle);
  bool SetDCBState(SerialDevice* handle, TBaudRate speed);
  bool SetTimeOuts(SerialDevice* handle);
  bool SetTimeOutsToDefault(SerialDevice* handle);
  bool SetBuffers(SerialDevice* handle);
  TLineStatusSet GetLineStatus(SerialDevice* handle);
  AnsiString ReadChar();
  AnsiString ReadStringUpToEndChars(const AnsiString& firstMarker, const AnsiString& secondMarker, int timeOutSeconds);
  // Reads within a port session until `complete` says that what was read
  // so far (given whole) is all it waits for, the time-out passes or the
  // connection ends; `completed` tells which. Reads what is queued at each
  // turn, or one byte at a time (`byteByByte`). What is read is logged and
  // handed to the dispatcher (as the outermost session ends): all of it,
  // or what `forDispatcher` makes of it.
  AnsiString ReadAnswer(const std::function<bool(const AnsiString&)>& complete, int timeOutSeconds, bool& completed,
                        bool byteByByte = false,
                        const std::function<AnsiString(const AnsiString&)>& forDispatcher = nullptr);
  // Everything queued on the device, read at once ("" on failure, with the
  // device checked for loss).
  AnsiString ReadQueued(const std::shared_ptr<SerialDevice>& device);
  // Every text received from the port goes to the traffic log once, here.
  void LogReceived(const AnsiString& text);
  // Writes a command line and reads its answer up to its own final result
  // (a read or listing still on its way is taken in first). The text read
  // (dispatched as the session ends) is returned; `answer` says what it
  // holds. Raises the not-open exception when no port is open. A `probe`
  // (a question the component asks for itself, which the modem may lack)
  // that the modem refuses raises no OnError.
  AnsiString RunCommand(const AnsiString& line, char terminator, int timeOutSeconds, at::TCommandAnswer& answer,
                        bool probe = false);
  int ExtractStrings(const AnsiString& separators, const AnsiString& whiteSpace, const char* text, TStrings* list);
  // Takes and empties the read buffer and dispatches it.
  void ProcessAT();
  // Whether the dispatcher holds back an incomplete piece of received text
  // (an answer whose end has not arrived yet). The reader thread runs
  // ProcessAT after each poll that read something, and also while this is
  // true, so that a held piece is released after its bound.
  bool DispatcherHoldsInput() const;

  // ------------------------------------------------ the dispatcher
  // The six markers, in their order: RING, +CLIP:, +CMTI:, +CMGR:, +CMGL:,
  // ERROR.
  static std::vector<AnsiString> GetTokens();
  // The pieces of `text`: each result that is one of the markers, as a
  // whole line (any case; +CRING: rings, +CMS ERROR: and +CME ERROR: are
  // errors) with the body lines of a read answer or listing entry. A
  // marker word elsewhere (inside a line, a quoted field or a message
  // body) starts no piece.
  static std::vector<AnsiString> ParseAT(const AnsiString& text);
  // Handles the results of one piece; false when the component was
  // destroyed by an event handler meanwhile (then nothing of it may be
  // touched any more).
  bool HandleGSMEvents(const AnsiString& piece);
  // Whether the dispatcher may go on after raising an event: false once
  // the component is being destroyed (a handler destroyed it). The one
  // place that decides it; it asks the connection the calling thread is
  // visiting (every dispatch is a visit), which outlives the component, and
  // reads nothing of the component itself (static: it is called where the
  // component may be gone).
  static bool DispatchMayContinue();

  // A dialogue with the modem: the calling thread holds the port's lock
  // from construction to End (or destruction), so the reader thread neither
  // reads nor dispatches meanwhile. Sessions nest on one thread. Raises the
  // not-open exception when no port is open (or the connection ends while
  // it waits for the port).
  class TPortSession {
   public:
    explicit TPortSession(TVeskGSM& owner);
    // Lets the port go if End was not reached (a dialogue left by an
    // exception): what it read is then dispatched by the reader thread.
    ~TPortSession();
    TPortSession(const TPortSession&) = delete;
    TPortSession& operator=(const TPortSession&) = delete;
    // Lets the port go. As the outermost session of its thread ends, what
    // the dialogue read is dispatched on this thread, now that the port is
    // free (so that event handlers may run commands of their own): the
    // application's handlers run here, and what they raise reaches the
    // caller.
    void End();

   private:
    TVeskGSM& owner_;
    std::shared_ptr<TConnection> link_;
    unsigned generation_;
    unsigned reads_;
    bool ended_ = false;
  };
  // One of the dialogue's fixed pauses: waits `ms` milliseconds of the
  // component's clock. Returns false, possibly early, when the connection
  // is closing or lost: the dialogue should then stop.
  bool Pause(double ms);

  // ---- sending
  // One send's dialogue with the modem (sending/Send.cpp).
  class TSendDialogue;

  // ---- modem detection
  // One scan over a list of candidate ports (detection/Detect.cpp).
  class TDetector;
  // Publishes the outcome of a send for GetLastSendError and
  // GetLastMessageReferences.
  void SetLastSend(const AnsiString& error, const std::vector<int>& references);

  // The flags word of the line settings for the current properties.
  std::uint32_t LineSettingsFlags() const;
  TLineSettings BuildLineSettings(TBaudRate speed) const;
  // The open port's device, else nullptr.
  std::shared_ptr<SerialDevice> PortDevice() const;
  AnsiString NotOpenMessage() const;
  AnsiString GetFPort() const;
  // Received text waits in the read buffer until it is dispatched: reads
  // append to it and the dispatcher takes it whole, so no text is lost
  // when two threads read.
  AnsiString TakeReadBuffer();
  void AppendReadBuffer(const AnsiString& text);
  void SetReadBuffer(const AnsiString& text);
  AnsiString PeekReadBuffer() const;
  void ReapplyLineSettings();
  // The pause flag as a view of the port's lock: true while a dialogue
  // holds the port. Setting it holds the port from the calling thread as a
  // dialogue would (the reader thread leaves the port alone), clearing it
  // lets that hold go.
  bool PauseThreadFlag() const;
  void SetPauseThreadFlag(bool paused);
  // Whether the connection is open with its modem set-up done (or skipped).
  bool IsSetUp() const;
  TLineStatusSet LastLineStatus() const { return TLineStatusSet::FromBits(FLineStatus); }

 private:
  // Line settings
  AnsiString FPort;
  AnsiString FCustomPortName = "vcom1";
  std::atomic<int> FBaudRate{4800};
  std::atomic<int> FCustomBaudRate{0};
  std::atomic<std::uint8_t> FDataWidth{8};
  std::atomic<std::uint8_t> FParity{0};
  std::atomic<std::uint8_t> FStopBits{0};
  std::atomic<bool> FEnableDTROnOpen{true};
  std::atomic<bool> FEnableRTSOnOpen{true};
  std::atomic<THwFlowControl> FHwFlowControl{hfNONE};
  std::atomic<TSwFlowControl> FSwFlowControl{sfNONE};
  // Received text waiting for the dispatcher, and how many reads have
  // added to it.
  AnsiString FReadBuffer;
  std::atomic<unsigned> FReadsAppended{0};
  // Time-outs and queue sizes; no property.
  std::uint32_t FReadIntervalTimeout = 0xFFFFFFFF;
  std::uint32_t FReadTotalTimeoutMultiplier = 0;
  std::uint32_t FReadTotalTimeoutConstant = 0;
  std::uint32_t FWriteTotalTimeoutMultiplier = 100;
  std::uint32_t FWriteTotalTimeoutConstant = 1000;
  std::atomic<TThreadPriority> FPriority{tpNormal};
  std::atomic<bool> FNeedSynchronization{false};
  std::atomic<TDateTime> FLastReceived{0};
  std::atomic<bool> FAutoReconnect{false};
  std::atomic<int> FAutoReconnectCheckInterval{4000};
  std::atomic<int> FDelay{600};
  std::atomic<int> FMinCheckDisconnectedInterval{50};
  std::atomic<bool> FIsFaulted{false};
  std::atomic<bool> FIsListing{false};
  std::uint32_t FInputBuffer = 4096;
  std::uint32_t FOutputBuffer = 4096;
  std::atomic<std::uint8_t> FLineStatus{0};
  const double FVersion = 1.42;
  // The open port, spNone when none is.
  std::atomic<TCommPort> ConnectedTo{spNone};
  // The name under which the current connection's device was opened (kept
  // after it ends; meaningful while the connection is not Closed). Guarded
  // by FFieldsLock.
  AnsiString FOpenedPort;
  std::atomic<bool> FAutoReadNewMessage{true};
  std::atomic<TMessageFormat> FMessageFormat{mfDefault};
  std::atomic<bool> FCancelDetect{false};
  // The connection the pause flag holds the port for (0: none).
  std::atomic<unsigned> FPauseHold{0};
  int FMaxLineLength = 0;
  std::atomic<bool> FCloseWhenLineStatusIsZero{true};
  std::atomic<bool> FSkipSetupFailed{false};
  UnicodeString FLogFile;
  std::atomic<bool> FLog{false};
  std::unique_ptr<TConcatenatedSMSCollection> FSMSContainer;
  // Held by PDUSMSToString around its use of FSMSContainer.
  mutable std::mutex FSMSContainerLock;
  AnsiString FPin;

  std::atomic<int> FConcatenatedSMSMaxAge{86400};
  std::atomic<int> FConcatenatedSMSMaxEntries{64};
  AnsiString FLastDecodeError;
  // Whether FLastDecodeError names a failure, readable without the lock.
  std::atomic<bool> FDecodeFailed{false};

  // Guards the strings above (FPort, FCustomPortName, FLogFile, FPin,
  // FReadBuffer, FLastDecodeError) and the thread references.
  mutable std::mutex FFieldsLock;
  // One device open at a time: the application's and the reconnect thread's.
  std::mutex FOpenLock;
  // What the connection asks of the component (port/OpenClose.cpp), and
  // the connection: state, threads, the port's lock. The connection is
  // shared with its threads, which may outlive the component by a moment.
  class TLinkHost;
  // Makes both, from the constructor.
  void MakeLink();
  std::shared_ptr<TLinkHost> FHost;
  std::shared_ptr<TConnection> FLink;
  std::shared_ptr<SerialPlatform> FPlatform;

  // ---- sending
  std::atomic<bool> FWaitForPrompt{false};
  std::atomic<std::uint64_t> FNationalLanguageTables{0};
  // Guards the two below: a send on one thread writes them while another
  // may read them.
  mutable std::mutex FLastSendLock;
  AnsiString FLastSendError;
  std::vector<int> FLastMessageReferences;

  // ------------------------------------------------ the modem's state: internals
  // commands/State.cpp, commands/Ussd.cpp, incoming/Notices.cpp. Under
  // FStateLock, never held while a command or an event handler runs.
  struct TStateData;
  std::shared_ptr<TStateData> FState;
  mutable std::mutex FStateLock;
  // One USSD request at a time.
  std::mutex FUSSDCallLock;
  // The state of connection `generation` (what an earlier connection learnt
  // is forgotten); FStateLock held.
  TStateData& StateData(unsigned generation);
  // The set-up's last steps (InitGSMModem): numeric errors, the character
  // set, the unsolicited registration results, USSD results presented.
  void SetUpModemState();
  // Every command's outcome, for GetLastModemError (RunCommand).
  void NoteCommandOutcome(const at::TCommandAnswer& answer, int timeOutSeconds);
  void SetLastModemError(const TModemError& error);
  // An unsolicited +CREG/+CGREG/+CEREG or +CUSD from the dispatcher; false
  // when a handler destroyed the component.
  bool HandleStateNotice(const at::TResult& result);
  AnsiString CharacterSet();
  bool KnownRegistered();
  bool RegistrationNoticesOn();
  int PINRetriesFor(const char* code);
  TUSSDResult RunUSSD(const AnsiString& str, int timeoutSeconds);

  // ------------------------------------------------ dispatcher state
  // All under FDispatchLock, which is never held while an event runs.
  // Made on first use (incoming/Dispatcher.cpp), freed with the component.
  struct TDispatchState;
  std::shared_ptr<TDispatchState> FDispatch;
  TDispatchState& DispatchState();
  mutable std::mutex FDispatchLock;
  // Decodes one PDU through the reassembly collection, as PDUSMSToString
  // does, and keeps the concatenation details the dispatcher needs.
  codec::DecodedSMS DecodeDeliverPDU(const AnsiString& pdu);
  // The reassembly's part of that, for a PDU already read: a part of a
  // long message under FSMSContainerLock with the clock, any other PDU
  // without either; records the decode error.
  codec::DecodedSMS Reassemble(codec::DeliverPDU&& fields);
  void NoteDecodeError(const AnsiString& error);
  // Handling of the pieces (incoming/Dispatcher.cpp). A read answer comes
  // with the storage and index of the read it answers ("" and -1 when
  // not known).
  bool HandleResult(const at::TResult& result, const AnsiString& framed, const AnsiString& readLocation,
                    int readIndex);
  bool HandleReadAnswer(const at::TResult& result, const AnsiString& framed, AnsiString location, int index);
  bool ReportMessage(const WideString& text, const AnsiString& phone, const AnsiString& centre, TDateTime stamp,
                     int zone, int status, bool listing, const AnsiString& location, std::vector<int> indexes);
  // Records the storage and index of a read just requested (GetSMS) or
  // the storage of a listing (GetAllSMS).
  void NoteReadRequest(const AnsiString& location, int index);
  void NoteListRequest(const AnsiString& location);
  // Whether the read or listing sent last still waits for its final
  // result. A command run then would take that result for its own, so
  // the stored-message commands read it in first (TakeDueAnswer).
  bool AnswerDue() const;
  // The same, counting `more` (just read, not yet in the read buffer).
  bool AnswerDueWith(const AnsiString& more) const;
  void TakeDueAnswer();
  // GetSMS run inside another GetSMS on the same thread (a new-message
  // notice dispatched while the outer one selects its storage) is sent
  // after the outer one's read, so that reads go out one after another.
  // BeginRead is false when the read was put off that way.
  bool BeginRead(const AnsiString& location, int index);
  bool NextDeferredRead(AnsiString& location, int& index);
  void EndRead();
  void SendReadCommand(const AnsiString& location, int index);

  // ================================================ delivery reports and direct delivery
  // Status reports of sent messages, messages and reports routed to the
  // component without being stored, and a periodic look at the storage
  // so that no message waits on a notice that never came
  // (incoming/Reports.cpp, commands/Indication.cpp, incoming/Pairing.h).
 public:
  // ---- published properties (any thread; what they change applies from
  // the next send or, for the indication, at once while the port is open)

  // Each SMS-SUBMIT asks for a status report (TP-SRR; in text mode
  // AT+CSMP=49,...). False by default: some operators charge for reports.
  // Setting it while open in nmStore, where reports are not routed yet,
  // sets the indication up again (AT+CNMI) so that they are.
  bool GetStatusReportRequest() const { return FStatusReportRequest; }
  void SetStatusReportRequest(bool value);
  // The validity period each SMS-SUBMIT asks for, in minutes, as a
  // relative TP-VP rounded up to the next span the format holds (5
  // minutes to 63 weeks). 0, the default: none of the application's own;
  // each PDU keeps the standing four days (TP-VP 0xAA), as before.
  int GetValidityPeriod() const { return FValidityPeriod; }
  void SetValidityPeriod(int minutes) { FValidityPeriod = minutes; }
  // nmStore (the default): new messages stored and announced (+CMTI),
  // read automatically with AutoReadNewMessage. nmDirect: messages and
  // reports routed straight to the component (+CMT, +CDS), never stored,
  // so no storage fills up; where the modem takes AT+CSMS=1 each one is
  // acknowledged (AT+CNMA) once OnReadMessage or OnStatusReport has
  // returned, and one the network delivers again for want of an
  // acknowledgement is reported once. A class 0 (flash) message arrives
  // this way too. Setting it while open sets the indication up at once.
  TNewMessageIndication GetNewMessageIndication() const { return FNewMessageIndication; }
  void SetNewMessageIndication(TNewMessageIndication value);
  // Seconds; 0 (the default) is off. While open and idle, the reader
  // thread lists the receive storage's unread messages this often (once
  // right after the set-up too) and reports them as a listing
  // (OnReadMessage with IsListing true), so a lost or never-sent +CMTI
  // strands nothing; a message the automatic read of its notice reports
  // afterwards is not reported twice. The check also reads the storage's
  // counts: a storage that has become full is reported through OnError
  // as "SMS storage full", as is "+CMS ERROR: 322" wherever it comes (in
  // nmStore the check then runs at once).
  int GetStoredMessageCheckInterval() const { return FStoredMessageCheckInterval; }
  void SetStoredMessageCheckInterval(int seconds);

  // ---- properties
  // At most this many sent messages wait for their reports (default
  // 1000); the oldest go first, and are then never told.
  int GetMaxPendingMessages() const { return FMaxPendingMessages; }
  void SetMaxPendingMessages(int count);
  int GetPendingMessageCount() const;

  // ---- events
  // Both come from the dispatcher, like OnReadMessage: on the reader
  // thread, or on the main thread with NeedSynchronization; a report read
  // by a command (a send, ExecuteATCommand) on that command's thread. No
  // lock of the component is held while they run: a handler may run
  // commands (DeleteSMS ...) but must not destroy the component.
  //
  // OnStatusReport: once per status report received, whichever way it
  // came (+CDS in PDU or text mode; +CDSI, after which the report is
  // read and then deleted from its storage; a report among stored
  // messages read by GetSMS or GetAllSMS, with GetMessageLocation,
  // GetMessageIndexes and IsListing as for OnReadMessage). A report that
  // matches no message sent here is raised too. A report the network
  // delivers again because its acknowledgement went missing is raised
  // once. One that does not decode raises OnError with the text as
  // received, and GetLastDecodeError() names why.
  TEvent<TStatusReportEvent> OnStatusReport;
  // OnMessageStatus: once per message sent with StatusReportRequest on
  // and accepted in full (every part with a reference), when every part
  // has a final status, right after the OnStatusReport of the report
  // that completed it; never for a message that left the pending set
  // (MaxPendingMessages) or whose reports never come. Recipient is the
  // number as given to the send; References are the parts' references,
  // as GetLastMessageReferences() gave them after that send. A report is
  // paired with a part by its reference (which wraps from 255 to 0), the
  // recipient in normalised form and the send time (the newest part
  // still open first).
  TEvent<TMessageStatusEvent> OnMessageStatus;

  // ---- what the set-up chose
  // The AT+CNMI command the last set-up of the indication sent and the
  // modem accepted ("AT+CNMI=2,1,0,0,0"); empty before one, or when the
  // modem refused every form tried. The set-up sends the standard
  // AT+CNMI=2,1,0,0,0 when nothing more is asked (nmStore, no reports);
  // otherwise, or when the modem refuses that, it asks what the modem
  // offers (AT+CNMI=?, AT+CPMS=?) and sends the nearest supported values.
  AnsiString GetNewMessageIndicationCommand() const;
  // Whether deliveries are acknowledged with AT+CNMA (nmDirect, and the
  // modem took AT+CSMS=1).
  bool GetAcknowledgesDeliveries() const;

 private:
  struct TReportsState;
  // Made on first use, freed with the component; under FReportsLock,
  // which is never held while an event or a command runs.
  std::shared_ptr<TReportsState> FReports;
  mutable std::mutex FReportsLock;
  TReportsState& ReportsState();

  std::atomic<bool> FStatusReportRequest{false};
  std::atomic<int> FValidityPeriod{0};
  std::atomic<TNewMessageIndication> FNewMessageIndication{nmStore};
  std::atomic<int> FStoredMessageCheckInterval{0};
  std::atomic<int> FMaxPendingMessages{1000};

  // The set-up of AT+CNMI (and AT+CSMS) for the current properties; from
  // InitGSMModem and the setters above.
  void SetUpMessageIndication();
  // After TestGSMModemCapabilities, whose probe sends the standard AT+CNMI:
  // the indication this connection's set-up chose, when it was another.
  void RestoreMessageIndication();
  // What each SMS-SUBMIT asks for, and in text mode the AT+CSMP that asks
  // it of the modem (empty when none is needed).
  TSubmitOptions SubmitOptions() const;
  AnsiString TextSubmitParameters();
  // A send accepted in full, with the reference of each part.
  void NoteSentMessage(const AnsiString& recipient, const std::vector<int>& references);

  // The dispatcher's part (incoming/Reports.cpp).
  bool HandleDirectMessage(const at::TResult& result, const AnsiString& framed);
  bool HandleStatusReportResult(const at::TResult& result, const AnsiString& framed);
  bool HandleReportNotice(const at::TResult& result);
  static bool IsStoredStatusReport(const at::TResult& result);
  bool HandleStoredStatusReport(const at::TResult& result, const AnsiString& framed, const AnsiString& location,
                                int index);
  bool NoteFinalError(const at::TResult& result);
  void NoteAutoRead(const AnsiString& location, int index);
  bool SkipRepeatedStoredMessage(const at::TResult& result, const AnsiString& location, int index);
  // Raises an event with IsListing, GetMessageLocation and
  // GetMessageIndexes showing these, and puts back what they showed
  // (incoming/Dispatcher.cpp). False when the component was destroyed.
  bool RaiseWithPlace(const AnsiString& location, std::vector<int> indexes, bool listing,
                      const std::function<void()>& raise);

  // Runs `work` as one of the dispatcher's own: inside it,
  // DispatchMayContinue() tells whether an event handler destroyed the
  // component (incoming/Dispatcher.cpp).
  void AsDispatch(const std::function<void()>& work);
  // The reader thread's idle work: the stored message check
  // (commands/Indication.cpp). Milliseconds until it is due (0: now, less
  // than 0: nothing planned), and the work itself.
  double IdleWorkDueIn();
  void DoIdleWork();

  // ================================================ the modem's health
  // A modem that stops answering (a firmware hang, a body left open at the
  // "> " prompt, a USB stick that comes back under another name after a
  // reset) is found out and brought back by a supervisor thread of the
  // component's own (component/Health.cpp). Nothing of it runs while
  // KeepAliveInterval is 0, the default.
 public:
  // Seconds; 0 (the default) is off. While the port is open and no command
  // or send has run for this long, the supervisor writes "AT" and expects
  // an answer within KeepAliveTimeout seconds (default 5). An answer is
  // any final result, ERROR included, or any line that is neither the
  // echo nor an unsolicited result (the interpreter answered); unsolicited
  // lines alone prove nothing. Any thread; applies at once.
  int GetKeepAliveInterval() const { return FKeepAliveInterval; }
  void SetKeepAliveInterval(int seconds);
  int GetKeepAliveTimeout() const { return FKeepAliveTimeout; }
  void SetKeepAliveTimeout(int seconds) { FKeepAliveTimeout = seconds < 1 ? 1 : seconds; }
  // With KeepAliveInterval on, an unanswered keep-alive, two commands in a
  // row without a final answer, or a send without one start the ladder,
  // each step reported through OnHealth:
  //   hsProbeFailed (why), then
  //   1. hsEscape: an escape and "AT";
  //   2. hsReopen: the port closed with DTR dropped, opened again (OnDisconnect,
  //      OnConnect) and set up;
  //   3. hsReset: ResetCommand (default "AT+CFUN=1,1"; empty skips the step),
  //      and when the modem takes it (OK), a wait of up to ResetWait seconds
  //      (default 60) for the port to go and come back;
  //   4. the modem of the IMEI recorded when the application opened the
  //      port, looked for on the candidate ports (ReattachPorts when set,
  //      else the listed ports when the component's own port was listed
  //      when the IMEI was read,
  //      else its own port alone; a port another open component uses is
  //      left alone) at the component's line settings; the port whose modem
  //      answers with that IMEI becomes the component's Port and is opened
  //      (hsFound). A different IMEI is never opened.
  // After a step that cures, hsAlive, and the next failure starts again at
  // step 1. After step 4 fails, hsGaveUp, and steps 2 to 4 are tried again
  // every AutoReconnectCheckInterval until one cures, or Close or
  // destruction ends it (at once: every wait of the ladder is woken).
  // When a step needs the modem to answer more than "AT" (the trigger was
  // a command or a send), "AT+CMGF?" must be answered too.
  // While the ladder runs, commands and sends from other threads fail at
  // once with the not-open exception (or false where a call gives false).
  AnsiString GetResetCommand() const;
  void SetResetCommand(const AnsiString& value);
  int GetResetWait() const { return FResetWait; }
  void SetResetWait(int seconds) { FResetWait = seconds < 0 ? 0 : seconds; }
  // Port names, separated by commas, to look for the modem on in step 4
  // instead of the listed ports (pseudo-terminals and custom device names
  // are never listed). Empty by default.
  AnsiString GetReattachPorts() const;
  void SetReattachPorts(const AnsiString& value);
  // With AutoReconnect, a port that does not come back under its name is
  // looked for by the recorded IMEI on the candidate ports, as in step 4,
  // at each attempt (default true).
  bool GetReattachByIMEI() const { return FReattachByIMEI; }
  void SetReattachByIMEI(bool value) { FReattachByIMEI = value; }
  // The IMEI read (AT+CGSN) after the application's last Open, once the
  // set-up was done, with KeepAliveInterval or AutoReconnect and
  // ReattachByIMEI on; "" before or when the modem gave none.
  AnsiString GetRecordedIMEI() const;
  // Whether the ladder is running.
  bool GetRecovering() const { return FRecovering; }

  // From the supervisor thread (hsFound of AutoReconnect from the reconnect
  // thread), or from the main thread when NeedSynchronization is true;
  // never from the reader thread or inside another event; no lock of the
  // component is held. The handler may run
  // commands, but the component stays closed to other threads until the
  // ladder has ended (hsAlive or hsGaveUp).
  TEvent<THealthEvent> OnHealth;

 protected:
  // Hooks for the rest of the component (component/Health.cpp).
  // A command's outcome: two without a final answer in a row start the
  // ladder. `send`: a send that got no final answer starts it at once.
  void NoteAnswerOutcome(bool answered, bool send = false);
  // A command or send begins: the keep-alive waits for a quiet port. Fails
  // (the not-open exception) while the ladder runs, for threads other than
  // the supervisor and the reader.
  void NoteCommandBegins();
  // The set-up's last step: the IMEI read and recorded, when the keep-alive
  // or re-attachment by IMEI will need it.
  void RecordIdentity();
  // Open has begun connection `generation` (before OnConnect).
  void NoteOpened(unsigned generation);
  // The application's Close and Open: ends the keep-alive and the ladder,
  // and the connection with them.
  void StopSupervisor();
  bool OnSupervisorThread() const;
  // From the reconnect thread, at each attempt: with ReattachByIMEI and a
  // recorded IMEI, looks for it on the port's own name first, then on the
  // candidate ports, and opens the port it answers on: 1 when a connection
  // is up, -1 when the modem was not found (nothing else is opened). 0
  // without a record: the port is reopened by its name as ever.
  int ReattachByIdentity();
  // Step 4's probe of one port (detection/Detect.cpp): opens it at the
  // component's line settings, asks AT+CGSN and closes it; the serial
  // number, "" when none came within timeOutSeconds. Its waits go through
  // `pause` (clock ms), which ends the probe when it gives false.
  AnsiString ProbeSerialNumber(const AnsiString& name, int timeOutSeconds, const std::function<bool(double)>& pause);
  // Raises OnHealth, on the main thread with NeedSynchronization (given up
  // when `abandon` turns true before the main thread takes it).
  void RaiseHealth(THealthStep step, const AnsiString& reason, const std::function<bool()>& abandon);
  // Makes `name` the component's Port (a COMn name, or the custom name).
  void UsePortName(const AnsiString& name);
  // From the constructor and, first thing, the destructor.
  void InitHealth();
  void EndHealth();

 private:
  class TSupervisor;
  friend class TSupervisor;
  std::shared_ptr<TSupervisor> FSupervisor;
  std::atomic<int> FKeepAliveInterval{0};
  std::atomic<int> FKeepAliveTimeout{5};
  std::atomic<int> FResetWait{60};
  std::atomic<bool> FReattachByIMEI{true};
  std::atomic<bool> FRecovering{false};
  std::atomic<int> FUnansweredInARow{0};
  AnsiString FResetCommand = "AT+CFUN=1,1";  // under FFieldsLock
  AnsiString FReattachPorts;                 // under FFieldsLock
};

// The package's registration: TVeskGSM on the palette page "Vesk Soft".
void Register();

}  // namespace vesk
