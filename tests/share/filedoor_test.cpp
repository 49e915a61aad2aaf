// The host's file door on a real loopback socket beside a real chat: who may
// upload, what a broken, cut, slow or oversized upload leaves, and what a
// fetch answers, byte for byte and in part.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <thread>

#include "chat/hostedfiles.h"
#include "common/raw_peer.h"
#include "common/test_support.h"
#include "common/wire.h"
#include "protocol/extension.h"
#include "sha256.h"
#include "share/backgroundtransfers.h"
#include "share/fileclient.h"
#include "share/filerequest.h"

namespace {
using namespace std::chrono_literals;

std::string Text(const Bytes& b) { return std::string(b.begin(), b.end()); }

class FileDoorTest : public testing::Test {
 protected:
  void SetUp() override {
    ShareLimits limits;
    limits.largestFile = 1 << 20;
    limits.totalKept = 3 << 20;
    FileDoorRules rules;
    rules.idle = 300ms;
    std::string error;
    ASSERT_TRUE(files.Open(dir.Path(), limits, host, error, rules)) << error;
    ASSERT_TRUE(host.StartupServer());
    host.ServerListen(0);
    port = host.ListeningPort();
    ASSERT_NE(port, 0);
  }
  void TearDown() override {
    host.StopServer();
    files.Close();
  }

  // Joins as `nick`, asks for files, and returns the ticket the host gives.
  std::string Ticket(RawPeer& peer, const std::string& nick) {
    CPacket hello;
    if (!peer.Join(port, nick) || !BuildHello(UNDERSTANDS_FILES, "", hello) || !peer.Send(hello)) return {};
    for (Bytes m; !(m = peer.NextMessage()).empty();) {
      ExtensionBlock block;
      std::string ticket;
      if (OpenExtension(m.data(), static_cast<uint16_t>(m.size()), block) && block.kind == EXT_TICKET &&
          ReadTicket(block.fields, ticket)) {
        return ticket;
      }
    }
    return {};
  }

  // One request on a connection of its own, and everything the host sends
  // before it closes.
  std::string Exchange(const std::string& request, const char* from = nullptr) {
    RawPeer http = RawPeer::Dial(port, {.from = from});
    if (!http.Send(request.data(), request.size())) return {};
    return Text(http.Read(SIZE_MAX, 5s));
  }

  std::string Put(const std::string& name, const std::string& ticket, const std::string& body,
                  const std::string& sha256 = {}, const char* from = nullptr) {
    return Exchange("PUT /files/" + name + "?ticket=" + ticket + "&sha256=" + (sha256.empty() ? Sha256(body) : sha256) +
                        " HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body,
                    from);
  }

  size_t Kept() {
    size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.File(SHARED_FILES_FOLDER))) n += e.is_regular_file();
    return n;
  }

  TempDir dir;
  CJaseloNetwork host;
  HostedFiles files;
  uint16_t port = 0;
};

std::string Status(const std::string& answer) { return answer.substr(0, answer.find("\r\n")); }
std::string Body(const std::string& answer) { return answer.substr(answer.find("\r\n\r\n") + 4); }
}  // namespace

