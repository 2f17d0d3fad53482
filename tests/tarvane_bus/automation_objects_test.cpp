// The bus objects over a private bus, with fake rigs: members, the corrected parameter tests,
// the set-up sequences, error replies, per-client events and the release of vanished clients.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QSignalSpy>

#include "automation_server.h"
#include "fake_rig.h"
#include "private_bus.h"
#include "tarvane_enums.h"
#include "tarvane_proxies.h"

using namespace tarvane;  // NOLINT
using tarvane_test::Finish;
using tarvane_test::WaitFor;

namespace {

class FakeDialog : public DialogHost {
 public:
  bool visible = false;
  int shows = 0;
  bool DialogVisible() const override { return visible; }
  void ShowDialog() override { visible = true; ++shows; }
  void HideDialog() override { visible = false; }
};

// One client connection with its own application object.
struct Client {
  QString name;
  QDBusConnection conn;
  QString path;
  std::unique_ptr<org::tarvane::ITarvaneX> app;
  std::unique_ptr<org::tarvane::ITarvaneXEvents> events;

  Client(const QString& address, const QString& n)
      : name(n), conn(QDBusConnection::connectToBus(address, n)) {}
  ~Client() { QDBusConnection::disconnectFromBus(name); }

  bool Create() {
    org::tarvane::ITarvaneXFactory factory(kBusName, kFactoryPath, conn);
    QDBusPendingReply<QDBusObjectPath> r = factory.CreateInstance();
    if (!Finish(r) || r.isError()) return false;
    path = r.value().path();
    app = std::make_unique<org::tarvane::ITarvaneX>(kBusName, path, conn);
    events = std::make_unique<org::tarvane::ITarvaneXEvents>(kBusName, path, conn);
    return true;
  }
  bool Advise() {
    QDBusPendingReply<> r = events->Advise();
    return Finish(r) && !r.isError();
  }
  std::unique_ptr<org::tarvane::IRigX> Rig(int n) {
    return std::make_unique<org::tarvane::IRigX>(kBusName, path + QString("/Rig%1").arg(n), conn);
  }
};

template <class T>
T Get(QDBusPendingReply<T> r) {
  EXPECT_TRUE(Finish(r));
  EXPECT_FALSE(r.isError()) << r.error().message().toStdString();
  return r.value();
}

void Do(QDBusPendingReply<> r) {
  EXPECT_TRUE(Finish(r));
  EXPECT_FALSE(r.isError()) << r.error().message().toStdString();
}

class AutomationObjects : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bus.Ok());
    srv = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(bus.Address(), "server"));
    ASSERT_TRUE(srv->isConnected());
    server = std::make_unique<AutomationServer>(*srv, rig1, rig2, dialog, 0x10002);
    server->OnQuit = [this] { ++quits; };
    ASSERT_TRUE(server->RegisterFactory());
    ASSERT_TRUE(srv->registerService(kBusName));
  }
  void TearDown() override {
    server.reset();
    srv.reset();
    QDBusConnection::disconnectFromBus("server");
  }

  tarvane_test::PrivateBus bus;
  std::unique_ptr<QDBusConnection> srv;
  tarvane_test::FakeRig rig1{1}, rig2{2};
  FakeDialog dialog;
  std::unique_ptr<AutomationServer> server;
  int quits = 0;
};

TEST_F(AutomationObjects, EachClientGetsItsOwnObjectsAndIdsAreNeverReused) {
  Client a(bus.Address(), "a"), b(bus.Address(), "b");
  ASSERT_TRUE(a.Create());
  ASSERT_TRUE(b.Create());
  EXPECT_NE(a.path, b.path);
  EXPECT_EQ(2u, server->ClientCount());
  EXPECT_EQ(a.path + "/Rig1", Get(a.app->Rig1()).path());
  EXPECT_EQ(b.path + "/Rig2", Get(b.app->Rig2()).path());
  EXPECT_EQ(a.path + "/Rig2/PortBits", Get(a.Rig(2)->PortBits()).path());
  EXPECT_EQ(257, Get(a.app->InterfaceVersion()));
  EXPECT_EQ(0x10002, Get(a.app->SoftwareVersion()));

  // Releasing b and creating again gives a path never used before.
  org::tarvane::ITarvaneXFactory factory(kBusName, kFactoryPath, b.conn);
  Do(factory.Release(QDBusObjectPath(b.path)));
  EXPECT_EQ(1u, server->ClientCount());
  const QString old = b.path;
  ASSERT_TRUE(b.Create());
  EXPECT_NE(old, b.path);
  EXPECT_NE(a.path, b.path);
  // The released object is gone from the bus.
  org::tarvane::ITarvaneX gone(kBusName, old, b.conn);
  QDBusPendingReply<int> r = gone.InterfaceVersion();
  ASSERT_TRUE(Finish(r));
  EXPECT_TRUE(r.isError());
}

