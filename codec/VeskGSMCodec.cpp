// TVeskGSM's SMS codec methods: thin calls into the pure functions of
// codec/. Only PDUSMSToString touches the component: the last decode
// error and, for a part of a long message alone, its reassembly
// collection (incoming/ComponentParts.cpp). A message in one part costs
// no lock and no clock reading.

#include <mutex>

#include "codec/Alphabet.h"
#include "codec/Deliver.h"
#include "codec/MessagePlan.h"
#include "codec/Packing.h"
#include "codec/Submit.h"
#include "codec/TextMode.h"
#include "component/VeskGSM.h"

namespace vesk {

WideString TVeskGSM::GSM7bitDefaultAlphabet() const { return codec::GSM7bitDefaultAlphabet(); }

bool TVeskGSM::IsGSM7bitDefaultAlphabet(const WideString& str) const { return codec::IsGSM7bitDefaultAlphabet(str); }

bool TVeskGSM::IsUnicode(const WideString& str) const { return codec::IsUnicode(str); }

AnsiString TVeskGSM::StringToGSM7bitDefaultAlphabet(const AnsiString& strMessage,
                                                    TNationalLanguageShiftTables lockingShiftTable,
                                                    TNationalLanguageShiftTables singleShiftTable) const {
  return codec::StringToGSM7bitDefaultAlphabet(strMessage, lockingShiftTable, singleShiftTable);
}

WideString TVeskGSM::GSM7bitDefaultAlphabetToString(const AnsiString& strMessage,
                                                    TNationalLanguageShiftTables lockingShiftTable,
                                                    TNationalLanguageShiftTables singleShiftTable) const {
  return codec::GSM7bitDefaultAlphabetToString(strMessage, lockingShiftTable, singleShiftTable);
}

AnsiString TVeskGSM::ReplaceControlChars(const AnsiString& strInput) const {
  return codec::ReplaceControlChars(strInput);
}

AnsiString TVeskGSM::StringToPDU7(const AnsiString& str) const { return codec::StringToPDU7(str); }
AnsiString TVeskGSM::StringToPDU8(const AnsiString& str) const { return codec::StringToPDU8(str); }
AnsiString TVeskGSM::StringToPDU16(const WideString& str) const { return codec::StringToPDU16(str); }
WideString TVeskGSM::PDU7ToString(const AnsiString& str) const { return codec::PDU7ToString(str); }
WideString TVeskGSM::PDU8ToString(const AnsiString& str) const { return codec::PDU8ToString(str); }
WideString TVeskGSM::PDU16ToString(const AnsiString& str) const { return codec::PDU16ToString(str); }

TPDUSMS TVeskGSM::StringToPDUSMS(const WideString& PhoneNumber, const WideString& CenterNumber,
                                 const WideString& MessageText, TMessageEncoding Encoding, bool Flash,
                                 const TUDH* UserDataHeader) const {
  return codec::StringToPDUSMS(PhoneNumber, CenterNumber, MessageText, Encoding, Flash, UserDataHeader);
}

TSMSInfo TVeskGSM::GetSMSInfo(const WideString& MessageText, TMessageEncoding Encoding) const {
  return codec::GetSMSInfo(MessageText, Encoding, GetNationalLanguageTables());
}

WideString TVeskGSM::PDUSMSToString(const AnsiString& MessageText, AnsiString& PhoneNumber,
                                    AnsiString& CenterNumber, TDateTime& TimeStamp, int& TimeZone, bool& Skip) {
  codec::DeliverPDU fields = codec::DecodeDeliver(MessageText);
  if (fields.Error == nullptr && !fields.Key.IsPart()) {
    // A message in one part: its fields straight to the caller.
    NoteDecodeError(AnsiString());
    PhoneNumber = std::move(fields.PhoneNumber);
    CenterNumber = std::move(fields.CenterNumber);
    if (fields.TimeStamp) TimeStamp = *fields.TimeStamp;
    if (fields.TimeZone) TimeZone = *fields.TimeZone;
    Skip = false;
    return codec::UserDataText(fields);
  }
  codec::DecodedSMS decoded = Reassemble(std::move(fields));
  PhoneNumber = std::move(decoded.PhoneNumber);
  CenterNumber = std::move(decoded.CenterNumber);
  if (decoded.TimeStamp) TimeStamp = *decoded.TimeStamp;
  if (decoded.TimeZone) TimeZone = *decoded.TimeZone;
  Skip = decoded.Skip;
  return std::move(decoded.Text);
}

AnsiString TVeskGSM::GetLastDecodeError() const {
  std::lock_guard<std::mutex> lock(FFieldsLock);
  return FLastDecodeError;
}

WideString TVeskGSM::TextSMSToString(const AnsiString& MessageText, AnsiString& PhoneNumber, AnsiString& CenterNumber,
                                     TDateTime& TimeStamp, int& TimeZone, int& Status) const {
  codec::TextSMS parsed = codec::TextSMSToString(MessageText);
  PhoneNumber = std::move(parsed.PhoneNumber);
  CenterNumber = std::move(parsed.CenterNumber);
  if (parsed.TimeStamp) TimeStamp = *parsed.TimeStamp;
  if (parsed.TimeZone) TimeZone = *parsed.TimeZone;
  Status = parsed.Status;
  return std::move(parsed.Text);
}

}  // namespace vesk