TEST_F(FileDoorTest, TakesAnUploadOnlyWithALiveTicketAndServesItWholeOrInPart) {
  RawPeer alice, bob;
  const std::string ticket = Ticket(alice, "alice");
  ASSERT_EQ(ticket.size(), 32u);
  const std::string bobs = Ticket(bob, "bob");
  ASSERT_NE(bobs, ticket);
  const std::string body = "%PDF-1.7 not really a pdf, but bytes all the same";

  EXPECT_EQ(Status(Put("a.pdf", "0123456789abcdef0123456789abcdef", body)), "HTTP/1.1 403 Forbidden");
  // A ticket is good from its participant's own machine alone.
  EXPECT_EQ(Status(Put("a.pdf", ticket, body, {}, "127.0.0.2")), "HTTP/1.1 403 Forbidden");
  EXPECT_EQ(Status(Put("a.pdf", ticket, body, std::string(64, '0'))), "HTTP/1.1 422 Unprocessable Content");
  EXPECT_EQ(Kept(), 0u) << "a wrong checksum leaves nothing";

  // A name is cleaned as a chat name is: no folder, no control or
  // bidirectional characters.
  const std::string put = Put("..%2F..%2Fevil%00%E2%80%AEfdp.pdf", ticket, body);
  ASSERT_EQ(Status(put), "HTTP/1.1 201 Created") << put;
  const std::string id = Body(put).substr(0, 32);
  EXPECT_NE(put.find("Location: /files/" + id + "/evilfdp.pdf\r\n"), std::string::npos) << put;

  const std::string whole = Exchange("GET " + SharedFilePath(id, "x") + " HTTP/1.1\r\n\r\n");
  EXPECT_EQ(Status(whole), "HTTP/1.1 200 OK");
  EXPECT_EQ(Body(whole), body);
  for (const char* header :
       {"Content-Disposition: attachment; filename=\"evilfdp.pdf\"; filename*=UTF-8''evilfdp.pdf\r\n",
        "Content-Type: application/octet-stream\r\n", "X-Content-Type-Options: nosniff\r\n",
        "Content-Security-Policy: default-src 'none'; sandbox\r\n", "Accept-Ranges: bytes\r\n"}) {
    EXPECT_NE(whole.find(header), std::string::npos) << header;
  }
  // A lost download resumes where it stopped; past the end is no range.
  const std::string part = Exchange("GET /files/" + id + " HTTP/1.1\r\nRange: bytes=9-\r\n\r\n");
  EXPECT_EQ(Status(part), "HTTP/1.1 206 Partial Content");
  EXPECT_EQ(Body(part), body.substr(9));
  EXPECT_NE(part.find("Content-Range: bytes 9-" + std::to_string(body.size() - 1) + "/"), std::string::npos);
  const std::string past = Exchange("GET /files/" + id + " HTTP/1.1\r\nRange: bytes=999-\r\n\r\n");
  EXPECT_EQ(Status(past), "HTTP/1.1 416 Range Not Satisfiable");
  EXPECT_NE(past.find("Content-Range: bytes */" + std::to_string(body.size())), std::string::npos);
  EXPECT_EQ(Status(Exchange("GET /files/" + std::string(32, 'a') + " HTTP/1.1\r\n\r\n")), "HTTP/1.1 404 Not Found");

  // A participant's fetch resumes a partial file, and keeps a file only when
  // the whole is the one shared.
  const FileUrl url{false, "127.0.0.1", port, SharedFilePath(id, "evilfdp.pdf")};
  for (const auto& [start, whole] : {std::pair{body.substr(0, 9), true}, std::pair{std::string("XXXXXXXXX"), false}}) {
    std::ofstream(dir.File("fetched"), std::ios::binary) << start;
    FileClient client;
    std::string error, sha;
    uint64_t moved = 0, of = 0;
    client.SetProgress([&](uint64_t done, uint64_t total) { moved = done, of = total; });
    ASSERT_TRUE(client.Connect(url, nullptr, {}, error)) << error;
    EXPECT_EQ(client.Fetch(url, dir.File("fetched"), sha, error), whole) << error;
    EXPECT_EQ(std::filesystem::exists(dir.File("fetched")), whole);
    if (!whole) continue;
    EXPECT_EQ(sha, Sha256(body));
    // Progress counts the part kept before as moved.
    EXPECT_EQ(moved, body.size());
    EXPECT_EQ(of, body.size());
    std::ostringstream fetched;
    fetched << std::ifstream(dir.File("fetched"), std::ios::binary).rdbuf();
    EXPECT_EQ(fetched.str(), body);
  }

  // A picture is shown in place, as what its bytes say it is.
  const std::string png = std::string("\x89PNG\r\n\x1A\n", 8) + "rest of a picture";
  const std::string shown = Exchange("GET /files/" + Body(Put("p.svg", bobs, png)).substr(0, 32) + " HTTP/1.1\r\n\r\n");
  EXPECT_NE(shown.find("Content-Type: image/png\r\nContent-Length"), std::string::npos) << shown;
  EXPECT_NE(shown.find("Content-Disposition: inline;"), std::string::npos);

  // A ticket is good while its participant is in the chat.
  alice.Close();
  ASSERT_TRUE(WaitFor([&] { return host.ClientCount() == 1; }));
  EXPECT_EQ(Status(Put("late.txt", ticket, body)), "HTTP/1.1 403 Forbidden");
}