TEST_F(AutomationObjects, OnlyTheOwnerMayReleaseAnObject) {
  Client a(bus.Address(), "a"), b(bus.Address(), "b");
  ASSERT_TRUE(a.Create());
  org::tarvane::ITarvaneXFactory factory(kBusName, kFactoryPath, b.conn);
  QDBusPendingReply<> r = factory.Release(QDBusObjectPath(a.path));
  ASSERT_TRUE(Finish(r));
  ASSERT_TRUE(r.isError());
  EXPECT_EQ(QString(kErrorInvalidArg), r.error().name());
  EXPECT_TRUE(r.error().message().startsWith("0x80070057: "));
  EXPECT_EQ(1u, server->ClientCount());
}

TEST_F(AutomationObjects, ReadsComeFromTheStoredValues) {
  Client a(bus.Address(), "a");
  ASSERT_TRUE(a.Create());
  auto rig = a.Rig(1);
  EXPECT_EQ("NONE", Get(rig->RigType()).toStdString());
  EXPECT_EQ(0, Get(rig->ReadableParams()));
  EXPECT_EQ(int(PM_UNKNOWN), Get(rig->Mode()));  // nothing known yet
  EXPECT_EQ(int(PM_UNKNOWN), Get(rig->Split()));
  EXPECT_EQ(int(ST_NOTCONFIGURED), Get(rig->Status()));
  EXPECT_EQ("Rig is not configured", Get(rig->StatusStr()).toStdString());

  rig1.Configure("IC-Test", PM_FREQ | PM_SSB_U, PM_FREQ);
  rig1.freq = 14074000;
  rig1.mode = pmSSB_U;
  rig1.split = pmSplitOn;
  rig2.freq = 7000000;
  EXPECT_EQ("IC-Test", Get(rig->RigType()).toStdString());
  EXPECT_EQ(14074000, Get(rig->Freq()));
  EXPECT_EQ(int(PM_SSB_U), Get(rig->Mode()));
  EXPECT_EQ(int(PM_SPLITON), Get(rig->Split()));
  EXPECT_EQ(7000000, Get(a.Rig(2)->Freq()));
  EXPECT_TRUE(rig1.writes.empty());
}

TEST_F(AutomationObjects, ParamTestsUseTheirOwnSets) {
  Client a(bus.Address(), "a");
  ASSERT_TRUE(a.Create());
  auto rig = a.Rig(1);
  // Readable: frequency only; writeable: mode only.
  rig1.Configure("R", PM_FREQ, PM_CW_U);
  EXPECT_TRUE(Get(rig->IsParamReadable(PM_FREQ)));
  EXPECT_FALSE(Get(rig->IsParamReadable(PM_CW_U)));
  EXPECT_TRUE(Get(rig->IsParamWriteable(PM_CW_U)));
  EXPECT_FALSE(Get(rig->IsParamWriteable(PM_FREQ)));
  // Any common bit counts.
  EXPECT_TRUE(Get(rig->IsParamReadable(PM_FREQ | PM_AM)));
}

