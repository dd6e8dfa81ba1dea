#include "support/pulse_fixture.h"

#include <cerrno>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QtEndian>
#include <QThread>
#include <QTimer>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vernalo::test {

namespace {

constexpr int kTimeoutMs = 10000; // starting a server, running a tool

bool isPipeWire()
{
    return qEnvironmentVariable("VERNALO_SOUND_SERVER") == QLatin1String("pipewire");
}

// Arguments written as one line; none of them holds a blank.
QStringList words(const QString &line)
{
    return line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

bool failWith(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
    return false;
}

QProcessEnvironment serverEnvironment(const QString &root)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto &[name, folder] : {std::pair {"HOME", "/home"},
                                       {"XDG_RUNTIME_DIR", "/runtime"},
                                       {"XDG_CONFIG_HOME", "/config"},
                                       {"XDG_STATE_HOME", "/state"},
                                       {"PULSE_RUNTIME_PATH", "/runtime/pulse"},
                                       {"PULSE_STATE_PATH", "/state/pulse"},
                                       {"PIPEWIRE_RUNTIME_DIR", "/runtime"}})
        environment.insert(QLatin1String(name), root + QLatin1String(folder));
    environment.remove(QStringLiteral("PULSE_SERVER"));
    // PipeWire and its session manager find each other over a bus of their own; PulseAudio has
    // no session bus and must not try to start one.
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                       isPipeWire() ? QStringLiteral("unix:path=%1/runtime/bus").arg(root)
                                    : QStringLiteral("disabled:"));
    if (isPipeWire()) {
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    }
    return environment;
}

// Samples of a sine, the same value in every channel, as float32le or s16le.
QByteArray sineBytes(double frequency, double amplitude, int rate, int channels, double seconds,
                     bool floatSamples)
{
    const qsizetype frames = static_cast<qsizetype>(std::llround(seconds * rate));
    QByteArray bytes;
    bytes.reserve(frames * channels * (floatSamples ? 4 : 2));
    for (qsizetype i = 0; i < frames; ++i) {
        const double value =
            amplitude * std::sin(2.0 * M_PI * frequency * static_cast<double>(i) / rate);
        const float sample = static_cast<float>(value);
        char raw[2];
        qToLittleEndian<qint16>(static_cast<qint16>(std::lround(value * 32767.0)), raw);
        for (int c = 0; c < channels; ++c)
            bytes.append(floatSamples ? reinterpret_cast<const char *>(&sample) : raw,
                         floatSamples ? 4 : 2);
    }
    return bytes;
}

} // namespace

PulseFixture::PulseFixture() = default;

PulseFixture::~PulseFixture()
{
    stop();
}

QString PulseFixture::flavour()
{
    return isPipeWire() ? QStringLiteral("pipewire") : QStringLiteral("pulseaudio");
}

bool PulseFixture::start(QString *error)
{
    stop();
    m_dir =
        std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/vernalo-pulse-XXXXXX"));
    if (!m_dir->isValid())
        return failWith(error, QStringLiteral("no temporary folder"));
    const QString root = m_dir->path();
    for (const QString &folder : words(QStringLiteral("home runtime/pulse config state")))
        QDir().mkpath(root + QLatin1Char('/') + folder);
    ::chmod(QFile::encodeName(root + QStringLiteral("/runtime")).constData(), 0700);
    m_hadPreviousServer = qEnvironmentVariableIsSet("PULSE_SERVER");
    m_previousServer = qgetenv("PULSE_SERVER");

    const QString bus = root + QStringLiteral("/runtime/bus");
    const bool started = !isPipeWire() ||
        (launch(QStringLiteral("dbus-daemon"),
                words(QStringLiteral("--session --nofork --address=unix:path=") + bus), bus,
                error) &&
         launch(QStringLiteral("pipewire"), {}, root + QStringLiteral("/runtime/pipewire-0"),
                error) &&
         launch(QStringLiteral("wireplumber"), {}, {}, error));
    if (!started || !launchServer(error) || !configure(error)) {
        stop();
        return false;
    }
    return true;
}

bool PulseFixture::launch(const QString &program, const QStringList &arguments,
                          const QString &waitForPath, QString *error)
{
    const QString log = m_dir->path() + QStringLiteral("/daemon.log");
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(serverEnvironment(m_dir->path()));
    process->setStandardOutputFile(log, QIODevice::Append);
    process->setStandardErrorFile(log, QIODevice::Append);
    // The server goes down with this process, even if the test crashes.
    process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    process->start(program, arguments);
    if (!process->waitForStarted(kTimeoutMs))
        return failWith(error,
                        program + QStringLiteral(" did not start: ") + process->errorString());
    QProcess *started = process.get();
    m_processes.push_back(std::move(process));
    if (waitForPath.isEmpty())
        return true;
    // Wait for the socket to appear (or the server to give up), with a deadline.
    if (!QFileInfo::exists(waitForPath)) {
        QEventLoop loop;
        QFileSystemWatcher watcher({QFileInfo(waitForPath).path()});
        QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged, &loop, [&] {
            if (QFileInfo::exists(waitForPath))
                loop.quit();
        });
        QObject::connect(started, &QProcess::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(kTimeoutMs, &loop, &QEventLoop::quit);
        if (!QFileInfo::exists(waitForPath))
            loop.exec();
    }
    if (!QFileInfo::exists(waitForPath) || started->state() != QProcess::Running)
        return failWith(
            error,
            QStringLiteral("%1: %2 did not appear\n%3").arg(program, waitForPath, logTail()));
    return true;
}

