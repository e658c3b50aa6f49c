#include "incoming/Reassembly.h"

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "codec/Packing.h"

namespace vesk {

// ---------------------------------------------------------------- TConcatenatedSMS

namespace {

// A slot's characters back as octets: each character is its octet's value.
// A character above U+00FF comes from a slot written through the code
// page (an application that put text there itself): the code page gives
// its octet, '?' when it has none.
void SlotToOctets(const UnicodeString& slot, unsigned char* out) {
  const std::size_t n = slot.size();
  char16_t high = 0;
  for (std::size_t i = 0; i < n; ++i) {
    high |= slot[i] & 0xFF00;
    out[i] = static_cast<unsigned char>(slot[i]);
  }
  if (high == 0) return;
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char b;
    if (slot[i] > 0xFF) out[i] = WideCharToAnsi(slot[i], b) ? b : '?';
  }
}

}  // namespace

TConcatenatedSMS::TConcatenatedSMS(int idSMS, int lengthSMS) : TConcatenatedSMS(idSMS, lengthSMS, Now(), {}) {}

TConcatenatedSMS::TConcatenatedSMS(int idSMS, int lengthSMS, TDateTime created, const AnsiString& sender,
                                   int referenceBits)
    : FID(idSMS), FLength(lengthSMS), FTimeStamp(created), FSender(sender), FReferenceBits(referenceBits) {
  SetCapacity(lengthSMS);
  for (int i = 0; i < lengthSMS; ++i) Add(UnicodeString());
  if (static_cast<std::size_t>(Count()) > kFewParts) FManyParts.resize(static_cast<std::size_t>(Count()));
}

TConcatenatedSMS::TConcatenatedSMS(const codec::ConcatenationKey& key, TDateTime created)
    : TConcatenatedSMS(key.Reference, key.Count, created, key.Sender, key.ReferenceBits) {}

codec::ConcatenationKey TConcatenatedSMS::Key() const {
  codec::ConcatenationKey key;
  key.Sender = FSender;
  key.Reference = FID;
  key.ReferenceBits = FReferenceBits;
  key.Count = FLength;
  return key;
}

bool TConcatenatedSMS::HasKey(const codec::ConcatenationKey& key) const {
  return FID == key.Reference && FLength == key.Count && FReferenceBits == key.ReferenceBits && FSender == key.Sender;
}

const TConcatenatedSMS::PartInfo* TConcatenatedSMS::Info(int index) const {
  if (index < 0) return nullptr;
  const auto i = static_cast<std::size_t>(index);
  if (FManyParts.empty()) return i < kFewParts ? &FFewParts[i] : nullptr;
  return i < FManyParts.size() ? &FManyParts[i] : nullptr;
}

TConcatenatedSMS::PartInfo& TConcatenatedSMS::InfoToSet(std::size_t index) {
  if (FManyParts.empty() && index < kFewParts) return FFewParts[index];
  if (FManyParts.empty()) FManyParts.assign(FFewParts, FFewParts + kFewParts);
  if (index >= FManyParts.size()) FManyParts.resize(index + 1);
  return FManyParts[index];
}

bool TConcatenatedSMS::IsComplete() const {
  for (int i = 0; i < FLength; ++i) {
    if (i >= Count()) return false;
    const PartInfo* info = Info(i);
    if (!(info != nullptr && info->arrived) && Get(i).empty()) return false;
  }
  return true;
}

AnsiString TConcatenatedSMS::GetEntireSMS() const {
  std::size_t size = 0;
  for (int i = 0; i < FLength && i < Count(); ++i) size += Get(i).size();
  AnsiString all(size, '\0');
  std::size_t at = 0;
  for (int i = 0; i < FLength && i < Count(); ++i) {
    const UnicodeString& slot = Get(i);
    SlotToOctets(slot, reinterpret_cast<unsigned char*>(&all[at]));
    at += slot.size();
  }
  return all;
}

bool TConcatenatedSMS::SetPart(int index, const AnsiString& octets, int septets,
                               TNationalLanguageShiftTables lockingShift, TNationalLanguageShiftTables singleShift,
                               int dataCoding) {
  return SetPart(index, reinterpret_cast<const unsigned char*>(octets.data()), octets.size(), septets, lockingShift,
                 singleShift, dataCoding);
}