TEST_F(AutomationObjects, WritesQueueThroughTheEngineSetters) {
  Client a(bus.Address(), "a");
  ASSERT_TRUE(a.Create());
  auto rig = a.Rig(2);
  Do(rig->SetFreq(14000000));
  Do(rig->SetPitch(600));
  Do(rig->SetVfo(PM_VFOB));
  Do(rig->SetMode(PM_FM));
  Do(rig->SetMode(PM_FM | PM_AM));  // not a single bit: passed on as "none", which is ignored
  Do(rig->SetRit(PM_RITON));
  Do(rig->ClearRit());
  EXPECT_EQ((std::vector<std::string>{"SetFreq 14000000", "SetPitch 600", "SetVfo 12", "SetMode 30",
                                      "SetMode 0", "SetRit 17", "ClearRit 6"}),
            rig2.writes);
  EXPECT_TRUE(rig1.writes.empty());
}

TEST_F(AutomationObjects, SimplexAndSplitSetUpTakeTheFirstFittingSequence) {
  Client a(bus.Address(), "a");
  ASSERT_TRUE(a.Create());
  auto rig = a.Rig(1);

  // Only the frequency is writeable: nothing is sent, RIT and XIT are left alone.
  rig1.Configure("R", 0, PM_FREQ);
  Do(rig->SetSimplexMode(7050000));
  EXPECT_TRUE(rig1.writes.empty());

  rig1.writeable = PM_FREQ | PM_VFOA | PM_VFOB | PM_VFOEQUAL;
  Do(rig->SetSimplexMode(7050000));
  EXPECT_EQ((std::vector<std::string>{"SetVfo 12", "SetFreq 7050000", "SetVfo 11", "SetFreq 7050000",
                                      "SetRit 18", "SetXit 20"}),
            rig1.writes);

  rig1.writes.clear();
  Do(rig->SetSplitMode(14020000, 14025000));
  // Sequence 2 (frequency and VFO equal) comes before sequence 3.
  EXPECT_EQ((std::vector<std::string>{"SetFreq 14025000", "SetVfo 13", "SetFreq 14020000", "SetSplit 15",
                                      "SetRit 18", "SetXit 20"}),
            rig1.writes);

  rig1.writes.clear();
  rig1.writeable = PM_FREQA | PM_FREQB | PM_VFOAB | PM_VFOAA;
  Do(rig->SetSplitMode(1, 2));
  Do(rig->SetSimplexMode(3));
  EXPECT_EQ((std::vector<std::string>{"SetFreqA 1", "SetFreqB 2", "SetVfo 8", "SetRit 18", "SetXit 20",
                                      "SetFreqA 3", "SetVfo 7", "SetRit 18", "SetXit 20"}),
            rig1.writes);

  // Both VFOs and split, but nothing to select, copy or exchange a VFO with: no sequence fits,
  // and the client is told so instead of taking the split as made.
  rig1.writes.clear();
  rig1.writeable = PM_FREQ | PM_FREQA | PM_FREQB | PM_SPLITON | PM_SPLITOFF | PM_RITOFF | PM_XITOFF;
  QDBusPendingReply<> refused = rig->SetSplitMode(14020000, 14025000);
  ASSERT_TRUE(Finish(refused));
  ASSERT_TRUE(refused.isError());
  EXPECT_EQ(QString(kErrorUnexpected), refused.error().name());
  EXPECT_NE(std::string::npos, refused.error().message().toStdString().find("0x8000FFFF: "));
  EXPECT_TRUE(rig1.writes.empty());
  // A simplex set-up the same rig type can make still succeeds.
  Do(rig->SetSimplexMode(7050000));
  EXPECT_EQ((std::vector<std::string>{"SetFreq 7050000", "SetSplit 16", "SetRit 18", "SetXit 20"}),
            rig1.writes);
}

