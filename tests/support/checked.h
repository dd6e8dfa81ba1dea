#pragma once

#include <QTest>

// Helpers verify as they go; a failure inside one ends the test at once.
#define CHECKED(call)                                                                              \
    do {                                                                                           \
        call;                                                                                      \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)
