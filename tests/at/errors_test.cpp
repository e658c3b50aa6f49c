// The modem's errors with their meaning. The lists below are this test's
// own copies of the standard's, typed from TS 27.005 3.2.5 (with TS 24.011
// E.2/E.3 for 0-127 and TS 23.040 9.2.3.22 for 128-255) and TS 27.007 9.2
// (9.2.1 general, 9.2.2 GPRS and EPS, 9.2.3 VBS, VGCS and eMLPP): every
// listed value must have the standard's text, and no other value any.
#include "commands/Errors.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "incoming/Framing.h"

namespace vesk {
namespace {

const std::map<int, std::string> kTs24011RpCauses = {
    {1, "Unassigned (unallocated) number"},
    {8, "Operator determined barring"},
    {10, "Call barred"},
    {21, "Short message transfer rejected"},
    {22, "Memory capacity exceeded"},  // E.3, mobile terminating
    {27, "Destination out of service"},
    {28, "Unidentified subscriber"},
    {29, "Facility rejected"},
    {30, "Unknown subscriber"},
    {38, "Network out of order"},
    {41, "Temporary failure"},
    {42, "Congestion"},
    {47, "Resources unavailable, unspecified"},
    {50, "Requested facility not subscribed"},
    {69, "Requested facility not implemented"},
    {81, "Invalid short message transfer reference value"},
    {95, "Invalid message, unspecified"},
    {96, "Invalid mandatory information"},
    {97, "Message type non-existent or not implemented"},
    {98, "Message not compatible with short message protocol state"},
    {99, "Information element non-existent or not implemented"},
    {111, "Protocol error, unspecified"},
    {127, "Interworking, unspecified"},
};

const std::map<int, std::string> kTs23040FailureCauses = {
    {0x80, "Telematic interworking not supported"},
    {0x81, "Short message Type 0 not supported"},
    {0x82, "Cannot replace short message"},
    {0x8F, "Unspecified TP-PID error"},
    {0x90, "Data coding scheme (alphabet) not supported"},
    {0x91, "Message class not supported"},
    {0x9F, "Unspecified TP-DCS error"},
    {0xA0, "Command cannot be actioned"},
    {0xA1, "Command unsupported"},
    {0xAF, "Unspecified TP-Command error"},
    {0xB0, "TPDU not supported"},
    {0xC0, "SC busy"},
    {0xC1, "No SC subscription"},
    {0xC2, "SC system failure"},
    {0xC3, "Invalid SME address"},
    {0xC4, "Destination SME barred"},
    {0xC5, "SM Rejected-Duplicate SM"},
    {0xC6, "TP-VPF not supported"},
    {0xC7, "TP-VP not supported"},
    {0xD0, "(U)SIM SMS storage full"},
    {0xD1, "No SMS storage capability in (U)SIM"},
    {0xD2, "Error in MS"},
    {0xD3, "Memory Capacity Exceeded"},
    {0xD4, "(U)SIM Application Toolkit Busy"},
    {0xD5, "(U)SIM data download error"},
    {0xFF, "Unspecified error cause"},
};

const std::map<int, std::string> kTs27005Errors = {
    {300, "ME failure"},
    {301, "SMS service of ME reserved"},
    {302, "operation not allowed"},
    {303, "operation not supported"},
    {304, "invalid PDU mode parameter"},
    {305, "invalid text mode parameter"},
    {310, "(U)SIM not inserted"},
    {311, "(U)SIM PIN required"},
    {312, "PH-(U)SIM PIN required"},
    {313, "(U)SIM failure"},
    {314, "(U)SIM busy"},
    {315, "(U)SIM wrong"},
    {316, "(U)SIM PUK required"},
    {317, "(U)SIM PIN2 required"},
    {318, "(U)SIM PUK2 required"},
    {320, "memory failure"},
    {321, "invalid memory index"},
    {322, "memory full"},
    {330, "SMSC address unknown"},
    {331, "no network service"},
    {332, "network timeout"},
    {340, "no +CNMA acknowledgement expected"},
    {500, "unknown error"},
};

const std::map<int, std::string> kTs27007Errors = {
    // 9.2.1
    {0, "phone failure"},
    {1, "no connection to phone"},
    {2, "phone-adaptor link reserved"},
    {3, "operation not allowed"},
    {4, "operation not supported"},
    {5, "PH-SIM PIN required"},
    {6, "PH-FSIM PIN required"},
    {7, "PH-FSIM PUK required"},
    {10, "SIM not inserted"},
    {11, "SIM PIN required"},
    {12, "SIM PUK required"},
    {13, "SIM failure"},
    {14, "SIM busy"},
    {15, "SIM wrong"},
    {16, "incorrect password"},
    {17, "SIM PIN2 required"},
    {18, "SIM PUK2 required"},
    {20, "memory full"},
    {21, "invalid index"},
    {22, "not found"},
    {23, "memory failure"},
    {24, "text string too long"},
    {25, "invalid characters in text string"},
    {26, "dial string too long"},
    {27, "invalid characters in dial string"},
    {30, "no network service"},
    {31, "network timeout"},
    {32, "network not allowed - emergency calls only"},
    {40, "network personalization PIN required"},
    {41, "network personalization PUK required"},
    {42, "network subset personalization PIN required"},
    {43, "network subset personalization PUK required"},
    {44, "service provider personalization PIN required"},
    {45, "service provider personalization PUK required"},
    {46, "corporate personalization PIN required"},
    {47, "corporate personalization PUK required"},
    {48, "hidden key required"},
    {49, "EAP method not supported"},
    {50, "Incorrect parameters"},
    {51, "command implemented but currently disabled"},
    {52, "command aborted by user"},
    {53, "not attached to network due to MT functionality restrictions"},
    {54, "modem not allowed - MT restricted to emergency calls only"},
    {55, "operation not allowed because of MT functionality restrictions"},
    {56, "fixed dial number only allowed - called number is not a fixed dial number"},
    {57, "temporarily out of service due to other MT usage"},
    {58, "language/alphabet not supported"},
    {59, "unexpected data value"},
    {60, "system failure"},
    {61, "data missing"},
    {62, "call barred"},
    {63, "message waiting indication subscription failure"},
    {100, "unknown"},
    // 9.2.2.1: attach
    {103, "Illegal MS"},
    {106, "Illegal ME"},
    {107, "GPRS services not allowed"},
    {108, "GPRS services and non-GPRS services not allowed"},
    {111, "PLMN not allowed"},
    {112, "Location area not allowed"},
    {113, "Roaming not allowed in this location area"},
    {114, "GPRS services not allowed in this PLMN"},
    {115, "No Suitable Cells In Location Area"},
    {122, "Congestion"},
    {125, "Not authorized for this CSG"},
    {172, "Semantically incorrect message"},
    {173, "Mandatory information element error"},
    {174, "Information element non-existent or not implemented"},
    {175, "Conditional IE error"},
    {176, "Protocol error, unspecified"},
    // 9.2.2.2: context activation
    {177, "Operator Determined Barring"},
    {126, "insufficient resources"},
    {127, "missing or unknown APN"},
    {128, "unknown PDP address or PDP type"},
    {129, "user authentication failed"},
    {130, "activation rejected by GGSN, Serving GW or PDN GW"},
    {131, "activation rejected, unspecified"},
    {132, "service option not supported"},
    {133, "requested service option not subscribed"},
    {134, "service option temporarily out of order"},
    {140, "feature not supported"},
    {141, "semantic error in the TFT operation"},
    {142, "syntactical error in the TFT operation"},
    {143, "unknown PDP context"},
    {144, "semantic errors in packet filter(s)"},
    {145, "syntactical errors in packet filter(s)"},
    {146, "PDP context without TFT already activated"},
    {149, "PDP authentication failure"},
    {178, "maximum number of PDP contexts reached"},
    {179, "requested APN not supported in current RAT and PLMN combination"},
    {180, "request rejected, Bearer Control Mode violation"},
    {181, "unsupported QCI value"},
    // 9.2.2.3: PDN disconnection
    {171, "Last PDN disconnection not allowed"},
    // 9.2.2.4: other GPRS errors
    {148, "unspecified GPRS error"},
    {150, "invalid mobile class"},
    {182, "user data transmission via control plane is congested"},
    // 9.2.3
    {151, "VBS/VGCS not supported by the network"},
    {152, "No service subscription on SIM"},
    {153, "No subscription for group ID"},
    {154, "Group Id not activated on SIM"},
    {155, "No matching notification"},
    {156, "VBS/VGCS call already present"},
    {157, "Congestion"},
    {158, "Network failure"},
    {159, "Uplink busy"},
    {160, "No access rights for SIM file"},
    {161, "No subscription for priority"},
    {162, "operation not applicable or not possible"},
    {163, "Group Id prefixes not supported"},
    {164, "Group Id prefixes not usable for VBS"},
    {165, "Group Id prefix value invalid"},
};

std::string Text(const char* text) { return text ? text : "(none)"; }

TEST(ErrorTables, EveryCmsValueOfTheStandardHasItsText) {
  std::map<int, std::string> all = kTs24011RpCauses;
  all.insert(kTs23040FailureCauses.begin(), kTs23040FailureCauses.end());
  all.insert(kTs27005Errors.begin(), kTs27005Errors.end());
  ASSERT_EQ(all.size(), kTs24011RpCauses.size() + kTs23040FailureCauses.size() + kTs27005Errors.size());
  for (int err = 0; err < 1024; ++err) {
    const auto listed = all.find(err);
    EXPECT_EQ(Text(CmsErrorText(err)), listed == all.end() ? "(none)" : listed->second) << "+CMS ERROR: " << err;
  }
}

TEST(ErrorTables, EveryCmeValueOfTheStandardHasItsText) {
  for (int err = 0; err < 1024; ++err) {
    const auto listed = kTs27007Errors.find(err);
    EXPECT_EQ(Text(CmeErrorText(err)), listed == kTs27007Errors.end() ? "(none)" : listed->second)
        << "+CME ERROR: " << err;
  }
  EXPECT_EQ(CmeErrorText(-1), nullptr);
  EXPECT_EQ(CmsErrorText(-1), nullptr);
}

// ---------------------------------------------------------------- the lines a modem sends

struct ErrorLineCase {
  const char* name;
  const char* line;
  TModemErrorKind kind;
  int number;
  const char* text;
  bool temporary;
};

void PrintTo(const ErrorLineCase& c, std::ostream* os) { *os << c.name; }

class ErrorLines : public ::testing::TestWithParam<ErrorLineCase> {};

TEST_P(ErrorLines, ReadWithTheirMeaning) {
  const ErrorLineCase& c = GetParam();
  const TModemError e = ModemErrorFromLine(c.line);
  EXPECT_EQ(e.Kind, c.kind);
  EXPECT_EQ(e.Number, c.number);
  EXPECT_EQ(e.Text, c.text);
  EXPECT_EQ(e.IsTemporary(), c.temporary);
  EXPECT_EQ(e.IsError(), c.kind != mekNone);
  if (c.kind != mekNone) {
    EXPECT_EQ(e.Line, Trim(AnsiString(c.line)));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ErrorLines,
    ::testing::Values(
        // The send path's examples: network trouble passes, a refusal stays.
        ErrorLineCase{"NetworkOutOfOrder", "+CMS ERROR: 38", mekCMS, 38, "Network out of order", true},
        ErrorLineCase{"Congestion", "+CMS ERROR: 42", mekCMS, 42, "Congestion", true},
        ErrorLineCase{"TemporaryFailure", "+CMS ERROR: 41", mekCMS, 41, "Temporary failure", true},
        ErrorLineCase{"Rejected", "+CMS ERROR: 21", mekCMS, 21, "Short message transfer rejected", false},
        ErrorLineCase{"InvalidPdu", "+CMS ERROR: 304", mekCMS, 304, "invalid PDU mode parameter", false},
        ErrorLineCase{"Barred", "+CMS ERROR: 10", mekCMS, 10, "Call barred", false},
        ErrorLineCase{"ScBusy", "+CMS ERROR: 192", mekCMS, 192, "SC busy", true},
        ErrorLineCase{"NoNetworkService", "+CMS ERROR: 331", mekCMS, 331, "no network service", true},
        ErrorLineCase{"SmscUnknown", "+CMS ERROR: 330", mekCMS, 330, "SMSC address unknown", false},
        ErrorLineCase{"CatchAll", "+CMS ERROR: 500", mekCMS, 500, "unknown error", true},
        // Values the standard leaves to manufacturers: kept, not named, not retried.
        ErrorLineCase{"ManufacturerSpecific", "+CMS ERROR: 515", mekCMS, 515, "", false},
        ErrorLineCase{"LowerCase", "+cms error: 38", mekCMS, 38, "Network out of order", true},
        ErrorLineCase{"NoBlank", "+CMS ERROR:42", mekCMS, 42, "Congestion", true},
        ErrorLineCase{"WrongPin", "+CME ERROR: 16", mekCME, 16, "incorrect password", false},
        ErrorLineCase{"SimBusy", "+CME ERROR: 14", mekCME, 14, "SIM busy", true},
        ErrorLineCase{"NoNetwork", "+CME ERROR: 30", mekCME, 30, "no network service", true},
        ErrorLineCase{"NotSupported", "+CME ERROR: 4", mekCME, 4, "operation not supported", false},
        // AT+CMEE=2: the text instead of the number.
        ErrorLineCase{"VerbosePin", "+CME ERROR: SIM PIN required", mekCME, 11, "SIM PIN required", false},
        ErrorLineCase{"VerboseOtherCase", "+CME ERROR: Incorrect Password", mekCME, 16, "incorrect password", false},
        ErrorLineCase{"VerboseUSim", "+CMS ERROR: SIM not inserted", mekCMS, 310, "(U)SIM not inserted", false},
        ErrorLineCase{"VerboseUnknown", "+CME ERROR: no such thing", mekCME, -1, "no such thing", false},
        ErrorLineCase{"PlainError", "ERROR", mekError, -1, "", false},
        ErrorLineCase{"NotAnError", "OK", mekNone, -1, "OK", false},
        ErrorLineCase{"Why", "no answer within 15 seconds", mekNone, -1, "no answer within 15 seconds", false}));

TEST(ModemErrorKinds, NamesForTheTool) {
  EXPECT_STREQ(ModemErrorKindName(mekNone), "none");
  EXPECT_STREQ(ModemErrorKindName(mekError), "error");
  EXPECT_STREQ(ModemErrorKindName(mekCMS), "cms");
  EXPECT_STREQ(ModemErrorKindName(mekCME), "cme");
}

TEST(ModemErrorKinds, OnlyFinalErrorResultsAreErrors) {
  for (const char* text : {"\r\nOK\r\n", "\r\nRING\r\n", "\r\n+CSQ: 20,99\r\n", "\r\nNO CARRIER\r\n"}) {
    const at::TFraming f = at::Frame(text, true);
    ASSERT_EQ(f.Results.size(), 1u) << text;
    EXPECT_EQ(ModemErrorOf(f.Results[0]).Kind, mekNone) << text;
  }
}

}  // namespace
}  // namespace vesk
