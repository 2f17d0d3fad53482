// The numeric functions and operators checked against computations done another way: integer
// arithmetic for INT, CEILING, FLOOR and MOD, repeated multiplication for "^", period-by-period
// simulation for FV and PV, identities and round trips for the trigonometric and logarithmic
// functions, and the formatted text read back for STR.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "expr/expr_test_util.h"

using namespace expr_test;

namespace {

// The lexer reads digits and points only, a leading "-" starting the literal.
std::string Lit(double x) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.6f", x);
  return buffer;
}

double Call(const std::string& text) {
  Result r = Eval(text);
  EXPECT_TRUE(ExpIsNumeric(r.type)) << text;
  return r.value.Number();
}

const std::vector<double> kValues = {-123.456, -7.75, -7.25, -2.5, -1, -0.5, -0.25, 0,
                                     0.25,     0.5,   1,     2.5,  3,  7.25, 7.75, 123.456};

}  // namespace

TEST(ExprNumeric, IntCeilingFloorAbsAgainstIntegerArithmetic) {
  for (double x : kValues) {
    SCOPED_TRACE(x);
    auto whole = static_cast<int64_t>(x);  // truncates toward zero
    double ceiling = static_cast<double>(whole < x ? whole + 1 : whole);
    double floor = static_cast<double>(whole > x ? whole - 1 : whole);
    EXPECT_EQ(Call("INT(" + Lit(x) + ")"), static_cast<double>(whole));
    EXPECT_EQ(Call("CEILING(" + Lit(x) + ")"), ceiling);
    EXPECT_EQ(Call("FLOOR(" + Lit(x) + ")"), floor);
    EXPECT_EQ(Call("ABS(" + Lit(x) + ")"), x < 0 ? -x : x);
  }
}

TEST(ExprNumeric, ModAgainstTheIntegerRemainder) {
  for (double a : kValues) {
    for (double b : kValues) {
      auto ia = static_cast<int64_t>(a), ib = static_cast<int64_t>(b);
      std::string text = "MOD(" + Lit(a) + ", " + Lit(b) + ")";
      SCOPED_TRACE(text);
      if (ib == 0) {
        EXPECT_EQ(Error(text), "A non-zero value is required but invalid");
      } else {
        EXPECT_EQ(Call(text), static_cast<double>(ia % ib));
      }
    }
  }
}

TEST(ExprNumeric, PowerAgainstRepeatedMultiplication) {
  for (double base : {-3.0, -1.5, -1.0, 0.5, 1.0, 2.0, 3.0, 10.0}) {
    for (double exponent : {-4.5, -3.0, -1.0, -0.5, 0.0, 0.75, 1.0, 2.0, 3.9, 7.0, 12.0}) {
      auto n = static_cast<int64_t>(exponent);
      double expected = 1.0;
      for (int64_t i = 0; i < (n < 0 ? -n : n); ++i) expected *= base;
      if (n < 0) expected = 1.0 / expected;
      std::string text = "(";  // appended: g++ 12 at -O3 falsely warns on "(" + ... chains
      text += Lit(base);
      text += ")^";
      text += Lit(exponent);
      SCOPED_TRACE(text);
      EXPECT_NEAR(Call(text), expected, std::fabs(expected) * 1e-14);
    }
  }
}