bool TConcatenatedSMS::SetPart(int index, const unsigned char* octets, std::size_t size, int septets,
                               TNationalLanguageShiftTables lockingShift, TNationalLanguageShiftTables singleShift,
                               int dataCoding) {
  if (index < 0 || index >= Count()) return false;
  UnicodeString slot(size, u'\0');
  for (std::size_t i = 0; i < size; ++i) slot[i] = octets[i];
  PutMoved(index, std::move(slot));
  InfoToSet(static_cast<std::size_t>(index)) = PartInfo{true, septets, lockingShift, singleShift, dataCoding};
  return true;
}

bool TConcatenatedSMS::SetPart(const codec::DeliverPDU& part) {
  const unsigned char* octets = part.UserData.data();
  const std::size_t size = part.UserData.size();
  const bool sevenBit = part.Alphabet == codec::UserDataAlphabet::Gsm7;
  if (!sevenBit || part.FillBits == 0)
    return SetPart(part.PartNumber - 1, octets, size, sevenBit ? part.Septets : -1, part.LockingShift,
                   part.SingleShift, part.DataCodingScheme);
  // A 7-bit part is kept without its fill bits.
  std::unique_ptr<unsigned char[]> heap;
  unsigned char local[160];
  unsigned char* unpadded = local;
  if (size > sizeof local) {
    heap.reset(new unsigned char[size]);
    unpadded = heap.get();
  }
  codec::Unpad7bitBoundary(octets, size, part.FillBits, unpadded);
  return SetPart(part.PartNumber - 1, unpadded, size, part.Septets, part.LockingShift, part.SingleShift,
                 part.DataCodingScheme);
}

AnsiString TConcatenatedSMS::GetPart(int index) const {
  if (index < 0 || index >= Count()) return AnsiString();
  const UnicodeString& slot = Get(index);
  AnsiString octets(slot.size(), '\0');
  SlotToOctets(slot, reinterpret_cast<unsigned char*>(&octets[0]));
  return octets;
}

int TConcatenatedSMS::GetPartSeptets(int index) const {
  const PartInfo* info = Info(index);
  return info != nullptr ? info->septets : -1;
}

TNationalLanguageShiftTables TConcatenatedSMS::GetPartLockingShift(int index) const {
  const PartInfo* info = Info(index);
  return info != nullptr ? info->lockingShift : stDefault;
}

TNationalLanguageShiftTables TConcatenatedSMS::GetPartSingleShift(int index) const {
  const PartInfo* info = Info(index);
  return info != nullptr ? info->singleShift : stDefault;
}

int TConcatenatedSMS::GetPartDataCoding(int index) const {
  const PartInfo* info = Info(index);
  return info != nullptr ? info->dataCoding : -1;
}

WideString TConcatenatedSMS::GetEntireText(int defaultDataCoding) const {
  using codec::UserDataAlphabet;
  const int slots = std::min(FLength, Count());
  std::size_t octets = 0;
  for (int i = 0; i < slots; ++i) octets += Get(i).size();
  WideString text;
  text.reserve(octets * 8 / 7);
  // The octets of one 7-bit part, or of consecutive 8-bit or UCS2 parts,
  // which are joined before conversion (a sender may cut a surrogate pair
  // between two parts). On the stack for a few parts.
  unsigned char local[512];
  std::unique_ptr<unsigned char[]> heap;
  unsigned char* const run = octets <= sizeof local ? local : (heap.reset(new unsigned char[octets]), heap.get());
  std::size_t runSize = 0;
  UserDataAlphabet runAlphabet = UserDataAlphabet::None;
  auto flush = [&] {
    if (runAlphabet == UserDataAlphabet::Ucs2) codec::AppendUcs2Text(text, run, runSize);
    if (runAlphabet == UserDataAlphabet::Octets) codec::AppendOctetText(text, run, runSize);
    runSize = 0;
    runAlphabet = UserDataAlphabet::None;
  };
  for (int i = 0; i < slots; ++i) {
    const PartInfo* info = Info(i);
    const int dcs = info != nullptr && info->dataCoding >= 0 ? info->dataCoding : defaultDataCoding;
    const UserDataAlphabet alphabet = codec::AlphabetOf(dcs);
    if (alphabet != runAlphabet) flush();
    const UnicodeString& slot = Get(i);
    switch (alphabet) {
      case UserDataAlphabet::Gsm7:
        // Each 7-bit part unpacks by itself, with its own tables.
        SlotToOctets(slot, run);
        codec::AppendSevenBitText(text, run, slot.size(), 0, info != nullptr ? info->septets : -1,
                                  info != nullptr ? info->singleShift : stDefault,
                                  info != nullptr ? info->lockingShift : stDefault);
        break;
      case UserDataAlphabet::Octets:
      case UserDataAlphabet::Ucs2:
        SlotToOctets(slot, run + runSize);
        runSize += slot.size();
        runAlphabet = alphabet;
        break;
      case UserDataAlphabet::None:
        break;
    }
  }
  flush();
  return text;
}

