#include "program_windows.h"

namespace quillmere {

TProgramWindows::TProgramWindows(TServices services, TForm1Options options)
    : form1_(std::make_unique<TForm1>(std::move(services), std::move(options))),
      printForm_(std::make_unique<TPrintForm>()),
      adifForm_(std::make_unique<TADIFform>()),
      dxStuff_(std::make_unique<TDXStuff>()),
      ctConvert_(std::make_unique<TCTConvert>()),
      logPrintForm_(std::make_unique<TqrLogPrintForm>()),
      rac_(std::make_unique<TRAC>()),
      constants_(std::make_unique<TConstants>()),
      hintBox_(std::make_unique<THintBox>()),
      shortcuts_(std::make_unique<Tshortcuts>()) {}

}  // namespace quillmere
