#include "messages.h"

namespace platform {
bool SeedMessageStores(Device&) {
  return true;
}
std::optional<std::string> InsertMessage(Device&, const emulator::MessageSeed&) {
  return std::nullopt;
}
}  // namespace platform
