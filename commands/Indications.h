// The answer rules of new-message indication and delivery reports: what a
// modem offers for AT+CNMI and AT+CPMS (TS 27.005 3.4.1, 3.2.2), which
// AT+CNMI to send for what the component wants, whether AT+CSMS=1 made
// acknowledgements necessary (3.2.1), the storage counts of AT+CPMS, and
// a status report in text mode (+CDS:, and a stored one read with +CMGR
// or +CMGL, 3.4.1, 3.4.3, 4.1). Rules over the results of the framing
// layer (incoming/Framing.h), like commands/Answers.h.
//
// Pure functions: no component, thread or clock.
#pragma once

#include <array>
#include <vector>

#include "commands/Answers.h"
#include "component/Framework.h"

namespace vesk::at {

// ---------------------------------------------------------------- AT+CNMI=?

// +CNMI: (<mode>s),(<mt>s),(<bm>s),(<ds>s),(<bfr>s): the values a modem
// offers for each of the five parameters. A group is a parenthesised list
// of numbers and ranges ("(0-1,3)"), or a single number.
struct TIndicationSupport {
  // The answer had a +CNMI: line that read.
  bool Read = false;
  // Offered values per parameter: mode, mt, bm, ds, bfr. An empty list
  // means the answer said nothing of that parameter.
  std::array<std::vector<int>, 5> Values;
  bool Offers(std::size_t parameter, int value) const;
};
TIndicationSupport IndicationSupport(const TCommandAnswer& answer);

// ---------------------------------------------------------------- AT+CPMS=? and AT+CPMS?

// +CPMS: (<mem1>s),(<mem2>s),(<mem3>s): the storages a modem offers for
// reading and deleting, writing and sending, and receiving. Names are
// read with or without their quotes, with or without parentheses.
struct TStorageSupport {
  bool Read = false;
  std::array<std::vector<AnsiString>, 3> Names;
  // "SR", the status report storage, among the reading storages.
  bool HasReportMemory() const;
};
TStorageSupport StorageSupport(const TCommandAnswer& answer);

// One storage's counts: +CPMS: <mem1>,<used1>,<total1>,... (AT+CPMS?) or
// +CPMS: <used1>,<total1>,... (the answer to AT+CPMS=<mem>); the name is
// empty in the second form.
struct TStorageUse {
  AnsiString Name;
  int Used = -1;
  int Total = -1;
  // The counts read and are equal: nothing more fits.
  bool Full() const { return Total > 0 && Used >= Total; }
};
std::vector<TStorageUse> StorageUse(const TCommandAnswer& answer);

// ---------------------------------------------------------------- which AT+CNMI

// What the component wants routed: nmStore keeps messages stored and
// announced with +CMTI (and reports stored and announced with +CDSI when
// they are asked for); nmDirect routes messages and reports straight to
// the component as +CMT and +CDS.
struct TIndicationWanted {
  bool Direct = false;
  bool Reports = false;
};

// The five values to send: for each parameter the first of its preferred
// values that the modem offers (the first value offered when none is;
// the preferred value itself when the modem said nothing). Preferences:
// <mode> 2, 1, 3, 0; <mt> 2, 3, 1 when direct, else 1, 3, 2; <bm> 0;
// <ds> 1, then 2 with a report storage, when direct; 2 with a report
// storage, then 1, when stored reports are wanted; 0 otherwise; <bfr> 0.
std::array<int, 5> ChooseIndication(const TIndicationSupport& support, bool reportMemory,
                                    const TIndicationWanted& wanted);
// "AT+CNMI=2,1,0,0,0" for those values.
AnsiString IndicationCommand(const std::array<int, 5>& values);
// The command the component sends when it asks nothing of the modem
// beyond stored messages: "AT+CNMI=2,1,0,0,0".
AnsiString StandardIndicationCommand();

// ---------------------------------------------------------------- AT+CSMS=1

// Whether, after AT+CSMS=1, each +CMT and +CDS must be acknowledged with
// AT+CNMA: the command succeeded and its +CSMS: <mt>,<mo>,<bm> line (when
// there is one) says the mobile terminated service is supported.
bool AcknowledgementsNeeded(const TCommandAnswer& answer);

// ---------------------------------------------------------------- deliveries routed to the client

// The TPDU length a PDU-mode header gives (TS 27.005 3.4.1, 3.4.2,
// 3.4.3): +CMT: [<alpha>],<length>, +CDS: <length>, +CMGR: <stat>,
// [<alpha>],<length>, +CMGL: <index>,<stat>,[<alpha>],<length>; -1 when
// it does not read, or for a text-mode result.
int TpduLength(const TResult& result);
// Whether a PDU that came after such a header is the TPDU alone, without
// the service centre address TS 27.005 3.1 puts first (some modems leave
// it out of +CMT and +CDS): it has exactly the length the header gives.
bool TpduAlone(const TResult& result);

// A text-mode +CMT: <oa>,[<alpha>],<scts>[,<tooa>,<fo>,<pid>,<dcs>,<sca>,
// <tosca>,<length>] and its text, as the text-mode parser reads a
// message: the header with a <stat> of "REC UNREAD" before it (the fields
// after it are those of a +CMGR), a line end, the text, a line end.
AnsiString DirectTextModeMessage(const TResult& result);

// ---------------------------------------------------------------- status reports in text mode

// +CDS: <fo>,<mr>,[<ra>],[<tora>],<scts>,<dt>,<st> (TS 27.005 3.4.1), or
// the same fields after <stat> in a +CMGR answer and after <index>,<stat>
// in a +CMGL entry (3.4.3, 3.4.2, 4.1). Time stamps read as
// "yy/MM/dd,hh:mm:ss+zz" (a blank for the comma, or the quotes left out,
// as some networks and modems have it); one that does not read gives 0
// and 0.
struct TTextStatusReport {
  // Empty when every mandatory field read; else why not.
  AnsiString Error;
  int Index = -1;   // listing entries
  int Stored = -1;  // <stat> of a stored report: 0 to 3, -1 otherwise
  int FirstOctet = -1;
  int MessageReference = -1;
  AnsiString Recipient;
  int RecipientType = -1;
  TDateTime ServiceCentreTimeStamp = 0;
  int ServiceCentreTimeZone = 0;
  TDateTime DischargeTime = 0;
  int DischargeTimeZone = 0;
  int Status = -1;
};
TTextStatusReport TextStatusReport(const TResult& result);

// Whether a +CDS:, a read answer or a listing entry holds a status report
// in text mode: after <stat> stand two numbers, <fo> and <mr>, where a
// message has its quoted address (or, in PDU mode, its <alpha> and
// <length>). Some modems leave <stat> empty.
bool IsTextStatusReport(const TResult& result);

}  // namespace vesk::at
