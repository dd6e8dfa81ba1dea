#pragma once

#include <memory>
#include <optional>
#include <QByteArray>
#include <QList>
#include <QString>

namespace vernalo::server {

// What a recognizer reports while audio flows. Offsets are milliseconds of the session's audio
// (all its stream connections together), so the stream can turn them into wall-clock times.
struct RecognitionEvent
{
    enum class Kind { Partial, Final, Status, Error };
    Kind kind = Kind::Partial;
    QString text; // partial and final text, error message
    QString state; // status state
    qint64 startMs = 0;
    // A final's end: the audio before it is settled and never yields another final.
    qint64 endMs = 0;
    std::optional<QString> speakerLabel;

    bool operator==(const RecognitionEvent &other) const = default;
};

// One stream's recognizer. Fed 16 kHz mono PCM16 in any chunk sizes; not thread-safe, used
// from one worker thread at a time.
class Recognizer
{
public:
    virtual ~Recognizer() = default;
    virtual QList<RecognitionEvent> process(const QByteArray &pcm) = 0;
    // The stream ended: turns any open utterance into a final.
    virtual QList<RecognitionEvent> finish() = 0;
};

// Makes recognizers; chosen once at start by --recognizer. create() may run on any thread.
class RecognizerFactory
{
public:
    virtual ~RecognizerFactory() = default;
    virtual QString modelName() const = 0;
    // startOffsetMs: audio the session already received on earlier connections.
    virtual std::unique_ptr<Recognizer> create(const QString &language, bool interim,
                                               qint64 startOffsetMs) = 0;
    // Loads what the first stream would otherwise wait for; called once on a worker thread.
    virtual void warmUp() { }
};

// Builds the factory named on the command line; on failure returns null and sets *error.
std::unique_ptr<RecognizerFactory> makeRecognizerFactory(const QString &name,
                                                         const QString &scriptFile,
                                                         const QString &grammarFile,
                                                         QString *error);

} // namespace vernalo::server
