// The shared-file benchmark: one file uploaded to a headless host and fetched
// back over loopback https, each way by curl, beside nginx serving the same
// file with the same key in the same run; and how far the host's resident
// memory grew while the bytes moved. Run by hand (it needs curl and nginx):
//   build/jaselo-sharebench [--mib N] [--participant PATH] [--nginx PATH]
// With --port N it moves the file to and from a host already running on
// 127.0.0.1:N, again and again for --for S seconds, so that the chat
// benchmark can measure that host's lines meanwhile (chat-under-transfer.sh).
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "chat/jaselonetwork.h"
#include "childprocess.h"
#include "headlesshost.h"
#include "procstat.h"
#include "protocol/diagnostics.h"
#include "share/fileclient.h"
#include "temporaryfolder.h"
#include "trust/hostidentity.h"

namespace {
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Options {
  unsigned mib = 1024;
  uint16_t port = 0;  // a host already running; 0: start one
  unsigned seconds = 30;
  std::string participant;
  std::string nginx = "/usr/sbin/nginx";
};

struct Run {
  int exit = -1;
  std::string output;
  double seconds = 0;
};

// Runs a command to its end and keeps what it printed.
Run RunCommand(const std::vector<std::string>& argv, std::chrono::milliseconds limit = 600s) {
  Run run;
  const auto start = Clock::now();
  Child child = Spawn(argv, true, false);
  if (child.pid < 0) return run;
  CloseFd(child.in);
  LineReader lines(child.out);
  for (std::string line; lines.Next(line, limit);) run.output += line + "\n";
  run.exit = WaitExit(child.pid, 5s);
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  CloseFd(child.out);
  return run;
}

uint16_t FreePort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t n = sizeof a;
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
  close(s);
  return ntohs(a.sin_port);
}

bool WriteRandomFile(const std::string& path, unsigned mib) {
  std::ofstream out(path, std::ios::binary);
  std::mt19937_64 random(42);
  std::vector<uint64_t> block((1 << 20) / sizeof(uint64_t));
  for (unsigned i = 0; i < mib && out; ++i) {
    for (uint64_t& word : block) word = random();
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(1 << 20));
  }
  return static_cast<bool>(out);
}

// The host's upload ticket, as a participant that asks for files is given it.
std::string TicketFrom(CJaseloNetwork& client, uint16_t port) {
  std::string error;
  ClientSecurity security;
  security.tls = TlsContext::ForClient(error);
  security.acceptNewKey = true;
  client.SetClientSecurity(std::move(security));
  client.SetAsksForFiles(true);
  if (!client.StartupClient("bench") || !client.ClientConnect("127.0.0.1", port)) return {};
  const auto end = Clock::now() + 10s;
  ChatEvent event;
  while (Clock::now() < end) {
    while (client.ProcessPacketInQueue(event)) {
      if (event.Type == EVENT_TICKET) return event.Text.get();
    }
    pollfd p{client.News().Fd(), POLLIN, 0};
    WaitReadable(&p, 1, 100);
    client.News().Drain();
  }
  return {};
}

double MiBps(unsigned mib, double seconds) { return seconds > 0 ? mib / seconds : 0; }

struct Sides {
  double upload = 0, download = 0;  // MiB/s
  bool ok = false;
};

// Uploads the file with curl to `put`, then fetches it from `get(answer)`,
// `answer` being the first line of the upload's answer (a host's id for it).
Sides Measure(const std::string& put, const std::function<std::string(const std::string&)>& get,
              const std::string& file, unsigned mib) {
  Sides s;
  const Run up = RunCommand({"/usr/bin/curl", "-sk", "-o", file + ".answer", "-w", "%{http_code}\n", "-T", file, put});
  std::string answer;
  std::getline(std::ifstream(file + ".answer"), answer);
  const Run down = RunCommand({"/usr/bin/curl", "-sk", "-o", "/dev/null", "-w", "%{http_code}\n", get(answer)});
  s.ok = up.exit == 0 && down.exit == 0 && (up.output == "201\n" || up.output == "204\n") && down.output == "200\n";
  s.upload = MiBps(mib, up.seconds);
  s.download = MiBps(mib, down.seconds);
  return s;
}

// Where a host takes the file, and where it gives back the file it kept.
std::string PutOnHost(uint16_t port, const std::string& ticket, const std::string& sha) {
  return "https://127.0.0.1:" + std::to_string(port) + "/files/bench.bin?ticket=" + ticket + "&sha256=" + sha;
}
std::string KeptOnHost(uint16_t port, const std::string& id) {
  return "https://127.0.0.1:" + std::to_string(port) + "/files/" + id;
}