TEST_F(AutomationObjects, FrequenciesDerivedFromTheStoredState) {
  Client a(bus.Address(), "a");
  ASSERT_TRUE(a.Create());
  auto rig = a.Rig(1);

  rig1.mode = pmCW_L;
  rig1.pitch = 600;
  rig1.freq = 14000;
  EXPECT_EQ(13900, Get(rig->FrequencyOfTone(700)));
  rig1.mode = pmSSB_L;
  EXPECT_EQ(13300, Get(rig->FrequencyOfTone(700)));
  rig1.mode = pmCW_U;
  EXPECT_EQ(14100, Get(rig->FrequencyOfTone(700)));

  // Without a rig type both frequency reads fail with an error reply.
  QDBusPendingReply<int> r = rig->GetRxFrequency();
  ASSERT_TRUE(Finish(r));
  ASSERT_TRUE(r.isError());
  EXPECT_EQ(QString(kErrorUnexpected), r.error().name());
  EXPECT_TRUE(r.error().message().startsWith("0x8000FFFF: "));
  QDBusPendingReply<int> t = rig->GetTxFrequency();
  ASSERT_TRUE(Finish(t));
  EXPECT_TRUE(t.isError());

  rig1.Configure("R", PM_FREQA | PM_FREQB, 0);
  rig1.freq = 7000000;
  rig1.freqA = 14000000;
  rig1.freqB = 14005000;
  rig1.vfo = pmVfoAB;
  rig1.rit = pmRitOn;
  rig1.ritOffset = 150;
  EXPECT_EQ(14000150, Get(rig->GetRxFrequency()));  // A plus RIT
  EXPECT_EQ(14005000, Get(rig->GetTxFrequency()));  // B, XIT off
  rig1.vfo = pmNone;
  rig1.tx = pmTx;
  rig1.split = pmSplitOn;
  rig1.rit = pmRitOff;
  rig1.xit = pmXitOn;
  EXPECT_EQ(0, Get(rig->GetRxFrequency()));
  EXPECT_EQ(7000150, Get(rig->GetTxFrequency()));
  rig1.tx = pmRx;
  EXPECT_EQ(7000000, Get(rig->GetRxFrequency()));
  EXPECT_EQ(150, Get(rig->GetTxFrequency()));
}

// A frequency beyond the 32-bit range fails with a range error instead of wrapping round to a
// negative number; the largest and smallest that fit still come back.
TEST_F(AutomationObjects, DerivedFrequenciesOutOfRangeFail) {
  Client a(bus.Address(), "a");
  ASSERT_TRUE(a.Create());
  auto rig = a.Rig(1);
  rig1.Configure("R", PM_FREQA, 0);
  rig1.vfo = pmVfoAA;
  rig1.rit = pmRitOn;
  rig1.xit = pmXitOn;
  auto fails = [](QDBusPendingReply<int> r) {
    return Finish(r) && r.isError() && r.error().name() == QString(kErrorUnexpected) &&
           r.error().message().endsWith("Range check error");
  };
  struct Row {
    TRigParam mode;
    int32_t freq, pitch, tone;
    bool ok;
    int32_t result;
  };
  const Row rows[] = {
      {pmSSB_U, 14000000, 0, INT32_MAX, false, 0},
      {pmSSB_U, 0, 0, INT32_MAX, true, INT32_MAX},
      {pmSSB_L, 0, 0, INT32_MIN, false, 0},   // -(-2^31) does not fit
      {pmSSB_L, -1, 0, INT32_MIN, true, INT32_MAX},
      {pmCW_U, INT32_MIN, 700, -1, false, 0},
      {pmCW_U, 200000000, -2000000000, 700, false, 0},
      {pmCW_L, 14000000, 600, 700, true, 13999900},
  };
  for (const Row& row : rows) {
    rig1.mode = row.mode;
    rig1.freq = row.freq;
    rig1.pitch = row.pitch;
    SCOPED_TRACE(row.tone);
    if (row.ok) {
      EXPECT_EQ(row.result, Get(rig->FrequencyOfTone(row.tone)));
    } else {
      EXPECT_TRUE(fails(rig->FrequencyOfTone(row.tone)));
    }
  }
  rig1.freqA = INT32_MAX - 100;
  rig1.ritOffset = 100;
  EXPECT_EQ(INT32_MAX, Get(rig->GetRxFrequency()));
  EXPECT_EQ(INT32_MAX, Get(rig->GetTxFrequency()));
  rig1.ritOffset = 101;
  EXPECT_TRUE(fails(rig->GetRxFrequency()));
  EXPECT_TRUE(fails(rig->GetTxFrequency()));
}

