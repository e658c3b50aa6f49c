// Holding the parts of concatenated short messages (TS 23.040 9.2.3.24.1)
// until all have arrived.
//
// TConcatenatedSMS is one message under reassembly: a string list with one
// slot per part, slot i holding part i + 1 as an octet string (one
// character per octet, U+0000 to U+00FF; a slot an application filled
// with text of its own reads through the system ANSI code page), empty
// until the part arrives. Beside each part it keeps what its own PDU said of it: the
// data coding scheme, and for 7-bit text the septet count and the shift
// tables. An entry is known by its codec::ConcatenationKey (sender,
// reference, the reference's size, part count), so two senders that happen
// to pick the same reference, one sender reusing a reference for a message
// of another length, or two messages numbered alike in the two element
// kinds, never share an entry. A part counts as arrived once stored, even
// when its user data is empty.
//
// The whole text is built last, once every part is there: each part is
// decoded with its own alphabet, fill bits and tables, then joined (parts
// of one message may carry different data coding schemes).
//
// TConcatenatedSMSCollection owns its entries. Entries older than a bound
// can be dropped (RemoveExpired) and the number of entries capped
// (RemoveOldest); both take the time from the caller, so tests decide it.
//
// Neither class is locked: one thread at a time (the component guards its
// collection).
#pragma once

#include <vector>

#include "codec/Deliver.h"
#include "component/Enums.h"
#include "component/Framework.h"

namespace vesk {

class TConcatenatedSMS : public TStringList {
 public:
  // An entry created now (the installed clock), with no sender.
  TConcatenatedSMS(int idSMS, int lengthSMS);
  // lengthSMS empty slots (none when lengthSMS < 1). referenceBits is 8 or
  // 16, the size of the reference in the element that carried it.
  TConcatenatedSMS(int idSMS, int lengthSMS, TDateTime created, const AnsiString& sender, int referenceBits = 8);
  // The entry of the message with that key, created at `created`.
  TConcatenatedSMS(const codec::ConcatenationKey& key, TDateTime created);

  int ID() const { return FID; }
  int Length() const { return FLength; }
  TDateTime TimeStamp() const { return FTimeStamp; }
  const AnsiString& Sender() const { return FSender; }
  int ReferenceBits() const { return FReferenceBits; }
  codec::ConcatenationKey Key() const;
  bool HasKey(const codec::ConcatenationKey& key) const;

  // True when every one of the Length() slots has arrived (SetPart) or
  // holds text (true for Length() 0).
  bool IsComplete() const;
  // Slots 0 to Length() - 1 joined in order, as octets.
  AnsiString GetEntireSMS() const;
  // The text of slots 0 to Length() - 1: each part decoded with its own
  // data coding scheme (a part stored without one takes
  // defaultDataCoding), a 7-bit part with its own septet count and tables;
  // consecutive 8-bit or UCS2 parts are joined before conversion (a
  // sender may cut a surrogate pair between two parts).
  WideString GetEntireText(int defaultDataCoding = 0) const;

  // Stores part `index` (from 0) as octets, replacing an earlier copy, and
  // marks it arrived. `septets` is the number of 7-bit codes the octets
  // hold, -1 when not known or not 7-bit; the two tables are the national
  // language shift tables its header named (7-bit text only); dataCoding
  // is its TP-DCS, -1 when not known. A 7-bit part is stored without its
  // fill bits. False (and nothing stored) when index is not a slot.
  bool SetPart(int index, const AnsiString& octets, int septets = -1,
               TNationalLanguageShiftTables lockingShift = stDefault,
               TNationalLanguageShiftTables singleShift = stDefault, int dataCoding = -1);
  // The same from `size` octets at `octets`.
  bool SetPart(int index, const unsigned char* octets, std::size_t size, int septets = -1,
               TNationalLanguageShiftTables lockingShift = stDefault,
               TNationalLanguageShiftTables singleShift = stDefault, int dataCoding = -1);
  // Stores a decoded part of this entry's message in its slot (its part
  // number less one), as the SetPart above; false when that is not a slot.
  bool SetPart(const codec::DeliverPDU& part);
  // The octets of part `index`; empty when not a slot or not arrived.
  AnsiString GetPart(int index) const;
  // The septet count stored with part `index`; -1 when none.
  int GetPartSeptets(int index) const;
  // The shift tables stored with part `index`; stDefault when none.
  TNationalLanguageShiftTables GetPartLockingShift(int index) const;
  TNationalLanguageShiftTables GetPartSingleShift(int index) const;
  // The data coding scheme stored with part `index`; -1 when none.
  int GetPartDataCoding(int index) const;

 private:
  struct PartInfo {
    bool arrived = false;
    int septets = -1;
    TNationalLanguageShiftTables lockingShift = stDefault;
    TNationalLanguageShiftTables singleShift = stDefault;
    int dataCoding = -1;
  };
  const PartInfo* Info(int index) const;
  PartInfo& InfoToSet(std::size_t index);

