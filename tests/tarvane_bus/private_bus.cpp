#include "private_bus.h"

#include <QDir>
#include <QFile>
#include <QThread>

namespace tarvane_test {

PrivateBus::PrivateBus(const QStringList& environment, const QString& serviceDir)
    : serviceDir_(serviceDir.isEmpty() ? dir_.path() + "/services" : serviceDir) {
  QDir().mkpath(serviceDir_);
  const QString config = dir_.path() + "/bus.conf";
  QFile f(config);
  if (!f.open(QIODevice::WriteOnly)) return;
  f.write(QString(
              "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
              "<busconfig>\n"
              "  <type>session</type>\n"
              "  <listen>unix:dir=%1</listen>\n"
              "  <auth>EXTERNAL</auth>\n"
              "  <servicedir>%2</servicedir>\n"
              "  <policy context=\"default\">\n"
              "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
              "    <allow eavesdrop=\"true\"/>\n"
              "    <allow own=\"*\"/>\n"
              "  </policy>\n"
              "</busconfig>\n")
              .arg(dir_.path(), ServiceDir())
              .toUtf8());
  f.close();
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const QString& kv : environment) {
    const qsizetype eq = kv.indexOf('=');
    env.insert(kv.left(eq), kv.mid(eq + 1));
  }
  daemon_.setProcessEnvironment(env);
  daemon_.setProcessChannelMode(QProcess::SeparateChannels);
  daemon_.start("dbus-daemon", {"--config-file=" + config, "--nofork", "--nopidfile",
                                "--print-address=1"});
  if (!daemon_.waitForStarted(5000)) return;
  QElapsedTimer t;
  t.start();
  QByteArray out;
  while (!out.contains('\n') && t.elapsed() < 5000) {
    daemon_.waitForReadyRead(200);
    out += daemon_.readAllStandardOutput();
  }
  address_ = QString::fromUtf8(out).trimmed();
}

PrivateBus::~PrivateBus() {
  if (daemon_.state() != QProcess::NotRunning) {
    daemon_.terminate();
    if (!daemon_.waitForFinished(3000)) {
      daemon_.kill();
      daemon_.waitForFinished(3000);
    }
  }
}

bool WaitFor(const std::function<bool()>& cond, int ms) {
  QElapsedTimer t;
  t.start();
  while (!cond()) {
    if (t.elapsed() > ms) return cond();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::usleep(500);
  }
  return true;
}

}  // namespace tarvane_test
