#include "audio/stream_resampler.h"

#include "audio/pcm_format.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace vernalo {

namespace {

constexpr double kStopbandDb = 70.0;
constexpr int kMaxPhases = 512; // rates without a small common divisor round to these

} // namespace

struct StreamResampler::State
{
    double step = 1.0; // input samples per output sample
    int halfWidth = 1; // in input samples
    int phases = 1;
    std::vector<float> table; // phases rows of 2·halfWidth taps
    std::vector<float> history; // input samples from absolute index `first` on
    long long first = 0;
    long long nextOut = 0;
};

StreamResampler::StreamResampler(double sourceRate)
    : m_sourceRate(sourceRate)
{
    if (sourceRate <= 0.0 || std::abs(sourceRate - pcm::kSampleRate) < 0.5)
        return;
    auto state = std::make_unique<State>();
    state->step = sourceRate / pcm::kSampleRate;
    // Cut at the lower Nyquist frequency, with a transition an eighth of it wide on each side.
    const double band = std::min(sourceRate, double(pcm::kSampleRate));
    const double cutoff = 0.5 * band / sourceRate; // cycles per input sample
    const double transition = 0.125 * band / sourceRate;
    const int taps = int(std::ceil((kStopbandDb - 8.0) / (2.285 * 2.0 * M_PI * transition))) + 1;
    state->halfWidth = std::max(taps / 2, 2);
    const long long rate = std::llround(sourceRate);
    const long long outputs = pcm::kSampleRate / std::gcd(rate, (long long)pcm::kSampleRate);
    state->phases = int(std::min<long long>(outputs, kMaxPhases));

    const double beta = 0.1102 * (kStopbandDb - 8.7);
    const double norm = std::cyl_bessel_i(0.0, beta);
    const int width = 2 * state->halfWidth;
    state->table.resize(size_t(state->phases) * size_t(width));
    for (int p = 0; p < state->phases; ++p) {
        const double fraction = double(p) / state->phases;
        for (int k = 0; k < width; ++k) {
            const double t = fraction + state->halfWidth - 1 - k; // output instant - input index
            const double x = t / state->halfWidth;
            const double window = std::abs(x) >= 1.0
                ? 0.0
                : std::cyl_bessel_i(0.0, beta * std::sqrt(1 - x * x)) / norm;
            const double arg = 2.0 * cutoff * t;
            const double sinc = arg == 0.0 ? 1.0 : std::sin(M_PI * arg) / (M_PI * arg);
            state->table[size_t(p) * size_t(width) + size_t(k)] =
                float(2.0 * cutoff * sinc * window);
        }
    }
    // Silence before the stream starts, so the first output has a full window behind it.
    state->history.assign(size_t(state->halfWidth), 0.0f);
    state->first = -state->halfWidth;
    m_state = std::move(state);
}

StreamResampler::~StreamResampler() = default;

std::vector<float> StreamResampler::process(std::span<const float> mono)
{
    if (!m_state)
        return {mono.begin(), mono.end()};
    State &s = *m_state;
    s.history.insert(s.history.end(), mono.begin(), mono.end());
    const long long available = s.first + static_cast<long long>(s.history.size());
    const int width = 2 * s.halfWidth;
    std::vector<float> out;
    out.reserve(size_t(double(mono.size()) / s.step) + 2);
    for (;;) {
        const double position = double(s.nextOut) * s.step;
        long long base = static_cast<long long>(std::floor(position));
        long long phase = std::llround((position - double(base)) * s.phases);
        if (phase == s.phases) {
            ++base;
            phase = 0;
        }
        if (base + s.halfWidth >= available)
            break;
        const float *x = s.history.data() + (base - s.halfWidth + 1 - s.first);
        const float *h = s.table.data() + size_t(phase) * size_t(width);
        // Four sums side by side keep the multiply-adds flowing.
        float a0 = 0, a1 = 0, a2 = 0, a3 = 0;
        int k = 0;
        for (; k + 4 <= width; k += 4) {
            a0 += x[k] * h[k];
            a1 += x[k + 1] * h[k + 1];
            a2 += x[k + 2] * h[k + 2];
            a3 += x[k + 3] * h[k + 3];
        }
        for (; k < width; ++k)
            a0 += x[k] * h[k];
        out.push_back((a0 + a1) + (a2 + a3));
        ++s.nextOut;
    }
    // Keep only what the next output's window reaches back to.
    const long long keepFrom =
        static_cast<long long>(std::floor(double(s.nextOut) * s.step)) - s.halfWidth + 1;
    if (keepFrom > s.first) {
        const auto drop = std::min<long long>(keepFrom - s.first, (long long)s.history.size());
        s.history.erase(s.history.begin(), s.history.begin() + drop);
        s.first += drop;
    }
    return out;
}

} // namespace vernalo
