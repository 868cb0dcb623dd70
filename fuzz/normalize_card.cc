// Feeds arbitrary bytes, cut into cards as mzhost cuts a file, to the card
// normalizer under both policies and to the 3.0/4.0 writer, and stops the
// run when what they write breaks a promise: a 2.1 text over 1023 bytes, a
// line that does not end in CR LF, a line the library's reader does not
// put into a slot the phone keeps, or a 3.0/4.0 line over 75 bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "cards/card_normalizer.h"
#include "cards/card_writer.h"
#include "stream/abs_file_mem.h"
#include "vcf.h"
#include "vobject/contact_record.h"

namespace {

void Check(bool promise) {
  if (!promise) std::abort();
}

// The lines of `text`, each of which must end in CR LF.
std::size_t Lines(std::string_view text, std::size_t most) {
  std::size_t lines = 0;
  for (std::size_t at = 0; at < text.size(); ++lines) {
    const std::size_t end = text.find("\r\n", at);
    Check(end != std::string_view::npos && end - at <= most);
    Check(text.substr(at, end - at).find_first_of("\r\n") == std::string_view::npos);
    at = end + 2;
  }
  return lines;
}

// Every line but BEGIN, VERSION and END fills one slot of a kept code.
void CheckLibraryReads(std::string text) {
  static const std::set<std::string> kKept = {"N",   "B",   "O",  "L",  "M",  "TPC", "THV", "TWV",
                                              "THF", "TWF", "EP", "WP", "AH", "AW",  "AP"};
  const std::size_t lines = Lines(text, SIZE_MAX);
  Check(text.size() <= 1023 && (lines == 0 || lines > 3));
  auto record = std::make_unique<mz::ContactRecord>();
  const auto size = static_cast<int32_t>(text.size());
  mz::CharStream* stream = mz::AbsFileMem_create(text.data(), size, size, 0);
  mz::ReadObject(stream, nullptr, record.get(), 0, nullptr);
  stream->Close(stream);
  std::size_t slots = 0;
  const int32_t counts[] = {0, mz::kShortSlotCount, mz::kMediumSlotCount, mz::kLongSlotCount};
  for (mz::SlotClass c = mz::kSlotShort; c <= mz::kSlotLong; ++c) {
    for (int32_t i = 0; i < counts[c]; ++i) {
      mz::SlotView slot;
      mz::SlotAt(record.get(), c, i, &slot);
      if (slot.code[0] == 0) break;
      Check(kKept.count(slot.code) == 1);
      ++slots;
    }
  }
  Check(slots + (lines == 0 ? 0 : 3) == lines);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 16)) return 0;
  const std::string file(reinterpret_cast<const char*>(data), size);
  for (const mzhost::Card& card : mzhost::SplitCards(file)) {
    for (auto policy : {mzhost::TypePolicy::kFill, mzhost::TypePolicy::kStrict}) {
      CheckLibraryReads(mzhost::NormalizeCard(card.text, policy, card.complete).text);
    }
    for (auto format : {mzhost::CardFormat::k30, mzhost::CardFormat::k40}) {
      Lines(mzhost::WriteCard(card.text, format), 75);
    }
  }
  return 0;
}