TEST(ExprNumeric, AnnuitiesAgainstAPeriodByPeriodSimulation) {
  for (double payment : {-250.0, 100.0, 1234.5}) {
    for (double rate : {-0.05, 0.0, 0.01, 0.1, 0.5}) {
      for (double periods : {0.0, 1.0, 2.9, 12.0, 30.0}) {
        for (double other : {0.0, 1000.0}) {
          for (int time : {0, 1}) {
            auto n = static_cast<int64_t>(periods);
            // Future value: the balance grows each period; a payment at the start of the period
            // earns that period's interest, one at its end does not.
            double balance = other;
            for (int64_t k = 0; k < n; ++k) {
              if (time == 1) balance += payment;
              balance *= 1.0 + rate;
              if (time == 0) balance += payment;
            }
            // Present value: the future value and every payment discounted to the start.
            double present = other;
            for (int64_t k = 0; k < n; ++k) present /= 1.0 + rate;
            for (int64_t k = time == 1 ? 0 : 1; k <= (time == 1 ? n - 1 : n); ++k) {
              double discounted = payment;
              for (int64_t j = 0; j < k; ++j) discounted /= 1.0 + rate;
              present += discounted;
            }
            std::string args = Lit(payment) + ", " + Lit(rate) + ", " + Lit(periods) + ", " +
                               Lit(other) + ", " + std::to_string(time);
            SCOPED_TRACE(args);
            double tolerance = 1e-9 * std::max(1.0, std::fabs(balance));
            EXPECT_NEAR(Call("FV(" + args + ")"), std::fabs(balance), tolerance);
            tolerance = 1e-9 * std::max(1.0, std::fabs(present));
            EXPECT_NEAR(Call("PV(" + args + ")"), std::fabs(present), tolerance);
          }
        }
      }
    }
  }
}

TEST(ExprNumeric, TrigonometryAndLogarithmsByIdentities) {
  for (double x : {-1.5, -1.0, -0.25, 0.0, 0.3, 0.7, 1.2, 1.5}) {
    std::string a = Lit(x);
    SCOPED_TRACE(a);
    double s = Call("SIN(" + a + ")"), c = Call("COS(" + a + ")");
    EXPECT_NEAR(s * s + c * c, 1.0, 1e-15);
    EXPECT_NEAR(Call("TAN(" + a + ")"), s / c, 1e-12 * std::max(1.0, std::fabs(s / c)));
    EXPECT_NEAR(Call("ASIN(SIN(" + a + "))"), x, 1e-12);
    EXPECT_NEAR(Call("ATAN(TAN(" + a + "))"), x, 1e-12);
    EXPECT_NEAR(Call("ACOS(COS(" + a + "))"), std::fabs(x), 1e-7);
    EXPECT_NEAR(Call("RTOD(DTOR(" + a + "))"), x, 1e-12);
    EXPECT_NEAR(Call("DTOR(180) * " + a), Call("PI * " + a), 1e-15);
    // ATN2 lands in the quadrant of (x, y): its sine and cosine have the signs of y and x.
    double angle = Call("ATN2(" + a + ", -0.5)");
    double radius = std::hypot(x, -0.5);
    EXPECT_NEAR(std::sin(angle) * radius, x, 1e-12);
    EXPECT_NEAR(std::cos(angle) * radius, -0.5, 1e-12);
  }
  for (double x : {0.001, 0.5, 1.0, 2.0, 10.0, 12345.678}) {
    std::string a = Lit(x);
    SCOPED_TRACE(a);
    double ln = Call("LOG(" + a + ")");
    EXPECT_NEAR(std::exp(ln), x, x * 1e-14);
    EXPECT_NEAR(Call("LOG10(" + a + ")") * Call("LOG(10)"), ln, 1e-12);
  }
  for (int k = -3; k <= 6; ++k) {
    std::string text = "LOG10(10^" + std::to_string(k) + ")";
    EXPECT_NEAR(Call(text), k, 1e-15) << text;
  }
}

TEST(ExprNumeric, StrReadsBackWithinHalfAUnitOfItsLastDecimal) {
  for (double x : kValues) {
    for (int decimals : {0, 1, 2, 4}) {
      std::string text = "STR(" + Lit(x) + ", 12, " + std::to_string(decimals) + ")";
      SCOPED_TRACE(text);
      Result r = Eval(text);
      ASSERT_EQ(r.type, etText);
      const std::string& shown = r.value.Text();
      EXPECT_EQ(shown.size(), 12u);
      double back = std::strtod(shown.c_str(), nullptr);
      EXPECT_LE(std::fabs(back - x), 0.5 * std::pow(10.0, -decimals) + 1e-12);
      size_t point = shown.find('.');
      EXPECT_EQ(point == std::string::npos ? 0 : shown.size() - point - 1,
                static_cast<size_t>(decimals));
      EXPECT_EQ(Call("VAL(" + text + ")"), back);
    }
  }
}
