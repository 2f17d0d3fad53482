// A client process for the server tests and the benchmark: connects to Tarvane on the session
// bus, prints "PATH <object path>", then one line per event ("ParamsChange 1 2",
// "CustomReply 1 <hex command> <hex reply>", ...), until it is killed or its input closes.
// Options: --no-advise (never subscribe), --stamp (end each ParamsChange line with the
// steady-clock time of its arrival in ns), --custom <rig> <text> <reply length> <reply end>
// (send one custom command after connecting).
#include <QCoreApplication>
#include <QDBusConnection>
#include <QSocketNotifier>
#include <chrono>
#include <cstdio>
#include <unistd.h>

#include "tarvane_client.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  tarvane::TarvaneXClient client(QDBusConnection::sessionBus());
  const bool stamp = args.contains("--stamp");
  QObject::connect(&client, &tarvane::TarvaneXClient::ParamsChange, [stamp](int rig, int params) {
    if (stamp) {
      const long long ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                               std::chrono::steady_clock::now().time_since_epoch()).count();
      std::printf("ParamsChange %d %d %lld\n", rig, params, ns);
    } else {
      std::printf("ParamsChange %d %d\n", rig, params);
    }
    std::fflush(stdout);
  });
  QObject::connect(&client, &tarvane::TarvaneXClient::StatusChange, [](int rig) {
    std::printf("StatusChange %d\n", rig);
    std::fflush(stdout);
  });
  QObject::connect(&client, &tarvane::TarvaneXClient::RigTypeChange, [](int rig) {
    std::printf("RigTypeChange %d\n", rig);
    std::fflush(stdout);
  });
  QObject::connect(&client, &tarvane::TarvaneXClient::VisibleChange, [] {
    std::printf("VisibleChange\n");
    std::fflush(stdout);
  });
  QObject::connect(&client, &tarvane::TarvaneXClient::CustomReply,
                   [](int rig, const QByteArray& command, const QByteArray& reply) {
                     std::printf("CustomReply %d %s %s\n", rig, command.toHex().toUpper().constData(),
                                 reply.toHex().toUpper().constData());
                     std::fflush(stdout);
                   });
  QString error;
  if (!client.Connect(&error, !args.contains("--no-advise"))) {
    std::printf("ERROR %s\n", qPrintable(error));
    return 1;
  }
  std::printf("PATH %s\n", qPrintable(client.ObjectPath()));
  std::fflush(stdout);
  const qsizetype custom = args.indexOf("--custom");
  if (custom > 0 && custom + 4 < args.size()) {
    auto rig = client.Rig(args[custom + 1].toInt());
    if (rig) {
      rig->SendCustomCommand(QDBusVariant(args[custom + 2]), args[custom + 3].toInt(),
                             QDBusVariant(args[custom + 4]))
          .waitForFinished();
    }
  }
  // End when the test closes our input.
  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  QObject::connect(&input, &QSocketNotifier::activated, [&] {
    char buf[256];
    if (read(STDIN_FILENO, buf, sizeof buf) <= 0) app.quit();
  });
  return app.exec();
}
