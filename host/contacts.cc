// mzhost contacts: count, list, show, export, import, update, delete, clear.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cards/card_normalizer.h"
#include "cards/card_reader.h"
#include "cards/card_writer.h"
#include "contact_import.h"
#include "host.h"
#include "output_file.h"
#include "platform/device_folder.h"
#include "text.h"
#include "vcf.h"

namespace mzhost {
namespace {

constexpr std::size_t kMostCardBytes = MZ_VCARD_SIZE - 1;

// One contact as the library hands it over.
struct Contact {
  int32_t position = 0;
  std::string id;
  std::string vcard;
  bool whole = true;  // false: the text filled the 1024-byte area and was cut there
};

int32_t CountContacts(Host& host) {
  int32_t count = 0;
  const int32_t result = host.mz.MZ_GetContactsCount(&count);
  if (result != MZ_OK) Refused("MZ_GetContactsCount", result, DescribeResult(result));
  return count;
}

// The contact at `position`; false when there is none there (any more).
bool GetContact(Host& host, int32_t position, Contact* contact) {
  ContactTransfer transfer{};
  const int32_t result = host.mz.MZ_GetContactInfo(position, &transfer);
  if (result == MZ_E_NO_MORE) return false;
  if (result != MZ_OK) {
    Refused("MZ_GetContactInfo", result,
            result == MZ_E_FAILED
                ? "the phone could not give the contact at position " + std::to_string(position)
                : DescribeResult(result));
  }
  const void* zero = std::memchr(transfer.vcard, 0, sizeof transfer.vcard);
  const std::size_t size =
      zero ? static_cast<const char*>(zero) - transfer.vcard : sizeof transfer.vcard;
  contact->position = position;
  contact->vcard.assign(transfer.vcard, size);
  // A text of exactly 1024 bytes has no zero after it but may still be whole.
  contact->whole = zero != nullptr || contact->vcard.ends_with("END:VCARD\r\n");
  contact->id.assign(transfer.contactId, strnlen(transfer.contactId, sizeof transfer.contactId));
  return true;
}

ContactTransfer TransferOf(const std::string& text, const std::string& id = {}) {
  if (text.size() > kMostCardBytes) throw Failure{"a normalized card is over 1023 bytes"};
  ContactTransfer transfer{};
  std::memcpy(transfer.vcard, text.data(), text.size());
  std::memcpy(transfer.contactId, id.data(), id.size());
  return transfer;
}

// The value of `--format` in `args`, taken out of them; 2.1 when absent.
CardFormat TakeFormat(std::vector<std::string>* args) {
  for (auto it = args->begin(); it != args->end(); ++it) {
    if (*it != "--format") continue;
    std::optional<CardFormat> format;
    if (it + 1 != args->end()) format = ParseCardFormat(*(it + 1));
    if (!format) throw UsageError{"--format takes 2.1, 3.0 or 4.0"};
    args->erase(it, it + 2);
    return *format;
  }
  return CardFormat::k21;
}

// Whether the flag `name` is in `args`, taken out of them.
bool TakeFlag(std::vector<std::string>* args, const char* name) {
  const auto it = std::find(args->begin(), args->end(), name);
  if (it == args->end()) return false;
  args->erase(it);
  return true;
}

void Count(Host& host) {
  const int32_t count = CountContacts(host);
  PrintLine(host.json ? JsonObject({{"count", JsonNumber(count)}}) : std::to_string(count));
}

void List(Host& host) {
  const int32_t count = CountContacts(host);
  std::vector<std::string> rows;
  Progress progress("reading contact", static_cast<std::size_t>(count), ProgressWanted(stdout));
  if (!host.json) PrintLine("  POS  ID          NAME                      PHONE             EMAIL");
  Contact contact;
  for (int32_t position = 1; position <= count && GetContact(host, position, &contact);
       ++position) {
    CheckInterrupt();
    progress.Update(static_cast<std::size_t>(position));
    const CardSummary summary = Summarize(contact.vcard);
    if (host.json) {
      rows.push_back(JsonObject({{"position", JsonNumber(position)},
                                 {"id", JsonText(contact.id)},
                                 {"name", JsonText(summary.name)},
                                 {"tel", JsonText(summary.tel)},
                                 {"email", JsonText(summary.email)},
                                 {"whole", JsonBool(contact.whole)}}));
    } else {
      char head[32];
      std::snprintf(head, sizeof head, "%5d  ", position);
      PrintLine(head + FitColumn(contact.id, 10) + "  " + FitColumn(summary.name, 24) + "  " +
                FitColumn(summary.tel, 16) + "  " + summary.email);
    }
  }
  progress.Finish();
  if (host.json) PrintLine(JsonArray(rows, true));
}

void Show(Host& host, std::vector<std::string> args) {
  const CardFormat format = TakeFormat(&args);
  if (args.size() != 1) throw UsageError{"usage: mzhost contacts show [--format VERSION] POS"};
  const std::string& positionText = args[0];
  const auto position =
      static_cast<int32_t>(ParseNumber(positionText, "contact position", INT32_MAX));
  Contact contact;
  if (position == 0 || !GetContact(host, position, &contact)) {
    Refused("MZ_GetContactInfo", MZ_E_NO_MORE,
            "no contact at position " + positionText + " (the phone holds " +
                std::to_string(CountContacts(host)) + ")");
  }
  if (!contact.whole) {
    std::fprintf(stderr,
                 "mzhost: contact %s's vCard is longer than %d bytes; these are its first %d\n",
                 contact.id.c_str(), MZ_VCARD_SIZE, MZ_VCARD_SIZE);
  }
  if (host.json) {
    PrintLine(JsonObject({{"position", JsonNumber(position)},
                          {"id", JsonText(contact.id)},
                          {"vcard", JsonText(WriteCard(contact.vcard, format))},
                          {"whole", JsonBool(contact.whole)}}));
  } else {
    WriteOut(WriteCard(contact.vcard, format));
  }
}

// The FILE of `export [-o FILE]`, empty for stdout.
std::string ExportPath(std::vector<std::string> args) {
  TakeFormat(&args);
  if (args.size() == 2 && args[0] == "-o") return args[1];
  if (!args.empty()) throw UsageError{"contacts export takes [--format VERSION] [-o FILE]"};
  return {};
}

void Export(Host& host, std::vector<std::string> args) {
  const std::string path = ExportPath(args);
  const CardFormat format = TakeFormat(&args);
  std::unique_ptr<OutputFile> file;
  if (!path.empty()) file = std::make_unique<OutputFile>(path);
  std::FILE* out = file ? file->get() : stdout;

  const int32_t count = CountContacts(host);
  std::vector<std::string> skipped;
  int32_t exported = 0;
  {
    Progress progress("exporting contact", static_cast<std::size_t>(count), ProgressWanted(out));
    Contact contact;
    for (int32_t position = 1; position <= count && GetContact(host, position, &contact);
         ++position) {
      CheckInterrupt();
      if (contact.whole) {
        const std::string text = WriteCard(contact.vcard, format);
        if (file) {
          std::fwrite(text.data(), 1, text.size(), out);
        } else {
          WriteOut(text);
        }
        ++exported;
      } else {
        skipped.push_back(
            JsonObject({{"position", JsonNumber(position)}, {"id", JsonText(contact.id)}}));
        if (!host.json) {
          std::fprintf(stderr,
                       "mzhost: contact %s (position %d) not exported: its vCard is longer than "
                       "the %d bytes the library hands over\n",
                       contact.id.c_str(), position, MZ_VCARD_SIZE);
        }
      }
      progress.Update(static_cast<std::size_t>(position));
    }
  }
  if (file) {
    file->Commit();
    if (host.json) {
      PrintLine(JsonObject({{"exported", JsonNumber(exported)},
                            {"file", JsonText(path)},
                            {"skipped", JsonArray(skipped)}}));
    } else {
      PrintLine("exported " + std::to_string(exported) + " contact" + (exported == 1 ? "" : "s") +
                " to " + path);
    }
  } else {
    FlushOut();
  }
  if (!skipped.empty()) throw PartialFailure{};
}

// Why the device cannot store more, as far as its folder's file system
// tells: a full disk, a file at this process's size limit, or a small probe
// file that cannot be written. Empty when none of these shows.
std::string StorageProblem(const std::string& dir) {
  constexpr std::size_t kProbeBytes = 16 * 1024;
  auto words = [](int error) {
    return error == ENOSPC || error == EDQUOT ? std::string("the device's disk is full")
                                              : std::string(std::strerror(error));
  };
  struct statvfs disk {};
  if (statvfs(dir.c_str(), &disk) == 0 && disk.f_bavail == 0) return words(ENOSPC);
  struct rlimit limit {};
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    // The database and its log grow by pages: one that has nearly reached
    // the limit could take no more.
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(dir, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
      const auto size = it->is_regular_file(ec) ? it->file_size(ec) : 0;
      if (!ec && size + 4 * kProbeBytes >= limit.rlim_cur) return words(EFBIG);
    }
  }
  std::string probe = dir + "/.mzhost-probe-XXXXXX";
  const int fd = mkstemp(probe.data());
  if (fd < 0) return words(errno);
  const std::string block(kProbeBytes, '\0');
  const ssize_t wrote = write(fd, block.data(), block.size());
  int error = wrote < 0 ? errno : 0;
  if (error == 0 && (static_cast<std::size_t>(wrote) < block.size() || fsync(fd) != 0)) {
    error = static_cast<std::size_t>(wrote) < block.size() ? ENOSPC : errno;
  }
  close(fd);
  unlink(probe.c_str());
  return error != 0 ? words(error) : std::string();
}

// The failure that ends an import: the phone refused to store `card`, and
// every card after it would meet the same refusal.
[[noreturn]] void StoppedAt(const std::string& path, const Card& card) {
  const std::string which = "card " + std::to_string(card.index);
  const std::string problem = StorageProblem(emulator::DefaultDeviceDir());
  Refused("MZ_AddContact", MZ_E_FAILED,
          path + ":" + std::to_string(card.line) + ": " +
              (problem.empty() ? "the phone refused to store " + which
                               : which + " was not stored: " + problem) +
              "; the import stopped there");
}

// What `import` and `update` take besides their operands.
struct ImportOptions {
  TypePolicy policy = TypePolicy::kFill;
  bool dryRun = false;
  std::string reportPath;  // empty: no report
};

// The options of `args`, taken out of them.
ImportOptions TakeImportOptions(std::vector<std::string>* args) {
  ImportOptions options;
  if (TakeFlag(args, "--strict")) options.policy = TypePolicy::kStrict;
  options.dryRun = TakeFlag(args, "--dry-run");
  if (const auto it = std::find(args->begin(), args->end(), "--report"); it != args->end()) {
    if (it + 1 == args->end()) throw UsageError{"--report needs a file"};
    options.reportPath = *(it + 1);
    args->erase(it, it + 2);
  }
  for (const std::string& arg : *args) {
    if (arg.starts_with("--")) throw UsageError{"unknown option " + arg};
  }
  return options;
}

// Property counts by what became of them.
struct FateCounts {
  std::size_t of[3] = {};

