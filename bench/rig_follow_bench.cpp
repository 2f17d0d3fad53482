// The logbook following the radio: the time from the simulated radio's frequency being moved to
// the main window's frequency label showing the new value, through the whole road (the real
// Tarvane polling the radio on a pseudo-terminal, its event over a private session bus, the
// window's re-read of rig 1 over the bus, the labels). Over 200 changes; the counters give the
// median and 99th percentile in milliseconds, and the window's own share (from the server's event
// arriving to the label written).
//
// The server only learns of a change at its next poll, so the figure is bounded below by the
// wait for that poll (half the poll interval on average). Each change comes after a random pause,
// so it falls anywhere in the poll cycle, as a turn of the knob does, and not always just after
// the poll that reported the one before. Floor: the server's poll interval as measured in the
// same run (the time between the radio's status requests).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <memory>
#include <random>
#include <vector>

#include "PSKUnit1.h"
#include "ascii_radio.h"
#include "fake_services.h"
#include "frequency_text.h"
#include "private_bus.h"
#include "rig_client_link.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace quillmere;

constexpr int kPollMs = 100;
constexpr int kChanges = 200;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

size_t StatusRequests(radiosim::TAsciiRadio& radio) {
  const std::vector<std::string> received = radio.Received();
  return size_t(std::count(received.begin(), received.end(), std::string("IF")));
}

void BM_RadioMoveToLabel(benchmark::State& state) {
  const QString bin = QCoreApplication::applicationDirPath();
  QTemporaryDir home;
  radiosim::TAsciiRadio radio((home.path() + "/dev/radio").toStdString(), radiosim::TAsciiDialect::kKenwood);
  QDir(home.path()).mkpath("services");
  QDir(home.path()).mkpath("logbook");
  {
    QFile ini(home.path() + "/Tarvane.ini");
    ini.open(QIODevice::WriteOnly);
    ini.write(("[RIG1]\r\nRigType=TS-2000\r\nPort=" + home.path() + "/dev/radio\r\nPollMs=" +
               QString::number(kPollMs) + "\r\nTimeoutMs=1000\r\n")
                  .toUtf8());
    QFile service(home.path() + "/services/org.tarvane.TarvaneX.service");
    service.open(QIODevice::WriteOnly);
    service.write(("[D-BUS Service]\nName=org.tarvane.TarvaneX\nExec=" + bin + "/Tarvane -AUTOMATION\n").toUtf8());
  }
  tarvane_test::PrivateBus bus({"TARVANE_HOME=" + home.path(), "QT_QPA_PLATFORM=offscreen"},
                               home.path() + "/services");
  if (!radio.Ok() || !bus.Ok()) {
    state.SkipWithError("no pseudo-terminal or no bus");
    return;
  }
  QDBusConnection conn = QDBusConnection::connectToBus(bus.Address(), "rig-follow-bench");
  {
    quillmere_test::TFakeServices fakes;
    TServices services = fakes.Make();
    services.rig = std::make_unique<TarvaneRigLink>(conn);
    RigLink* link = services.rig.get();
    TForm1Options options;
    options.ProgramFolder = bin.toStdString();
    options.WritableFolder = (home.path() + "/logbook").toStdString();
    options.LockFolder = home.path().toStdString();
    TForm1 form(std::move(services), options);
    if (!form.RigConnected()) {
      state.SkipWithError("the rig server cannot be reached");
      return;
    }
    QLabel* label = form.findChild<QLabel*>("Label4");
    // The labels are written together; the hidden copy's change signal marks the moment.
    Clock::time_point shownAt{};
    QObject::connect(form.findChild<QLineEdit*>("Edit21"), &QLineEdit::textChanged, [&] { shownAt = Clock::now(); });
    // The server's event reaching the window: what follows is the window's own share.
    Clock::time_point eventAt{};
    link->OnParamsChange = [&form, &eventAt](int rig, int params) {
      eventAt = Clock::now();  // the last event before the label changed is the one that changed it
      form.TarvaneX1ParamsChange(rig, params);
    };
    QTimer wake;  // wakes the wait below now and then, so a lost change ends in an error
    wake.start(50);
    auto waitFor = [&](const QString& text, int ms) {
      const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
      while (label->text() != text) {
        if (Clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
      }
      return true;
    };
    int64_t hz = 14000000;
    radio.SetFreq(0, hz);
    if (!waitFor(QString::fromStdString(FormatFixed(MHzFromHz(hz), 7, 5)), 20000)) {
      // The first report may have come before start-up's read; one change makes sure.
      hz += 500;
      radio.SetFreq(0, hz);
      if (!waitFor(QString::fromStdString(FormatFixed(MHzFromHz(hz), 7, 5)), 20000)) {
        state.SkipWithError("the label does not follow the simulated radio");
        return;
      }
    }

    std::mt19937 random(20261209);
    std::uniform_int_distribution<int> pauseMs(0, 2 * kPollMs);
    auto pause = [](int ms) {
      QEventLoop loop;
      QTimer::singleShot(ms, &loop, &QEventLoop::quit);
      loop.exec();
    };
    std::vector<double> latencies, windowShare;
    const size_t requestsBefore = StatusRequests(radio);
    const Clock::time_point runStart = Clock::now();
    for (auto _ : state) {
      pause(pauseMs(random));  // not timed: only SetIterationTime counts
      hz += 100;
      const QString want = QString::fromStdString(FormatFixed(MHzFromHz(hz), 7, 5));
      const Clock::time_point movedAt = Clock::now();
      radio.SetFreq(0, hz);
      if (!waitFor(want, 5000)) {
        state.SkipWithError("a change did not reach the label");
        return;
      }
      const double ms = Ms(shownAt - movedAt);
      latencies.push_back(ms);
      windowShare.push_back(Ms(shownAt - eventAt));
      state.SetIterationTime(ms / 1000.0);
    }
    const double runMs = Ms(Clock::now() - runStart);
    const size_t requests = StatusRequests(radio) - requestsBefore;

    std::sort(latencies.begin(), latencies.end());
    std::sort(windowShare.begin(), windowShare.end());
    auto at = [&](double q) {
      return latencies[std::min(latencies.size() - 1, static_cast<size_t>(q * double(latencies.size())))];
    };
    const double poll = requests > 0 ? runMs / double(requests) : 0;
    state.counters["p50_ms"] = at(0.50);
    state.counters["p99_ms"] = at(0.99);
    state.counters["max_ms"] = latencies.back();
    state.counters["poll_ms"] = poll;
    state.counters["window_p50_ms"] = windowShare[windowShare.size() / 2];
    state.counters["figure_us"] = at(0.50) * 1000;
    state.counters["floor_us"] = poll * 1000;
    state.counters["ratio"] = poll > 0 ? at(0.50) / poll : 0;
  }
  QDBusConnection::disconnectFromBus("rig-follow-bench");
}
BENCHMARK(BM_RadioMoveToLabel)->UseManualTime()->Iterations(kChanges)->Unit(benchmark::kMillisecond);

}  // namespace

// The application lives in main, not in a static: whatever Qt made for it (input devices, the
// platform's objects) goes with it before the program's exit handlers run.
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
