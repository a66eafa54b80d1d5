// A board's sample clock as the host's clock sees it. Every time the board is read, the scans it has
// delivered so far and the host's time of the reading are an anchor: the last of those scans was
// measured at or before that moment. The model is the straight line below every anchor that lies
// closest to them (the lower envelope: the anchors sit above the truth by the driver's and the
// reader's latency, never below), so a board whose crystal runs 100 ppm fast gets times that do not
// wander from the host's by 8.6 s a day.
//
// Each acquisition of a run is a segment of its own (a restart begins again from the time the
// restart is reckoned at); until a segment has two anchors, its line is the nominal one.
// The poll thread adds anchors, the writer thread asks for times: both may use it at once.
#pragma once

#include <stdint.h>

#include <mutex>
#include <vector>

namespace qacq {

struct ClockFit {
    double dRate = 0;           // fitted scans per second of host time (the last segment's)
    double dBoundMicros = 0;    // the largest distance of an anchor above the model, over the run
    uint64_t nAnchors = 0;
};

class ClockModel {
public:
    explicit ClockModel(double dNominalRate) : dNominalRate_(dNominalRate) {}
    ClockModel(const ClockModel&) = delete;
    ClockModel& operator=(const ClockModel&) = delete;

    // A new segment: scan nFirstScan at nMicros (UTC) as the acquisition reckons it, from the
    // monotonic time nMonotonic.
    void begin(uint64_t nFirstScan, int64_t nMicros, int64_t nMonotonic);
    // A recording's model as it was written: from scan nFirstScan on, nMicros and dRate scans per
    // second; and the fit it states.
    void fixed(uint64_t nFirstScan, int64_t nMicros, double dRate);
    void stated(const ClockFit& fit);
    // Scans below nDelivered were delivered by the monotonic time nMonotonic.
    void anchor(uint64_t nDelivered, int64_t nMonotonic);
    // UTC microseconds of scan nScan; 0 before any segment began.
    int64_t micros(uint64_t nScan) const;
    ClockFit fit() const;
    // Scans per second of host time at scan nScan: its segment's fitted rate.
    double rateAt(uint64_t nScan) const;

    // The fitting in itself, for a table of anchors: the line y = a + b (x - x0) below every point
    // (x ascending) that is closest to them on average. False for fewer than two distinct x.
    struct Point {
        double x, y;
    };
    static bool lowerEnvelopeLine(const std::vector<Point>& hull, double dMeanX, double* pdSlope, double* pdAt, double dMinSlope,
                                  double dMaxSlope);

private:
    struct Segment {
        uint64_t nFirstScan = 0;
        int64_t nStartMicros = 0;    // UTC of nFirstScan, nominally
        int64_t nMonotonicBase = 0;  // monotonic time that maps to nStartMicros
        double dMicrosPerScan = 0;   // the line: micros = start + dAt + dMicrosPerScan * (scan - first)
        double dAt = 0;
        std::vector<Point> hull;     // the anchors' lower convex hull (x: scans from first, y: µs)
        double dSumX = 0;
        uint64_t nAnchors = 0;
        double dLastX = -1;
    };
    bool refit(Segment& segment);
    const Segment& segmentOf(uint64_t nScan) const;

    const double dNominalRate_;
    mutable std::mutex mutex_;
    std::vector<Segment> segments_;
    double dBoundMicros_ = 0;
    uint64_t nAnchors_ = 0;
    double dStatedRate_ = 0;
};

}  // namespace qacq
