#include "options.h"

#include <string>

#include "tooloptions.h"

const char* WorkloadName(Workload w) {
  switch (w) {
    case Workload::Steady: return "steady";
    case Workload::Bursty: return "bursty";
    case Workload::Idle: return "idle";
  }
  return "?";
}

bool ParseOptions(int argc, char** argv, BenchOptions& o, std::string& error) {
  // The benchmark never took "--name=VALUE": such an argument is unknown.
  ArgCursor arg(argc, argv, false);
  while (arg.Next()) {
    std::string v;
    if (arg.Is("--help") || arg.Is("-h")) {
      o.help = true;
    } else if (arg.Is("--row")) {
      o.row = true;
    } else if (arg.Is("--websocket")) {
      o.websocket = true;
    } else if (arg.Is("--tls")) {
      o.tls = true;
    } else if (arg.Is("--rejoiner")) {
      o.rejoiner = true;
    } else if (arg.Is("--clients")) {
      if (!arg.Number(o.clients, 1, 63,
                      "--clients takes 1 to 63 (the server watches 64 sockets, its listening one included)", error)) {
        return false;
      }
    } else if (arg.Is("--workload")) {
      if (!arg.Value(v, error)) return false;
      if (v == "steady") o.workload = Workload::Steady;
      else if (v == "bursty") o.workload = Workload::Bursty;
      else if (v == "idle") o.workload = Workload::Idle;
      else {
        error = "--workload takes steady, bursty or idle";
        return false;
      }
    } else if (arg.Is("--rate")) {
      if (!arg.Real(o.rate, 0, 100, "--rate takes lines per second per client, above 0 and at most 100", error)) {
        return false;
      }
    } else if (arg.Is("--duration")) {
      if (!arg.Real(o.duration, 0, 600, "--duration takes seconds, above 0 and at most 600", error)) return false;
    } else if (arg.Is("--lines")) {
      if (!arg.Number(o.lines, 1, 100000, "--lines takes 1 to 100000", error)) return false;
    } else if (arg.Is("--burst")) {
      if (!arg.Number(o.burst, 1, 10000, "--burst takes 1 to 10000", error)) return false;
    } else if (arg.Is("--burst-interval")) {
      if (!arg.Real(o.burstInterval, 0, 600, "--burst-interval takes seconds, above 0 and at most 600", error)) {
        return false;
      }
    } else if (arg.Is("--text-bytes")) {
      if (!arg.Number(o.textBytes, 1, 900, "--text-bytes takes 1 to 900", error)) return false;
    } else if (arg.Is("--flooders")) {
      if (!arg.Number(o.flooders, 0, 62, "--flooders takes 0 to 62", error)) return false;
    } else if (arg.Is("--host")) {
      if (!arg.Value(v, error)) return false;
      if (v == "process") o.host = HostMode::Process;
      else if (v == "external") o.host = HostMode::External;
      else {
        error = "--host takes process or external";
        return false;
      }
    } else if (arg.Is("--port")) {
      if (!arg.Number<uint16_t>(o.port, 1, 65535, "--port takes 1 to 65535", error)) return false;
    } else if (arg.Is("--participant")) {
      if (!arg.Value(o.participant, error)) return false;
    } else if (arg.Is("--plot")) {
      if (!arg.Value(o.plot, error)) return false;
    } else if (arg.Is("--samples")) {
      if (!arg.Value(o.samples, error)) return false;
    } else {
      error = "unknown option " + arg.Name() + " (see --help)";
      return false;
    }
  }
  if (o.clients + o.flooders + (o.rejoiner ? 1 : 0) > 63) {
    error =
        "--clients, --flooders and --rejoiner add up to at most 63 (the server watches 64 sockets, its listening one "
        "included)";
    return false;
  }
  if ((o.host == HostMode::External) != (o.port != 0)) {
    error = "--port goes with --host external, and only with it";
    return false;
  }
  return true;
}

const char* HelpText() {
  return R"(Usage:
  jaselo-bench [--clients N] [--workload steady|bursty|idle]
               [--rate R] [--duration S] [--lines M] [--burst B]
               [--burst-interval S] [--text-bytes T] [--flooders F] [--rejoiner]
               [--host process|external] [--participant PATH] [--port N]
               [--websocket] [--tls] [--plot FILE.png] [--samples FILE] [--row]

Measures the real relay path over loopback: one server endpoint and N client
endpoints, each drained by a poll loop like the chat window's.
Every line carries its send time in its text; every client receives every
line (its own included) and the latency is taken from the send call to the
receiving poll loop's event.

Workloads:
  steady   every client sends R lines per second (default 2) for S seconds
           (default 10), the clients' lines spread evenly over each period
  bursty   every client writes B lines back to back (default 20), all clients
           at once, every --burst-interval seconds (default 10) until each
           has sent M lines (default 20, one burst)
  idle     the clients stay connected and silent for S seconds; for the
           server's idle CPU, memory and wake-ups

Hosts:
  process    (default) the server is a separate headless host,
             jaselo-participant --serve --port 0 --quiet (next to this program
             unless --participant PATH); its CPU time, peak memory and
             wake-ups (the voluntary and involuntary context switches of its
             threads, per second of the workload) are read from /proc/<pid>
  external   a host that is already running on 127.0.0.1:N (--port N), for
             watching it with other tools; its usage is not measured

Options:
  --clients N        client endpoints, 1 to 63 (default 8)
  --text-bytes T     characters per line's text (default 32)
  --flooders F       F more clients (clients + flooders at most 63) that send
                     900-character lines as fast as their sends go, from 2 s
                     before the workload until its end (a blocking send loop
                     on a thread of their own; 10 s past the last planned
                     line at most). Their lines count in no statistic: the
                     latency, loss and drops are the honest clients' lines as
                     the honest clients receive them
  --websocket        the honest clients join as a browser's page does: an
                     HTTP upgrade on the chat's port, then each message one
                     masked WebSocket frame each way. What they receive is
                     handed to their endpoint's queue as its socket thread
                     would, so the poll loops and the figures stay the same
                     (the flooders stay native clients)
  --rejoiner         one more client (counted in the 63) that joins, stays
                     for most of a second, leaves and joins again, every
                     second while the workload runs; each join asks for the
                     list of people and the earlier lines, which the host
                     sends beside the relays. Its own lines and departures
                     count in no statistic; the report gives its joins and
                     how long each took to get the whole list
  --tls              every client (flooders included) joins inside TLS 1.3, as
                     the program's clients do; without it they join in plain
                     text, as a peer of the plain protocol does. The host
                     serves both either way, with a key in a folder of the
                     run's own
  --plot FILE.png    draw the latency distribution with gnuplot
                     (apt-get install gnuplot-nox)
  --samples FILE     write every measured latency in ms, one per line
  --row              also print the run as one Markdown table row

Exit status: 0 when every honest line reached every honest receiver once and
in order and no honest client was dropped; 1 otherwise; 2 for a usage mistake
or a failed set-up.
)";
}