bool PulseFixture::launchServer(QString *error)
{
    const QString socket = m_dir->path() + QStringLiteral("/runtime/pulse/native");
    QFile::remove(socket);
    // PulseAudio in the foreground (no -D) so the server stays our child; no default script
    // (-n); root needs no flag beyond staying out of system mode.
    const QStringList pulseArguments =
        words(QStringLiteral("--daemonize=no -n --system=no --exit-idle-time=-1 --disallow-exit "
                             "--use-pid-file=no --realtime=no --high-priority=no"))
        << QStringLiteral("--load=module-native-protocol-unix auth-anonymous=1 socket=") + socket;
    if (!(isPipeWire() ? launch(QStringLiteral("pipewire-pulse"), {}, socket, error)
                       : launch(QStringLiteral("pulseaudio"), pulseArguments, socket, error)))
        return false;
    m_pulseServer = m_processes.back().get();
    qputenv("PULSE_SERVER", serverAddress().toUtf8());
    return true;
}

bool PulseFixture::configure(QString *error)
{
    // PipeWire's pulse service answers once its session manager has set up the graph, and adds
    // a loaded sink to its graph a moment after the load returns.
    QDeadlineTimer deadline(kTimeoutMs);
    const auto retry = [&](const QStringList &arguments) {
        while (!pactl(arguments)) {
            if (deadline.hasExpired())
                return false;
            QThread::msleep(50);
        }
        return true;
    };
    if (!retry({QStringLiteral("info")}))
        return failWith(error, QStringLiteral("pactl info failed\n") + logTail());
    if (!loadModule(QStringLiteral("module-null-sink"),
                    words(QStringLiteral("rate=48000 channels=2 norewinds=1 "
                                         "sink_properties=device.description=TestSink sink_name=") +
                          sinkName())))
        return failWith(error, QStringLiteral("null sink did not load\n") + logTail());
    if (!retry({QStringLiteral("set-default-sink"), sinkName()}))
        return failWith(error, QStringLiteral("default sink not set\n") + logTail());
    return true;
}

bool PulseFixture::kill()
{
    if (!m_pulseServer || m_pulseServer->state() != QProcess::Running)
        return false;
    m_pulseServer->kill();
    m_pulseServer->waitForFinished(kTimeoutMs);
    return true;
}

bool PulseFixture::freeze(bool frozen)
{
    return m_pulseServer &&
        ::kill(static_cast<pid_t>(m_pulseServer->processId()), frozen ? SIGSTOP : SIGCONT) == 0;
}

bool PulseFixture::restart(QString *error)
{
    kill();
    return launchServer(error) && configure(error);
}

void PulseFixture::stopPlayers()
{
    for (QProcess *player : std::as_const(m_players)) {
        player->kill();
        player->waitForFinished(kTimeoutMs);
        delete player;
    }
    m_players.clear();
}

void PulseFixture::stop()
{
    stopPlayers();
    if (!m_processes.empty()) {
        for (auto it = m_processes.rbegin(); it != m_processes.rend(); ++it) {
            if ((*it)->state() == QProcess::NotRunning)
                continue;
            (*it)->terminate();
            if (!(*it)->waitForFinished(kTimeoutMs)) {
                (*it)->kill();
                (*it)->waitForFinished(kTimeoutMs);
            }
        }
        m_processes.clear();
        m_pulseServer = nullptr;
        if (m_hadPreviousServer)
            qputenv("PULSE_SERVER", m_previousServer);
        else
            qunsetenv("PULSE_SERVER");
    }
    m_dir.reset();
}

QString PulseFixture::serverAddress() const
{
    return m_dir ? QStringLiteral("unix:%1/runtime/pulse/native").arg(m_dir->path()) : QString();
}

QString PulseFixture::logTail() const
{
    QFile log(m_dir ? m_dir->path() + QStringLiteral("/daemon.log") : QString());
    return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll().right(4000)) : QString();
}

