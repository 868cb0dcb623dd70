// The object reader over a file of 10,000 realistic contacts held in
// memory, and over the same text in a temporary file; and over one long
// line of growing size, where bytes per second stay level only while the
// reader is linear.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/emulator.h"
#include "stream/abs_file_mem.h"
#include "stream/file_stream.h"
#include "vobject/calendar_record.h"
#include "vobject/contact_record.h"

namespace {

constexpr int kContacts = 10000;

// Contact i of the file: a name (most of them in UTF-8), four numbers, two
// addresses, an email, an organisation and every third a quoted-printable
// note that spans two lines.
std::string Contact(int i) {
  static const char* const kGiven[] = {"Anna", "Ben", "Chlo\xc3\xab", "D\xc3\xa1niel", "Eve"};
  static const char* const kFamily[] = {"Smith", "M\xc3\xbcller", "Nakamura", "\xc3\x98stergaard",
                                        "\xe7\x8e\x8b"};
  const std::string n = std::to_string(i);
  const char* given = kGiven[i % 5];
  const char* family = kFamily[(i / 5) % 5];
  std::string text = "BEGIN:VCARD\r\nVERSION:2.1\r\n";
  const std::string name = std::string(family) + ";" + given;
  const bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return c > 0; });
  const std::string charset = ascii ? "" : ";CHARSET=UTF-8";
  text += "N" + charset + ":" + name + "\r\n";
  text += "FN" + charset + ":" + given + " " + family + "\r\n";
  text += "TEL;HOME;VOICE:+1 555 01" + n + "\r\n";
  text += "TEL;WORK;VOICE;PREF:+1 555 02" + n + "\r\n";
  text += "TEL;CELL:+1 555 03" + n + "\r\n";
  text += "TEL;WORK;FAX:+1 555 04" + n + "\r\n";
  text += "EMAIL;INTERNET:person" + n + "@example.org\r\n";
  text += "ADR;HOME:;;" + n + " Garden Row;Springfield;ST;12345;Land\r\n";
  text += "ADR;WORK;CHARSET=UTF-8:;Unit 4;1 Industry Way;M\xc3\xbcnster;;48143;Deutschland\r\n";
  text += "ORG:Acme Corporation;Research\r\nTITLE:Engineer\r\n";
  if (i % 3 == 0) {
    text +=
        "NOTE;ENCODING=QUOTED-PRINTABLE;CHARSET=UTF-8:Met at the caf=C3=A9 near the station;=\r\n"
        " likes=20tea=0D=0Acall after six=\r\nplease\r\n";
  }
  text += "END:VCARD\r\n";
  return text;
}

const std::string& ContactFile() {
  static const std::string text = [] {
    std::string all;
    for (int i = 0; i < kContacts; ++i) all += Contact(i);
    return all;
  }();
  return text;
}

// Reads every object of `stream`; returns how many were vCards.
int64_t ReadAll(mz::CharStream* stream) {
  static mz::ContactRecord contact;
  static mz::CalendarRecord calendar;
  int64_t cards = 0;
  for (int32_t before = -1; stream->Tell(stream) > before;) {
    before = stream->Tell(stream);
    mz::ObjectType type = mz::kObjectNone;
    mz::ReadObject(stream, &type, &contact, 0, &calendar);
    cards += type == mz::kObjectVCard;
  }
  benchmark::DoNotOptimize(contact);
  return cards;
}

void Report(benchmark::State& state, int64_t cards) {
  if (cards != kContacts) state.SkipWithError("not every contact was read");
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(ContactFile().size()));
  state.SetItemsProcessed(state.iterations() * kContacts);
}

void BM_ReadContactsFromMemory(benchmark::State& state) {
  std::string text = ContactFile();
  const auto length = static_cast<int32_t>(text.size());
  int64_t cards = 0;
  for (auto _ : state) {
    mz::CharStream* stream = mz::AbsFileMem_create(text.data(), length, length, 0);
    cards = ReadAll(stream);
    stream->Close(stream);
  }
  Report(state, cards);
}
BENCHMARK(BM_ReadContactsFromMemory)->Unit(benchmark::kMillisecond);

// From a file of a fresh phone, through the phone's C runtime, the way the
// vCard exports read their scratch file.
void BM_ReadContactsFromFile(benchmark::State& state) {
  const std::string dir = emulator::OpenTempDevice();
  const std::string& text = ContactFile();
  const bool written = static_cast<bool>(
      std::ofstream(emulator::HostPath("\\Temp\\cards.vcf"), std::ios::binary) << text);
  int64_t cards = 0;
  for (auto _ : state) {
    mz::CharStream* stream = written ? mz::FileStream_open("\\Temp\\cards.vcf", "rb") : nullptr;
    if (stream == nullptr) {
      state.SkipWithError("cannot write or open the phone's file");
      break;
    }
    cards = ReadAll(stream);
    stream->Close(stream);
  }
  emulator::CloseDevice();
  emulator::RemoveDeviceDir(dir);
  Report(state, cards);
}
BENCHMARK(BM_ReadContactsFromFile)->Unit(benchmark::kMillisecond);

// One line of `bytes` bytes: a contact's note, or a name without a colon,
// which the reader skips.
std::string LongLine(bool note, int64_t bytes) {
  const std::string fill(static_cast<std::size_t>(bytes), 'x');
  if (!note) return fill + "\r\n";
  return "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Doe;Ann\r\nNOTE:" + fill + "\r\nEND:VCARD\r\n";
}

void BM_ReadOneLongLine(benchmark::State& state) {
  std::string text = LongLine(state.range(0) != 0, state.range(1));
  const auto length = static_cast<int32_t>(text.size());
  for (auto _ : state) {
    mz::CharStream* stream = mz::AbsFileMem_create(text.data(), length, length, 0);
    benchmark::DoNotOptimize(ReadAll(stream));
    stream->Close(stream);
  }
  state.SetBytesProcessed(state.iterations() * length);
}
BENCHMARK(BM_ReadOneLongLine)
    ->ArgNames({"note", "bytes"})
    ->ArgsProduct({{1, 0}, {64 << 10, 256 << 10, 1 << 20, 2 << 20}})
    ->Unit(benchmark::kMillisecond);

}  // namespace
