// Sends one short message, then prints every message and call that comes in
// for a while. The smallest complete application of the library.
//
// Usage: example_send_receive <port> <number> <text> [seconds [speed]]
//   example_send_receive /dev/ttyUSB0 +15550100 "hello" 60 115200
// Without a modem, run `veskgsm simulate --link /tmp/modem0` in another
// terminal, use /tmp/modem0 as the port and type `sms +15550123 hi` there.
#include <chrono>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

#include "component/VeskGSM.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::cerr << "usage: " << argv[0] << " <port> <number> <text> [seconds [speed]]\n";
    return 2;
  }
  const std::string port = argv[1], number = argv[2], text = argv[3];
  int seconds = 30, speed = 115200;
  try {
    if (argc > 4) seconds = std::stoi(argv[4]);
    if (argc > 5) speed = std::stoi(argv[5]);
  } catch (const std::exception&) {
    std::cerr << "seconds and speed are whole numbers\n";
    return 2;
  }

  vesk::TVeskGSM gsm;
  gsm.SetCustomPortName(port);
  gsm.SetBaudRate(gsm.IntToBaudRate(speed));
  if (gsm.GetBaudRate() == vesk::brCustom) gsm.SetCustomBaudRate(speed);
  gsm.SetDelay(100);  // poll ten times a second

  // The events come from the reader thread: print under a lock.
  std::mutex print;
  gsm.OnReadMessage = [&](vesk::TObject*, const vesk::WideString& message, const vesk::AnsiString& sender,
                          const vesk::AnsiString& centre, vesk::TDateTime stamp, int, int) {
    std::lock_guard<std::mutex> lock(print);
    std::cout << "message from " << sender << " (centre " << centre << ", sent " << vesk::DateToStr(stamp) << " "
              << vesk::TimeToStr(stamp) << "): " << vesk::WideToUtf8(message) << std::endl;
  };
  gsm.OnRing = [&](vesk::TObject*, const vesk::AnsiString& caller) {
    std::lock_guard<std::mutex> lock(print);
    std::cout << "ring" << (caller.empty() ? "" : " from " + caller) << std::endl;
  };

  try {
    // Open without the reader thread's own set-up and run the set-up here,
    // so that it is over (new messages announced, echo off) before the send.
    if (!gsm.Open(true)) {
      std::cerr << port << " is not present\n";
      return 1;
    }
  } catch (const vesk::EVeskGSMException& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  gsm.InitGSMModem();

  // Wait for the modem's answers rather than fixed pauses.
  gsm.SetWaitForPrompt(true);
  // Long texts go in parts; characters outside the GSM alphabet make it UCS2.
  const bool sent = gsm.SendSMSAsPDU(number, "", vesk::Utf8ToWide(text));
  {
    std::lock_guard<std::mutex> lock(print);
    if (sent)
      std::cout << "sent to " << number << std::endl;
    else
      std::cout << "not sent: " << gsm.GetLastSendError() << std::endl;
  }

  // New messages are announced, read and decoded by the component itself.
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  gsm.Close();
  return sent ? 0 : 1;
}
