// rig_set_up: the simplex and split set-ups that clients ask for in one call. Each is a list of
// command sequences in order of preference; the first whose parameters the rig type can all
// write is carried out through the rig's own setters (each queues one write), and RIT and XIT
// are then switched off. `Rig` is anything with the engine's setters (the rig engine, or the
// bus objects' view of it); `writeable` is the rig type's writeable set as bits (bit n for
// parameter n). Main thread, like the setters.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "rig_types.h"

namespace tarvane {

namespace rig_set_up_detail {
inline bool AllWriteable(int32_t writeable, std::initializer_list<TRigParam> params) {
  for (const TRigParam p : params) {
    if ((writeable & ParamToInt(p)) == 0) return false;
  }
  return true;
}
}  // namespace rig_set_up_detail

// Receive and transmit on `freq`. False, with nothing sent, when no sequence fits.
template <class Rig>
bool RunSimplexSetUp(Rig& rig, int32_t writeable, int32_t freq) {
  const auto has = [writeable](std::initializer_list<TRigParam> params) {
    return rig_set_up_detail::AllWriteable(writeable, params);
  };
  if (has({pmFreqA, pmVfoAA})) {
    rig.SetFreqA(freq);
    rig.SetVfo(pmVfoAA);
  } else if (has({pmFreq, pmSplitOff})) {
    rig.SetFreq(freq);
    rig.SetSplit(pmSplitOff);
  } else if (has({pmFreqA, pmVfoA, pmSplitOff})) {
    rig.SetFreqA(freq);
    rig.SetVfo(pmVfoA);
    rig.SetSplit(pmSplitOff);
  } else if (has({pmFreq, pmVfoA, pmVfoB})) {
    rig.SetVfo(pmVfoB);
    rig.SetFreq(freq);
    rig.SetVfo(pmVfoA);
    rig.SetFreq(freq);
  } else if (has({pmFreq, pmVfoEqual})) {
    rig.SetFreq(freq);
    rig.SetVfo(pmVfoEqual);
  } else if (has({pmFreq, pmVfoSwap})) {
    rig.SetFreq(freq);
    rig.SetVfo(pmVfoSwap);
    rig.SetFreq(freq);
  } else {
    return false;
  }
  rig.SetRit(pmRitOff);
  rig.SetXit(pmXitOff);
  return true;
}

// Receive on `rxFreq`, transmit on `txFreq`. False, with nothing sent, when no sequence fits.
template <class Rig>
bool RunSplitSetUp(Rig& rig, int32_t writeable, int32_t rxFreq, int32_t txFreq) {
  const auto has = [writeable](std::initializer_list<TRigParam> params) {
    return rig_set_up_detail::AllWriteable(writeable, params);
  };
  if (has({pmFreqA, pmFreqB, pmVfoAB})) {
    rig.SetFreqA(rxFreq);
    rig.SetFreqB(txFreq);
    rig.SetVfo(pmVfoAB);
  } else if (has({pmFreq, pmVfoEqual})) {
    rig.SetFreq(txFreq);
    rig.SetVfo(pmVfoEqual);
    rig.SetFreq(rxFreq);
    rig.SetSplit(pmSplitOn);
  } else if (has({pmFreq, pmVfoA, pmVfoB})) {
    rig.SetVfo(pmVfoB);
    rig.SetFreq(txFreq);
    rig.SetVfo(pmVfoA);
    rig.SetFreq(rxFreq);
    rig.SetSplit(pmSplitOn);
  } else if (has({pmFreq, pmVfoSwap})) {
    rig.SetFreq(txFreq);
    rig.SetVfo(pmVfoSwap);
    rig.SetFreq(rxFreq);
    rig.SetSplit(pmSplitOn);
  } else if (has({pmFreqA, pmFreqB, pmVfoA})) {
    rig.SetFreqA(rxFreq);
    rig.SetFreqB(txFreq);
    rig.SetVfo(pmVfoA);
    rig.SetSplit(pmSplitOn);
  } else {
    return false;
  }
  rig.SetRit(pmRitOff);
  rig.SetXit(pmXitOff);
  return true;
}

}  // namespace tarvane
