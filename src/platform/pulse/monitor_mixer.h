#pragma once

#include <map>
#include <QtGlobal>
#include <span>
#include <vector>

namespace vernalo::pulse {

// Sums the playback streams of one application, each recorded by its own monitor stream, into
// one stream of interleaved float frames. The inputs run off the same output clock, so frames
// leave as soon as every input has delivered them; an input that falls silent (paused, about to
// end) holds the others back by at most maxLagFrames and is counted as silence after that.
class MonitorMixer
{
public:
    MonitorMixer(int channels, qsizetype maxLagFrames);

    void addInput(quint32 key);
    // What the input already delivered still leaves with the next frames.
    void removeInput(quint32 key);
    bool hasInput(quint32 key) const;
    int openInputCount() const;

    void push(quint32 key, std::span<const float> interleaved);
    // The frames every input has delivered (or that waited too long), summed; may be empty.
    std::vector<float> take();

private:
    struct Input
    {
        std::vector<float> samples;
        bool closing = false;
        qsizetype frames(int channels) const
        {
            return static_cast<qsizetype>(samples.size()) / channels;
        }
    };

    int m_channels;
    qsizetype m_maxLagFrames;
    std::map<quint32, Input> m_inputs;
};

} // namespace vernalo::pulse
