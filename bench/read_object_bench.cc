// The object reader over 10,000 contacts held in memory and over the same
// text in a temporary file of a phone, in two shapes: the first one below,
// and the full cards a phone book of a handset gives (made with a fixed
// seed); and over one long line of growing size, where bytes per second stay
// level only while the reader is linear.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
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

// A full card of a handset's phone book, about 525 bytes: a five-part name
// (three in ten in another script, raw UTF-8 under CHARSET=UTF-8), four
// numbers, an email, a web page, two seven-part addresses, an organisation,
// a title, a birthday and a note, one in ten of them two quoted-printable
// lines joined by a soft break.
std::string FullContact(std::mt19937& random) {
  static const char* const kGiven[] = {"Anna", "Benjamin", "Carla", "David", "Emma", "Frank"};
  static const char* const kFamily[] = {"Smith", "Johnson", "Taylor", "Brown", "Wilson", "Clark"};
  // Given and family names in Latin with accents, Greek, Cyrillic and CJK.
  static const char* const kForeign[][2] = {{"Chloë", "Müller"},
                                            {"Dániel", "Østergaard"},
                                            {"Γιάννης", "Παπαδόπουλος"},
                                            {"Ελένη", "Νικολάου"},
                                            {"Иван", "Петров"},
                                            {"Ольга", "Смирнова"},
                                            {"美咲", "佐藤"},
                                            {"明", "王"}};
  auto pick = [&random](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  auto digits = [&random](int n) {
    std::string text;
    for (int i = 0; i < n; ++i) text += static_cast<char>('0' + random() % 10);
    return text;
  };
  const bool foreign = random() % 10 < 3;
  const auto& pair = kForeign[pick(std::size(kForeign))];
  const std::string given = foreign ? pair[0] : kGiven[pick(std::size(kGiven))];
  const std::string family = foreign ? pair[1] : kFamily[pick(std::size(kFamily))];
  const std::string charset = foreign ? ";CHARSET=UTF-8" : "";
  const std::string n = digits(4);
  std::string text = "BEGIN:VCARD\r\nVERSION:2.1\r\n";
  text += "N" + charset + ":" + family + ";" + given + ";Marie;Dr.;Jr.\r\n";
  text += "FN" + charset + ":" + given + " " + family + "\r\n";
  text += "TEL;HOME;VOICE:+1 555 010 " + digits(4) + "\r\n";
  text += "TEL;WORK;VOICE;PREF:+1 555 020 " + digits(4) + "\r\n";
  text += "TEL;CELL:+1 555 030 " + digits(4) + "\r\n";
  text += "TEL;WORK;FAX:+1 555 040 " + digits(4) + "\r\n";
  text += "EMAIL;INTERNET:person." + n + "@example.org\r\n";
  text += "URL:http://www.example.org/~" + n + "\r\n";
  text += "ADR;HOME:;;" + digits(3) + " Garden Row;Springfield;ST;" + digits(5) + ";Land\r\n";
  text += "ADR;WORK:PO Box " + digits(3) + ";Unit 4;1 Industry Way;Riverton;RV;" + digits(5) +
          ";Land\r\n";
  text += "ORG:Acme Corporation;Research\r\n";
  text +=
      "TITLE:Senior Engineer\r\nBDAY:19" + digits(2) + "0" + digits(1) + "1" + digits(1) + "\r\n";
  if (random() % 10 == 0) {
    text +=
        "NOTE;ENCODING=QUOTED-PRINTABLE:Met at the trade fair=0D=0AAsked for the new=\r\n"
        "catalogue\r\n";
  } else {
    text += "NOTE:Prefers email; calls after six\r\n";
  }
  text += "END:VCARD\r\n";
  return text;
}

// The 10,000 contacts of shape 0 (Contact) or 1 (FullContact).
std::string MakeFile(int64_t shape) {
  std::mt19937 random(15);
  std::string all;
  for (int i = 0; i < kContacts; ++i) all += shape == 0 ? Contact(i) : FullContact(random);
  return all;
}

const std::string& ContactFile(int64_t shape) {
  static const std::string texts[2] = {MakeFile(0), MakeFile(1)};
  return texts[shape];
}

// Reads objects from `stream` until one is of no type (the end of the data,
// in every text here); returns how many were vCards. Only ReadObject is
// called, as in an import: a Tell per object would add a seek of the file.
int64_t ReadAll(mz::CharStream* stream) {
  static mz::ContactRecord contact;
  static mz::CalendarRecord calendar;
  int64_t cards = 0;
  for (;;) {
    mz::ObjectType type = mz::kObjectNone;
    mz::ReadObject(stream, &type, &contact, 0, &calendar);
    if (type == mz::kObjectNone) break;
    cards += type == mz::kObjectVCard;
  }
  benchmark::DoNotOptimize(contact);
  return cards;
}

void Report(benchmark::State& state, int64_t cards) {
  if (cards != kContacts) state.SkipWithError("not every contact was read");
  const auto bytes = static_cast<int64_t>(ContactFile(state.range(0)).size());
  state.SetBytesProcessed(state.iterations() * bytes);
  state.counters["bytes_per_card"] = static_cast<double>(bytes) / kContacts;
  state.SetItemsProcessed(state.iterations() * kContacts);
}

void BM_ReadContactsFromMemory(benchmark::State& state) {
  std::string text = ContactFile(state.range(0));
  const auto length = static_cast<int32_t>(text.size());
  int64_t cards = 0;
  for (auto _ : state) {
    mz::CharStream* stream = mz::AbsFileMem_create(text.data(), length, length, 0);
    cards = ReadAll(stream);
    stream->Close(stream);
  }
  Report(state, cards);
}
BENCHMARK(BM_ReadContactsFromMemory)
    ->ArgName("shape")
    ->DenseRange(0, 1)
    ->Unit(benchmark::kMillisecond);

// From a file of a fresh phone, through the phone's C runtime, the way the
// vCard exports read their scratch file.
void BM_ReadContactsFromFile(benchmark::State& state) {
  const std::string dir = emulator::OpenTempDevice();
  const std::string& text = ContactFile(state.range(0));
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
BENCHMARK(BM_ReadContactsFromFile)
    ->ArgName("shape")
    ->DenseRange(0, 1)
    ->Unit(benchmark::kMillisecond);

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
