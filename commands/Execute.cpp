// Sending one AT command and collecting its answer.
#include "component/VeskGSM.h"

namespace vesk {

int TVeskGSM::ExecuteATCommand(const AnsiString& strAT, TStrings* ResultList, int timeOutSeconds,
                               char CommandTerminator) {
  if (!PortDevice()) throw EVeskGSMException(NotOpenMessage());
  AnsiString answer;
  {
    // One command at a time, and no polling cycle of the reader thread from
    // the first read to the last. Everything read is dispatched as the
    // session ends, on this thread.
    // What was waiting before the command is read and dispatched first, so
    // that it does not end up among the answer's lines.
    ReadString();
    TPortSession session(*this);
    SendString(strAT + CommandTerminator);
    Pause(50);
    answer = ReadStringUpToEndChars("OK", "ERROR", timeOutSeconds);
  }
  if (!ResultList) return 0;
  ResultList->Clear();
  ExtractStrings("", "", answer.c_str(), ResultList);
  return ResultList->Count();
}

bool TVeskGSM::ExecuteATCommand(const AnsiString& strAT, char CommandTerminator) {
  TStringList lines;
  if (ExecuteATCommand(strAT, &lines, 15, CommandTerminator) == 0) return false;
  // Case-sensitive, unlike the read that collected the answer: a modem
  // that says "ok" has not said OK. An echoed line with OK in it counts.
  for (int i = 0; i < lines.Count(); ++i) {
    AnsiString line = WideToAnsi(lines[i]);
    if (Pos("ERROR", line) > 0) return false;
    if (Pos("OK", line) > 0) return true;
  }
  return false;
}

int TVeskGSM::ExtractStrings(const AnsiString& separators, const AnsiString& whiteSpace, const char* text,
                             TStrings* list) {
  if (!text || !*text || !list) return 0;
  auto in = [](const AnsiString& set, char c) { return set.find(c) != AnsiString::npos; };
  AnsiString white = whiteSpace + "\r\n";
  AnsiString seps = separators + AnsiString(1, '\0') + "\r\n\"'";

  list->BeginUpdate();
  struct End {
    TStrings* list;
    ~End() { list->EndUpdate(); }
  } end{list};

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
