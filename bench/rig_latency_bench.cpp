// Rig engine timing over pseudo-terminals against the simulated radio of the tests, each beside
// the floor of handing the same bytes over a raw pseudo-terminal, measured in the same run.
//
// BM_ReplyToParamsChange: from the moment the radio starts writing a status reply to the moment
// the engine's parameter-change notice runs on the main thread (reader thread, hand-over, framing,
// validation, decoding, posted notice). A pseudo-terminal moves the bytes at once, so this is the
// engine's own delay: on a real line it comes on top of the reply's wire time, reported beside it
// as wire_ms for the configured rate (10 bit times a byte at 8N1). Manual time is that latency;
// the counters give its median, 99th percentile and worst case in milliseconds.
//
// BM_PollTwoRigs: two rigs, each on its own pseudo-terminal and radio, polled back to back; the
// rate is status round trips per second (each radio answering an IF with a changed frequency and
// the notice delivered).
#include <benchmark/benchmark.h>

#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "rig.h"
#include "rig_sim.h"
#include "temp_folder.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace tarvane;

// One status command that the simulated radio answers with 16 bytes.
constexpr const char* kBenchRig = R"([STATUS1]
Command=(IF;)
ReplyLength=16
Validate=(IF.............;)
Value1=2|11|vfText|1|0|pmFreq
Flag1=(.............1..)|pmSSB_U
Flag2=(.............2..)|pmSSB_L
Flag3=(..............0.)|pmVfoAA

[pmFreq]
Command=(FA00000000000;)
Value=2|11|vfText|1|0
)";

constexpr int kBaud = 9600;
constexpr int kReplyBytes = 16;

// A rig wired to one simulated radio and the shared main loop, with a clock the bench moves.
struct BenchRig {
  BenchRig(const tarvane_test::TempFolder& folder, const std::string& name,
           rigtest::TTestMainLoop& loop, const TRigCommands& commands, int number)
      : sim(folder.Path() / name) {
    rig.SetRigNumber(number);
    rig.SetDispatcher(loop.Dispatcher());
    rig.SetClock([this] { return now; });
    rig.SetPollMs(100);
    rig.SetTimeoutMs(1000000);  // the bench's clock only moves at a poll
    rig.Port().SetDevicePath((folder.Path() / name).string());
    rig.Port().SetBaudRate(kBaud);
    rig.OnParamsChange = [this](int, int32_t) {
      notice_at = Clock::now();
      ++notices;
    };
    rig.SetRigCommands(&commands);
    rig.SetEnabled(true);
  }

  bool Idle() {
    std::lock_guard lock(rig.Lock());
    return rig.Queue().Empty() && rig.Queue().Phase() == qpIdle;
  }

  // Changes the radio's frequency, so that the next reply is a change, and polls.
  void Poll() {
    sim.SetFreq(sim.Freq() == 14250000 ? 14074000 : 14250000);
    now += 1000;
    rig.TimerTick();
  }

  rigtest::TSimRadio sim;
  TRig rig;
  int64_t now = 1000;
  Clock::time_point notice_at{};
  long notices = 0;
};

