// Sending one AT command and collecting its answer.
#include "commands/Answers.h"
#include "commands/StateAnswers.h"
#include "component/VeskGSM.h"

namespace vesk {

AnsiString TVeskGSM::RunCommand(const AnsiString& line, char terminator, int timeOutSeconds, at::TCommandAnswer& answer,
                                bool probe) {
  if (!PortDevice()) throw EVeskGSMException(NotOpenMessage());
  answer = at::TCommandAnswer();
  // What was waiting before the command is read and dispatched first, so
  // that it does not end up among the answer's lines.
  ReadString();
  // One command at a time, and no look of the reader thread at the port
  // from the first read to the last. Everything read is dispatched as the
  // session ends, on this thread.
  TPortSession session(*this);
  // A read or listing sent without waiting (the automatic read of a
  // notice just dispatched, say) ends with a final result of its own:
  // taken in first, it cannot be taken for this command's.
  TakeDueAnswer();
  SendString(line + terminator);
  Pause(50);
  at::TFinalWatch watch;
  bool completed = false;
  // The command's own answer to a read such as AT+CREG? is not news, nor
  // a probe's refusal: the dispatcher gets the rest.
  AnsiString text =
      ReadAnswer([&](const AnsiString& read) { return watch.Feed(read); }, timeOutSeconds, completed, false,
                 [&](const AnsiString& read) {
                   const AnsiString rest = at::WithoutOwnAnswers(read, line);
                   return probe ? at::WithoutFinalError(rest) : rest;
                 });
  if (completed) answer = at::ReadCommandAnswer(text, line);
  NoteCommandOutcome(answer, timeOutSeconds);
  session.End();
  return text;
}

int TVeskGSM::ExecuteATCommand(const AnsiString& strAT, TStrings* ResultList, int timeOutSeconds,
                               char CommandTerminator) {
  at::TCommandAnswer answer;
  const AnsiString text = RunCommand(strAT, CommandTerminator, timeOutSeconds, answer);
  // No final result within the time-out: no answer.
  if (!ResultList || !answer.Complete) return 0;
  ResultList->Clear();
  ExtractStrings("", "", text.substr(0, answer.End).c_str(), ResultList);
  return ResultList->Count();
}

bool TVeskGSM::ExecuteATCommand(const AnsiString& strAT, char CommandTerminator) {
  at::TCommandAnswer answer;
  RunCommand(strAT, CommandTerminator, 15, answer);
  return answer.Succeeded();
}

int TVeskGSM::ExtractStrings(const AnsiString& separators, const AnsiString& whiteSpace, const char* text,
                             TStrings* list) {
  if (!text || !*text || !list) return 0;
  auto in = [](const AnsiString& set, char c) { return set.find(c) != AnsiString::npos; };
  AnsiString white = whiteSpace + "\r\n";
  AnsiString seps = separators + AnsiString(1, '\0') + "\r\n\"'";

  list->BeginUpdate();
  auto end = OnScopeExit([list] { list->EndUpdate(); });

  int count = 0;
  const char* tail = text;
  char quote = 0;
  bool ended;
  do {
    while (*tail && in(white, *tail)) ++tail;
    const char* head = tail;
    for (;;) {
      // Inside quotes only the closing quote or the end stops the scan;
      // outside, any separator does. Line ends within quotes thus stay in
      // the item.
      while ((quote != 0 && *tail != quote && *tail != '\0') || (quote == 0 && !in(seps, *tail))) ++tail;
      if (*tail == '"' || *tail == '\'') {
        if (quote == *tail)
          quote = 0;
        else if (quote == 0)
          quote = *tail;
        ++tail;
      } else {
        break;
      }
    }
    ended = *tail == '\0';
    if (tail != head && *head != '\0') {
      list->Add(AnsiString(head, static_cast<std::size_t>(tail - head)));
      ++count;
    }
    if (!ended) ++tail;
  } while (!ended);
  return count;
}

}  // namespace vesk