TEST_F(AutomationObjects, CustomCommandsTakeStringsAndByteArraysOnly) {
  Client a(bus.Address(), "a");
  ASSERT_TRUE(a.Create());
  auto rig = a.Rig(1);
  Do(rig->SendCustomCommand(QDBusVariant(42), 5, QDBusVariant(QString(";"))));
  EXPECT_TRUE(rig1.writes.empty());
  Do(rig->SendCustomCommand(QDBusVariant(QString("FA;")), 0, QDBusVariant(QString(";"))));
  Do(rig->SendCustomCommand(QDBusVariant(QByteArray("\xFE\x00\x94", 3)), 6, QDBusVariant(7)));
  const QString id = a.path.section('/', -1);
  EXPECT_EQ((std::vector<std::string>{"Custom " + id.toStdString() + " 46413B 0 [;]",
                                      "Custom " + id.toStdString() + " FE0094 6 []"}),
            rig1.writes);
}

TEST_F(AutomationObjects, PortBitsFollowThePortAndLockSucceeds) {
  Client a(bus.Address(), "a");
  ASSERT_TRUE(a.Create());
  org::tarvane::IPortBits bits(kBusName, a.path + "/Rig1/PortBits", a.conn);
  EXPECT_TRUE(Get(bits.Lock()));
  Do(bits.Unlock());
  Do(bits.SetRts(true));
  EXPECT_TRUE(rig1.rts);
  EXPECT_TRUE(Get(bits.Rts()));
  EXPECT_FALSE(Get(bits.Dtr()));
  rig1.cts = true;
  EXPECT_TRUE(Get(bits.Cts()));
  EXPECT_FALSE(Get(bits.Dsr()));
}

TEST_F(AutomationObjects, EventsReachOnlyAdvisedClients) {
  Client a(bus.Address(), "a"), b(bus.Address(), "b");
  ASSERT_TRUE(a.Create());
  ASSERT_TRUE(b.Create());
  QSignalSpy aParams(a.events.get(), &org::tarvane::ITarvaneXEvents::ParamsChange);
  QSignalSpy bParams(b.events.get(), &org::tarvane::ITarvaneXEvents::ParamsChange);
  QSignalSpy aStatus(a.events.get(), &org::tarvane::ITarvaneXEvents::StatusChange);
  QSignalSpy aType(a.events.get(), &org::tarvane::ITarvaneXEvents::RigTypeChange);
  QSignalSpy aVisible(a.events.get(), &org::tarvane::ITarvaneXEvents::VisibleChange);
  ASSERT_TRUE(a.Advise());

  server->PostParamsChange(1, PM_FREQ);
  server->PostStatusChange(2);
  server->FireRigTypeChange(1);
  server->FireVisibleChange();
  ASSERT_TRUE(WaitFor([&] { return aParams.size() == 1 && aStatus.size() == 1 && aType.size() == 1 &&
                                   aVisible.size() == 1; }));
  EXPECT_EQ(1, aParams[0][0].toInt());
  EXPECT_EQ(int(PM_FREQ), aParams[0][1].toInt());
  EXPECT_EQ(2, aStatus[0][0].toInt());
  EXPECT_EQ(1, aType[0][0].toInt());
  // b never advised: a round trip later it still has nothing.
  Get(b.app->InterfaceVersion());
  WaitFor([] { return false; }, 100);
  EXPECT_EQ(0, bParams.size());

  // After Unadvise a hears nothing more.
  Do(a.events->Unadvise());
  server->PostParamsChange(1, PM_CW_U);
  Get(a.app->InterfaceVersion());
  WaitFor([] { return false; }, 100);
  EXPECT_EQ(1, aParams.size());
}

