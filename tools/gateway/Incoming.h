// Turning a message the modem stored into what the store keeps: a whole
// message, a part of a long one, or the raw PDU of one that does not
// decode. Decoding is the component's (TVeskGSM::PDUSMSToString, on a
// component of the decoder's own that never opens a port); which part of
// which long message a PDU is, the gateway reads itself (ModemText.h).
//
// One decoder per thread: the component's reassembly collection is used
// from one thread at a time.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tools/gateway/ModemText.h"
#include "tools/gateway/Store.h"

namespace vesk {
class TVeskGSM;
}

namespace vesk::gateway {

struct TakenMessage {
  enum class Kind {
    Message,      // a single message: `message`
    Part,         // a part of a long message: `part`
    NotReceived,  // a message the modem keeps for sending, or a status report: left where it is
    Undecodable,  // `reason` says why; the PDU is kept as it came
  };
  Kind kind = Kind::Undecodable;
  IncomingMessage message;
  IncomingPart part;
  std::string reason;
};

class IncomingDecoder {
 public:
  IncomingDecoder();
  ~IncomingDecoder();
  IncomingDecoder(const IncomingDecoder&) = delete;
  IncomingDecoder& operator=(const IncomingDecoder&) = delete;

  TakenMessage Take(const ListedMessage& listed, const std::string& modem, const std::string& imei,
                    const std::string& storage, Millis now);

  // The text of a long message from its parts (the store's Assembler):
  // decoded together when complete, so that a character split over two
  // parts comes out whole; the parts' own texts joined otherwise.
  std::string Assemble(const std::vector<IncomingPart>& parts, bool complete);

 private:
  std::unique_ptr<TVeskGSM> codec_;
};

}  // namespace vesk::gateway
