// The network peer of the benchmark and the soak: a control program timing its commands, a
// discovery client, a markup flood and hostile traffic, one sub-command each. It talks only to
// loopback or to the addresses the calling script gave its own network namespaces, and every loop
// is bounded by a count and a deadline. Times are CLOCK_MONOTONIC nanoseconds, the clock the
// virtual projector logs in (microseconds).
//
// Benchmark (bench/run.sh):
//   rtt --port P --count N --out FILE [--host A --gap-ms G --timeout-ms MS --max-stalls K --warmup W --warmup-ms MS]
//       [--pid PID --rss-every K --rss-out FILE --stop-file FILE]
//   discovery --target A --count N --per-ms R --out FILE
//   stream --target A --seconds N --markup-bytes B [--markup-kind div|table|b] --out FILE
// A month in an hour (bench/month.sh):
//   month --pid PID --out-dir DIR --commands N --cycles N [--days D --bare-cycles --samples K --stall-ms MS]
//         [--replugs R --projector-pid PID --projector-log FILE --outage-ms MS --stuck-seconds S]
//   first-answer --projector-log FILE --out FILE [--seconds S]
//   datagrams --target A --stop-file FILE --out FILE [--per-second R --probe-every K --seconds S --seed N]
// Soak phases (bench/soak.sh, the memcheck step), each with [--budget S --seed N --projector-log FILE
// --results FILE]; a phase prints what it measured, adds a summary line to --results and exits 1
// when the bridge misbehaved:
//   wait-listen
//   tcp-flood [--bytes N --rtt-every N]
//   cycles --count N
//   markup --rounds N --set KEY=VALUE...      (the values the projector was given)
//   unplug --count N --unplug-at K --projector-pid PID
//   command --send BYTES [--expect BYTES]
//   udp --count N --bridge A [--bridge6 A6] --mac MAC --state FILE [--markup --reply-timeout S --label L]
//   trap --out FILE
// The status endpoint (bench/status.sh):
//   counters --status-port P --projector-pid PID --projector-log FILE --out FILE --status-out FILE
//       [--commands N --datagrams N --probes N --connections N --replugs N]
//   scrape --port P --path /metrics --every-ms MS --out FILE [--seconds S]   (until SIGTERM)
//   hostile --port P --seconds S --out FILE [--slowloris N --big N --header-bytes B --junk N --junk-bytes B]
#include "bench/tvbench/modes.h"
#include "bench/tvbench/month.h"
#include "bench/tvbench/soak.h"
#include "bench/tvbench/status.h"

#include <csignal>
#include <map>
#include <string>

using namespace tvbench;

int main(int argc, char **argv)
{
    if (argc < 2)
        die("usage: tvbench SUB-COMMAND [OPTION]... (see the top of bench/tvbench.cpp)");
    signal(SIGPIPE, SIG_IGN);
    setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string what = argv[1];
    const Options o(argc, argv);
    const std::map<std::string, int (*)(const Options &)> commands = {
        {"rtt", benchRtt},
        {"discovery", benchDiscovery},
        {"stream", benchStream},
        {"month", benchMonth},
        {"first-answer", benchFirstAnswer},
        {"datagrams", benchDatagrams},
        {"wait-listen", phaseWaitListen},
        {"tcp-flood", phaseTcpFlood},
        {"cycles", phaseCycles},
        {"markup", phaseMarkup},
        {"unplug", phaseUnplug},
        {"command", phaseCommand},
        {"udp", phaseUdp},
        {"trap", phaseTrap},
        {"counters", statusCounters},
        {"scrape", statusScrape},
        {"hostile", statusHostile},
    };
    const auto it = commands.find(what);
    if (it == commands.end())
        die("unknown sub-command " + what);
    return it->second(o);
}
