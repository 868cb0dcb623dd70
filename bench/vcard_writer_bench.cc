// The vCard writer: one typical full contact, as contact export writes it,
// into a growing in-memory stream.
#include <benchmark/benchmark.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "contacts/vcard_writer.h"

namespace {

// A CharStream that appends every byte to a string; only the write slots
// are filled, which is all the writer uses.
struct GrowingStream {
  mz::CharStream base = {};
  std::string data;

  GrowingStream() {
    base.self = this;
    base.PutChar = &PutChar;
    base.Write = &Write;
    base.Printf = &Printf;
  }
  GrowingStream(const GrowingStream&) = delete;
  GrowingStream& operator=(const GrowingStream&) = delete;

  static GrowingStream* Of(mz::CharStream* stream) {
    return static_cast<GrowingStream*>(stream->self);
  }
  static int32_t PutChar(mz::CharStream* stream, int byte) {
    Of(stream)->data.push_back(static_cast<char>(byte));
    return byte;
  }
  static int32_t Write(mz::CharStream* stream, const void* source, int32_t count) {
    Of(stream)->data.append(static_cast<const char*>(source), static_cast<std::size_t>(count));
    return count;
  }
  static int32_t Printf(mz::CharStream* stream, const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof text) return mz::kStreamIoError;
    Of(stream)->data.append(text, static_cast<std::size_t>(n));
    return n;
  }
};

void Copy(char* field, std::size_t size, const char* text) {
  std::snprintf(field, size, "%s", text);
}

void BM_WriteContact(benchmark::State& state) {
  mz::NameFields name = {};
  Copy(name.family, sizeof name.family, "Sample");
  Copy(name.given, sizeof name.given, "Alexandra");
  Copy(name.middle, sizeof name.middle, "M");
  Copy(name.prefix, sizeof name.prefix, "Dr");
  mz::AddressFields home = {}, work = {}, other = {};
  Copy(home.street, sizeof home.street, "12 Garden Row");
  Copy(home.locality, sizeof home.locality, "Springfield");
  Copy(home.region, sizeof home.region, "ST");
  Copy(home.postalCode, sizeof home.postalCode, "12345");
  Copy(home.country, sizeof home.country, "Land");
  Copy(work.street, sizeof work.street, "1 Industry Way; Unit 4");
  Copy(work.locality, sizeof work.locality, "M\xc3\xbcnster");
  Copy(work.postalCode, sizeof work.postalCode, "48143");
  Copy(other.locality, sizeof other.locality, "Harbour Town");

  GrowingStream stream;
  std::size_t written = 0;
  for (auto _ : state) {
    stream.data.clear();
    mz::VCardWriter* writer = mz::VCardWriter_create(&stream.base);
    mz::VCardWriter_begin(writer);
    mz::VCardWriter_putName(writer, &name);
    mz::VCardWriter_putTel(writer, mz::kTypeHome | mz::kTypeVoice, "+1 555 0100");
    mz::VCardWriter_putTel(writer, mz::kTypeWork | mz::kTypeVoice, "+1 555 0101");
    mz::VCardWriter_putTel(writer, mz::kTypeCell, "+1 555 0102");
    mz::VCardWriter_putTel(writer, mz::kTypeHome | mz::kTypeFax, "+1 555 0103");
    mz::VCardWriter_putTel(writer, mz::kTypeWork | mz::kTypeFax, "+1 555 0104");
    mz::VCardWriter_putBirthday(writer, "1975-3-9");
    mz::VCardWriter_putEmail(writer, mz::kTypeInternet, "alexandra@sample.example");
    mz::VCardWriter_putUrl(writer, mz::kTypeInternet, "http://sample.example/alexandra");
    mz::VCardWriter_putAddress(writer, mz::kTypeHome, &home);
    mz::VCardWriter_putAddress(writer, mz::kTypeWork, &work);
    mz::VCardWriter_putAddress(writer, 0, &other);
    mz::VCardWriter_putTitle(writer, "Chief Engineer");
    mz::VCardWriter_putNote(writer, "Met at the fair.\r\nCall after 5 = ok");
    mz::VCardWriter_putOrg(writer, "Sample Works");
    mz::VCardWriter_putGroup(writer, "Business");
    mz::VCardWriter_end(writer);
    mz::VCardWriter_free(writer);
    written += stream.data.size();
    benchmark::DoNotOptimize(stream.data.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(written));
  state.counters["bytes_per_contact"] = static_cast<double>(stream.data.size());
}
BENCHMARK(BM_WriteContact);

}  // namespace
