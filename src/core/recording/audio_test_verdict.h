#pragma once

#include "foundation/models.h"

#include <QString>

namespace vernalo {

// What the five-second audio test collected: chunk counts per source and the chunk levels.
struct AudioTestTally
{
    int totalChunks = 0;
    int microphoneChunks = 0;
    int systemChunks = 0;
    double levelSum = 0.0;
    double peakLevel = 0.0;

    void add(bool fromMicrophone, double level);
};

// The result line, the advice and the hint with the figures.
struct AudioTestVerdict
{
    QString statusText;
    QString recommendation;
    QString diagnosticHint;
};

AudioTestVerdict audioTestVerdict(AudioInputMode mode, const AudioTestTally &tally);

} // namespace vernalo
