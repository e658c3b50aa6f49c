#include "incoming/Reassembly.h"

#include <utility>

namespace vesk {

// ---------------------------------------------------------------- TConcatenatedSMS

TConcatenatedSMS::TConcatenatedSMS(int idSMS, int lengthSMS) : TConcatenatedSMS(idSMS, lengthSMS, Now(), {}) {}

TConcatenatedSMS::TConcatenatedSMS(int idSMS, int lengthSMS, TDateTime created, const AnsiString& sender,
                                   int referenceBits)
    : FID(idSMS), FLength(lengthSMS), FTimeStamp(created), FSender(sender), FReferenceBits(referenceBits) {
  SetCapacity(lengthSMS);
  for (int i = 0; i < lengthSMS; ++i) Add(UnicodeString());
  if (static_cast<std::size_t>(Count()) > kFewParts) FManyParts.resize(static_cast<std::size_t>(Count()));
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
  AnsiString all;
  for (int i = 0; i < FLength && i < Count(); ++i) all += WideToAnsi(Get(i));
  return all;
}

bool TConcatenatedSMS::SetPart(int index, const AnsiString& octets, int septets,
                               TNationalLanguageShiftTables lockingShift, TNationalLanguageShiftTables singleShift) {
  return SetPart(index, reinterpret_cast<const unsigned char*>(octets.data()), octets.size(), septets, lockingShift,
                 singleShift);
}

bool TConcatenatedSMS::SetPart(int index, const unsigned char* octets, std::size_t size, int septets,
                               TNationalLanguageShiftTables lockingShift, TNationalLanguageShiftTables singleShift) {
  if (index < 0 || index >= Count()) return false;
  UnicodeString slot(size, u'\0');
  for (std::size_t i = 0; i < size; ++i) slot[i] = AnsiCharToWide(octets[i]);
  PutMoved(index, std::move(slot));
  InfoToSet(static_cast<std::size_t>(index)) = PartInfo{true, septets, lockingShift, singleShift};
  return true;
}

AnsiString TConcatenatedSMS::GetPart(int index) const {
  if (index < 0 || index >= Count()) return AnsiString();
  return WideToAnsi(Get(index));
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

}  // namespace vesk
