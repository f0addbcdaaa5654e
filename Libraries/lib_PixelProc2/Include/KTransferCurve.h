#pragma once
// An encoding transfer curve: a power law (x^g - a) / (1 - a) with an optional linear toe of slope s up to the
// threshold t, replaced near black by a straight line of slope k (9 for encoding curves) through the knee x0,
// which also carries the curve into negative values.
class KTransferCurve {
public:
    KTransferCurve(double gamma, double threshold);

    // k x + b at or below the knee, else the power segment.
    double Evaluate(double x) const;

    double m_Gamma;
    double m_Threshold;
    double m_Offset;         // a
    double m_ToeSlope;       // s
    double m_Knee;           // x0
    double m_LineIntercept;  // b
    double m_LineSlope;      // k
};
