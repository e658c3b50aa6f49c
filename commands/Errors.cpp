#include "commands/Errors.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "incoming/Framing.h"

namespace vesk {

namespace {

struct ErrorEntry {
  int err;
  const char* text;
  bool temporary;
};

// TS 27.005 3.2.5 <err> of +CMS ERROR, sorted by value.
constexpr std::array<ErrorEntry, 72> kCmsErrors = {{
    // TS 24.011 E.2: RP-cause values, mobile originating SM-transfer (22
    // from E.3, mobile terminating).
    {1, "Unassigned (unallocated) number", false},
    {8, "Operator determined barring", false},
    {10, "Call barred", false},
    {21, "Short message transfer rejected", false},
    {22, "Memory capacity exceeded", false},
    {27, "Destination out of service", true},
    {28, "Unidentified subscriber", false},
    {29, "Facility rejected", false},
    {30, "Unknown subscriber", false},
    {38, "Network out of order", true},
    {41, "Temporary failure", true},
    {42, "Congestion", true},
    {47, "Resources unavailable, unspecified", true},
    {50, "Requested facility not subscribed", false},
    {69, "Requested facility not implemented", false},
    {81, "Invalid short message transfer reference value", false},
    {95, "Invalid message, unspecified", false},
    {96, "Invalid mandatory information", false},
    {97, "Message type non-existent or not implemented", false},
    {98, "Message not compatible with short message protocol state", false},
    {99, "Information element non-existent or not implemented", false},
    {111, "Protocol error, unspecified", false},
    {127, "Interworking, unspecified", false},
    // TS 23.040 9.2.3.22: TP-Failure-Cause (0x80 to 0xFF).
    {128, "Telematic interworking not supported", false},
    {129, "Short message Type 0 not supported", false},
    {130, "Cannot replace short message", false},
    {143, "Unspecified TP-PID error", false},
    {144, "Data coding scheme (alphabet) not supported", false},
    {145, "Message class not supported", false},
    {159, "Unspecified TP-DCS error", false},
    {160, "Command cannot be actioned", false},
    {161, "Command unsupported", false},
    {175, "Unspecified TP-Command error", false},
    {176, "TPDU not supported", false},
    {192, "SC busy", true},
    {193, "No SC subscription", false},
    {194, "SC system failure", true},
    {195, "Invalid SME address", false},
    {196, "Destination SME barred", false},
    {197, "SM Rejected-Duplicate SM", false},
    {198, "TP-VPF not supported", false},
    {199, "TP-VP not supported", false},
    {208, "(U)SIM SMS storage full", false},
    {209, "No SMS storage capability in (U)SIM", false},
    {210, "Error in MS", false},
    {211, "Memory Capacity Exceeded", false},
    {212, "(U)SIM Application Toolkit Busy", true},
    {213, "(U)SIM data download error", false},
    {255, "Unspecified error cause", false},
    // TS 27.005 3.2.5: the message service's own failures.
    {300, "ME failure", true},
    {301, "SMS service of ME reserved", true},
    {302, "operation not allowed", false},
    {303, "operation not supported", false},
    {304, "invalid PDU mode parameter", false},
    {305, "invalid text mode parameter", false},
    {310, "(U)SIM not inserted", false},
    {311, "(U)SIM PIN required", false},
    {312, "PH-(U)SIM PIN required", false},
    {313, "(U)SIM failure", false},
    {314, "(U)SIM busy", true},
    {315, "(U)SIM wrong", false},
    {316, "(U)SIM PUK required", false},
    {317, "(U)SIM PIN2 required", false},
    {318, "(U)SIM PUK2 required", false},
    {320, "memory failure", false},
    {321, "invalid memory index", false},
    {322, "memory full", false},
    {330, "SMSC address unknown", false},
    {331, "no network service", true},
    {332, "network timeout", true},
    {340, "no +CNMA acknowledgement expected", false},
    // The modem's catch-all for a failure it cannot name, most often a
    // passing one (no network for the moment).
    {500, "unknown error", true},
}};

// TS 27.007 9.2 <err> of +CME ERROR, sorted by value.
constexpr std::array<ErrorEntry, 110> kCmeErrors = {{
    // 9.2.1 General errors.
    {0, "phone failure", false},
    {1, "no connection to phone", false},
    {2, "phone-adaptor link reserved", false},
    {3, "operation not allowed", false},
    {4, "operation not supported", false},
    {5, "PH-SIM PIN required", false},
    {6, "PH-FSIM PIN required", false},
    {7, "PH-FSIM PUK required", false},
    {10, "SIM not inserted", false},
    {11, "SIM PIN required", false},
    {12, "SIM PUK required", false},
    {13, "SIM failure", false},
    {14, "SIM busy", true},
    {15, "SIM wrong", false},
    {16, "incorrect password", false},
    {17, "SIM PIN2 required", false},
    {18, "SIM PUK2 required", false},
    {20, "memory full", false},
    {21, "invalid index", false},
    {22, "not found", false},
    {23, "memory failure", false},
    {24, "text string too long", false},
    {25, "invalid characters in text string", false},
    {26, "dial string too long", false},
    {27, "invalid characters in dial string", false},
    {30, "no network service", true},
    {31, "network timeout", true},
    {32, "network not allowed - emergency calls only", true},
    {40, "network personalization PIN required", false},
    {41, "network personalization PUK required", false},
    {42, "network subset personalization PIN required", false},
    {43, "network subset personalization PUK required", false},
    {44, "service provider personalization PIN required", false},
    {45, "service provider personalization PUK required", false},
    {46, "corporate personalization PIN required", false},
    {47, "corporate personalization PUK required", false},
    {48, "hidden key required", false},
    {49, "EAP method not supported", false},
    {50, "Incorrect parameters", false},
    {51, "command implemented but currently disabled", false},
    {52, "command aborted by user", false},
    {53, "not attached to network due to MT functionality restrictions", false},
    {54, "modem not allowed - MT restricted to emergency calls only", false},
    {55, "operation not allowed because of MT functionality restrictions", false},
    {56, "fixed dial number only allowed - called number is not a fixed dial number", false},
    {57, "temporarily out of service due to other MT usage", true},
    {58, "language/alphabet not supported", false},
    {59, "unexpected data value", false},
    {60, "system failure", true},
    {61, "data missing", false},
    {62, "call barred", false},
    {63, "message waiting indication subscription failure", false},
    {100, "unknown", false},
    // 9.2.2.1 GPRS and EPS: failure to attach.
    {103, "Illegal MS", false},
    {106, "Illegal ME", false},
    {107, "GPRS services not allowed", false},
    {108, "GPRS services and non-GPRS services not allowed", false},
    {111, "PLMN not allowed", false},
    {112, "Location area not allowed", false},
    {113, "Roaming not allowed in this location area", false},
    {114, "GPRS services not allowed in this PLMN", false},
    {115, "No Suitable Cells In Location Area", false},
    {122, "Congestion", true},
    {125, "Not authorized for this CSG", false},
    // 9.2.2.2: failure to activate a context.
    {126, "insufficient resources", true},
    {127, "missing or unknown APN", false},
    {128, "unknown PDP address or PDP type", false},
    {129, "user authentication failed", false},
    {130, "activation rejected by GGSN, Serving GW or PDN GW", false},
    {131, "activation rejected, unspecified", false},
    {132, "service option not supported", false},
    {133, "requested service option not subscribed", false},
    {134, "service option temporarily out of order", true},
    {140, "feature not supported", false},
    {141, "semantic error in the TFT operation", false},
    {142, "syntactical error in the TFT operation", false},
    {143, "unknown PDP context", false},
    {144, "semantic errors in packet filter(s)", false},
    {145, "syntactical errors in packet filter(s)", false},
    {146, "PDP context without TFT already activated", false},
    // 9.2.2.4 Other GPRS errors.
    {148, "unspecified GPRS error", false},
    // 9.2.2.2 (continued).
    {149, "PDP authentication failure", false},
    // 9.2.2.4 (continued).
    {150, "invalid mobile class", false},
    // 9.2.3 VBS, VGCS and eMLPP.
    {151, "VBS/VGCS not supported by the network", false},
    {152, "No service subscription on SIM", false},
    {153, "No subscription for group ID", false},
    {154, "Group Id not activated on SIM", false},
    {155, "No matching notification", false},
    {156, "VBS/VGCS call already present", false},
    {157, "Congestion", true},
    {158, "Network failure", true},
    {159, "Uplink busy", true},
    {160, "No access rights for SIM file", false},
    {161, "No subscription for priority", false},
    {162, "operation not applicable or not possible", false},
    {163, "Group Id prefixes not supported", false},
    {164, "Group Id prefixes not usable for VBS", false},
    {165, "Group Id prefix value invalid", false},
    // 9.2.2.3: failure to disconnect a PDN.
    {171, "Last PDN disconnection not allowed", false},
    // 9.2.2.1 (continued).
    {172, "Semantically incorrect message", false},
    {173, "Mandatory information element error", false},
    {174, "Information element non-existent or not implemented", false},
    {175, "Conditional IE error", false},
    {176, "Protocol error, unspecified", false},
    // 9.2.2.2 (continued).
    {177, "Operator Determined Barring", false},
    {178, "maximum number of PDP contexts reached", false},
    {179, "requested APN not supported in current RAT and PLMN combination", false},
    {180, "request rejected, Bearer Control Mode violation", false},
    {181, "unsupported QCI value", false},
    // 9.2.2.4 (continued).
    {182, "user data transmission via control plane is congested", true},
}};

template <std::size_t N>
constexpr bool SortedByValue(const std::array<ErrorEntry, N>& table) {
  for (std::size_t i = 1; i < N; ++i)
    if (table[i - 1].err >= table[i].err) return false;
  return true;
}
static_assert(SortedByValue(kCmsErrors), "the +CMS ERROR table is sorted by value, each value once");
static_assert(SortedByValue(kCmeErrors), "the +CME ERROR table is sorted by value, each value once");

template <std::size_t N>
const ErrorEntry* Find(const std::array<ErrorEntry, N>& table, int err) {
  auto it =
      std::lower_bound(table.begin(), table.end(), err, [](const ErrorEntry& e, int value) { return e.err < value; });
  return it != table.end() && it->err == err ? &*it : nullptr;
}

// A verbose error's text compared with the tables: letters in any case,
// "(U)SIM" and "SIM" alike, blanks around it ignored.
AnsiString Comparable(const AnsiString& text) {
  AnsiString out;
  const AnsiString t = Trim(text);
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (t.compare(i, 3, "(U)") == 0) {
      i += 2;
      continue;
    }
    out.push_back(t[i] >= 'a' && t[i] <= 'z' ? static_cast<char>(t[i] - 'a' + 'A') : t[i]);
  }
  return out;
}

template <std::size_t N>
const ErrorEntry* FindText(const std::array<ErrorEntry, N>& table, const AnsiString& text) {
  const AnsiString wanted = Comparable(text);
  for (const ErrorEntry& e : table)
    if (Comparable(e.text) == wanted) return &e;
  return nullptr;
}

}  // namespace

