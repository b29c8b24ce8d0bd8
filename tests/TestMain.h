#pragma once

// QTEST_MAIN and QTEST_GUILESS_MAIN as QtTest writes them, except that the result is handed to
// Platform::endProcess once the test object and the application are gone, as the program's own
// main does: a test process under Wine otherwise may never end after its last test passed.
#include "platform/Platform.h"

#include <QTest>

#undef QTEST_MAIN_WRAPPER
#define QTEST_MAIN_WRAPPER(TestObject, ...)                                                      \
    static int runTests(int argc, char* argv[])                                                  \
    {                                                                                            \
        QT_PREPEND_NAMESPACE(QTest::Internal::callInitMain)<TestObject>();                       \
        __VA_ARGS__                                                                              \
        TestObject tc;                                                                           \
        QTEST_SET_MAIN_SOURCE_PATH                                                               \
        return QTest::qExec(&tc, argc, argv);                                                    \
    }                                                                                            \
    int main(int argc, char* argv[])                                                             \
    {                                                                                            \
        return Platform::endProcess(runTests(argc, argv));                                       \
    }
