#include "pulse/monitor_mixer.h"

#include <algorithm>

namespace vernalo::pulse {

MonitorMixer::MonitorMixer(int channels, qsizetype maxLagFrames)
    : m_channels(std::max(channels, 1))
    , m_maxLagFrames(maxLagFrames)
{ }

void MonitorMixer::addInput(quint32 key)
{
    auto it = m_inputs.find(key);
    if (it == m_inputs.end())
        m_inputs.emplace(key, Input {});
    else
        it->second.closing = false; // the same stream came back (moved to another output)
}

void MonitorMixer::removeInput(quint32 key)
{
    auto it = m_inputs.find(key);
    if (it == m_inputs.end())
        return;
    if (it->second.samples.empty())
        m_inputs.erase(it);
    else
        it->second.closing = true;
}

bool MonitorMixer::hasInput(quint32 key) const
{
    auto it = m_inputs.find(key);
    return it != m_inputs.end() && !it->second.closing;
}

int MonitorMixer::openInputCount() const
{
    return static_cast<int>(std::count_if(m_inputs.begin(), m_inputs.end(),
                                          [](const auto &entry) { return !entry.second.closing; }));
}

void MonitorMixer::push(quint32 key, std::span<const float> interleaved)
{
    auto it = m_inputs.find(key);
    if (it == m_inputs.end() || it->second.closing)
        return;
    // Whole frames only; a torn frame would shift the channels of everything after it.
    const size_t usable = interleaved.size() - interleaved.size() % static_cast<size_t>(m_channels);
    it->second.samples.insert(it->second.samples.end(), interleaved.begin(),
                              interleaved.begin() + static_cast<std::ptrdiff_t>(usable));
}

std::vector<float> MonitorMixer::take()
{
    if (m_inputs.empty())
        return {};
    qsizetype lead = 0;
    qsizetype ready = -1;
    for (const auto &[key, input] : m_inputs) {
        const qsizetype frames = input.frames(m_channels);
        lead = std::max(lead, frames);
        if (!input.closing)
            ready = ready < 0 ? frames : std::min(ready, frames);
    }
    if (ready < 0) // only closing inputs: let all of it out
        ready = lead;
    ready = std::max(ready, lead - m_maxLagFrames);
    if (ready <= 0)
        return {};

    std::vector<float> out(static_cast<size_t>(ready * m_channels), 0.0f);
    for (auto it = m_inputs.begin(); it != m_inputs.end();) {
        Input &input = it->second;
        const size_t count =
            static_cast<size_t>(std::min(ready, input.frames(m_channels)) * m_channels);
        for (size_t i = 0; i < count; ++i)
            out[i] += input.samples[i];
        input.samples.erase(input.samples.begin(),
                            input.samples.begin() + static_cast<std::ptrdiff_t>(count));
        if (input.closing && input.samples.empty())
            it = m_inputs.erase(it);
        else
            ++it;
    }
    return out;
}

} // namespace vernalo::pulse
