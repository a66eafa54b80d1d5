#include "clock_model.h"

#include <math.h>

#include <algorithm>

namespace qacq {

namespace {

// A board's clock is trusted to be this close to its nominal rate; a fit beyond it is a reader's
// stall mistaken for the board's rate.
constexpr double kMaxClockError = 0.002;

// Positive when p lies above the line through a and b (x ascending): a, b, p turn left.
double turn(const ClockModel::Point& a, const ClockModel::Point& b, const ClockModel::Point& p) {
    return (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
}

}  // namespace

bool ClockModel::lowerEnvelopeLine(const std::vector<Point>& hull, double dMeanX, double* pdSlope, double* pdAt, double dMinSlope,
                                   double dMaxSlope) {
    if (hull.size() < 2) return false;
    // The line below every point with the least total distance to them touches the hull along the
    // edge over the points' mean x.
    auto it = std::upper_bound(hull.begin(), hull.end(), dMeanX, [](double x, const Point& p) { return x < p.x; });
    size_t j = it == hull.begin() ? 0 : static_cast<size_t>(it - hull.begin()) - 1;
    if (j + 1 >= hull.size()) j = hull.size() - 2;
    double dSlope = (hull[j + 1].y - hull[j].y) / (hull[j + 1].x - hull[j].x);
    if (dSlope >= dMinSlope && dSlope <= dMaxSlope) {
        *pdSlope = dSlope;
        *pdAt = hull[j].y - dSlope * hull[j].x;
        return true;
    }
    dSlope = std::min(std::max(dSlope, dMinSlope), dMaxSlope);
    double dAt = INFINITY;
    for (const Point& p : hull) dAt = std::min(dAt, p.y - dSlope * p.x);
    *pdSlope = dSlope;
    *pdAt = dAt;
    return true;
}

void ClockModel::begin(uint64_t nFirstScan, int64_t nMicros, int64_t nMonotonic) {
    std::lock_guard<std::mutex> lock(mutex_);
    Segment segment;
    segment.nFirstScan = nFirstScan;
    segment.nStartMicros = nMicros;
    segment.nMonotonicBase = nMonotonic;
    segment.dMicrosPerScan = 1e6 / dNominalRate_;
    segments_.push_back(segment);
}

void ClockModel::fixed(uint64_t nFirstScan, int64_t nMicros, double dRate) {
    std::lock_guard<std::mutex> lock(mutex_);
    Segment segment;
    segment.nFirstScan = nFirstScan;
    segment.nStartMicros = nMicros;
    segment.dMicrosPerScan = 1e6 / dRate;
    segments_.push_back(segment);
}

void ClockModel::stated(const ClockFit& fit) {
    std::lock_guard<std::mutex> lock(mutex_);
    dStatedRate_ = fit.dRate;
    dBoundMicros_ = fit.dBoundMicros;
    nAnchors_ = fit.nAnchors;
}

void ClockModel::anchor(uint64_t nDelivered, int64_t nMonotonic) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (segments_.empty()) return;
    Segment& segment = segments_.back();
    if (nDelivered <= segment.nFirstScan) return;
    // The first moment a count was seen is the closest to the scan: later ones are passed over.
    const Point p{static_cast<double>(nDelivered - 1 - segment.nFirstScan), static_cast<double>(nMonotonic - segment.nMonotonicBase)};
    if (p.x <= segment.dLastX) return;
    segment.dLastX = p.x;
    while (segment.hull.size() >= 2 && turn(segment.hull[segment.hull.size() - 2], segment.hull.back(), p) <= 0) {
        segment.hull.pop_back();
    }
    segment.hull.push_back(p);
    segment.dSumX += p.x;
    ++segment.nAnchors;
    ++nAnchors_;
    if (refit(segment)) dBoundMicros_ = std::max(dBoundMicros_, p.y - (segment.dAt + segment.dMicrosPerScan * p.x));
}

// Two anchors make a line; until their span tells the rate, the bounds on a clock's error hold it.
bool ClockModel::refit(Segment& segment) {
    const double dNominal = 1e6 / dNominalRate_;
    double dSlope = 0, dAt = 0;
    if (lowerEnvelopeLine(segment.hull, segment.dSumX / static_cast<double>(segment.nAnchors), &dSlope, &dAt,
                          dNominal * (1 - kMaxClockError), dNominal * (1 + kMaxClockError))) {
        segment.dMicrosPerScan = dSlope;
        segment.dAt = dAt;
        return true;
    }
    return false;
}

const ClockModel::Segment& ClockModel::segmentOf(uint64_t nScan) const {
    auto it = std::upper_bound(segments_.begin(), segments_.end(), nScan,
                               [](uint64_t n, const Segment& s) { return n < s.nFirstScan; });
    return it == segments_.begin() ? segments_.front() : *(it - 1);
}

double ClockModel::rateAt(uint64_t nScan) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return segments_.empty() ? dNominalRate_ : 1e6 / segmentOf(nScan).dMicrosPerScan;
}

int64_t ClockModel::micros(uint64_t nScan) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (segments_.empty()) return 0;
    const Segment& segment = segmentOf(nScan);
    const double dScans = nScan >= segment.nFirstScan ? static_cast<double>(nScan - segment.nFirstScan)
                                                      : -static_cast<double>(segment.nFirstScan - nScan);
    return segment.nStartMicros + llround(floor(segment.dAt + segment.dMicrosPerScan * dScans));
}

ClockFit ClockModel::fit() const {
    std::lock_guard<std::mutex> lock(mutex_);
    ClockFit fit;
    fit.dRate = dStatedRate_ > 0 ? dStatedRate_ : segments_.empty() ? dNominalRate_ : 1e6 / segments_.back().dMicrosPerScan;
    fit.dBoundMicros = dBoundMicros_;
    fit.nAnchors = nAnchors_;
    return fit;
}

}  // namespace qacq
