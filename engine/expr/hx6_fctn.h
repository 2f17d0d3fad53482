// hx6_fctn: the built-in functions and system variables of the expression language.
//
// One class per function, each registered once in the global function registry under its name;
// the system variables TRUE, FALSE and PI are registered in the global field-variable registry.
// Both registries (GlobalFunctionReg, GlobalFieldVarReg in hx6_sql.h) are filled on first use and
// live until the process ends.
//
// Thread-safety: the function objects keep no state between calls; the registries are only read
// once filled, so handlers on different threads may use them at the same time.
#pragma once

#include <string>

#include "expr/hx6_sql.h"

// Counts and widths that build a text (SPACE, the PAD width, the STR width) above this raise
// "Argument for %s must be %s": an expression is user input and must not ask for gigabytes.
inline constexpr double kMaxUdfTextCount = 65535;

#define HX6_DECLARE_UDF(Class, Name)                                                  \
  class Class : public ThxUserDefFunction {                                           \
   public:                                                                            \
    std::string GetName() const override { return Name; }                            \
    void Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) override;  \
  }

HX6_DECLARE_UDF(ThxUDFAbsolute, "ABS");
HX6_DECLARE_UDF(ThxUDFAllTrim, "ALLTRIM");
HX6_DECLARE_UDF(ThxUDFArcCos, "ACOS");
HX6_DECLARE_UDF(ThxUDFArcSin, "ASIN");
HX6_DECLARE_UDF(ThxUDFArcTan, "ATAN");
HX6_DECLARE_UDF(ThxUDFArcTan2, "ATN2");
HX6_DECLARE_UDF(ThxUDFAsc, "ASC");
HX6_DECLARE_UDF(ThxUDFAt, "AT");
HX6_DECLARE_UDF(ThxUDFAtC, "ATC");
HX6_DECLARE_UDF(ThxUDFBetween, "BETWEEN");
HX6_DECLARE_UDF(ThxUDFCeiling, "CEILING");
HX6_DECLARE_UDF(ThxUDFChr, "CHR");
HX6_DECLARE_UDF(ThxUDFCosine, "COS");
HX6_DECLARE_UDF(ThxUDFCTOD, "CTOD");
HX6_DECLARE_UDF(ThxUDFDate, "DATE");
HX6_DECLARE_UDF(ThxUDFDescend, "DESCEND");
HX6_DECLARE_UDF(ThxUDFDOW, "DOW");
HX6_DECLARE_UDF(ThxUDFDTOC, "DTOC");
HX6_DECLARE_UDF(ThxUDFDegToRad, "DTOR");
HX6_DECLARE_UDF(ThxUDFDTOS, "DTOS");
HX6_DECLARE_UDF(ThxUDFEmpty, "EMPTY");
HX6_DECLARE_UDF(ThxUDFFloor, "FLOOR");
HX6_DECLARE_UDF(ThxUDFFutureValue, "FV");
HX6_DECLARE_UDF(ThxUDFIIF, "IIF");
HX6_DECLARE_UDF(ThxUDFInlist, "INLIST");
HX6_DECLARE_UDF(ThxUDFInt, "INT");
HX6_DECLARE_UDF(ThxUDFLeft, "LEFT");
HX6_DECLARE_UDF(ThxUDFLen, "LEN");
HX6_DECLARE_UDF(ThxUDFLog, "LOG");
HX6_DECLARE_UDF(ThxUDFLog10, "LOG10");
HX6_DECLARE_UDF(ThxUDFLower, "LOWER");
HX6_DECLARE_UDF(ThxUDFLTrim, "LTRIM");
HX6_DECLARE_UDF(ThxUDFMax, "MAX");
HX6_DECLARE_UDF(ThxUDFMin, "MIN");
HX6_DECLARE_UDF(ThxUDFMod, "MOD");
HX6_DECLARE_UDF(ThxUDFPi, "PI");
HX6_DECLARE_UDF(ThxUDFPresentValue, "PV");
HX6_DECLARE_UDF(ThxUDFProper, "PROPER");
HX6_DECLARE_UDF(ThxUDFRight, "RIGHT");
HX6_DECLARE_UDF(ThxUDFRadToDeg, "RTOD");
HX6_DECLARE_UDF(ThxUDFSin, "SIN");
HX6_DECLARE_UDF(ThxUDFSoundex, "SOUNDEX");
HX6_DECLARE_UDF(ThxUDFSpace, "SPACE");
HX6_DECLARE_UDF(ThxUDFStrTran, "STRTRAN");
HX6_DECLARE_UDF(ThxUDFSubStr, "SUBSTR");
HX6_DECLARE_UDF(ThxUDFTan, "TAN");
HX6_DECLARE_UDF(ThxUDFUpper, "UPPER");
HX6_DECLARE_UDF(ThxUDFVal, "VAL");

#undef HX6_DECLARE_UDF

// TRIM, and RTRIM under its own name: trailing blanks and control characters removed.
class ThxUDFTrim : public ThxUserDefFunction {
 public:
  std::string GetName() const override { return "TRIM"; }
  void Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) override;
};

class ThxUDFRTrim : public ThxUDFTrim {
 public:
  std::string GetName() const override { return "RTRIM"; }
};

// STR(value [, width [, decimals]]); STRZERO turns STR's leading blanks into zeros.
class ThxUDFStr : public ThxUserDefFunction {
 public:
  std::string GetName() const override { return "STR"; }
  void Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) override;
};

class ThxUDFStrZero : public ThxUDFStr {
 public:
  std::string GetName() const override { return "STRZERO"; }
  void Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) override;
};

// The PAD family: the common step reads fill, value and width; each subclass places the text.
class ThxUDFPadMain : public ThxUserDefFunction {
 public:
  void Evaluate(ThxExpFunction& node, ThxExpValue& value, uint8_t& type) override;

 protected:
  // Where the text starts in a buffer of `width` fill characters (width above the text length).
  virtual size_t Offset(size_t width, size_t length) const = 0;
};

class ThxUDFPadC : public ThxUDFPadMain {
 public:
  std::string GetName() const override { return "PADC"; }

 protected:
  size_t Offset(size_t width, size_t length) const override { return (width - length) / 2; }
};

class ThxUDFPadL : public ThxUDFPadMain {
 public:
  std::string GetName() const override { return "PADL"; }

 protected:
  size_t Offset(size_t width, size_t length) const override { return width - length; }
};

class ThxUDFPadR : public ThxUDFPadMain {
 public:
  std::string GetName() const override { return "PADR"; }

 protected:
  size_t Offset(size_t, size_t) const override { return 0; }
};

// System variables.
class ThxSDVTrue : public ThxUserDefFieldVar {
 public:
  ThxSDVTrue() : ThxUserDefFieldVar("TRUE") {}
  void GetValue(ThxExpValue& value, uint8_t& type) override;
};

class ThxSDVFalse : public ThxUserDefFieldVar {
 public:
  ThxSDVFalse() : ThxUserDefFieldVar("FALSE") {}
  void GetValue(ThxExpValue& value, uint8_t& type) override;
};

class ThxSDVPi : public ThxUserDefFieldVar {
 public:
  ThxSDVPi() : ThxUserDefFieldVar("PI") {}
  void GetValue(ThxExpValue& value, uint8_t& type) override;
};