TEST_F(AutomationObjects, CustomReplyGoesOnlyToTheSenderWhileItLives) {
  Client a(bus.Address(), "a"), b(bus.Address(), "b");
  ASSERT_TRUE(a.Create());
  ASSERT_TRUE(b.Create());
  QSignalSpy aReply(a.events.get(), &org::tarvane::ITarvaneXEvents::CustomReply);
  QSignalSpy bReply(b.events.get(), &org::tarvane::ITarvaneXEvents::CustomReply);
  ASSERT_TRUE(a.Advise());
  ASSERT_TRUE(b.Advise());
  const uint64_t aId = a.path.section('/', -1).toULongLong();
  const uint64_t bId = b.path.section('/', -1).toULongLong();

  server->StoreCustomReply(1, aId, {'F', 'A', ';'}, {'F', 'A', '1', ';'});
  server->PostCustomReply(1, aId);
  ASSERT_TRUE(WaitFor([&] { return aReply.size() == 1; }));
  EXPECT_EQ(1, aReply[0][0].toInt());
  EXPECT_EQ(QByteArray("FA;"), aReply[0][1].toByteArray());
  EXPECT_EQ(QByteArray("FA1;"), aReply[0][2].toByteArray());

  // A reply for a client released before it came is dropped.
  server->StoreCustomReply(1, bId, {1}, {2});
  server->PostCustomReply(1, bId);
  server->ReleaseClient(bId);
  Get(a.app->InterfaceVersion());
  WaitFor([] { return false; }, 100);
  EXPECT_EQ(0, bReply.size());
  EXPECT_EQ(1, aReply.size());
}

TEST_F(AutomationObjects, VanishedClientIsReleasedAndBusStartedServerQuits) {
  server->SetStartedByAutomation(true);
  Client a(bus.Address(), "a");
  ASSERT_TRUE(a.Create());
  {
    Client b(bus.Address(), "b");
    ASSERT_TRUE(b.Create());
    ASSERT_TRUE(b.Create());  // a second object of the same client
    EXPECT_EQ(3u, server->ClientCount());
  }  // b leaves the bus
  ASSERT_TRUE(WaitFor([&] { return server->ClientCount() == 1; }));
  EXPECT_EQ(0, quits);
  org::tarvane::ITarvaneXFactory factory(kBusName, kFactoryPath, a.conn);
  Do(factory.Release(QDBusObjectPath(a.path)));
  EXPECT_EQ(0u, server->ClientCount());
  EXPECT_EQ(1, quits);
}

TEST_F(AutomationObjects, HandStartedServerStaysWhileItsDialogShows) {
  Client a(bus.Address(), "a");
  ASSERT_TRUE(a.Create());
  Do(a.app->SetDialogVisible(true));
  EXPECT_TRUE(dialog.visible);
  EXPECT_TRUE(Get(a.app->DialogVisible()));
  org::tarvane::ITarvaneXFactory factory(kBusName, kFactoryPath, a.conn);
  Do(factory.Release(QDBusObjectPath(a.path)));
  EXPECT_EQ(0, quits);

  ASSERT_TRUE(a.Create());
  Do(a.app->SetDialogVisible(false));
  EXPECT_FALSE(Get(a.app->DialogVisible()));
  Do(factory.Release(QDBusObjectPath(a.path)));
  EXPECT_EQ(1, quits);
}