TEST_F(FileDoorTest, RefusesPastItsLimitsInWordsAndACutOrSlowUploadLeavesNothing) {
  RawPeer alice;
  const std::string ticket = Ticket(alice, "alice");
  ASSERT_FALSE(ticket.empty());
  // Too large: refused on its head alone, before a byte of its body.
  const std::string large = Exchange("PUT /files/big?ticket=" + ticket + "&sha256=" + std::string(64, 'a') +
                                     " HTTP/1.1\r\nContent-Length: 2000000\r\nExpect: 100-continue\r\n\r\n");
  EXPECT_EQ(Status(large), "HTTP/1.1 413 Content Too Large");
  EXPECT_EQ(Body(large), "the file is larger than the 1 MiB this chat takes\n");

  // Cut short, then dropped: nothing is kept, and nothing is left behind.
  {
    RawPeer cut = RawPeer::Dial(port);
    const std::string head = "PUT /files/cut?ticket=" + ticket + "&sha256=" + std::string(64, 'a') +
                             " HTTP/1.1\r\nContent-Length: 1000\r\n\r\nonly this much";
    ASSERT_TRUE(cut.Send(head.data(), head.size()));
  }
  // Dribbled: dropped once its stall has lasted the idle time.
  RawPeer slow = RawPeer::Dial(port);
  const std::string head = "PUT /files/slow?ticket=" + ticket + "&sha256=" + std::string(64, 'a') +
                           " HTTP/1.1\r\nContent-Length: 1000\r\n\r\nx";
  ASSERT_TRUE(slow.Send(head.data(), head.size()));
  EXPECT_TRUE(slow.WaitClosed(3s));
  EXPECT_EQ(Kept(), 0u);
  EXPECT_TRUE(std::filesystem::is_empty(dir.File(std::string(SHARED_FILES_FOLDER) + "/incoming")));

  // The room for all files full: the next is refused, in words.
  const std::string mib(1 << 20, 'm');
  for (char c : {'1', '2', '3'}) {
    ASSERT_EQ(Status(Put(std::string(1, c), ticket, std::string(1, c) + mib.substr(1))), "HTTP/1.1 201 Created");
  }
  const std::string full = Put("4", ticket, "four");
  EXPECT_EQ(Status(full), "HTTP/1.1 507 Insufficient Storage");
  EXPECT_EQ(Body(full), "the host already keeps its 3 MiB of shared files: try again later\n");
  EXPECT_EQ(Kept(), 6u) << "three files and their descriptions";
}

