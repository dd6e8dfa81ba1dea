#include "support/pulse_fixture.h"

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
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

constexpr int kStartTimeoutMs = 10000;
constexpr int kToolTimeoutMs = 10000;

QProcessEnvironment serverEnvironment(const QString &root)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), root + QStringLiteral("/home"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), root + QStringLiteral("/runtime"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), root + QStringLiteral("/config"));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), root + QStringLiteral("/state"));
    environment.insert(QStringLiteral("PULSE_RUNTIME_PATH"),
                       root + QStringLiteral("/runtime/pulse"));
    environment.insert(QStringLiteral("PULSE_STATE_PATH"), root + QStringLiteral("/state/pulse"));
    // No session bus: the server must not try to start one.
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
    environment.remove(QStringLiteral("PULSE_SERVER"));
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
        for (int c = 0; c < channels; ++c) {
            if (floatSamples) {
                const float sample = static_cast<float>(value);
                bytes.append(reinterpret_cast<const char *>(&sample), 4);
            } else {
                char raw[2];
                qToLittleEndian<qint16>(static_cast<qint16>(std::lround(value * 32767.0)), raw);
                bytes.append(raw, 2);
            }
        }
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
    const QString chosen = qEnvironmentVariable("VERNALO_SOUND_SERVER");
    return chosen == QLatin1String("pipewire") ? chosen : QStringLiteral("pulseaudio");
}

bool PulseFixture::start(QString *error)
{
    stop();
    m_dir =
        std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/vernalo-pulse-XXXXXX"));
    if (!m_dir->isValid()) {
        if (error)
            *error = QStringLiteral("no temporary folder");
        return false;
    }
    const QString root = m_dir->path();
    for (const char *folder : {"home", "runtime", "runtime/pulse", "config", "state"})
        QDir().mkpath(root + QLatin1Char('/') + QLatin1String(folder));
    ::chmod(QFile::encodeName(root + QStringLiteral("/runtime")).constData(), 0700);
    m_hadPreviousServer = qEnvironmentVariableIsSet("PULSE_SERVER");
    m_previousServer = qgetenv("PULSE_SERVER");

    if (flavour() == QLatin1String("pipewire")) {
        // PipeWire and its session manager find each other over D-Bus: a bus of their own.
        const QString bus = root + QStringLiteral("/runtime/bus");
        if (!launch(QStringLiteral("dbus-daemon"),
                    {QStringLiteral("--session"), QStringLiteral("--nofork"),
                     QStringLiteral("--address=unix:path=%1").arg(bus)},
                    bus, error) ||
            !launch(QStringLiteral("pipewire"), {}, root + QStringLiteral("/runtime/pipewire-0"),
                    error) ||
            !launch(QStringLiteral("wireplumber"), {}, {}, error)) {
            stop();
            return false;
        }
    }
    if (!launchServer(error) || !configure(error)) {
        stop();
        return false;
    }
    return true;
}

bool PulseFixture::launch(const QString &program, const QStringList &arguments,
                          const QString &waitForPath, QString *error)
{
    const QString root = m_dir->path();
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = serverEnvironment(root);
    if (flavour() == QLatin1String("pipewire")) {
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                           QStringLiteral("unix:path=%1/runtime/bus").arg(root));
        environment.insert(QStringLiteral("PIPEWIRE_RUNTIME_DIR"),
                           root + QStringLiteral("/runtime"));
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    }
    process->setProcessEnvironment(environment);
    process->setStandardOutputFile(root + QStringLiteral("/daemon.log"), QIODevice::Append);
    process->setStandardErrorFile(root + QStringLiteral("/daemon.log"), QIODevice::Append);
    // The server goes down with this process, even if the test crashes.
    process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    process->start(program, arguments);
    if (!process->waitForStarted(kStartTimeoutMs)) {
        if (error)
            *error = QStringLiteral("%1 did not start: %2").arg(program, process->errorString());
        return false;
    }
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
        QTimer::singleShot(kStartTimeoutMs, &loop, &QEventLoop::quit);
        if (!QFileInfo::exists(waitForPath))
            loop.exec();
    }
    if (!QFileInfo::exists(waitForPath) || started->state() != QProcess::Running) {
        if (error)
            *error =
                QStringLiteral("%1: %2 did not appear\n%3").arg(program, waitForPath, logTail());
        return false;
    }
    return true;
}

bool PulseFixture::launchServer(QString *error)
{
    const QString root = m_dir->path();
    const QString socket = root + QStringLiteral("/runtime/pulse/native");
    QFile::remove(socket);
    // PulseAudio in the foreground (no -D) so the server stays our child; no default script
    // (-n); root needs no flag beyond staying out of system mode.
    const QStringList pulseArguments =
        QStringLiteral("--daemonize=no -n --system=no --exit-idle-time=-1 --disallow-exit "
                       "--use-pid-file=no --realtime=no --high-priority=no")
            .split(QLatin1Char(' '))
        << QStringLiteral("--load=module-native-protocol-unix auth-anonymous=1 socket=%1")
               .arg(socket);
    const bool launched = flavour() == QLatin1String("pipewire")
        ? launch(QStringLiteral("pipewire-pulse"), {}, socket, error)
        : launch(QStringLiteral("pulseaudio"), pulseArguments, socket, error);
    if (!launched)
        return false;
    m_pulseServer = m_processes.back().get();
    qputenv("PULSE_SERVER", serverAddress().toUtf8());
    return true;
}

