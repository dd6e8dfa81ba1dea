#pragma once

#include <memory>
#include <optional>
#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <vector>

namespace vernalo::test {

// A private, headless sound server for one test (or benchmark) process: PulseAudio, or PipeWire
// with its pulse service (and wireplumber, in a D-Bus session of its own) when
// VERNALO_SOUND_SERVER=pipewire. Its own runtime folder and socket, a null sink as the default
// output, and fake microphones made of pipe sources. While it runs, PULSE_SERVER points this
// process (and the tools it starts) at it. The servers are children of this process and die
// with it even after a crash; the destructor stops them and waits for them.
class PulseFixture
{
public:
    PulseFixture();
    ~PulseFixture();

    PulseFixture(const PulseFixture &) = delete;
    PulseFixture &operator=(const PulseFixture &) = delete;

    // False with a reason when no server could be started.
    bool start(QString *error = nullptr);
    void stop();
    // "pulseaudio" or "pipewire", from VERNALO_SOUND_SERVER.
    static QString flavour();
    // Kills the pulse server at once (a crash), without restarting it; true when it was running.
    bool kill();
    // Starts it again on the same socket, with a fresh null sink as the default output.
    bool restart(QString *error = nullptr);
    // Stops (SIGSTOP) or continues the pulse server: a server that hangs.
    bool freeze(bool frozen);
    QString serverAddress() const;
    QString sinkName() const { return QStringLiteral("vernalo_test_sink"); }
    QString logTail() const;

    // A microphone fed through a named pipe: what writeTone() writes arrives in its capture.
    // properties are source properties such as "device.bus=bluetooth".
    struct FakeMicrophone
    {
        QString sourceName;
        QString fifoPath;
        int moduleIndex = -1;
        int rate = 48000;
        int channels = 1;
        bool floatSamples = false;
    };
    std::optional<FakeMicrophone> addPipeMicrophone(const QString &sourceName,
                                                    const QString &description,
                                                    const QStringList &properties, int rate = 48000,
                                                    int channels = 1, bool floatSamples = false);
    // A microphone that hears a sine at exactly the real rate, paced by a null sink of its own
    // (a sine source runs ahead of real time). True when all of it loaded; PulseAudio only.
    bool addRealRateMicrophone(const QString &sourceName, double frequency);
    // Writes a sine (the same in every channel) of the given length into the pipe at once.
    bool writeTone(const FakeMicrophone &microphone, double frequency, double amplitude,
                   double seconds);
    // Writes raw samples in the microphone's own format (rate, channels, sample type) into the
    // pipe at once; the pipe takes up to 1 MiB.
    bool writeSamples(const FakeMicrophone &microphone, const QByteArray &bytes);

    // Plays a sine into the test sink as the application `applicationId` (its binary name to
    // the server). The player exits when the tone has played; the fixture owns it.
    QProcess *playTone(const QString &applicationId, double frequency, double amplitude,
                       double seconds, const QString &sink = {});

    // Plays a sound file into the test sink as the application `applicationId`; the fixture owns
    // the player, which exits when the file has played.
    QProcess *playFile(const QString &applicationId, const QString &path);

    // Ends every player started by playTone() or playFile().
    void stopPlayers();

    std::optional<int> loadModule(const QString &name, const QStringList &arguments);
    // Runs pactl against this server; false when it fails.
    bool pactl(const QStringList &arguments, QString *output = nullptr);

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    bool launchServer(QString *error);
    bool launch(const QString &program, const QStringList &arguments, const QString &waitForPath,
                QString *error);
    bool configure(QString *error);
    QProcess *play(const QString &applicationId, const QStringList &arguments,
                   const QByteArray &input);

    std::vector<std::unique_ptr<QProcess>> m_processes; // started in this order
    QProcess *m_pulseServer = nullptr; // the one that owns the pulse socket
    QList<QProcess *> m_players;
    QByteArray m_previousServer;
    bool m_hadPreviousServer = false;
    int m_pipeCount = 0;
};

} // namespace vernalo::test
