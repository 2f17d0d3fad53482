// RigLink: the logbook's link to rig 1 of the rig server Tarvane, the seam through which every rig
// read and write of the logbook goes, so that tests run the windows against a fake radio.
// TarvaneRigLink is the real link: a client of the server's bus interface (automation/), which
// creates its own application object on Connect (the bus starts the server when needed) and takes
// the rig object anew for every access.
//
// Reads answer nullopt and writes false when the call fails (no server, no rig, an error reply,
// no answer within kRigBusTimeoutMs): the callers decide which failures they drop. Events arrive
// through OnParamsChange and OnRigTypeChange on the main thread.
//
// Main thread only.
#pragma once

#include <QDBusConnection>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tarvane {
class TarvaneXClient;
}


namespace quillmere {

// The longest a read or write of rig 1 waits for the server's answer. The server answers from
// what it stored, at once; a server that hangs must not hold the window for long.
inline constexpr int kRigBusTimeoutMs = 1500;

// The rig properties the logbook reads and writes (frequencies in Hz; the others RigParamX bits).
enum class TRigProperty { Freq, FreqA, FreqB, Pitch, RitOffset, Vfo, Split, Rit, Xit, Tx, Mode };

class RigLink {
 public:
  virtual ~RigLink() = default;

  // Connects (again); false with the reason in *error.
  virtual bool Connect(std::string* error) = 0;
  virtual void Disconnect() = 0;
  virtual bool Connected() const = 0;

  virtual std::optional<int32_t> Read(TRigProperty property) = 0;
  virtual bool Write(TRigProperty property, int32_t value) = 0;
  virtual bool ClearRit() = 0;
  virtual std::optional<std::string> RigType() = 0;
  // Shows or hides the server's settings window.
  virtual bool SetDialogVisible(bool visible) = 0;

  // Events of the server: (rig number, changed parameters) and (rig number).
  std::function<void(int, int)> OnParamsChange;
  std::function<void(int)> OnRigTypeChange;
};

class TarvaneRigLink : public RigLink {
 public:
  explicit TarvaneRigLink(QDBusConnection connection = QDBusConnection::sessionBus());
  ~TarvaneRigLink() override;

  bool Connect(std::string* error) override;
  void Disconnect() override;
  bool Connected() const override;
  std::optional<int32_t> Read(TRigProperty property) override;
  bool Write(TRigProperty property, int32_t value) override;
  bool ClearRit() override;
  std::optional<std::string> RigType() override;
  bool SetDialogVisible(bool visible) override;
  // This client's application object on the server; empty while not connected.
  QString ObjectPath() const;

 private:
  QDBusConnection connection_;
  std::unique_ptr<tarvane::TarvaneXClient> client_;
};

}  // namespace quillmere