TRigCommands LoadBenchRig(const tarvane_test::TempFolder& folder) {
  TRigCommands commands;
  commands.LoadFromFile(folder.Write("BenchRig.ini", kBenchRig));
  return commands;
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// The floor of a reply's way in: `bytes` written to one side of a raw pseudo-terminal and read by
// a thread waiting on the other side; the median of `rounds`, in milliseconds.
double PtyHandOverMs(int bytes, int rounds) {
  int master = -1, slave = -1;
  if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return 0;
  termios t{};
  ::tcgetattr(slave, &t);
  ::cfmakeraw(&t);
  ::tcsetattr(slave, TCSANOW, &t);
  std::atomic<int> received{0};
  std::atomic<bool> stop{false};
  Clock::time_point arrived{};
  std::thread reader([&] {
    std::vector<char> buffer(static_cast<size_t>(bytes));
    int got = 0;
    while (!stop) {
      pollfd p{slave, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const ssize_t n = ::read(slave, buffer.data(), buffer.size());
      if (n <= 0) continue;
      got += static_cast<int>(n);
      if (got >= bytes) {
        got -= bytes;
        arrived = Clock::now();
        received.fetch_add(1);
      }
    }
  });
  const std::string message(static_cast<size_t>(bytes), 'x');
  std::vector<double> ms;
  for (int i = 0; i < rounds; ++i) {
    const int before = received.load();
    const Clock::time_point sent = Clock::now();
    if (::write(master, message.data(), message.size()) != static_cast<ssize_t>(message.size()))
      break;
    while (received.load() == before) std::this_thread::yield();
    ms.push_back(Ms(arrived - sent));
  }
  stop = true;
  reader.join();
  ::close(master);
  ::close(slave);
  if (ms.empty()) return 0;
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

void BM_ReplyToParamsChange(benchmark::State& state) {
  tarvane_test::TempFolder folder;
  const TRigCommands commands = LoadBenchRig(folder);
  if (!commands.Errors.empty()) {
    state.SkipWithError("bench rig file does not load");
    return;
  }
  rigtest::TTestMainLoop loop;
  BenchRig r(folder, "radio", loop, commands, 1);
  if (!loop.RunUntil([&] { return r.rig.Online() && r.Idle(); })) {
    state.SkipWithError("the simulated radio does not answer");
    return;
  }
  std::vector<double> latencies;
  for (auto _ : state) {
    const long before = r.notices;
    r.Poll();
    if (!loop.RunUntil([&] { return r.notices > before && r.Idle(); })) {
      state.SkipWithError("no notice");
      return;
    }
    const double ms = Ms(r.notice_at - r.sim.LastReplyTime());
    latencies.push_back(ms);
    state.SetIterationTime(ms / 1000.0);
  }
  std::sort(latencies.begin(), latencies.end());
  auto at = [&](double q) {
    return latencies[std::min(latencies.size() - 1, static_cast<size_t>(q * latencies.size()))];
  };
  state.counters["p50_ms"] = at(0.50);
  state.counters["p99_ms"] = at(0.99);
  state.counters["max_ms"] = latencies.back();
  state.counters["wire_ms"] = kReplyBytes * 10 * 1000.0 / kBaud;
  // Figure: the median latency; floor: the reply's bytes handed over through a pseudo-terminal
  // to a waiting thread, measured now.
  const double floor = PtyHandOverMs(kReplyBytes, 200);
  state.counters["figure_us"] = at(0.50) * 1000;
  state.counters["floor_us"] = floor * 1000;
  state.counters["ratio"] = floor > 0 ? at(0.50) / floor : 0;
}
BENCHMARK(BM_ReplyToParamsChange)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

void BM_PollTwoRigs(benchmark::State& state) {
  tarvane_test::TempFolder folder;
  const TRigCommands commands = LoadBenchRig(folder);
  rigtest::TTestMainLoop loop;
  BenchRig one(folder, "radio1", loop, commands, 1);
  BenchRig two(folder, "radio2", loop, commands, 2);
  if (!loop.RunUntil([&] { return one.rig.Online() && two.rig.Online() && one.Idle() &&
                                  two.Idle(); })) {
    state.SkipWithError("the simulated radios do not answer");
    return;
  }
  long polls = 0;
  const auto start = Clock::now();
  for (auto _ : state) {
    const long before1 = one.notices;
    const long before2 = two.notices;
    one.Poll();
    two.Poll();
    if (!loop.RunUntil([&] {
          return one.notices > before1 && two.notices > before2 && one.Idle() && two.Idle();
        })) {
      state.SkipWithError("no notice");
      return;
    }
    polls += 2;
  }
  state.SetItemsProcessed(polls);
  // Figure: the time per status round trip; floor: a command and its reply handed over through a
  // pseudo-terminal, measured now.
  const double perPoll = polls > 0 ? Ms(Clock::now() - start) / static_cast<double>(polls) : 0;
  const double floor = PtyHandOverMs(3, 200) + PtyHandOverMs(kReplyBytes, 200);
  state.counters["figure_us"] = perPoll * 1000;
  state.counters["floor_us"] = floor * 1000;
  state.counters["ratio"] = floor > 0 ? perPoll / floor : 0;
}
BENCHMARK(BM_PollTwoRigs)->Iterations(2000)->Unit(benchmark::kMicrosecond);

}  // namespace
