// TForm1: what the logbook writes to rig 1 (a frequency or a mode sent from a memory, a frequency
// step, a mode button) and the band-limit check that follows every frequency the rig reports.
// Writes go through the rig link; a server or radio that does not answer is no error here, the
// write simply has no effect.
#include <QGroupBox>

#include "PSKUnit1.h"
#include "band_limits.h"
#include "licenseA.h"
#include "radio_group.h"
#include "tarvane_enums.h"
#include "ui_TabSheet3.h"

namespace quillmere {

void TForm1::SetRigParam(int32_t param) {
  using namespace tarvane;
  RigLink& rig = *services_.rig;
  switch (param) {
    case PM_RIT0:
      rig.ClearRit();
      return;
    case PM_VFOAA: case PM_VFOAB: case PM_VFOBA: case PM_VFOBB:
    case PM_VFOA: case PM_VFOB: case PM_VFOEQUAL: case PM_VFOSWAP:
      rig.Write(TRigProperty::Vfo, param);
      return;
    case PM_SPLITON: case PM_SPLITOFF:
      rig.Write(TRigProperty::Split, param);
      return;
    case PM_RITON: case PM_RITOFF:
      rig.Write(TRigProperty::Rit, param);
      return;
    case PM_XITON: case PM_XITOFF:
      rig.Write(TRigProperty::Xit, param);
      return;
    case PM_RX: case PM_TX:
      rig.Write(TRigProperty::Tx, param);
      return;
    case PM_CW_U: case PM_CW_L: case PM_SSB_U: case PM_SSB_L:
    case PM_DIG_U: case PM_DIG_L: case PM_AM: case PM_FM:
      rig.Write(TRigProperty::Mode, param);
      return;
    default:
      return;
  }
}

void TForm1::SetRigValue(int32_t which, int32_t value) { (void)WriteRigValue(which, value); }

bool TForm1::WriteRigValue(int32_t which, int32_t value) {
  using namespace tarvane;
  RigLink& rig = *services_.rig;
  switch (which) {
    case PM_FREQ:
      return rig.Write(TRigProperty::Freq, value);
    case PM_FREQA:
      return rig.Write(TRigProperty::FreqA, value);
    case PM_FREQB:
      return rig.Write(TRigProperty::FreqB, value);
    case PM_PITCH:
      return rig.Write(TRigProperty::Pitch, value);
    case PM_RITOFFSET:
      return rig.Write(TRigProperty::RitOffset, value);
    default:
      return false;
  }
}

void TForm1::CheckBandLimits() {
  if (RadioGroupIndex(set_->RadioGroup2) == kBandLimitClassOff) return;
  if (Constants != nullptr) Constants->Button3Click();
}

void TForm1::Button22Click() {
  if (Constants != nullptr) Constants->Button3Click();
}

void TForm1::Button23Click() {
  if (Constants != nullptr) Constants->show();
}

}  // namespace quillmere
