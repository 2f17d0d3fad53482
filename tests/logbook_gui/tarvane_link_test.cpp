// The logbook's real rig link against the real rig server on a private session bus. On a first
// start the bus does not know Tarvane yet: the window runs "Tarvane /RegServer" from its program
// folder, and the bus then starts the server for it.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "PSKUnit1.h"
#include "fake_services.h"
#include "launcher.h"
#include "private_bus.h"
#include "rig_client_link.h"

using namespace quillmere_test;

TEST(TarvaneRigLink, FirstStartRegistersTheServerAndReachesItThroughTheBus) {
  QTemporaryDir serverHome, writable, lock;
  tarvane_test::PrivateBus bus({"TARVANE_HOME=" + serverHome.path()});
  ASSERT_TRUE(bus.Ok());
  const QByteArray previous = qgetenv("TARVANE_DBUS_SERVICE_DIR");
  qputenv("TARVANE_DBUS_SERVICE_DIR", bus.ServiceDir().toUtf8());
  const QString serviceFile = bus.ServiceDir() + "/org.tarvane.TarvaneX.service";
  ASSERT_FALSE(QFile::exists(serviceFile));
  {
    QDBusConnection connection = QDBusConnection::connectToBus(bus.Address(), "quillmere-rig-link-test");
    ASSERT_TRUE(connection.isConnected());
    TFakeServices fakes;
    TServices services = fakes.Make();
    services.rig = std::make_unique<TarvaneRigLink>(connection);
    services.launcher = std::make_unique<DesktopLauncher>();
    TForm1Options options;
    options.ProgramFolder = qEnvironmentVariable("QM_TEST_BIN_DIR").toStdString();
    options.WritableFolder = writable.path().toStdString();
    options.LockFolder = lock.path().toStdString();
    TForm1 form(std::move(services), options);
    EXPECT_TRUE(form.RigConnected());
    EXPECT_TRUE(QFile::exists(serviceFile));
    EXPECT_TRUE(form.StartupProblems().isEmpty()) << form.StartupProblems().join('\n').toStdString();
    EXPECT_NE(form.StatusText(6), "No rig");
    EXPECT_TRUE(form.Services().rig->SetDialogVisible(false));
  }
  QDBusConnection::disconnectFromBus("quillmere-rig-link-test");
  if (previous.isEmpty())
    qunsetenv("TARVANE_DBUS_SERVICE_DIR");
  else
    qputenv("TARVANE_DBUS_SERVICE_DIR", previous);
}