// ---------------------------------------------------------------- TConcatenatedSMSCollection

TConcatenatedSMSCollection::~TConcatenatedSMSCollection() { Clear(true); }

bool TConcatenatedSMSCollection::Refused(const TConcatenatedSMS* Item) const {
  return Item == nullptr || IndexOf(Item) >= 0 ||
         IndexOf(Item->Sender(), Item->ID(), Item->Length(), Item->ReferenceBits()) >= 0;
}

bool TConcatenatedSMSCollection::Add(TConcatenatedSMS* Item) {
  if (Refused(Item)) return false;
  fItems.Add(Item);
  return true;
}

bool TConcatenatedSMSCollection::Insert(int Index, TConcatenatedSMS* Item) {
  if (Index < 0 || Index >= Count() || Refused(Item)) return false;
  fItems.Insert(Index, Item);
  return true;
}

int TConcatenatedSMSCollection::IndexOf(int smsID) const {
  for (int i = 0; i < Count(); ++i) {
    const TConcatenatedSMS* item = fItems.Get(i);
    if (item != nullptr && item->ID() == smsID) return i;
  }
  return -1;
}

int TConcatenatedSMSCollection::IndexOf(const AnsiString& sender, int smsID, int lengthSMS, int referenceBits) const {
  for (int i = 0; i < Count(); ++i) {
    const TConcatenatedSMS* item = fItems.Get(i);
    if (item != nullptr && item->ID() == smsID && item->Length() == lengthSMS &&
        item->ReferenceBits() == referenceBits && item->Sender() == sender)
      return i;
  }
  return -1;
}

int TConcatenatedSMSCollection::IndexOf(const codec::ConcatenationKey& key) const {
  for (int i = 0; i < Count(); ++i) {
    const TConcatenatedSMS* item = fItems.Get(i);
    if (item != nullptr && item->HasKey(key)) return i;
  }
  return -1;
}

int TConcatenatedSMSCollection::IndexOf(const TConcatenatedSMS* Item) const {
  if (Item == nullptr) return -1;
  for (int i = 0; i < Count(); ++i)
    if (fItems.Get(i) == Item) return i;
  return -1;
}

TConcatenatedSMS* TConcatenatedSMSCollection::GetByID(int smsID) const {
  for (int i = Count() - 1; i >= 0; --i) {
    TConcatenatedSMS* item = fItems.Get(i);
    if (item != nullptr && item->ID() == smsID) return item;
  }
  return nullptr;
}

TConcatenatedSMS* TConcatenatedSMSCollection::GetItem(int Index) const {
  if (Index >= Count()) return nullptr;
  return fItems.Get(Index);  // raises EListError for a negative Index
}

bool TConcatenatedSMSCollection::SetItem(int Index, TConcatenatedSMS* Item) {
  if (Index >= Count()) return false;
  TConcatenatedSMS* old = fItems.Get(Index);  // raises for a negative Index
  if (old == Item) return true;
  if (IndexOf(Item) >= 0) return false;  // held elsewhere: would be freed twice
  fItems.Put(Index, Item);
  delete old;
  return true;
}

void TConcatenatedSMSCollection::Delete(int Index, bool DisposeItems) {
  if (Index >= Count()) return;
  TConcatenatedSMS* item = fItems.Get(Index);  // raises for a negative Index
  fItems.Delete(Index);
  if (DisposeItems) delete item;
}

