#pragma once

#include "recognizer.h"

#include <QList>

namespace vernalo::server {

// A deterministic recognizer for tests and demos that must not depend on recognition quality.
// The script lists what is "heard" at given audio offsets, one entry per line:
//
//   # comment
//   1.5 hello everyone
//   4.0 [Anna] the budget is approved
//   6.0 !error simulated engine failure
//   7.0 !status stream-restarting
//
// A final is reported once the audio reaches its offset; halfway there the first half of its
// words comes as a partial. A reconnected stream continues at the session's audio offset, so
// nothing is heard twice. Independently the audio level drives the status: two seconds below
// the speech threshold give "waiting-for-audio", audio above it again gives "listening".
struct ScriptEntry
{
    enum class Kind { Final, Error, Status };
    Kind kind = Kind::Final;
    qint64 atMs = 0;
    QString text;
    std::optional<QString> speakerLabel;

    bool operator==(const ScriptEntry &other) const = default;
};

// Parses a script; entries come back sorted by offset. On a bad line returns no value and sets
// *error to "line N: ...".
std::optional<QList<ScriptEntry>> parseRecognitionScript(const QString &text, QString *error);

class ScriptRecognizer final : public Recognizer
{
public:
    ScriptRecognizer(QList<ScriptEntry> entries, bool interim, qint64 startOffsetMs = 0);

    QList<RecognitionEvent> process(const QByteArray &pcm) override;
    QList<RecognitionEvent> finish() override;

    static constexpr double kSpeechLevel = 0.005;
    static constexpr qint64 kLevelWindowMs = 1000;
    static constexpr int kQuietWindowsForWaiting = 2;

private:
    void advanceTo(qint64 offsetMs, QList<RecognitionEvent> &out);
    void levelWindowDone(QList<RecognitionEvent> &out);

    QList<ScriptEntry> m_entries;
    bool m_interim;
    qsizetype m_next = 0;
    bool m_partialSent = false;
    qint64 m_samples = 0;
    QByteArray m_pendingByte;
    QByteArray m_window;
    int m_quietWindows = 0;
    bool m_waiting = false;
};

class ScriptRecognizerFactory final : public RecognizerFactory
{
public:
    explicit ScriptRecognizerFactory(QList<ScriptEntry> entries);
    QString modelName() const override { return QStringLiteral("script"); }
    std::unique_ptr<Recognizer> create(const QString &language, bool interim,
                                       qint64 startOffsetMs) override;

private:
    QList<ScriptEntry> m_entries;
};

} // namespace vernalo::server
