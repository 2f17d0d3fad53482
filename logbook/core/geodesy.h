// geodesy: bearing and distance between two positions on the Clarke 1866 ellipsoid, and the
// six-character Maidenhead grid locator of a position.
//
// Positions are decimal degrees, latitude north positive, longitude east positive.
// Pure functions; safe from any thread.
#pragma once

#include <string>

namespace quillmere {

// The ellipsoid the logbook measures on (metres).
inline constexpr double kClarke1866A = 6378206.4;
inline constexpr double kClarke1866B = 6356583.8;
// Kilometres per degree of arc, as the logbook converts.
inline constexpr double kKmPerDegree = 111.195;

struct GeoDist {
  double azimuth = 0;      // from home to target, degrees, 0 <= value <= 360
  double backAzimuth = 0;  // from target to home, degrees, same range
  double km = 0;
  double degrees = 0;      // km / 111.195
};

// The closed-form second-order inverse on the ellipsoid (a, b in metres). The same point gives
// distance 0 and bearings 0; antipodal points give half the meridian's length and bearings 0;
// every result is finite.
GeoDist CalcGeoDist(double lat1, double lon1, double lat2, double lon2,
                    double a = kClarke1866A, double b = kClarke1866B);

// The grid locator of a position: field (20 x 10 degrees, letters A-R), square (2 x 1 degrees,
// digits) and subsquare (5 x 2.5 minutes, letters A-X), longitude before latitude in each pair,
// all upper case ("FN31PR"). Positions on the far edges (latitude 90, longitude 180) fall in the
// last square.
std::string GridLocator(double lat, double lon);

}  // namespace quillmere
