// One message storage of the modem ("SM" on the SIM, "ME" in the phone):
// numbered positions from 1 up to its capacity (TS 27.005 3.1 <index>).
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <utility>

#include "tools/simulator/SimTypes.h"
#include "tools/simulator/SmsPdu.h"

namespace vesk::sim {

struct StoredMessage {
  SmsStatus status = SmsStatus::ReceivedUnread;
  SmsPdu pdu;
};

class MessageStore {
 public:
  MessageStore(std::string name, std::size_t capacity) : name_(std::move(name)), capacity_(capacity) {}

  const std::string& Name() const { return name_; }
  std::size_t Capacity() const { return capacity_; }
  std::size_t Used() const { return messages_.size(); }
  bool InRange(int index) const { return index >= 1 && static_cast<std::size_t>(index) <= capacity_; }

  // Puts the message at the lowest free position; -1 when the storage is full.
  int Add(StoredMessage message) {
    for (int index = 1; InRange(index); ++index) {
      if (messages_.count(index) == 0) {
        messages_.emplace(index, std::move(message));
        return index;
      }
    }
    return -1;
  }

  StoredMessage* Find(int index) {
    auto it = messages_.find(index);
    return it == messages_.end() ? nullptr : &it->second;
  }

  void Remove(int index) { messages_.erase(index); }

  std::map<int, StoredMessage>& Messages() { return messages_; }
  const std::map<int, StoredMessage>& Messages() const { return messages_; }

 private:
  std::string name_;
  std::size_t capacity_;
  std::map<int, StoredMessage> messages_;
};

}  // namespace vesk::sim
