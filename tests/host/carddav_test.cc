// mzhost serve as a CardDAV client sees it: requests from the table in
// data/carddav/requests.tsv and their statuses, changes made by another
// process showing up, and what a PUT keeps.
#include <sys/file.h>
#include <sys/stat.h>

#include <atomic>
#include <thread>

#include <cstring>
#include <string>
#include <vector>

#include "carddav_fixture.h"
#include "table.h"

namespace {

const std::string kBook = "/dav/ab/contacts/";
const std::string kKnown =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:known-1\r\nFN:Ann Lee\r\nN:Lee;Ann;;;\r\n"
    "TEL;TYPE=CELL:+15551234\r\nEMAIL;TYPE=INTERNET:ann@example.org\r\nEND:VCARD\r\n";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

std::string SyncReport(const std::string& token) {
  return "<?xml version=\"1.0\"?><d:sync-collection xmlns:d=\"DAV:\"><d:sync-token>" + token +
         "</d:sync-token><d:sync-level>1</d:sync-level><d:prop><d:getetag/></d:prop>"
         "</d:sync-collection>";
}

// The sync token a sync-collection answer ends with.
std::string TokenOf(const std::string& body) {
  const auto start = body.find("<d:sync-token>") + 14;
  return body.substr(start, body.find("</d:sync-token>") - start);
}

class RequestTableTest : public CarddavTest, public testing::WithParamInterface<TableRow> {};

TEST_P(RequestTableTest, AnswersWithTheRowsStatus) {
  const TableRow& row = GetParam();
  Start();
  HttpReply known = Request("PUT", kBook + "known.vcf", {"Content-Type: text/vcard"}, kKnown);
  ASSERT_EQ(known.status, 201) << known.body;
  const std::string etag = Request("GET", kBook + "known.vcf").headers["etag"];
  const std::string token = TokenOf(Request("REPORT", kBook, {}, SyncReport("")).body);
  auto fill = [&](std::string field) {
    field = Replace(field, "{etag}", etag);
    field = Replace(field, "{token}", token);
    field = Replace(field, "{long}", std::string(256, 'a'));
    field = Replace(field, "{huge}", std::string(70000, 'a'));
    return Unescape(field);
  };
  std::vector<std::string> headers;
  if (row[4] != "-") {
    std::string list = fill(row[4]);
    for (std::size_t at = 0; at <= list.size();) {
      const auto bar = std::min(list.find(" | ", at), list.size());
      headers.push_back(list.substr(at, bar - at));
      at = bar + 3;
    }
  }
  if (row[4] == "{many}") {
    headers.clear();
    for (int i = 0; i < 70; ++i) headers.push_back("X-Filler-" + std::to_string(i) + ": 1");
  }
  std::string body = row[5] == "-" ? "" : fill(row[5]);
  if (body == "{big}") body = kKnown + std::string((1 << 20) + 1 - kKnown.size(), ' ');
  const int count = std::stoi(Mzhost({"contacts", "count"}).out);

  const HttpReply reply = Request(row[1], fill(row[2]), headers, body, row[3]);
  EXPECT_EQ(reply.status, std::stoi(row[6])) << reply.body;
  if (row[7] != "-") {
    EXPECT_NE(reply.body.find(fill(row[7])), std::string::npos) << reply.body;
  }
  if (row.size() > 8 && row[8] != "-") {
    EXPECT_EQ(reply.body.find(fill(row[8])), std::string::npos) << reply.body;
  }
  // A refused request leaves the phone as it was.
  if (reply.status >= 400) {
    EXPECT_EQ(std::stoi(Mzhost({"contacts", "count"}).out), count);
  }
}

std::vector<TableRow> Rows() {
  std::vector<TableRow> rows = ReadTable(TEST_DATA_DIR "/carddav/requests.tsv");
  for (const TableRow& row : rows) {
    if (row.size() < 8) throw std::runtime_error("a row of requests.tsv has fewer than 8 fields");
  }
  return rows;
}

INSTANTIATE_TEST_SUITE_P(Requests, RequestTableTest, testing::ValuesIn(Rows()),
                         [](const auto& info) { return TestName(info.param[0]); });

TEST_F(CarddavTest, ChangesByAnotherProcessShowUpInTheNextSync) {
  Start();
  ASSERT_EQ(Request("PUT", kBook + "known.vcf", {}, kKnown).status, 201);
  const HttpReply first = Request("REPORT", kBook, {}, SyncReport(""));
  ASSERT_EQ(first.status, 207);
  Write(File("new.vcf"), NumberedCards("Other", 1));
  ASSERT_EQ(Mzhost({"contacts", "import", File("new.vcf")}).status, 0);
  ASSERT_EQ(Mzhost({"contacts", "delete", "1"}).status, 0);

  const HttpReply second = Request("REPORT", kBook, {}, SyncReport(TokenOf(first.body)));
  ASSERT_EQ(second.status, 207) << second.body;
  // The added contact as a new resource, known.vcf as removed.
  EXPECT_NE(second.body.find("-2.vcf</d:href><d:propstat>"), std::string::npos) << second.body;
  EXPECT_NE(second.body.find("known.vcf</d:href><d:status>HTTP/1.1 404"), std::string::npos)
      << second.body;
  const HttpReply third = Request("REPORT", kBook, {}, SyncReport(TokenOf(second.body)));
  EXPECT_EQ(third.body.find("<d:response>"), std::string::npos) << third.body;

  // The server keeps what it read while no other host took the device lock;
  // a contact added behind the lock's back still shows, by the count.
  emulator::SeedContact({{"LastName", "Behind"}, {"FirstName", "Ann"}});
  const HttpReply fourth = Request("REPORT", kBook, {}, SyncReport(TokenOf(third.body)));
  EXPECT_EQ(fourth.body.find("<d:response>"), fourth.body.rfind("<d:response>")) << fourth.body;
  EXPECT_NE(fourth.body.find("-3.vcf</d:href><d:propstat>"), std::string::npos) << fourth.body;
}

// Rows: card sent, whether the phone keeps all of it (the PUT then carries
// an ETag), and a line the card read back holds.
TEST_F(CarddavTest, APutCarriesAnETagOnlyWhenThePhoneKeptTheCardWhole) {
  Start();
  for (const TableRow& row : ReadTable(TEST_DATA_DIR "/carddav/puts.tsv")) {
    const std::string name = row[0] + ".vcf";
    HttpReply put = Request("PUT", kBook + name, {"If-None-Match: *"}, Unescape(row[1]));
    ASSERT_EQ(put.status, 201) << row[0] << put.body;
    EXPECT_EQ(put.headers.contains("etag"), row[2] == "whole") << row[0];
    HttpReply get = Request("GET", kBook + name);
    EXPECT_NE(get.body.find(Unescape(row[3])), std::string::npos) << row[0] << get.body;
    if (put.headers.contains("etag")) {
      EXPECT_EQ(put.headers["etag"], get.headers["etag"]);
    }
  }
}

TEST_F(CarddavTest, WithoutAPasswordFileOneIsMadeForTheOwnerOnly) {
  Start({});
  const std::string path = File("carddav-password");
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600U);
  std::string password = FileContents(path);
  password.pop_back();
  EXPECT_GE(password.size(), 22U);  // 6 bits a character: 128 bits or more
  EXPECT_NE(FileContents(File("serve.err")).find(path), std::string::npos);
  EXPECT_EQ(Request("OPTIONS", "/").status, 401);
}

