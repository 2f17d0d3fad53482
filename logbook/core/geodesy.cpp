#include "geodesy.h"

#include <algorithm>
#include <cmath>

namespace quillmere {

namespace {

constexpr double kPi = 3.14159265358979323846;

double Radians(double degrees) { return degrees * kPi / 180.0; }
double Degrees(double radians) { return radians * 180.0 / kPi; }

// Half the length of a meridian (pole to pole) in metres: the shortest way between two
// antipodal points, by the series in n = (a - b) / (a + b).
double HalfMeridian(double a, double b) {
  const double n = (a - b) / (a + b);
  return (a + b) / 2.0 * kPi * (1.0 + n * n / 4.0 + n * n * n * n / 64.0);
}

// An azimuth brought into [0, 2 pi]; a value of exactly 2 pi stays.
double Wrap(double az) {
  while (az < 0) az += 2 * kPi;
  while (az > 2 * kPi) az -= 2 * kPi;
  return az;
}

}  // namespace

GeoDist CalcGeoDist(double lat1, double lon1, double lat2, double lon2, double a, double b) {
  const double f = 1.0 - b / a;
  const double phi1 = Radians(lat1), phi2 = Radians(lat2);
  const double beta1 = std::atan2(b / a * std::tan(phi1), 1.0);
  const double beta2 = std::atan2(b / a * std::tan(phi2), 1.0);
  const double dLambda = Radians(lon2 - lon1);
  const double F = (beta1 + beta2) / 2, G = (beta2 - beta1) / 2;
  const double sinG = std::sin(G), cosG = std::cos(G), sinF = std::sin(F), cosF = std::cos(F);
  const double sinL2 = std::sin(dLambda / 2);
  const double H = sinG * sinG + sinL2 * sinL2 * (cosG * cosG - sinF * sinF);

  GeoDist out;
  // H = 0 is the same point, H = 1 the antipode: the formulas below divide by H, 1 - H and
  // sin d, so those two get their limits instead.
  if (!(H > 0)) return out;
  if (!(H < 1)) {
    out.km = HalfMeridian(a, b) / 1000.0;
    out.degrees = out.km / kKmPerDegree;
    return out;
  }
  const double cosd = std::clamp(1 - 2 * H, -1.0, 1.0);
  const double d = std::acos(cosd);
  const double sind = std::sin(d);
  const double U = 2 * (sinF * cosG) * (sinF * cosG) / (1 - H);
  const double V = 2 * (sinG * cosF) * (sinG * cosF) / H;
  const double X = U + V, Y = U - V;
  const double T = d / sind;
  const double D = 4 * T * T;
  const double E = -2 * cosd;
  const double A = -D * E;
  const double km = a * sind *
                    (T - (f / 4) * (T * X - Y) +
                     (f * f / 64) * (((T - (A + E) / 2) * X + A) * X + (-2 * D + E * Y) * Y + D * X * Y)) /
                    1000.0;
  const double Q = E * (4 - X) + 2 * Y;
  const double R = (f / 2) * T + (f * f / 64) * (32 * T + (A - 20 * T) * X - 2 * (D + 2) * Y);
  const double M = std::tan((dLambda - std::tan(dLambda) * Q * R / 4) / 2);
  const double u = std::atan2(sinG, M * cosF);
  const double v = std::atan2(cosG, M * sinF);
  const double az = Wrap(2 * kPi + v - u);
  const double back = Wrap(2 * kPi - v - u);
  if (!std::isfinite(km) || !std::isfinite(az) || !std::isfinite(back)) {
    // Points so close to coincident or antipodal that the terms overflow: their limits.
    if (H < 0.5) return out;
    out.km = HalfMeridian(a, b) / 1000.0;
    out.degrees = out.km / kKmPerDegree;
    return out;
  }
  out.azimuth = Degrees(az);
  out.backAzimuth = Degrees(back);
  out.km = km;
  out.degrees = km / kKmPerDegree;
  return out;
}

std::string GridLocator(double lat, double lon) {
  // Offsets from the south-west corner of the grid: 0 <= x < 360, 0 <= y < 180.
  double x = lon + 180.0, y = lat + 90.0;
  x = std::clamp(x, 0.0, 360.0);
  y = std::clamp(y, 0.0, 180.0);
  auto cell = [](double value, double size, int count) {
    return std::clamp(static_cast<int>(std::floor(value / size)), 0, count - 1);
  };
  const int fieldX = cell(x, 20.0, 18), fieldY = cell(y, 10.0, 18);
  x -= fieldX * 20.0;
  y -= fieldY * 10.0;
  const int squareX = cell(x, 2.0, 10), squareY = cell(y, 1.0, 10);
  x -= squareX * 2.0;
  y -= squareY * 1.0;
  const int subX = cell(x, 2.0 / 24.0, 24), subY = cell(y, 1.0 / 24.0, 24);
  std::string out;
  out += static_cast<char>('A' + fieldX);
  out += static_cast<char>('A' + fieldY);
  out += static_cast<char>('0' + squareX);
  out += static_cast<char>('0' + squareY);
  out += static_cast<char>('A' + subX);
  out += static_cast<char>('A' + subY);
  return out;
}

}  // namespace quillmere