const char* CmsErrorText(int err) {
  const ErrorEntry* e = Find(kCmsErrors, err);
  return e ? e->text : nullptr;
}

const char* CmeErrorText(int err) {
  const ErrorEntry* e = Find(kCmeErrors, err);
  return e ? e->text : nullptr;
}

bool TModemError::IsTemporary() const {
  const ErrorEntry* e = nullptr;
  switch (Kind) {
    case mekCMS: e = Find(kCmsErrors, Number); break;
    case mekCME: e = Find(kCmeErrors, Number); break;
    case mekNone:
    case mekError: break;
  }
  return e != nullptr && e->temporary;
}

TModemError ModemErrorOf(const at::TResult& result) {
  TModemError error;
  if (!at::IsError(result)) return error;
  error.Line = Trim(result.Line);
  switch (result.Final) {
    case at::TFinalCode::CmsError:
    case at::TFinalCode::CmeError: {
      const bool cms = result.Final == at::TFinalCode::CmsError;
      error.Kind = cms ? mekCMS : mekCME;
      const ErrorEntry* e = nullptr;
      if (result.ErrorNumber >= 0) {
        error.Number = result.ErrorNumber;
        e = cms ? Find(kCmsErrors, result.ErrorNumber) : Find(kCmeErrors, result.ErrorNumber);
      } else {
        // AT+CMEE=2: the text instead of the number.
        e = cms ? FindText(kCmsErrors, result.Fields) : FindText(kCmeErrors, result.Fields);
        if (e) error.Number = e->err;
      }
      error.Text = e ? AnsiString(e->text) : (result.ErrorNumber >= 0 ? AnsiString() : Trim(result.Fields));
      break;
    }
    default: error.Kind = mekError; break;
  }
  return error;
}

TModemError ModemErrorFromLine(const AnsiString& line) {
  const at::TFraming framing = at::Frame(Trim(line) + "\r\n", true);
  if (framing.Results.size() == 1 && at::IsError(framing.Results[0])) return ModemErrorOf(framing.Results[0]);
  return ModemErrorBecause(line);
}

TModemError ModemErrorBecause(const AnsiString& why) {
  TModemError error;
  error.Text = why;
  return error;
}

const char* ModemErrorKindName(TModemErrorKind kind) {
  switch (kind) {
    case mekNone: return "none";
    case mekError: return "error";
    case mekCMS: return "cms";
    case mekCME: return "cme";
  }
  return "none";
}

}  // namespace vesk
