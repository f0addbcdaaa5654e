#include "KTransferCurve.h"

#include <cmath>

KTransferCurve::KTransferCurve(double gamma, double threshold) : m_Gamma(gamma), m_Threshold(threshold)
{
    const double g = gamma;
    const double t = threshold;
    m_Offset = t > 0.0 ? (1.0 - g) * std::pow(t, g) : 0.0;
    const double a = m_Offset;
    m_ToeSlope = t > 0.0 ? (std::pow(t, g) - a) / ((1.0 - a) * t) : 1.0;
    if (g < 1.0) {
        const double x0 = std::pow((9.0 / g) / (1.0 + a), 1.0 / (g - 1.0));
        const double f = x0 <= t ? x0 * m_ToeSlope : (std::pow(x0, g) - a) / (1.0 - a);
        m_Knee = x0;
        m_LineIntercept = f - 9.0 * x0;
        m_LineSlope = 9.0;
    } else {
        m_Knee = 0.0;
        m_LineIntercept = 0.0;
        m_LineSlope = 1.0;
    }
}

double KTransferCurve::Evaluate(double x) const
{
    if (x <= m_Knee)
        return m_LineSlope * x + m_LineIntercept;
    return (std::pow(x, m_Gamma) - m_Offset) / (1.0 - m_Offset);
}
