// Saves the crash-test sessions in a loop until it is killed, printing "<slot> <version>"
// after each save has returned. Arguments: the history folder, the first version and, with
// "index", the search index beside the folder kept up to date by every save.
#include "crash_test_session.h"
#include "sessions/session_history_store.h"
#include "sessions/session_search_index.h"

#include <cstdio>
#include <memory>
#include <QCoreApplication>

int main(int argc, char *argv[])
{
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: session_save_child <folder> <first-version> [index]\n");
        return 2;
    }
    QCoreApplication app(argc, argv); // the SQL driver is a plugin
    vernalo::SessionHistoryStore store(QString::fromLocal8Bit(argv[1]));
    std::unique_ptr<vernalo::SessionSearchIndex> index;
    if (argc == 4) {
        index = std::make_unique<vernalo::SessionSearchIndex>(
            vernalo::SessionSearchIndex::pathBeside(store.directory()));
        index->synchronize(store);
        store.attachSearchIndex(index.get());
    }
    const qint64 first = QByteArray(argv[2]).toLongLong();
    for (qint64 i = 0;; ++i) {
        const int slot = static_cast<int>(i % vernalo::test::kCrashTestSlots);
        const qint64 version = first + i;
        if (const auto error = store.save(vernalo::test::crashTestSession(slot, version))) {
            std::fprintf(stderr, "save failed: %s\n", qPrintable(error->detail));
            return 1;
        }
        std::printf("%d %lld\n", slot, static_cast<long long>(version));
        std::fflush(stdout);
    }
}
