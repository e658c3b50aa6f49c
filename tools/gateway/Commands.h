// The `veskgsm` commands around the gateway's store. Each reads the
// configuration first (an error there: exit 2, before anything is opened)
// and needs no running gateway: the store is shared with it.
//
//   veskgsm serve    --config FILE [--log-level L] [--log FILE]
//   veskgsm queue    --config FILE [options] NUMBER TEXT   prints the id
//   veskgsm messages --config FILE [--state S] [--id N] [--json]
//   veskgsm inbox    --config FILE [--after ID] [--json]
//   veskgsm status   --config FILE [--json]
//
// Exit status: 0 done; 1 the store failed (or a message asked for by id is
// not there); 2 bad usage: a configuration error, a message refused at
// queue time (invalid number, empty text, more than 255 parts).
#pragma once

#include <iosfwd>
#include <string>

namespace vesk::gateway {

struct QueueOptions {
  std::string config;
  std::string number, text;
  int priority = 0;
  std::string notBefore, notAfter;  // as ParseMoment reads them
  std::string modem;
  std::string encoding = "auto";
  bool flash = false;
  bool json = false;
};

struct MessagesOptions {
  std::string config;
  std::string state;
  long long id = 0;  // 0: all
  bool json = false;
};

struct InboxOptions {
  std::string config;
  long long after = 0;
  bool json = false;
};

struct StatusOptions {
  std::string config;
  bool json = false;
};

int RunQueue(const QueueOptions& options, std::ostream& out, std::ostream& err);
int RunMessages(const MessagesOptions& options, std::ostream& out, std::ostream& err);
int RunInbox(const InboxOptions& options, std::ostream& out, std::ostream& err);
int RunStatus(const StatusOptions& options, std::ostream& out, std::ostream& err);

}  // namespace vesk::gateway
