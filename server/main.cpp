// vernalo-reference-server: a local STT backend, live stream and auth service for demos and
// end-to-end tests.

#include "recognizer.h"
#include "reference_server.h"
#include "server_log.h"
#include "server_options.h"
#include "wire/clock.h"

#include <csignal>
#include <cstdio>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThreadPool>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vernalo-reference-server"));

    QString error;
    QString help;
    const auto options = vernalo::server::parseServerOptions(app.arguments(), &error, &help);
    if (!options) {
        if (!help.isEmpty()) {
            std::fputs(qPrintable(help), stdout);
            return 0;
        }
        std::fprintf(stderr, "vernalo-reference-server: %s\n", qPrintable(error));
        return 2;
    }

    if (!options->bindAddress.isLoopback()) {
        std::fprintf(stderr,
                     "vernalo-reference-server: warning: listening on %s, which other machines "
                     "can reach; the built-in API key is public, so give your own with "
                     "--api-key-file, serve TLS with --tls-cert/--tls-key and name the hosts "
                     "clients use with --allowed-host\n",
                     qPrintable(options->bindAddress.toString()));
    }

    auto recognizers = vernalo::server::makeRecognizerFactory(
        options->recognizer, options->scriptFile, options->grammarFile, &error);
    if (!recognizers) {
        std::fprintf(stderr, "vernalo-reference-server: %s\n", qPrintable(error));
        return 2;
    }
    vernalo::server::RecognizerFactory *factory = recognizers.get();

    vernalo::SystemClock clock;
    auto server =
        std::make_unique<vernalo::server::ReferenceServer>(*options, clock, std::move(recognizers));
    if (!server->start(&error)) {
        std::fprintf(stderr, "vernalo-reference-server: %s\n", qPrintable(error));
        return 1;
    }
    // Load the speech model in the background so the first recording does not wait for it.
    QThreadPool::globalInstance()->start([factory] { factory->warmUp(); });

    if (::pipe(signalPipe) == 0) {
        auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
    }

    std::printf("vernalo-reference-server listening on %s (data %s, log %s)\n",
                qPrintable(server->baseUrl().toString()), qPrintable(options->dataDir),
                qPrintable(vernalo::server::ServerLog::path()));
    std::fflush(stdout);
    const int status = app.exec();
    QThreadPool::globalInstance()->waitForDone();
    server.reset();
    return status;
}
