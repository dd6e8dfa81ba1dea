#pragma once

#include "recognizer.h"

#include <QList>
#include <QMutex>
#include <QString>

typedef struct ps_decoder_s ps_decoder_t;

namespace vernalo::server {

// Streaming recognition with the system's pocketsphinx en-US model. English only; meant for
// demos. Decoders take about half a second to load, so they are pooled and reused.
class PocketsphinxRecognizerFactory final : public RecognizerFactory
{
public:
    // grammarFile: optional JSGF grammar that replaces the language model (reliable demos).
    PocketsphinxRecognizerFactory(QString modelDir, QString grammarFile);
    ~PocketsphinxRecognizerFactory() override;

    // Checks that the model files exist; false with *error otherwise.
    bool validate(QString *error) const;
    QString modelName() const override;
    std::unique_ptr<Recognizer> create(const QString &language, bool interim,
                                       qint64 startOffsetMs) override;
    void warmUp() override;

    ps_decoder_t *acquire();
    void release(ps_decoder_t *decoder);

private:
    ps_decoder_t *load();

    QString m_modelDir;
    QString m_grammarFile;
    QMutex m_mutex;
    QList<ps_decoder_t *> m_idle;
};

class PocketsphinxRecognizer final : public Recognizer
{
public:
    PocketsphinxRecognizer(PocketsphinxRecognizerFactory &factory, ps_decoder_t *decoder,
                           bool interim, qint64 startOffsetMs);
    ~PocketsphinxRecognizer() override;

    QList<RecognitionEvent> process(const QByteArray &pcm) override;
    QList<RecognitionEvent> finish() override;

    // Silence after speech that ends an utterance, on top of the decoder's own speech detector.
    static constexpr qint64 kEndSilenceMs = 300;
    static constexpr qint64 kMaxUtteranceMs = 20000;
    static constexpr qint64 kPartialEveryMs = 500;

private:
    void processBlock(const qint16 *samples, int count, QList<RecognitionEvent> &out);
    void endUtterance(QList<RecognitionEvent> &out);
    qint64 nowMs() const;

    PocketsphinxRecognizerFactory &m_factory;
    ps_decoder_t *m_decoder;
    bool m_interim;
    qint64 m_baseMs;
    qint64 m_samples = 0;
    QByteArray m_pendingByte;
    bool m_inSpeech = false;
    qint64 m_utteranceStartMs = 0;
    qint64 m_silenceMs = 0;
    qint64 m_lastPartialMs = 0;
    QString m_lastPartial;
};

} // namespace vernalo::server