// Uploads and fetches the file again and again on a running host.
int KeepMoving(const Options& o, const std::string& file) {
  CJaseloNetwork client;
  const std::string ticket = TicketFrom(client, o.port);
  const std::string sha = FileSha256(file);
  if (ticket.empty() || sha.empty()) return 1;
  const auto end = Clock::now() + std::chrono::seconds(o.seconds);
  for (int round = 1; Clock::now() < end; ++round) {
    const Sides moved = Measure(
        PutOnHost(o.port, ticket, sha), [&](const std::string& id) { return KeptOnHost(o.port, id); }, file, o.mib);
    std::printf("round %d: upload %.0f MiB/s, download %.0f MiB/s%s\n", round, moved.upload, moved.download,
                moved.ok ? "" : " (refused)");
    std::fflush(stdout);
    // A host that turns the transfer away (a full chat) is asked again a little later.
    if (!moved.ok) std::this_thread::sleep_for(500ms);
  }
  client.StopClient();
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  Options o;
  const std::string self = argv[0];
  o.participant = self.substr(0, self.find_last_of('/') + 1) + "jaselo-participant";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i], value = argv[i + 1];
    if (key == "--mib") o.mib = static_cast<unsigned>(std::stoul(value));
    else if (key == "--participant") o.participant = value;
    else if (key == "--nginx") o.nginx = value;
    else if (key == "--port") o.port = static_cast<uint16_t>(std::stoul(value));
    else if (key == "--for") o.seconds = static_cast<unsigned>(std::stoul(value));
  }
  SetDiagSink([](std::string_view) {});
  TemporaryFolder tmp;
  const std::string file = tmp.Path() + "/bench.bin";
  std::fprintf(stderr, "writing a %u MiB file...\n", o.mib);
  if (!WriteRandomFile(file, o.mib)) return 1;

  if (o.port != 0) return KeepMoving(o, file);
  // The host, with room for the file.
  HeadlessHostOptions hostOptions;
  const std::string mibs = std::to_string(o.mib + 1);
  hostOptions.extraArgs = {"--data-dir", tmp.Path() + "/host", "--share-largest", mibs, "--share-total", mibs};
  HeadlessHost host;
  std::string error;
  if (!host.Start(o.participant, hostOptions, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  CJaseloNetwork client;
  const std::string ticket = TicketFrom(client, host.Port());
  if (ticket.empty()) {
    std::fprintf(stderr, "no upload ticket from the host\n");
    return 1;
  }
  auto start = Clock::now();
  const std::string sha = FileSha256(file);
  const double hashSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  const ProcUsage before = ReadProcUsage(host.Pid());
  const Sides jaselo = Measure(
      PutOnHost(host.Port(), ticket, sha), [&](const std::string& id) { return KeptOnHost(host.Port(), id); }, file,
      o.mib);
  const ProcUsage after = ReadProcUsage(host.Pid());
  client.StopClient();
  host.Stop(5s);

  // nginx with the host's own key and certificate, serving the same folder.
  const std::string root = tmp.Path() + "/nginx";
  std::filesystem::create_directories(root + "/www");
  const uint16_t nginxPort = FreePort();
  const std::string keyFile = tmp.Path() + "/host/" + HOST_KEY_FILE;
  std::ofstream(root + "/nginx.conf")
      << "user root root;\nworker_processes 1;\ndaemon off;\npid " << root << "/nginx.pid;\nerror_log " << root
      << "/error.log;\nevents {}\nhttp {\n  access_log off;\n  client_body_temp_path " << root
      << "/body;\n  client_max_body_size 0;\n  sendfile on;\n  server {\n    listen 127.0.0.1:" << nginxPort
      << " ssl;\n    ssl_protocols TLSv1.3;\n    ssl_certificate " << keyFile << ";\n    ssl_certificate_key "
      << keyFile << ";\n    root " << root << "/www;\n    location / { dav_methods PUT; }\n  }\n}\n";
  Child nginx = Spawn({o.nginx, "-p", root, "-c", root + "/nginx.conf", "-e", root + "/error.log"}, false, false);
  std::this_thread::sleep_for(500ms);  // nginx says nothing when it is ready; its port answers
  const std::string there = "https://127.0.0.1:" + std::to_string(nginxPort) + "/bench.bin";
  const Sides yardstick = Measure(
      there, [&](const std::string&) { return there; }, file, o.mib);
  if (nginx.pid > 0) {
    kill(nginx.pid, SIGTERM);
    WaitExit(nginx.pid, 5s);
  }

  const MachineInfo machine = ReadMachineInfo();
  std::printf("%u MiB over loopback https, curl each way; %d cores (%s), load %.2f\n", o.mib, machine.cores,
              machine.cpuModel.c_str(), LoadAverage());
  std::printf("%-22s %12s %12s %8s\n", "", "jaselo", "nginx", "ratio");
  std::printf("%-22s %12.0f %12.0f %7.0f%%\n", "upload MiB/s", jaselo.upload, yardstick.upload,
              yardstick.upload > 0 ? 100 * jaselo.upload / yardstick.upload : 0);
  std::printf("%-22s %12.0f %12.0f %7.0f%%\n", "download MiB/s", jaselo.download, yardstick.download,
              yardstick.download > 0 ? 100 * jaselo.download / yardstick.download : 0);
  std::printf("%-22s %12.1f\n", "host RSS growth MiB", after.peakRssMiB - before.rssMiB);
  std::printf("%-22s %12.0f   (the sharer's checksum, before its upload)\n", "SHA-256 MiB/s",
              MiBps(o.mib, hashSeconds));
  if (!jaselo.ok || !yardstick.ok) {
    std::fprintf(stderr, "a transfer failed (jaselo %d, nginx %d)\n", jaselo.ok, yardstick.ok);
    return 1;
  }
  return 0;
}
