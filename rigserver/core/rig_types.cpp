#include "rig_types.h"

#include "text_utils.h"

namespace tarvane {

namespace {

constexpr const char* kParamNames[kRigParamCount] = {
    "pmNone",   "pmFreq",   "pmFreqA",   "pmFreqB",    "pmPitch",    "pmRitOffset", "pmRit0",
    "pmVfoAA",  "pmVfoAB",  "pmVfoBA",   "pmVfoBB",    "pmVfoA",     "pmVfoB",      "pmVfoEqual",
    "pmVfoSwap", "pmSplitOn", "pmSplitOff", "pmRitOn", "pmRitOff",   "pmXitOn",     "pmXitOff",
    "pmRx",     "pmTx",     "pmCW_U",    "pmCW_L",     "pmSSB_U",    "pmSSB_L",     "pmDIG_U",
    "pmDIG_L",  "pmAM",     "pmFM",
};

constexpr const char* kFormatNames[kValueFormatCount] = {
    "vfNone", "vfText", "vfBinL", "vfBinB", "vfBcdLU", "vfBcdLS", "vfBcdBU", "vfBcdBS", "vfYaesu",
};

}  // namespace

const char* RigParamName(TRigParam p) {
  return p < kRigParamCount ? kParamNames[p] : "";
}

std::optional<TRigParam> StrToRigParam(std::string_view name) {
  for (int i = 0; i < kRigParamCount; ++i) {
    if (SameText(name, kParamNames[i])) return static_cast<TRigParam>(i);
  }
  return std::nullopt;
}

int32_t ParamsToInt(TRigParamSet params) { return static_cast<int32_t>(params.Bits()); }

int32_t ParamToInt(TRigParam p) { return p < kRigParamCount ? int32_t{1} << p : 0; }

TRigParam IntToParam(int32_t i) {
  for (int p = 0; p < kRigParamCount; ++p) {
    if (i == (int32_t{1} << p)) return static_cast<TRigParam>(p);
  }
  return pmNone;
}

const char* ValueFormatName(TValueFormat f) {
  return f < kValueFormatCount ? kFormatNames[f] : "";
}

std::optional<TValueFormat> StrToValueFormat(std::string_view name) {
  for (int i = 0; i < kValueFormatCount; ++i) {
    if (SameText(name, kFormatNames[i])) return static_cast<TValueFormat>(i);
  }
  return std::nullopt;
}

}  // namespace tarvane