  int FID;
  int FLength;
  TDateTime FTimeStamp;
  AnsiString FSender;
  int FReferenceBits;
  // Most long messages have a handful of parts: their information lives
  // in the entry itself, and in FManyParts instead once there are more.
  static constexpr std::size_t kFewParts = 4;
  PartInfo FFewParts[kFewParts];
  std::vector<PartInfo> FManyParts;
};

class TConcatenatedSMSCollection : public TObject {
 public:
  TConcatenatedSMSCollection() = default;
  // Frees every entry still held.
  ~TConcatenatedSMSCollection() override;
  TConcatenatedSMSCollection(const TConcatenatedSMSCollection&) = delete;
  TConcatenatedSMSCollection& operator=(const TConcatenatedSMSCollection&) = delete;

  // Positions count from 0. A negative Index makes GetItem, SetItem and
  // Delete raise EListError; indexes at or above Count are ignored (GetItem
  // gives nullptr).

  // Appends Item unless it is null or an entry with the same key (sender,
  // reference, reference size and part count) is present. True when added
  // (the collection then owns it); a refused entry stays with the caller.
  bool Add(TConcatenatedSMS* Item);
  // Inserts at 0 <= Index < Count under the rule of Add; otherwise ignored
  // (and the entry stays with the caller).
  bool Insert(int Index, TConcatenatedSMS* Item);
  // Position of the first entry, from the front, with reference smsID (any
  // sender, any count); -1 when none.
  int IndexOf(int smsID) const;
  // Position of the entry with that sender, reference, part count and
  // reference size; -1.
  int IndexOf(const AnsiString& sender, int smsID, int lengthSMS, int referenceBits = 8) const;
  // Position of the entry with that key; -1.
  int IndexOf(const codec::ConcatenationKey& key) const;
  // Position of that very entry; -1.
  int IndexOf(const TConcatenatedSMS* Item) const;
  // The last entry with reference smsID, or nullptr.
  TConcatenatedSMS* GetByID(int smsID) const;
  TConcatenatedSMS* GetItem(int Index) const;
  // Frees the entry at Index (unless it is Item itself) and stores Item;
  // true when stored. An Item the collection already holds at another
  // position is refused (false, nothing changes): keeping it twice would
  // free it twice.
  bool SetItem(int Index, TConcatenatedSMS* Item);
  // Removes the position, freeing its entry when DisposeItems.
  void Delete(int Index, bool DisposeItems = true);
  // Deletes the last entry with reference smsID, if any.
  void DeleteByID(int smsID, bool DisposeItems = true);
  // Deletes every position, from the last to the first.
  void Clear(bool DisposeItems = true);
  // Exchanges the positions of the first entries with these references
  // when both are present.
  void Swap(int SourceID, int DestinationID);
  int GetCount() const { return fItems.Count(); }
  int Count() const { return fItems.Count(); }

  // Frees a collection made with new: Clear(DisposeItems), then the
  // collection. Nothing for nullptr.
  static void Dispose(TConcatenatedSMSCollection* collection, bool DisposeItems);
  static void Free(TConcatenatedSMSCollection* collection) { Dispose(collection, true); }

  // Frees the entries created more than maxAgeSeconds before now; nothing
  // when maxAgeSeconds < 1. Returns how many went.
  int RemoveExpired(TDateTime now, int maxAgeSeconds);
  // Frees the oldest entries (earliest creation, then earliest position)
  // until at most `keep` remain; nothing when keep < 0. Returns how many
  // went.
  int RemoveOldest(int keep);

  // Collects a decoded part of a long message: stores it in the entry of
  // its key, which is created (stamped `now`) when this is the first part
  // to arrive; before that, the oldest entries go until fewer than
  // maxEntries remain (no cap when maxEntries < 1). Returns the entry, or
  // nullptr when the part could not be stored.
  TConcatenatedSMS* Collect(const codec::DeliverPDU& part, TDateTime now, int maxEntries);

 private:
  bool Refused(const TConcatenatedSMS* Item) const;
  TObjectList<TConcatenatedSMS> fItems;
};

namespace codec {

// Bounds on the parts held for messages not yet complete.
struct ReassemblyLimits {
  int MaxAgeSeconds = 86400;  // < 1: entries never expire
  int MaxEntries = 64;        // < 1: no cap
};

// The reassembly's part of reading a PDU. A part of a long message goes
// into the collection; the part that completes its message brings the
// whole text (TConcatenatedSMS::GetEntireText, this PDU's data coding
// scheme standing in for parts stored without one) and its entry goes;
// the other parts come back with Skip set. Any other PDU, and every PDU
// when `parts` is null, decodes alone (DecodeAlone). `now` stamps new
// entries.
DecodedSMS Reassemble(DeliverPDU&& pdu, TConcatenatedSMSCollection* parts, TDateTime now, int maxEntries);

// Decodes one PDU (DecodeDeliver), drops the entries older than the age
// limit, and reassembles (Reassemble). `parts` may be null: each part of
// a concatenated message then decodes by itself.
DecodedSMS PDUSMSToString(const AnsiString& MessageText, TConcatenatedSMSCollection* parts, TDateTime now,
                          const ReassemblyLimits& limits = {});

}  // namespace codec

}  // namespace vesk