TEST_F(AutomationObjects, ShowDialogHandOver) {
  Client a(bus.Address(), "a");
  org::tarvane::ITarvaneXFactory factory(kBusName, kFactoryPath, a.conn);
  Do(factory.ShowDialog());
  EXPECT_EQ(1, dialog.shows);
}
TEST_F(AutomationObjects, ObjectsOfAnotherClientRefuseTheCall) {
  Client a(bus.Address(), "a"), b(bus.Address(), "b");
  ASSERT_TRUE(a.Create());
  ASSERT_TRUE(a.Advise());
  QSignalSpy aParams(a.events.get(), &org::tarvane::ITarvaneXEvents::ParamsChange);
  auto refused = [](QDBusPendingCall call) {
    QDBusPendingReply<> r(call);
    EXPECT_TRUE(Finish(r));
    EXPECT_TRUE(r.isError());
    EXPECT_EQ(QString(kErrorInvalidArg), r.error().name());
    EXPECT_TRUE(r.error().message().startsWith("0x80070057: ")) << r.error().message().toStdString();
  };
  // b reaches a's objects by their paths: it may neither take a's events nor drive a's rigs.
  org::tarvane::ITarvaneXEvents foreignEvents(kBusName, a.path, b.conn);
  refused(foreignEvents.Advise());
  refused(foreignEvents.Unadvise());
  org::tarvane::ITarvaneX foreignApp(kBusName, a.path, b.conn);
  refused(foreignApp.SetDialogVisible(true));
  refused(foreignApp.Rig1());
  org::tarvane::IRigX foreignRig(kBusName, a.path + "/Rig1", b.conn);
  refused(foreignRig.SetFreq(7000000));
  refused(foreignRig.SendCustomCommand(QDBusVariant(QString("ID;")), 0, QDBusVariant(QString(";"))));
  refused(foreignRig.Freq());
  org::tarvane::IPortBits foreignBits(kBusName, a.path + "/Rig1/PortBits", b.conn);
  refused(foreignBits.SetRts(true));
  refused(foreignBits.Cts());
  EXPECT_TRUE(rig1.writes.empty());
  EXPECT_FALSE(rig1.rts);
  EXPECT_FALSE(dialog.visible);

  // a is still its objects' event sink.
  server->PostParamsChange(1, PM_FREQ);
  EXPECT_TRUE(WaitFor([&] { return aParams.size() == 1; }));
  // The owner itself is served as before.
  Do(a.Rig(1)->SetFreq(7000000));
  EXPECT_EQ((std::vector<std::string>{"SetFreq 7000000"}), rig1.writes);
}

TEST_F(AutomationObjects, ClientGoneBeforeItsObjectWasMadeIsReleased) {
  {
    QDBusConnection gone = QDBusConnection::connectToBus(bus.Address(), "gone");
    org::tarvane::ITarvaneXFactory factory(kBusName, kFactoryPath, gone);
    factory.CreateInstance();  // no wait: the client leaves before the server answers
  }
  QDBusConnection::disconnectFromBus("gone");
  // The server looks the owner up without blocking and drops the object when the answer comes.
  ASSERT_TRUE(WaitFor([&] { return quits == 1; }));
  EXPECT_EQ(0u, server->ClientCount());
}

TEST_F(AutomationObjects, CustomCommandTheRigRefusesIsAnError) {
  Client a(bus.Address(), "a");
  ASSERT_TRUE(a.Create());
  rig1.refuseCustom = true;
  QDBusPendingReply<> r = a.Rig(1)->SendCustomCommand(QDBusVariant(QByteArray(5000, 'x')), 0,
                                                      QDBusVariant(QString(";")));
  ASSERT_TRUE(Finish(r));
  ASSERT_TRUE(r.isError());
  EXPECT_EQ(QString(kErrorInvalidArg), r.error().name());
  EXPECT_TRUE(r.error().message().startsWith("0x80070057: "));
}

TEST_F(AutomationObjects, MalformedCallsGetErrorsAndChangeNothing) {
  Client a(bus.Address(), "a");
  ASSERT_TRUE(a.Create());
  const QString rigPath = a.path + "/Rig1";
  auto call = [&](const QString& path, const char* iface, const char* member, const QVariantList& args) {
    QDBusMessage m = QDBusMessage::createMethodCall(kBusName, path, iface, member);
    m.setArguments(args);
    QDBusPendingCall pending = a.conn.asyncCall(m);
    EXPECT_TRUE(Finish(pending));
    return pending.reply();
  };
  // Wrong argument types and counts are refused by the bus layer before any member runs.
  EXPECT_EQ(QDBusMessage::ErrorMessage, call(rigPath, kRigInterface, "SetFreq", {QString("14000000")}).type());
  EXPECT_EQ(QDBusMessage::ErrorMessage, call(rigPath, kRigInterface, "SetFreq", {}).type());
  EXPECT_EQ(QDBusMessage::ErrorMessage,
            call(rigPath, kRigInterface, "SendCustomCommand", {QByteArray("ID;"), 0, QByteArray(";")}).type());
  // A command of another type inside the variant sends nothing.
  QVariantMap map{{"x", 1}};
  EXPECT_EQ(QDBusMessage::ReplyMessage,
            call(rigPath, kRigInterface, "SendCustomCommand",
                 {QVariant::fromValue(QDBusVariant(QVariant::fromValue(map))), 0,
                  QVariant::fromValue(QDBusVariant(QStringList{"a", "b"}))}).type());
  EXPECT_EQ(QDBusMessage::ReplyMessage,
            call(rigPath, kRigInterface, "SendCustomCommand",
                 {QVariant::fromValue(QDBusVariant(QVariant::fromValue(QDBusVariant(QString("ID;"))))), 0,
                  QVariant::fromValue(QDBusVariant(7))}).type());
  EXPECT_TRUE(rig1.writes.empty());
  // Parameters that are no single flag bit are passed on as none; negative values go as they are.
  Do(a.Rig(1)->SetMode(-1));
  Do(a.Rig(1)->SetVfo(0));
  Do(a.Rig(1)->SetFreq(-5));
  EXPECT_EQ((std::vector<std::string>{"SetMode 0", "SetVfo 0", "SetFreq -5"}), rig1.writes);
  EXPECT_FALSE(Get(a.Rig(1)->IsParamReadable(-1)));
  EXPECT_EQ(int(PM_UNKNOWN), Get(a.Rig(1)->Vfo()));
}

