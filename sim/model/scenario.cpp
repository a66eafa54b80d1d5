#include "scenario.h"

#include <algorithm>

#include "checked_numbers.h"

namespace qsim {

namespace {

// A hash of the seed, the scan and the channel: noise that depends on nothing else.
uint64_t mix(uint64_t n) {
    n += 0x9E3779B97F4A7C15ull;
    n = (n ^ (n >> 30)) * 0xBF58476D1CE4E5B9ull;
    n = (n ^ (n >> 27)) * 0x94D049BB133111EBull;
    return n ^ (n >> 31);
}

// Roughly normal with standard deviation 1: the sum of four uniform numbers from one hash.
double noiseAt(uint32_t nSeed, uint64_t nScan, int32_t nChannel) {
    uint64_t h = mix(mix(nSeed) ^ (nScan * 0xD6E8FEB86659FD93ull) ^ (static_cast<uint64_t>(nChannel) << 48));
    double dSum = 0;
    for (int i = 0; i < 4; ++i) dSum += static_cast<double>((h >> (16 * i)) & 0xFFFF) * (1.0 / 65536.0);
    return (dSum - 2.0 + 2.0 / 65536.0) * 1.7320508075688772;
}

double replayValue(const ScenarioSignal& signal, uint64_t nScan, double dRate, double t) {
    const ReplayData& data = *signal.replay;
    if (data.scans.empty()) return 0;
    // The recording's scan for this one; at the recorded rate and speed 1 they are the same. In
    // scan time it is reckoned from the scan itself, so that no rounding of a time moves it.
    const double dRecorded = signal.bHostTime ? t * signal.dSpeed * data.dRate
                                              : static_cast<double>(nScan) * (signal.dSpeed * data.dRate / dRate);
    uint64_t nRecorded = saturatingUint64(floor(dRecorded + 1e-7));
    const uint64_t nLength = data.scans.back() + 1;
    if (signal.bLoop) nRecorded %= nLength;
    // The last value recorded at or before it: a gap or a slower recording holds its value.
    auto it = std::upper_bound(data.scans.begin(), data.scans.end(), nRecorded);
    size_t nIndex = it == data.scans.begin() ? 0 : static_cast<size_t>(it - data.scans.begin()) - 1;
    return data.values[nIndex];
}

}  // namespace

uint64_t firstScanAt(double dSeconds, double dRate) {
    if (isinf(dSeconds)) return UINT64_MAX;
    return saturatingUint64(ceil(dSeconds * dRate - 1e-9));
}

double ScenarioClock::seconds(uint64_t nWorldScan, bool bHostTime) const {
    const double dScans = static_cast<double>(nWorldScan);
    return bHostTime ? dHostLead + dScans / dHostRate : dScans / dRate;
}

uint64_t ScenarioClock::firstWorldScanAt(double dSeconds, bool bHostTime) const {
    if (!bHostTime) return qsim::firstScanAt(dSeconds, dRate);
    return qsim::firstScanAt(dSeconds - dHostLead, dHostRate);
}

uint64_t ScenarioClock::firstScanAt(double dSeconds, bool bHostTime) const {
    const uint64_t nWorld = firstWorldScanAt(dSeconds, bHostTime);
    if (nWorld == UINT64_MAX) return UINT64_MAX;
    return nWorld > nOffset ? nWorld - nOffset : 0;
}

double signalValue(const ScenarioSignal& signal, const ScenarioClock& clock, uint64_t nScan, int32_t nChannel) {
    const double dRate = clock.dRate;
    const double t = clock.seconds(nScan, signal.bHostTime);
    double dValue = 0;
    switch (signal.kind) {
        case SignalKind::Constant: dValue = signal.dValue; break;
        case SignalKind::Ramp: {
            double dPhase = t / signal.dDuration;
            if (signal.bRepeat) {
                dPhase -= floor(dPhase);
            } else if (dPhase > 1) {
                dPhase = 1;
            }
            dValue = signal.dFrom + (signal.dTo - signal.dFrom) * dPhase;
            break;
        }
        case SignalKind::Sine: dValue = signal.dOffset + signal.dAmplitude * sin(2.0 * M_PI * t / signal.dPeriod); break;
        case SignalKind::Steps: {
            uint64_t nStep = saturatingUint64(floor(t / signal.dEvery + 1e-9));
            size_t nSteps = signal.steps.size();
            nStep = signal.bRepeat ? nStep % nSteps : std::min<uint64_t>(nStep, nSteps - 1);
            dValue = signal.steps[static_cast<size_t>(nStep)];
            break;
        }
        case SignalKind::Replay: dValue = replayValue(signal, nScan, dRate, t); break;
    }
    if (signal.dNoise > 0) dValue += signal.dNoise * noiseAt(signal.nSeed, nScan, nChannel);
    return dValue;
}

}  // namespace qsim
