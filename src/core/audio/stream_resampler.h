#pragma once

#include <memory>
#include <span>
#include <vector>

namespace vernalo {

// Band-limited conversion of one continuous mono stream to 16 kHz: a Kaiser-windowed sinc
// (passband to 7 kHz, 70 dB down from 9 kHz) evaluated at each output instant from a table of
// its phases. Unlike picking samples, nothing above 8 kHz folds back into speech, and it costs
// about a hundred multiply-adds per output sample. It keeps the input it still needs between
// calls, so a stream must be fed through one instance in order.
class StreamResampler
{
public:
    explicit StreamResampler(double sourceRate);
    ~StreamResampler();
    StreamResampler(const StreamResampler &) = delete;
    StreamResampler &operator=(const StreamResampler &) = delete;

    double sourceRate() const { return m_sourceRate; }
    // The 16 kHz samples the input makes available now (the filter holds back half its width).
    std::vector<float> process(std::span<const float> mono);

private:
    struct State;
    double m_sourceRate;
    std::unique_ptr<State> m_state; // null when the source already runs at 16 kHz
};

} // namespace vernalo
