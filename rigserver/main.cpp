// Tarvane: the rig-control server. Handles the registration switches, hands over to a running
// instance (which then shows its dialog), creates the main window with both rigs, exports the
// bus objects and claims the bus name, then runs until the last-release or close rule ends it.
#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QTimer>
#include <cstdio>
#include <string>
#include <vector>

#include "automation_server.h"
#include "engine_rig.h"
#include "main_form.h"
#include "program_folder.h"
#include "server_registration.h"
#include "tarvane_enums.h"

using namespace tarvane;

namespace {

// Asks the running instance to show its dialog.
bool HandOver(QDBusConnection& bus) {
  QDBusMessage call = QDBusMessage::createMethodCall(kBusName, kFactoryPath, kFactoryInterface, "ShowDialog");
  call.setAutoStartService(false);
  const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
  return reply.type() == QDBusMessage::ReplyMessage;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  const TServerSwitches switches = ParseServerSwitches(args);

  if (switches.RegServer || switches.UnregServer) {
    QCoreApplication core(argc, argv);
    std::string error;
    const bool ok = switches.RegServer
                        ? RegisterServer(ServiceFileDir(), QCoreApplication::applicationFilePath().toStdString(), &error)
                        : UnregisterServer(ServiceFileDir(), &error);
    if (!ok) std::fprintf(stderr, "Tarvane: %s\n", error.c_str());
    return ok ? 0 : 1;
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName("Tarvane");
  QApplication::setQuitOnLastWindowClosed(false);

  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    std::fprintf(stderr, "Tarvane: no session bus: %s\n", qPrintable(bus.lastError().message()));
    return 1;
  }
  // Single instance: the owner of the bus name is the running server.
  if (bus.interface()->isServiceRegistered(kBusName).value()) {
    HandOver(bus);
    return 0;
  }

  TMainFormOptions options;
  options.StartedByAutomation = switches.Automation;
  options.ProgramFolder = ProgramFolder();
  options.RigsFolders = RigsFolders(options.ProgramFolder);
  options.RigFactory = MakeEngineRig;
  options.VersionMajor = TARVANE_VERSION_MAJOR;
  options.VersionMinor = TARVANE_VERSION_MINOR;
  auto form = std::make_unique<TMainForm>(options);

  auto server = std::make_unique<AutomationServer>(
      bus, form->Rig(1), form->Rig(2), *form, (TARVANE_VERSION_MAJOR << 16) + TARVANE_VERSION_MINOR);
  server->SetStartedByAutomation(switches.Automation);
  // Quit from the event loop, so that the reply to the last Release still goes out.
  server->OnQuit = [] { QTimer::singleShot(0, qApp, &QCoreApplication::quit); };
  form->SetServer(server.get());
  AutomationServer* s = server.get();
  TRigEvents& events = form->RigEvents();
  events.RigTypeChange = [s](int rig) { s->FireRigTypeChange(rig); };
  events.StatusChange = [s](int rig) { s->FireStatusChange(rig); };
  events.ParamsChange = [s](int rig, int32_t params) { s->FireParamsChange(rig, params); };
  events.CustomReply = [s](int rig, uint64_t client, const Bytes& command, const Bytes& reply) {
    s->StoreCustomReply(rig, client, command, reply);
    s->FireCustomReply(rig, client);
  };

  if (!server->RegisterFactory()) {
    std::fprintf(stderr, "Tarvane: cannot export %s\n", kFactoryPath);
    return 1;
  }
  const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> owned = bus.interface()->registerService(
      kBusName, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
  if (!owned.isValid() || owned.value() != QDBusConnectionInterface::ServiceRegistered) {
    // Another instance won the race for the name: it shows its dialog, this one ends.
    events = TRigEvents();
    form->SetServer(nullptr);
    server.reset();
    HandOver(bus);
    return 0;
  }

  if (!switches.Automation) form->ShowDialog();
  const int rc = app.exec();

  // The bus objects go first; the window (with the log and the rigs) after them.
  events = TRigEvents();
  form->SetServer(nullptr);
  server.reset();
  form.reset();
  return rc;
}
