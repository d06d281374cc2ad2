// Runs GoogleTest inside a Qt application object, so that code using timers,
// signals or widgets behaves as in the program.
#include <gtest/gtest.h>
#ifdef VELMOR_TEST_WIDGETS
#include <QApplication>
using App = QApplication;
#else
#include <QCoreApplication>
using App = QCoreApplication;
#endif

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
#ifdef VELMOR_TEST_WIDGETS
    // Widget tests need no display: also when run directly or listed by the
    // build's test discovery, which does not pass the test environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    App app(argc, argv);
    return RUN_ALL_TESTS();
}