// The session bus goes away (the session ends) while a client holds objects: every client went
// with it and the last-release rule decides, so no unreachable server is left behind holding the
// radios' ports.
TEST(AutomationServerBusLost, ClientsAreReleasedAndTheLastReleaseRuleApplies) {
  struct Case {
    bool byAutomation, dialogVisible;
    int quits;
  };
  for (const Case c : {Case{true, false, 1}, Case{true, true, 1}, Case{false, false, 1}, Case{false, true, 0}}) {
    auto lost = std::make_unique<tarvane_test::PrivateBus>();
    ASSERT_TRUE(lost->Ok());
    tarvane_test::FakeRig r1{1}, r2{2};
    FakeDialog dialog;
    int quits = 0;
    {
      QDBusConnection conn = QDBusConnection::connectToBus(lost->Address(), "lost-server");
      ASSERT_TRUE(conn.isConnected());
      AutomationServer server(conn, r1, r2, dialog, 0x10000);
      server.SetStartedByAutomation(c.byAutomation);
      server.OnQuit = [&] { ++quits; };
      ASSERT_TRUE(server.RegisterFactory());
      ASSERT_TRUE(conn.registerService(kBusName));
      Client a(lost->Address(), "lost-client");
      ASSERT_TRUE(a.Create());
      Do(a.app->SetDialogVisible(c.dialogVisible));
      lost.reset();  // the bus daemon ends
      WaitFor([&] { return quits > 0; }, c.quits ? 5000 : 1500);
      EXPECT_EQ(c.quits, quits) << c.byAutomation << c.dialogVisible;
      EXPECT_EQ(0u, server.ClientCount());
    }
    QDBusConnection::disconnectFromBus("lost-server");
  }
}

// Any call to the bus name starts the server, also one on an object of an earlier run that no
// longer exists; a server so started that never gets a client must not stay on for ever, unseen
// and holding the radios' ports.
TEST(AutomationServerStartup, BusStartedServerWithoutAClientEnds) {
  for (const bool withClient : {false, true}) {
    tarvane_test::PrivateBus bus;
    ASSERT_TRUE(bus.Ok());
    tarvane_test::FakeRig r1{1}, r2{2};
    FakeDialog dialog;
    int quits = 0;
    {
      QDBusConnection conn = QDBusConnection::connectToBus(bus.Address(), "startup-server");
      AutomationServer server(conn, r1, r2, dialog, 0x10000);
      server.SetStartedByAutomation(true);
      server.SetStartupGraceMs(300);
      server.OnQuit = [&] { ++quits; };
      ASSERT_TRUE(server.RegisterFactory());
      ASSERT_TRUE(conn.registerService(kBusName));
      Client a(bus.Address(), "startup-client");
      if (withClient) {
        ASSERT_TRUE(a.Create());
      }
      WaitFor([&] { return quits > 0; }, 1500);
      EXPECT_EQ(withClient ? 0 : 1, quits);
    }
    QDBusConnection::disconnectFromBus("startup-server");
  }
}

}  // namespace