void TConcatenatedSMSCollection::DeleteByID(int smsID, bool DisposeItems) {
  for (int i = Count() - 1; i >= 0; --i) {
    const TConcatenatedSMS* item = fItems.Get(i);
    if (item != nullptr && item->ID() == smsID) {
      Delete(i, DisposeItems);
      return;
    }
  }
}

void TConcatenatedSMSCollection::Clear(bool DisposeItems) {
  for (int i = Count() - 1; i >= 0; --i) Delete(i, DisposeItems);
}

void TConcatenatedSMSCollection::Swap(int SourceID, int DestinationID) {
  int a = IndexOf(SourceID);
  int b = IndexOf(DestinationID);
  if (a < 0 || b < 0 || a == b) return;
  TConcatenatedSMS* first = fItems.Get(a);
  fItems.Put(a, fItems.Get(b));
  fItems.Put(b, first);
}

void TConcatenatedSMSCollection::Dispose(TConcatenatedSMSCollection* collection, bool DisposeItems) {
  if (collection == nullptr) return;
  collection->Clear(DisposeItems);
  delete collection;
}

int TConcatenatedSMSCollection::RemoveExpired(TDateTime now, int maxAgeSeconds) {
  if (maxAgeSeconds < 1) return 0;
  const double maxAgeDays = maxAgeSeconds / 86400.0;
  int removed = 0;
  for (int i = Count() - 1; i >= 0; --i) {
    const TConcatenatedSMS* item = fItems.Get(i);
    if (item != nullptr && now - item->TimeStamp() > maxAgeDays) {
      Delete(i, true);
      ++removed;
    }
  }
  return removed;
}

int TConcatenatedSMSCollection::RemoveOldest(int keep) {
  if (keep < 0) return 0;
  int removed = 0;
  while (Count() > keep) {
    // Empty positions go first, then the earliest created.
    int oldest = 0;
    for (int i = 0; i < Count(); ++i) {
      const TConcatenatedSMS* item = fItems.Get(i);
      const TConcatenatedSMS* best = fItems.Get(oldest);
      if (item == nullptr) {
        oldest = i;
        break;
      }
      if (best != nullptr && item->TimeStamp() < best->TimeStamp()) oldest = i;
    }
    Delete(oldest, true);
    ++removed;
  }
  return removed;
}

TConcatenatedSMS* TConcatenatedSMSCollection::Collect(const codec::DeliverPDU& part, TDateTime now, int maxEntries) {
  TConcatenatedSMS* entry = nullptr;
  const int at = IndexOf(part.Key);
  if (at >= 0) {
    entry = GetItem(at);
  } else {
    if (maxEntries >= 1) RemoveOldest(maxEntries - 1);
    auto created = std::make_unique<TConcatenatedSMS>(part.Key, now);
    if (Add(created.get())) entry = created.release();
  }
  return entry != nullptr && entry->SetPart(part) ? entry : nullptr;
}

namespace codec {

DecodedSMS Reassemble(DeliverPDU&& pdu, TConcatenatedSMSCollection* parts, TDateTime now, int maxEntries) {
  if (parts == nullptr || pdu.Error != nullptr || !pdu.Key.IsPart()) return DecodeAlone(std::move(pdu));
  TConcatenatedSMS* entry = parts->Collect(pdu, now, maxEntries);
  const int dataCoding = pdu.DataCodingScheme;
  if (entry == nullptr) pdu.Error = decode_error::kBadPartIndex;
  DecodedSMS r = ReportOf(std::move(pdu));
  if (entry == nullptr) return r;
  if (!entry->IsComplete()) {
    r.Skip = true;
    return r;
  }
  r.Text = entry->GetEntireText(dataCoding);
  parts->Delete(parts->IndexOf(entry), true);
  return r;
}

DecodedSMS PDUSMSToString(const AnsiString& MessageText, TConcatenatedSMSCollection* parts, TDateTime now,
                          const ReassemblyLimits& limits) {
  if (parts != nullptr) parts->RemoveExpired(now, limits.MaxAgeSeconds);
  return Reassemble(DecodeDeliver(MessageText), parts, now, limits.MaxEntries);
}

}  // namespace codec

}  // namespace vesk
