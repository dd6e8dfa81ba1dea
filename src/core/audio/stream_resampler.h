#pragma once

#include <memory>
#include <span>
#include <vector>

namespace vernalo {

// Band-limited conversion of one continuous mono stream to 16 kHz (libsamplerate's sinc
// filter). Unlike picking samples, nothing above 8 kHz folds back into speech. It keeps the
// filter state between calls, so a stream must be fed through one instance in order.
class StreamResampler
{
public:
    explicit StreamResampler(double sourceRate);
    ~StreamResampler();
    StreamResampler(const StreamResampler &) = delete;
    StreamResampler &operator=(const StreamResampler &) = delete;

    double sourceRate() const { return m_sourceRate; }
    // The 16 kHz samples the input makes available now (the filter holds back a few).
    std::vector<float> process(std::span<const float> mono);

private:
    struct State;
    double m_sourceRate;
    std::unique_ptr<State> m_state;
};

} // namespace vernalo
