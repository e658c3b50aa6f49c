// SMS-DELIVER PDUs for scripted modems, built from the TS 23.040 layout
// independently of the codec under test: 7-bit text of plain letters,
// digits and blanks (their GSM codes are their ASCII codes), optionally a
// part of a concatenated message.
#pragma once

#include <string>
#include <vector>

namespace vesk::testing {

inline std::string HexOctets(const std::vector<int>& octets) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (int o : octets) {
    out.push_back(kDigits[(o >> 4) & 0xF]);
    out.push_back(kDigits[o & 0xF]);
  }
  return out;
}

// Sender +15550123, centre +15550100, stamp 2019-03-14 15:09:26 +08. A
// part's reference goes in an 8-bit (TS 23.040 9.2.3.24.1) or a 16-bit
// (9.2.3.24.8) element.
inline std::string DeliverPdu(const std::string& text, int reference = 0, int count = 0, int part = 0,
                              int referenceBits = 8) {
  const bool concat = count > 0;
  std::vector<int> header;
  if (concat && referenceBits == 16)
    header = {0x06, 0x08, 0x04, reference >> 8, reference & 0xFF, count, part};
  else if (concat)
    header = {0x05, 0x00, 0x03, reference, count, part};
  // Bits, least significant first: the header octets, fill up to a septet
  // boundary, then the septets.
  std::vector<int> bits;
  for (int o : header)
    for (int b = 0; b < 8; ++b) bits.push_back((o >> b) & 1);
  while (bits.size() % 7 != 0) bits.push_back(0);
  const std::size_t headerSeptets = bits.size() / 7;
  for (unsigned char c : text)
    for (int b = 0; b < 7; ++b) bits.push_back((c >> b) & 1);
  std::vector<int> userData;
  for (std::size_t i = 0; i < bits.size(); i += 8) {
    int o = 0;
    for (std::size_t b = 0; b < 8 && i + b < bits.size(); ++b) o |= bits[i + b] << b;
    userData.push_back(o);
  }
  std::string pdu = "0591" "51551000";  // service centre +15550100
  pdu += concat ? "44" : "04";
  pdu += "0891" "51551032";            // sender +15550123
  pdu += "00" "00" "91304151906280";  // PID, DCS 7-bit, time stamp
  pdu += HexOctets({static_cast<int>(headerSeptets + text.size())});
  pdu += HexOctets(userData);
  return pdu;
}

}  // namespace vesk::testing
