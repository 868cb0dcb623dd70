// Delivers an SMS into a device from a second process, for the tests that
// check what one process hears of another's new messages.
//
//   message_writer DEVICE_DIR FROM TEXT
#include <cstdio>
#include <exception>
#include <string>

#include "platform/emulator.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: message_writer DEVICE_DIR FROM TEXT\n");
    return 2;
  }
  std::string error;
  if (!emulator::OpenDevice(argv[1], &error)) {
    std::fprintf(stderr, "message_writer: %s\n", error.c_str());
    return 1;
  }
  try {
    emulator::ReceiveSms(argv[2], argv[3]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "message_writer: %s\n", e.what());
    return 1;
  }
  return 0;
}