  void Add(const NormalizedCard& card) {
    for (const PropertyFate& fate : card.fates) ++of[fate.action];
  }
  std::string Words() const {
    return "properties: " + std::to_string(of[PropertyFate::kKept]) + " kept, " +
           std::to_string(of[PropertyFate::kRetyped]) + " re-typed, " +
           std::to_string(of[PropertyFate::kDropped]) + " dropped";
  }
  std::string Json() const {
    return JsonObject(
        {{"kept", JsonNumber(static_cast<long long>(of[PropertyFate::kKept]))},
         {"retyped", JsonNumber(static_cast<long long>(of[PropertyFate::kRetyped]))},
         {"dropped", JsonNumber(static_cast<long long>(of[PropertyFate::kDropped]))}});
  }
};

// One card's line of the --report file.
std::string ReportLine(const std::string& path, const Card& card, const NormalizedCard& normal,
                       const std::string& outcome, const std::string& id) {
  std::vector<std::string> notes, properties;
  for (const std::string& note : normal.notes) notes.push_back(JsonText(note));
  for (const PropertyFate& fate : normal.fates) {
    properties.push_back(
        JsonObject({{"line", JsonNumber(static_cast<long long>(card.line + fate.line - 1))},
                    {"property", JsonText(fate.property)},
                    {"action", JsonText(ActionName(fate.action))},
                    {"as", JsonText(fate.as)},
                    {"reason", JsonText(fate.reason)}}));
  }
  return JsonObject({{"file", JsonText(path)},
                     {"card", JsonNumber(static_cast<long long>(card.index))},
                     {"line", JsonNumber(static_cast<long long>(card.line))},
                     {"outcome", JsonText(outcome)},
                     {"id", JsonText(id)},
                     {"notes", JsonArray(notes)},
                     {"properties", JsonArray(properties)}});
}

void Import(Host& host, std::vector<std::string> paths) {
  const ImportOptions options = TakeImportOptions(&paths);
  if (paths.empty()) {
    throw UsageError{"contacts import takes [--strict] [--dry-run] [--report FILE] FILE..."};
  }
  // Every file is read before anything is stored: a mistyped name stores nothing.
  std::vector<std::vector<Card>> files;
  std::size_t total = 0;
  for (const auto& path : paths) {
    files.push_back(SplitCards(FileAsUtf8(ReadFile(path))));
    total += files.back().size();
  }
  std::unique_ptr<OutputFile> report;
  if (!options.reportPath.empty()) report = std::make_unique<OutputFile>(options.reportPath);

  std::vector<std::string> imported;
  std::vector<std::string> refused;
  FateCounts counts;
  Progress progress(options.dryRun ? "reading card" : "importing card", total,
                    ProgressWanted(options.dryRun ? stdout : nullptr));
  auto where = [&](const std::string& path, const Card* card) {
    return card ? path + ":" + std::to_string(card->line) + ": card " + std::to_string(card->index)
                : path;
  };
  auto refuse = [&](const std::string& path, const Card* card, const std::string& reason) {
    if (!host.json) progress.Note("mzhost: " + where(path, card) + " " + reason + "; not imported");
    refused.push_back(JsonObject({{"file", JsonText(path)},
                                  {"card", JsonNumber(card ? card->index : 0)},
                                  {"line", JsonNumber(card ? card->line : 0)},
                                  {"reason", JsonText(reason)}}));
  };
  auto summary = [&](const char* tail) {
    progress.Finish();
    if (report) report->Commit();
    if (host.json) {
      PrintLine(JsonObject({{"imported", JsonArray(imported, true)},
                            {"refused", JsonArray(refused, true)},
                            {"properties", counts.Json()}}));
    } else {
      PrintLine(std::string(options.dryRun ? "would import " : "imported ") +
                std::to_string(imported.size()) + " of " + std::to_string(total) + " card" +
                (total == 1 ? "" : "s") +
                (refused.empty() ? "" : ", " + std::to_string(refused.size()) + " refused") + tail +
                "; " + counts.Words());
    }
  };

  std::size_t done = 0;
  try {
    for (std::size_t f = 0; f < files.size(); ++f) {
      if (files[f].empty()) refuse(paths[f], nullptr, "holds no vCard");
      for (const Card& card : files[f]) {
        CheckInterrupt();
        progress.Update(++done);
        const ImportedCard added = ImportCard(host, card, options.policy, options.dryRun);
        const NormalizedCard& normal = added.normal;
        if (!host.json) {
          for (const std::string& note : normal.notes) {
            progress.Note("mzhost: " + where(paths[f], &card) + ": " + note);
          }
        }
        auto record = [&](const std::string& outcome, const std::string& id) {
          if (report) {
            const std::string line = ReportLine(paths[f], card, normal, outcome, id) + "\n";
            std::fwrite(line.data(), 1, line.size(), report->get());
          }
        };
        if (added.result == MZ_E_FAILED) StoppedAt(paths[f], card);
        if (!added.refusal.empty()) {
          refuse(paths[f], &card, added.refusal);
          record("refused", "");
          continue;
        }
        const std::string& id = added.id;
        if (options.dryRun && !host.json) WriteOut(normal.text);
        counts.Add(normal);
        record(options.dryRun ? "would import" : "imported", id);
        imported.push_back(JsonObject(
            {{"file", JsonText(paths[f])},
             {"card", JsonNumber(card.index)},
             {"line", JsonNumber(card.line)},
             {options.dryRun ? "vcard" : "id", JsonText(options.dryRun ? normal.text : id)}}));
      }
    }
  } catch (const Interrupted&) {
    summary(" before the interruption");
    throw;
  } catch (const Failure&) {
    summary(" before the failure");
    throw;
  }
  summary("");
  if (!refused.empty()) throw PartialFailure{};
}

// The one card of an update file, normalized.
std::string OneCard(const std::string& path, TypePolicy policy) {
  std::vector<Card> cards = SplitCards(FileAsUtf8(ReadFile(path)));
  if (cards.size() != 1) {
    throw Failure{path + " holds " +
                  (cards.empty() ? "no vCard" : std::to_string(cards.size()) + " vCards") +
                  "; an update takes exactly one"};
  }
  const NormalizedCard normal = NormalizeCard(cards[0].text, policy, cards[0].complete);
  if (normal.text.empty()) {
    throw Failure{path + ":" + std::to_string(cards[0].line) +
                  ": the card holds nothing the phone keeps"};
  }
  return normal.text;
}

void Update(Host& host, std::vector<std::string> args) {
  const ImportOptions options = TakeImportOptions(&args);
  if (args.size() != 2 || options.dryRun || !options.reportPath.empty()) {
    throw UsageError{"usage: mzhost contacts update [--strict] ID FILE"};
  }
  const std::string id = ParseContactId(args[0]);
  const ContactTransfer transfer = TransferOf(OneCard(args[1], options.policy), id);
  const int32_t result = host.mz.MZ_WriteContact(&transfer);
  if (result == MZ_E_NO_CONTACT) Refused("MZ_WriteContact", result, "no contact with id " + id);
  if (result == MZ_E_FAILED) {
    Refused("MZ_WriteContact", result, "the phone refused the update of contact " + id);
  }
  if (result != MZ_OK) Refused("MZ_WriteContact", result, DescribeResult(result));
  PrintLine(host.json ? JsonObject({{"updated", JsonText(id)}}) : "updated contact " + id);
}

void Delete(Host& host, const std::string& idText) {
  const std::string id = ParseContactId(idText);
  const int32_t result = host.mz.MZ_DeleteContact(id.c_str());
  if (result == MZ_E_NO_CONTACT) Refused("MZ_DeleteContact", result, "no contact with id " + id);
  if (result == MZ_E_FAILED) {
    Refused("MZ_DeleteContact", result, "the phone refused to delete contact " + id);
  }
  if (result != MZ_OK) Refused("MZ_DeleteContact", result, DescribeResult(result));
  PrintLine(host.json ? JsonObject({{"deleted", JsonText(id)}}) : "deleted contact " + id);
}

void Clear(Host& host) {
  const int32_t count = CountContacts(host);
  const int32_t result = host.mz.MZ_DeleteAllContacts();
  if (result == MZ_E_FAILED)
    Refused("MZ_DeleteAllContacts", result, "the phone refused to delete every contact");
  if (result != MZ_OK) Refused("MZ_DeleteAllContacts", result, DescribeResult(result));
  PrintLine(host.json ? JsonObject({{"deleted", JsonNumber(count)}})
                      : "deleted all " + std::to_string(count) + " contacts");
}

}  // namespace

