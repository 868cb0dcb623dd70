// mzhost contacts: count, list, show, export, import, update, delete, clear.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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

// Why a card cannot be handed to the library, or empty when it can.
std::string CardProblem(const Card& card) {
  if (!card.complete) return "has no END:VCARD";
  if (card.text.find('\0') != std::string::npos) return "holds a zero byte";
  if (card.text.size() > kMostCardBytes) {
    return "is " + std::to_string(card.text.size()) + " bytes, over the " +
           std::to_string(kMostCardBytes) + " the library takes";
  }
  return {};
}

ContactTransfer TransferOf(const Card& card, const std::string& id = {}) {
  ContactTransfer transfer{};
  std::memcpy(transfer.vcard, card.text.data(), card.text.size());
  std::memcpy(transfer.contactId, id.data(), id.size());
  return transfer;
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

void Show(Host& host, const std::string& positionText) {
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
                          {"vcard", JsonText(contact.vcard)},
                          {"whole", JsonBool(contact.whole)}}));
  } else {
    WriteOut(contact.vcard);
  }
}

// The FILE of `export [-o FILE]`, empty for stdout.
std::string ExportPath(const std::vector<std::string>& args) {
  if (args.size() == 2 && args[0] == "-o") return args[1];
  if (!args.empty()) throw UsageError{"contacts export takes [-o FILE]"};
  return {};
}

void Export(Host& host, const std::vector<std::string>& args) {
  const std::string path = ExportPath(args);
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
        if (file) {
          std::fwrite(contact.vcard.data(), 1, contact.vcard.size(), out);
        } else {
          WriteOut(contact.vcard);
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

void Import(Host& host, const std::vector<std::string>& paths) {
  if (paths.empty()) throw UsageError{"contacts import takes FILE..."};
  // Every file is read before anything is stored: a mistyped name stores nothing.
  std::vector<std::vector<Card>> files;
  std::size_t total = 0;
  for (const auto& path : paths) {
    files.push_back(SplitCards(ReadFile(path)));
    total += files.back().size();
  }

  std::vector<std::string> imported;
  std::vector<std::string> refused;
  Progress progress("importing card", total, ProgressWanted());
  auto refuse = [&](const std::string& path, const Card* card, const std::string& reason) {
    const std::string where =
        card ? path + ":" + std::to_string(card->line) + ": card " + std::to_string(card->index)
             : path;
    if (!host.json) progress.Note("mzhost: " + where + " " + reason + "; not imported");
    refused.push_back(JsonObject({{"file", JsonText(path)},
                                  {"card", JsonNumber(card ? card->index : 0)},
                                  {"line", JsonNumber(card ? card->line : 0)},
                                  {"reason", JsonText(reason)}}));
  };
  auto summary = [&](const char* tail) {
    progress.Finish();
    if (host.json) {
      PrintLine(JsonObject(
          {{"imported", JsonArray(imported, true)}, {"refused", JsonArray(refused, true)}}));
    } else {
      PrintLine("imported " + std::to_string(imported.size()) + " of " + std::to_string(total) +
                " card" + (total == 1 ? "" : "s") +
                (refused.empty() ? "" : ", " + std::to_string(refused.size()) + " refused") + tail);
    }
  };

  std::size_t done = 0;
  try {
    for (std::size_t f = 0; f < files.size(); ++f) {
      if (files[f].empty()) refuse(paths[f], nullptr, "holds no vCard");
      for (const Card& card : files[f]) {
        CheckInterrupt();
        progress.Update(++done);
        if (std::string problem = CardProblem(card); !problem.empty()) {
          refuse(paths[f], &card, problem);
          continue;
        }
        const ContactTransfer transfer = TransferOf(card);
        char newId[MZ_NEW_ID_SIZE] = {};
        const int32_t result = host.mz.MZ_AddContact(&transfer, newId, sizeof newId);
        if (result == MZ_E_NO_CONTACT) Refused("MZ_AddContact", result, DescribeResult(result));
        if (result == MZ_E_FAILED) StoppedAt(paths[f], card);
        if (result != MZ_OK) {
          refuse(paths[f], &card, DescribeResult(result));
          continue;
        }
        imported.push_back(
            JsonObject({{"file", JsonText(paths[f])},
                        {"card", JsonNumber(card.index)},
                        {"line", JsonNumber(card.line)},
                        {"id", JsonText(std::string(newId, strnlen(newId, sizeof newId)))}}));
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

// The one card of an update file.
Card OneCard(const std::string& path) {
  std::vector<Card> cards = SplitCards(ReadFile(path));
  if (cards.size() != 1) {
    throw Failure{path + " holds " +
                  (cards.empty() ? "no vCard" : std::to_string(cards.size()) + " vCards") +
                  "; an update takes exactly one"};
  }
  if (std::string problem = CardProblem(cards[0]); !problem.empty()) {
    throw Failure{path + ":" + std::to_string(cards[0].line) + ": the card " + problem};
  }
  return cards[0];
}

void Update(Host& host, const std::string& idText, const std::string& path) {
  const std::string id = ParseContactId(idText);
  const ContactTransfer transfer = TransferOf(OneCard(path), id);
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

void CheckContacts(const std::vector<std::string>& args) {
  if (args.empty() || args[0] != "export") return;
  const std::string path = ExportPath(std::vector<std::string>(args.begin() + 1, args.end()));
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
    expect(1, "show POS");
    Show(host, rest[0]);
  } else if (verb == "export") {
    Export(host, rest);
  } else if (verb == "import") {
    Import(host, rest);
  } else if (verb == "update") {
    expect(2, "update ID FILE");
    Update(host, rest[0], rest[1]);
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
