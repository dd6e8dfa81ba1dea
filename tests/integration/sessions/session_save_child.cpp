// Saves the crash-test sessions in a loop until it is killed, printing "<slot> <version>"
// after each save has returned. Arguments: the history folder and the first version.
#include "crash_test_session.h"
#include "sessions/session_history_store.h"

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: session_save_child <folder> <first-version>\n");
        return 2;
    }
    const vernalo::SessionHistoryStore store(QString::fromLocal8Bit(argv[1]));
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
