// TVeskGSM's side of reassembly: the component's collection of parts, its
// limits and the clock, for the decoder's public call and the dispatcher.
// The collection is used under FSMSContainerLock; the last decode error
// under FFieldsLock, taken only when it changes from or to a failure.

#include <mutex>

#include "codec/Deliver.h"
#include "component/VeskGSM.h"
#include "incoming/Reassembly.h"

namespace vesk {

void TVeskGSM::NoteDecodeError(const AnsiString& error) {
  // Two decodes that succeed one after the other leave the error as it was.
  if (error.empty() && !FDecodeFailed.load(std::memory_order_relaxed)) return;
  std::lock_guard<std::mutex> lock(FFieldsLock);
  FLastDecodeError = error;
  FDecodeFailed.store(!error.empty(), std::memory_order_relaxed);
}

codec::DecodedSMS TVeskGSM::Reassemble(codec::DeliverPDU&& fields) {
  codec::DecodedSMS decoded;
  if (fields.Error != nullptr || !fields.Key.IsPart()) {
    decoded = codec::DecodeAlone(std::move(fields));
  } else {
    std::lock_guard<std::mutex> lock(FSMSContainerLock);
    const TDateTime now = Now();
    FSMSContainer->RemoveExpired(now, FConcatenatedSMSMaxAge);
    decoded = codec::Reassemble(std::move(fields), FSMSContainer.get(), now, FConcatenatedSMSMaxEntries);
  }
  NoteDecodeError(decoded.Error);
  return decoded;
}

codec::DecodedSMS TVeskGSM::DecodeDeliverPDU(const AnsiString& pdu) { return Reassemble(codec::DecodeDeliver(pdu)); }

}  // namespace vesk