ImportedCard ImportCard(Host& host, const Card& card, TypePolicy policy, bool dryRun) {
  ImportedCard outcome;
  outcome.normal = NormalizeCard(card.text, policy, card.complete);
  if (outcome.normal.text.empty()) {
    outcome.refusal = "holds nothing the phone keeps";
    return outcome;
  }
  if (dryRun) return outcome;
  const ContactTransfer transfer = TransferOf(outcome.normal.text);
  char newId[MZ_NEW_ID_SIZE] = {};
  outcome.result = host.mz.MZ_AddContact(&transfer, newId, sizeof newId);
  if (outcome.result == MZ_E_NO_CONTACT) {
    Refused("MZ_AddContact", outcome.result, DescribeResult(outcome.result));
  }
  if (outcome.result != MZ_OK) {
    outcome.refusal = DescribeResult(outcome.result);
    return outcome;
  }
  outcome.id.assign(newId, strnlen(newId, sizeof newId));
  return outcome;
}

void CheckContacts(const std::vector<std::string>& args) {
  if (args.empty()) return;
  std::vector<std::string> rest(args.begin() + 1, args.end());
  std::string path;
  if (args[0] == "export") path = ExportPath(rest);
  if (args[0] == "import") path = TakeImportOptions(&rest).reportPath;
  if (!path.empty()) ResolveTarget(path);
}

void RunContacts(Host& host, const std::vector<std::string>& args) {
  const std::string verb = args.empty() ? "" : args[0];
  const std::vector<std::string> rest(args.begin() + (args.empty() ? 0 : 1), args.end());
  auto expect = [&](std::size_t n, const char* usage) {
    if (rest.size() != n) throw UsageError{std::string("usage: mzhost contacts ") + usage};
  };
  if (verb == "count") {
    expect(0, "count");
    Count(host);
  } else if (verb == "list") {
    expect(0, "list");
    List(host);
  } else if (verb == "show") {
    Show(host, rest);
  } else if (verb == "export") {
    Export(host, rest);
  } else if (verb == "import") {
    Import(host, rest);
  } else if (verb == "update") {
    Update(host, rest);
  } else if (verb == "delete") {
    expect(1, "delete ID");
    Delete(host, rest[0]);
  } else if (verb == "clear") {
    expect(0, "clear");
    Clear(host);
  } else {
    throw UsageError{
        verb.empty()
            ? "contacts needs a command: count, list, show, export, import, update, delete or clear"
            : "unknown contacts command '" + verb + "'"};
  }
}

}  // namespace mzhost
