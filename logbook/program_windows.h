// TProgramWindows: the logbook's windows, made in the order of the program's entry: the main
// window TForm1 first (its creation sequence runs and it becomes the main window), then the side
// windows TPrintForm, TADIFform, TDXStuff, TCTConvert, TqrLogPrintForm, TRAC, TConstants,
// THintBox and Tshortcuts. Each is the one global instance of its class (Form1, PrintForm, ...);
// they are destroyed in the reverse order, the main window last.
//
// Main thread only.
#pragma once

#include <memory>

#include "CT.h"
#include "DXcaller.h"
#include "Hints.h"
#include "LogPrt.h"
#include "PSKUnit1.h"
#include "RAC.h"
#include "Unit1.h"
#include "VRN_ADIF.h"
#include "licenseA.h"
#include "shortcutscreen.h"

namespace quillmere {

class TProgramWindows {
 public:
  TProgramWindows(TServices services, TForm1Options options);
  ~TProgramWindows() = default;
  TProgramWindows(const TProgramWindows&) = delete;
  TProgramWindows& operator=(const TProgramWindows&) = delete;

  TForm1& Main() { return *form1_; }

 private:
  // Declared in creation order: members die in the reverse order.
  std::unique_ptr<TForm1> form1_;
  std::unique_ptr<TPrintForm> printForm_;
  std::unique_ptr<TADIFform> adifForm_;
  std::unique_ptr<TDXStuff> dxStuff_;
  std::unique_ptr<TCTConvert> ctConvert_;
  std::unique_ptr<TqrLogPrintForm> logPrintForm_;
  std::unique_ptr<TRAC> rac_;
  std::unique_ptr<TConstants> constants_;
  std::unique_ptr<THintBox> hintBox_;
  std::unique_ptr<Tshortcuts> shortcuts_;
};

}  // namespace quillmere