bool PulseFixture::configure(QString *error)
{
    auto fail = [&](const QString &reason) {
        if (error)
            *error = reason + QStringLiteral("\n") + logTail();
        return false;
    };
    // PipeWire's pulse service answers once its session manager has set up the graph.
    QDeadlineTimer deadline(kStartTimeoutMs);
    while (!pactl({QStringLiteral("info")})) {
        if (deadline.hasExpired())
            return fail(QStringLiteral("pactl info failed"));
        QThread::msleep(50);
    }
    if (!loadModule(QStringLiteral("module-null-sink"),
                    {QStringLiteral("sink_name=%1").arg(sinkName()), QStringLiteral("rate=48000"),
                     QStringLiteral("channels=2"), QStringLiteral("norewinds=1"),
                     QStringLiteral("sink_properties=device.description=TestSink")}))
        return fail(QStringLiteral("null sink did not load"));
    // PipeWire adds the loaded sink to its graph a moment after the load returns.
    while (!pactl({QStringLiteral("set-default-sink"), sinkName()})) {
        if (deadline.hasExpired())
            return fail(QStringLiteral("default sink not set"));
        QThread::msleep(50);
    }
    return true;
}

bool PulseFixture::kill()
{
    if (!m_pulseServer || m_pulseServer->state() != QProcess::Running)
        return false;
    m_pulseServer->kill();
    m_pulseServer->waitForFinished(kToolTimeoutMs);
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
        player->waitForFinished(kToolTimeoutMs);
        delete player;
    }
    m_players.clear();
}

void PulseFixture::stop()
{
    stopPlayers();
    if (!m_processes.empty()) {
        for (auto it = m_processes.rbegin(); it != m_processes.rend(); ++it) {
            QProcess *process = it->get();
            if (process->state() == QProcess::NotRunning)
                continue;
            process->terminate();
            if (!process->waitForFinished(kToolTimeoutMs)) {
                process->kill();
                process->waitForFinished(kToolTimeoutMs);
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
    if (!m_dir)
        return {};
    QFile log(m_dir->path() + QStringLiteral("/daemon.log"));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    const QByteArray content = log.readAll();
    return QString::fromUtf8(content.right(4000));
}

bool PulseFixture::pactl(const QStringList &arguments, QString *output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("pactl"), arguments);
    if (!process.waitForFinished(kToolTimeoutMs)) {
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
    if (!pactl(QStringList {QStringLiteral("load-module"), name} + arguments, &output))
        return std::nullopt;
    bool ok = false;
    const int index = output.toInt(&ok);
    return ok ? std::optional<int>(index) : std::nullopt;
}

std::optional<PulseFixture::FakeMicrophone>
PulseFixture::addPipeMicrophone(const QString &sourceName, const QString &description,
                                const QStringList &properties, int rate, int channels,
                                bool floatSamples)
{
    if (!m_dir)
        return std::nullopt;
    FakeMicrophone microphone;
    microphone.sourceName = sourceName;
    microphone.fifoPath = QStringLiteral("%1/mic%2.fifo").arg(m_dir->path()).arg(++m_pipeCount);
    microphone.rate = rate;
    microphone.channels = channels;
    microphone.floatSamples = floatSamples;
    // Values with spaces are single-quoted inside the double-quoted property list.
    QStringList props = properties;
    props << QStringLiteral("device.description='%1'").arg(description);
    const auto index = loadModule(
        QStringLiteral("module-pipe-source"),
        {QStringLiteral("source_name=%1").arg(sourceName),
         QStringLiteral("file=%1").arg(microphone.fifoPath),
         QStringLiteral("format=%1")
             .arg(floatSamples ? QStringLiteral("float32le") : QStringLiteral("s16le")),
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
    return loadModule(QStringLiteral("module-null-sink"),
                      {QStringLiteral("sink_name=%1").arg(feed), QStringLiteral("rate=48000"),
                       QStringLiteral("channels=1"), QStringLiteral("norewinds=1")}) &&
        loadModule(QStringLiteral("module-sine"),
                   {QStringLiteral("sink=%1").arg(feed),
                    QStringLiteral("frequency=%1").arg(frequency)}) &&
        loadModule(QStringLiteral("module-remap-source"),
                   {QStringLiteral("master=%1.monitor").arg(feed),
                    QStringLiteral("source_name=%1").arg(sourceName),
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
        if (n < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        written += n;
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
                     QStringLiteral("--property=application.process.binary=%1").arg(applicationId),
                     QStringLiteral("--property=application.name=%1").arg(applicationId)} +
            arguments);
    if (player->waitForStarted(kToolTimeoutMs) && !input.isEmpty()) {
        player->write(input);
        player->closeWriteChannel();
    }
    return player;
}

QProcess *PulseFixture::playFile(const QString &applicationId, const QString &path)
{
    return play(applicationId, {QStringLiteral("--device=%1").arg(sinkName()), path}, {});
}

QProcess *PulseFixture::playTone(const QString &applicationId, double frequency, double amplitude,
                                 double seconds, const QString &sink)
{
    return play(applicationId,
                {QStringLiteral("--playback"),
                 QStringLiteral("--device=%1").arg(sink.isEmpty() ? sinkName() : sink),
                 QStringLiteral("--format=s16le"), QStringLiteral("--rate=48000"),
                 QStringLiteral("--channels=2")},
                sineBytes(frequency, amplitude, 48000, 2, seconds, false));
}

} // namespace vernalo::test
