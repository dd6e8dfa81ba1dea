#include "audio/stream_resampler.h"

#include "audio/pcm_format.h"

#include <cmath>
#include <samplerate.h>

namespace vernalo {

struct StreamResampler::State
{
    SRC_STATE *src = nullptr;
    ~State()
    {
        if (src)
            src_delete(src);
    }
};

StreamResampler::StreamResampler(double sourceRate)
    : m_sourceRate(sourceRate)
    , m_state(std::make_unique<State>())
{
    int error = 0;
    if (std::abs(sourceRate - pcm::kSampleRate) > 0.5)
        m_state->src = src_new(SRC_SINC_FASTEST, 1, &error);
}

StreamResampler::~StreamResampler() = default;

std::vector<float> StreamResampler::process(std::span<const float> mono)
{
    if (!m_state->src || mono.empty())
        return {mono.begin(), mono.end()};
    const double ratio = pcm::kSampleRate / m_sourceRate;
    std::vector<float> out(static_cast<size_t>(std::ceil(mono.size() * ratio)) + 16);
    SRC_DATA data {};
    data.data_in = mono.data();
    data.input_frames = static_cast<long>(mono.size());
    data.data_out = out.data();
    data.output_frames = static_cast<long>(out.size());
    data.src_ratio = ratio;
    data.end_of_input = 0;
    if (src_process(m_state->src, &data) != 0)
        return {};
    out.resize(static_cast<size_t>(data.output_frames_gen));
    return out;
}

} // namespace vernalo