TEST(BackgroundTransfers, ACancelEndsAStalledFetchAtOnceAndTheirOwnerLeavesNoThreadBehind) {
  RawListener silent;  // takes connections and never answers
  const TempDir dir;
  const FileUrl url{false, "127.0.0.1", silent.Port(), "/files/" + std::string(32, 'a') + "/x"};
  const auto fetch = [&](FileClient& client, std::string& error) {
    std::string sha;
    return client.Connect(url, nullptr, {}, error) && client.Fetch(url, dir.File("x"), sha, error);
  };
  const auto start = std::chrono::steady_clock::now();
  {
    BackgroundTransfers transfers;
    std::promise<std::string> ended;
    const uint64_t id =
        transfers.Start(fetch, {}, [&](bool ok, const std::string& error) { ended.set_value(ok ? "fetched" : error); });
    const RawPeer first = silent.Accept();
    ASSERT_TRUE(first.Valid());
    transfers.Cancel(id);
    std::future<std::string> result = ended.get_future();
    ASSERT_EQ(result.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(result.get(), "cancelled");
    // One still waiting when its owner goes is cancelled and waited for.
    transfers.Start(fetch, {}, {});
    const RawPeer second = silent.Accept();
    ASSERT_TRUE(second.Valid());
    EXPECT_EQ(transfers.Running(), 1u);
  }
  // Far within the client's own wait of 15 s.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST_F(FileDoorTest, PassesAPicturesPartsOnlyBehindItsFileAndOnlyToThoseTheFileWentTo) {
  RawPeer alice, bob, carl;
  const std::string ticket = Ticket(alice, "alice");
  ASSERT_FALSE(Ticket(bob, "bob").empty());
  ASSERT_TRUE(carl.Join(port, "carl"));  // never asked for files
  SharedFile file;
  file.id = Body(Put("dot.png", ticket, "picture")).substr(0, 32);
  file.sha256 = Sha256("picture");
  file.name = "dot.png";
  const std::vector<CPacket> parts = BuildPicture(file.id, std::string(PICTURE_PART_BYTES + 1, 'p'));
  ASSERT_EQ(parts.size(), 2u);
  CPacket plain, pictured;
  ASSERT_TRUE(BuildFile(file, plain));
  file.flags = FILE_PICTURE;
  ASSERT_TRUE(BuildFile(file, pictured));
  // Parts before any file, for another file, or behind a file said to have
  // no picture are dropped; a file's own follow it.
  for (const CPacket& sent : {parts[0], BuildPicture(std::string(32, 'b'), "x")[0], plain, parts[1], pictured, parts[0],
                              parts[1], Says("alice", "end")}) {
    ASSERT_TRUE(alice.Send(sent));
  }
  const auto kinds = [](RawPeer& peer) {
    std::vector<uint16_t> seen;
    for (Bytes m; (m = peer.NextMessage()) != Whole(Says("alice", "end"));) {
      ExtensionBlock block;
      if (m.empty()) return std::vector<uint16_t>{0};
      if (OpenExtension(m.data(), static_cast<uint16_t>(m.size()), block) && block.kind != EXT_PEOPLE)
        seen.push_back(block.kind);
    }
    return seen;
  };
  EXPECT_EQ(kinds(bob), (std::vector<uint16_t>{EXT_FILE, EXT_FILE, EXT_PICTURE, EXT_PICTURE}));
  EXPECT_EQ(kinds(carl), std::vector<uint16_t>{}) << "a peer that never asked gets no block";
}

TEST(FileClient, BelievesAnUploadsIdOnlyInTheHostsOwnForm) {
  // The id goes into addresses and the names of files fetched.
  RawListener host;
  const TempDir dir;
  { std::ofstream(dir.File("notes.txt")) << "notes"; }
  std::thread answer([&] {
    RawPeer upload = host.Accept();
    upload.ReadSome();  // the head, with Expect: 100-continue
    const std::string created = "HTTP/1.1 201 Created\r\nContent-Length: 12\r\n\r\n../../../etc";
    upload.Send(created.data(), created.size());
    upload.Read(SIZE_MAX);
  });
  {
    FileClient client;
    std::string error, sha, id;
    EXPECT_TRUE(client.Connect({false, "127.0.0.1", host.Port(), "/"}, nullptr, {}, error)) << error;
    EXPECT_FALSE(client.Upload(dir.File("notes.txt"), "notes.txt", std::string(32, 'a'), sha, id, error));
    EXPECT_EQ(id, "");
    EXPECT_EQ(error, "the host's answer cannot be read");
  }  // closed: the stand-in host's last read ends
  answer.join();
}