bool PulseFixture::pactl(const QStringList &arguments, QString *output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("pactl"), arguments);
    if (!process.waitForFinished(kTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    if (output)
        *output = QString::fromUtf8(process.readAll()).trimmed();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

std::optional<int> PulseFixture::loadModule(const QString &name, const QStringList &arguments)
{
    QString output;
    bool ok = false;
    const int index = pactl(QStringList {QStringLiteral("load-module"), name} + arguments, &output)
        ? output.toInt(&ok)
        : 0;
    return ok ? std::optional<int>(index) : std::nullopt;
}

std::optional<PulseFixture::FakeMicrophone>
PulseFixture::addPipeMicrophone(const QString &sourceName, const QString &description,
                                const QStringList &properties, int rate, int channels,
                                bool floatSamples)
{
    if (!m_dir)
        return std::nullopt;
    FakeMicrophone microphone {
        .sourceName = sourceName,
        .fifoPath = QStringLiteral("%1/mic%2.fifo").arg(m_dir->path()).arg(++m_pipeCount),
        .rate = rate,
        .channels = channels,
        .floatSamples = floatSamples};
    // Values with spaces are single-quoted inside the double-quoted property list.
    const QStringList props = QStringList(properties)
        << QStringLiteral("device.description='%1'").arg(description);
    const auto index = loadModule(
        QStringLiteral("module-pipe-source"),
        {QStringLiteral("source_name=") + sourceName, QStringLiteral("file=") + microphone.fifoPath,
         floatSamples ? QStringLiteral("format=float32le") : QStringLiteral("format=s16le"),
         QStringLiteral("rate=%1").arg(rate), QStringLiteral("channels=%1").arg(channels),
         QStringLiteral("source_properties=\"%1\"").arg(props.join(QLatin1Char(' ')))});
    if (!index)
        return std::nullopt;
    microphone.moduleIndex = *index;
    return microphone;
}

bool PulseFixture::addRealRateMicrophone(const QString &sourceName, double frequency)
{
    const QString feed = sourceName + QStringLiteral("_feed");
    return loadModule(
               QStringLiteral("module-null-sink"),
               words(QStringLiteral("rate=48000 channels=1 norewinds=1 sink_name=") + feed)) &&
        loadModule(
               QStringLiteral("module-sine"),
               {QStringLiteral("sink=") + feed, QStringLiteral("frequency=%1").arg(frequency)}) &&
        loadModule(QStringLiteral("module-remap-source"),
                   {QStringLiteral("master=%1.monitor").arg(feed),
                    QStringLiteral("source_name=") + sourceName,
                    QStringLiteral("source_properties=device.bus=pci")});
}

bool PulseFixture::writeTone(const FakeMicrophone &microphone, double frequency, double amplitude,
                             double seconds)
{
    return writeSamples(microphone,
                        sineBytes(frequency, amplitude, microphone.rate, microphone.channels,
                                  seconds, microphone.floatSamples));
}

bool PulseFixture::writeSamples(const FakeMicrophone &microphone, const QByteArray &bytes)
{
    // The source holds its end open, so this open never blocks; a larger pipe takes the
    // whole sound at once.
    const int fd =
        ::open(QFile::encodeName(microphone.fifoPath).constData(), O_WRONLY | O_NONBLOCK);
    if (fd < 0)
        return false;
    ::fcntl(fd, F_SETPIPE_SZ, 1 << 20);
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n =
            ::write(fd, bytes.constData() + written, static_cast<size_t>(bytes.size() - written));
        if (n < 0 && errno != EINTR)
            break;
        written += std::max<ssize_t>(n, 0);
    }
    ::close(fd);
    return written == bytes.size();
}

QProcess *PulseFixture::play(const QString &applicationId, const QStringList &arguments,
                             const QByteArray &input)
{
    auto *player = new QProcess;
    m_players.append(player);
    player->setProcessChannelMode(QProcess::ForwardedChannels);
    player->start(
        input.isEmpty() ? QStringLiteral("paplay") : QStringLiteral("pacat"),
        QStringList {QStringLiteral("--latency-msec=40"),
                     QStringLiteral("--property=application.process.binary=") + applicationId,
                     QStringLiteral("--property=application.name=") + applicationId} +
            arguments);
    if (player->waitForStarted(kTimeoutMs) && !input.isEmpty()) {
        player->write(input);
        player->closeWriteChannel();
    }
    return player;
}

QProcess *PulseFixture::playFile(const QString &applicationId, const QString &path)
{
    return play(applicationId, {QStringLiteral("--device=") + sinkName(), path}, {});
}

QProcess *PulseFixture::playTone(const QString &applicationId, double frequency, double amplitude,
                                 double seconds, const QString &sink)
{
    return play(applicationId,
                words(QStringLiteral("--playback --format=s16le --rate=48000 --channels=2 "
                                     "--device=") +
                      (sink.isEmpty() ? sinkName() : sink)),
                sineBytes(frequency, amplitude, 48000, 2, seconds, false));
}

} // namespace vernalo::test
