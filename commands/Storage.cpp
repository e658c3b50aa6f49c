// Stored-message commands. Reading and listing send their
// command and return: the answer is read and dispatched later.
#include "commands/Answers.h"
#include "component/VeskGSM.h"

namespace vesk {

void TVeskGSM::TakeDueAnswer() {
  // The answer to an earlier read or listing still on its way is taken in
  // (and dispatched) first: the next command's read would otherwise stop at
  // its final result, leave the command's own to come later, and report
  // that one's outcome for the earlier command.
  if (!AnswerDue()) return;
  bool completed = false;
  ReadAnswer([&](const AnsiString& read) { return !AnswerDueWith(read); }, 15, completed);
}

void TVeskGSM::SendReadCommand(const AnsiString& Location, int Index) {
  // The storage and the read go together: no other command between.
  TPortSession session(*this);
  TakeDueAnswer();
  SetDefaultStorage(Location);
  NoteReadRequest(Location, Index);
  SendString("AT+CMGR=" + IntToStr(Index) + "\r");
  session.End();
}

void TVeskGSM::GetSMS(const AnsiString& Location, int Index) {
  // A storage name that would end the command line is refused: nothing
  // is written.
  if (!at::CheckArgument(Location, "the storage name").empty()) return;
  if (!BeginRead(Location, Index)) return;  // sent by the read under way
  auto end = OnScopeExit([this] { EndRead(); });
  SendReadCommand(Location, Index);
  AnsiString location;
  int index;
  while (NextDeferredRead(location, index)) SendReadCommand(location, index);
  Pause(300);
}

void TVeskGSM::GetAllSMS(const AnsiString& Location, int SmsType) {
  if (!at::CheckArgument(Location, "the storage name").empty()) return;
  {
    TPortSession session(*this);
    TakeDueAnswer();
    SetDefaultStorage(Location);
    NoteListRequest(Location);
    // Text mode names the status with a word, PDU mode with a number.
    SendString("AT+CMGL=" + at::ListStatusArgument(SmsType, FMessageFormat == mfText) + "\r");
    session.End();
  }
  Pause(250);
}

bool TVeskGSM::DeleteSMS(const AnsiString& Location, int Index) {
  if (!at::CheckArgument(Location, "the storage name").empty()) return false;
  bool ok = false;
  {
    TPortSession session(*this);
    TakeDueAnswer();
    SetDefaultStorage(Location);
    if (!Pause(250)) return false;
    if (Index >= 0)
      ok = ExecuteATCommand("AT+CMGD=" + IntToStr(Index), '\r');
    else if (Index >= -4)
      ok = ExecuteATCommand("AT+CMGD=1," + IntToStr(-Index), '\r');
    session.End();
  }
  Pause(250);
  return ok;
}

}  // namespace vesk