// While another host holds the device, requests wait in the worker's queue;
// past its depth they get 503 at once, and the others finish once the
// device is free again.
TEST_F(CarddavTest, AFullQueueAnswers503WithRetryAfter) {
  Start();
  const int lock = open(File("device.lock").c_str(), O_RDWR);
  ASSERT_EQ(flock(lock, LOCK_EX), 0);
  constexpr int kRequests = 24;
  std::vector<HttpReply> replies(kRequests);
  std::atomic<int> busy{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < kRequests; ++i) {
    clients.emplace_back([&, i] {
      replies[i] = Request("OPTIONS", "/");
      if (replies[i].status == 503) ++busy;
    });
  }
  // Those the queue cannot take come back while the device is still held.
  while (busy.load() < kRequests - 1 - 16)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  flock(lock, LOCK_UN);
  close(lock);
  for (std::thread& client : clients) client.join();
  for (const HttpReply& reply : replies) {
    if (reply.status == 503) {
      EXPECT_EQ(reply.headers.at("retry-after"), "1");
    } else {
      EXPECT_EQ(reply.status, 200);
    }
  }
  EXPECT_LE(busy.load(), kRequests - 16);
}

TEST_F(CarddavTest, AnAddressOtherThanLoopbackNeedsTls) {
  const ProgramRun run = Mzhost({"serve", "--listen", "0.0.0.0:0", "--password-file", "x"});
  EXPECT_EQ(run.status, 2);
  ExpectOneLine(run.err, "--tls-cert");
}

TEST_F(CarddavTest, EachRequestIsLoggedWithoutSecretsOrCardText) {
  Start();
  ASSERT_EQ(Request("PUT", kBook + "known.vcf", {}, kKnown).status, 201);
  ASSERT_EQ(Request("GET", kBook + "known.vcf").status, 200);
  EXPECT_EQ(Stop(), 0);
  const std::string log = FileContents(File("serve.err"));
  EXPECT_NE(log.find("PUT /dav/ab/contacts/known.vcf 201 "), std::string::npos) << log;
  EXPECT_NE(log.find("GET /dav/ab/contacts/known.vcf 200 "), std::string::npos) << log;
  for (const char* secret : {"test-secret", "Ann", "+1555", "bXo6"}) {
    EXPECT_EQ(log.find(secret), std::string::npos) << secret;
  }
}

}  // namespace
