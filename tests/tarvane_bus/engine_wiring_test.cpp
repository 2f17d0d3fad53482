// The bus objects over the real rig engine (no port open): what a member queues reaches the
// engine's write path, seen through the engine's log lines.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>

#include "automation_objects.h"
#include "engine_rig.h"
#include "rig_commands.h"
#include "tarvane_enums.h"

using namespace tarvane;  // NOLINT

namespace {

const char* kRigFile =
    "[pmFreq]\nCommand=(FA00000000000;)\nValue=2|11|vfText|1|0\n"
    "[pmRitOn]\nCommand=(RT1;)\n"
    "[pmRitOff]\nCommand=(RT0;)\n"
    "[pmRit0]\nCommand=(RC;)\n"
    "[STATUS1]\nCommand=(FA;)\nReplyEnd=(;)\nValue1=2|11|vfText|1|0|pmFreq\n";

class EngineWiring : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string path = dir.path().toStdString() + "/WireRig.ini";
    std::ofstream(path, std::ios::binary) << kRigFile;
    commands.LoadFromFile(path);
    ASSERT_TRUE(commands.Errors.empty());
    rig = MakeEngineRig(1, [this](const std::string& text) { log.push_back(text); }, events);
    rig->SetRigCommands(&commands);
    log.clear();
  }

  // The write commands generated so far, by parameter name.
  std::vector<std::string> Generated() const {
    std::vector<std::string> out;
    const std::string prefix = "Generating Write command for ";
    for (const std::string& line : log)
      if (line.rfind(prefix, 0) == 0) out.push_back(line.substr(prefix.size()));
    return out;
  }

  QTemporaryDir dir;
  TRigCommands commands;
  TRigEvents events;
  std::vector<std::string> log;
  std::unique_ptr<ServerRig> rig;
};

TEST_F(EngineWiring, ClearRitWritesTheClearCommand) {
  TRigX rigX(1, QString(), *rig, "/TarvaneX/1/Rig1");
  rigX.ClearRit();
  rigX.SetRit(PM_RITON);
  EXPECT_EQ((std::vector<std::string>{"pmRit0", "pmRitOn"}), Generated());
}

}  // namespace
