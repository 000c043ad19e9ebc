// The Gauss-Kruger series transcribed literally, with pow() and direct
// sines of 2B, 4B, 6B, as earlier versions of the library computed them.
// The tests hold the optimised projection to these numbers.
#ifndef TAVIKFCU_TESTS_GEO_GAUSS_REFERENCE_H
#define TAVIKFCU_TESTS_GEO_GAUSS_REFERENCE_H

#include <cmath>

#include "tavikfcu/TKGeo.h"

namespace gauss_reference {

constexpr double kPi = 3.14159265358979;

inline void GeoToGauss(double L, double B, double& x, double& y, const CTKProCoordinateSystem& p) {
    using std::pow;
    const CTKGeoCoordinateSystem& g = p.m_geo;
    const double e2 = g.m_e * g.m_e;
    const double phi = B * kPi / 180;
    const double t = std::tan(phi), T = t * t, c = std::cos(phi);
    const double eta2 = pow(c * g.m_ep, 2);
    const double l = (L - p.m_centralMeridian) * kPi / 180 * c;
    const double N = g.m_a / std::sqrt(1 - e2 * pow(std::sin(phi), 2));
    const double M =
        g.m_a * (g.m_A0 * phi - g.m_A2 * std::sin(2 * B * kPi / 180) +
                 g.m_A4 * std::sin(4 * B * kPi / 180) - g.m_A6 * std::sin(6 * B * kPi / 180));
    const double yp =
        M + N * t *
                (pow(l, 2) / 2 + pow(l, 4) * (5 - T + 9 * eta2 + 4 * pow(eta2, 2)) / 24 +
                 pow(l, 6) * (61 - 58 * T + pow(T, 2) + 270 * eta2 - 330 * T * eta2) / 720);
    y = yp * p.m_scaleFactor + p.m_falseNorthing;
    x = N * p.m_scaleFactor *
            (l + pow(l, 3) * (1 - T + eta2) / 6 +
             pow(l, 5) * (5 - 18 * T + pow(T, 2) + 14 * eta2 - 58 * T * eta2) / 120) +
        p.m_falseEasting;
}

inline void GaussToGeo(double x, double y, double& L, double& B, const CTKProCoordinateSystem& p) {
    using std::pow;
    const CTKGeoCoordinateSystem& g = p.m_geo;
    const double e2 = g.m_e * g.m_e;
    const double mu = ((y - p.m_falseNorthing) / p.m_scaleFactor) / g.m_aA0;
    const double phi1 =
        mu + g.m_F2 * std::sin(2 * mu) + g.m_F4 * std::sin(4 * mu) + g.m_F6 * std::sin(6 * mu);
    const double t = std::tan(phi1), T = t * t, c = std::cos(phi1);
    const double eta2 = c * c * g.m_ep * g.m_ep;
    const double w = 1 - e2 * pow(std::sin(phi1), 2);
    const double N = g.m_a / std::sqrt(w), R = g.m_a * (1 - e2) / pow(w, 1.5);
    const double D = (x - p.m_falseEasting) / (p.m_scaleFactor * N);
    B = phi1 * 180 / kPi - (t * N / R) *
                               (pow(D, 2) / 2 - pow(D, 4) * (5 + 3 * T + eta2 - 9 * T * eta2) / 24 +
                                pow(D, 6) * (61 + 90 * T + 45 * pow(T, 2)) / 720) *
                               180 / kPi;
    L = (D - pow(D, 3) * (1 + 2 * T + eta2) / 6 +
         pow(D, 5) * (5 + 28 * T + 6 * eta2 + 8 * T * eta2 + 24 * pow(T, 2)) / 120) /
            c * 180 / kPi +
        p.m_centralMeridian;
}

}  // namespace gauss_reference

#endif  // TAVIKFCU_TESTS_GEO_GAUSS_REFERENCE_H
