// The answer rules of the modem's state: SIM (AT+CPIN?, AT+CPINR), network
// registration (+CREG, +CGREG, +CEREG as answers and as unsolicited
// results), operator (AT+COPS?), character set (AT+CSCS?), service centre
// (AT+CSCA?) and USSD (+CUSD, with TS 23.038 5 for its coding scheme).
// Pure functions of their arguments, like commands/Answers.h: a malformed
// answer gives the "unknown" value, never an exception.
#pragma once

#include <vector>

#include "commands/Answers.h"
#include "commands/ModemState.h"
#include "component/Framework.h"
#include "incoming/Framing.h"

namespace vesk::at {

// ---------------------------------------------------------------- SIM

// The answer to AT+CPIN? (TS 27.007 8.3): +CPIN: <code>, or the error the
// modem gave instead (+CME ERROR: 10 not inserted, 13 failure, 14 busy; 11,
// 12, 17, 18 and 5 for the codes; numeric or verbose).
TSIMState SIMState(const TCommandAnswer& answer);
// The answer to AT+CPINR (TS 27.007 8.65): the <retries> of the line whose
// <code> is `code` ("SIM PIN", "SIM PUK"; quoted or not); -1 when none.
int PINRetries(const TCommandAnswer& answer, const char* code);

// ---------------------------------------------------------------- registration

// "+CREG", "+CGREG" or "+CEREG".
bool IsRegistrationName(const AnsiString& name);
// The two forms of these results (TS 27.007 7.2, 10.1.19, 10.1.22):
//   the answer to AT+CREG?:  +CREG: <n>,<stat>[,[<lac>],[<ci>][,<AcT>...]]
//   the unsolicited result:  +CREG: <stat>[,[<lac>],[<ci>][,<AcT>...]]
// An answer has <n> and <stat> as two plain numbers of at most two digits
// (<n> 0 to 5, <stat> 0 to 11); an unsolicited result has one number, or a
// <lac> in the second place (quoted, or hexadecimal with letters or more
// than two digits). Each form is read only as itself: an unsolicited
// result is never taken for the answer a command waits for, nor an answer
// for news.
bool RegistrationAnswer(const TResult& result, TRegistration& out);
bool RegistrationNotice(const TResult& result, TRegistration& out);
// The answer to AT+CREG? (name "+CREG") and the like; Status rsUnknown and
// Stat -1 when no answer line came.
TRegistration RegistrationOf(const TCommandAnswer& answer, const char* name);
// A <stat> as a status (TS 27.007 7.2; 6 to 11 mapped as ModemState.h says).
TRegistrationStatus RegistrationStatusOf(int stat);
// Whether `a` says more than `b`: registered before searching, before
// denied, before not registered, before unknown.
bool BetterRegistration(const TRegistration& a, const TRegistration& b);

// ---------------------------------------------------------------- text in the TE character set

// The answer to AT+CSCS?: the character set's name in capitals ("GSM",
// "IRA", "UCS2" ...); "" when none came.
AnsiString CharacterSetOf(const TCommandAnswer& answer);
// A string the modem wrote in its TE character set (TS 27.007 5.5): "UCS2"
// as hexadecimal UTF-16, "HEX" as hexadecimal GSM codes, "GSM" one GSM code
// a byte, "UTF-8", and the 8-bit sets (IRA, 8859-1, PCCP437, and "" when
// the set is not known) as Windows-1252. False (and `text` empty) when the
// string is not of that form.
bool FromTECharacterSet(const AnsiString& value, const AnsiString& charset, WideString& text);
// Digits, '+', '*' and '#' written for the modem in its character set.
AnsiString ToTECharacterSet(const AnsiString& ira, const AnsiString& charset);

// ---------------------------------------------------------------- operator, service centre

// The answer to AT+COPS? (TS 27.007 7.3): +COPS: <mode>[,<format>,<oper>[,<AcT>]].
TOperator OperatorOf(const TCommandAnswer& answer, const AnsiString& charset);
// The answer to AT+CSCA? (TS 27.005 3.3.1): +CSCA: <sca>,<tosca>. The
// number in the modem's character set (or as UCS2 hexadecimal whatever the
// set: a number holds no hexadecimal letter but the '+' of "002B" does),
// decoded, with a '+' put before it when <tosca> is 145 and the modem left
// it out. False when no such line came or its number does not read; true
// with "" when the modem has no centre.
bool ServiceCentreOf(const TCommandAnswer& answer, const AnsiString& charset, AnsiString& number);

// ---------------------------------------------------------------- USSD

// TS 23.038 5, the coding scheme of a USSD string.
enum class TUSSDAlphabet { Gsm7, EightBit, Ucs2, Compressed };
struct TUSSDCoding {
  TUSSDAlphabet Alphabet = TUSSDAlphabet::Gsm7;
  // 0001 0000: the text starts with a language, two characters and a CR;
  // 0001 0001: the UCS2 text follows a language packed in two octets.
  bool LanguagePrefix = false;
};
// Any reserved coding is the GSM 7 bit default alphabet (TS 23.038 5).
TUSSDCoding USSDCoding(int dcs);

// +CUSD: <m>[,<str>[,<dcs>]] (TS 27.007 7.15), unsolicited: the status, the
// raw string and the text decoded. <str> runs from its first double quote
// to its last (a quote inside the text does not end it), or is unquoted;
// it may span lines (see incoming/Framing.h). False when <m> is not 0 to 5.
bool USSDNotice(const TResult& result, const AnsiString& charset, TUSSDResult& out);
// <str> decoded by <dcs> (-1: none given, the default 0), `charset` the
// modem's TE character set. GSM 7-bit comes as text in the TE character
// set, or as hexadecimal: packed septets (TS 23.038 6.1.2.3; a CR filling
// the last seven bits dropped), one code an octet, or UCS2 when the modem's
// set is UCS2. 8-bit and UCS2 come as hexadecimal. False (and `text` the
// raw string) when it does not decode.
bool DecodeUSSDText(const AnsiString& str, int dcs, const AnsiString& charset, WideString& text);

// ---------------------------------------------------------------- arguments

// A USSD code: digits, '*', '#' and '+', 1 to 160 of them.
AnsiString CheckUSSDCode(const AnsiString& code);
// A reply to a USSD menu: 1 to 160 printable ASCII characters, no double
// quote.
AnsiString CheckUSSDReply(const AnsiString& text);
// A PIN (4 to 8 digits) or PUK (8 digits). Empty when it passes, else why not.
AnsiString CheckPIN(const AnsiString& pin);
AnsiString CheckPUK(const AnsiString& puk);

// ---------------------------------------------------------------- a command's own answer

// What of a command's answer the dispatcher gets: `text` without the
// command's own answer lines where these have an unsolicited twin (the
// answer to AT+CREG?, AT+CGREG?, AT+CEREG? or AT+CUSD?, before the final
// result), so that an answer is never raised as news. Any other text is
// left as it is.
AnsiString WithoutOwnAnswers(const AnsiString& text, const AnsiString& commandLine);
// `text` without its first final result when that is an error: the refusal
// of a question the component asked for itself.
AnsiString WithoutFinalError(const AnsiString& text);

}  // namespace vesk::at
