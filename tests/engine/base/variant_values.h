// Shared helpers of the variant and sort tests: one-call variants of each value type.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/hx6_tool.h"

namespace variant_values {

inline ThxVariant Text(std::string_view s) {
  ThxVariant v;
  v.PutString(s);
  return v;
}
inline ThxVariant Float(double d) {
  ThxVariant v;
  v.PutFloat(d);
  return v;
}
inline ThxVariant Date(int32_t d) {
  ThxVariant v;
  v.PutDate(d);
  return v;
}
inline ThxVariant Logical(bool b) {
  ThxVariant v;
  v.PutBoolean(b);
  return v;
}

}  // namespace variant_values
