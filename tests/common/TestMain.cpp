// Runs GoogleTest inside a Qt application object, so that code using timers,
// signals or widgets behaves as in the program.
#include <gtest/gtest.h>

#include <cstdio>
#ifdef VELMOR_TEST_WIDGETS
#include <QApplication>
#include <QTemporaryFile>
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
    // build's test discovery, which does not pass the test environment. The
    // offscreen desktop has two screens side by side: a primary 1920x1080
    // and a 1024x768 one, so window placement meets a small screen and a
    // second one.
    QTemporaryFile screens;
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.isEmpty() || platform == "offscreen") {
        if (!screens.open()
            || screens.write(R"({"screens": [
                {"name": "primary", "x": 0, "y": 0, "width": 1920, "height": 1080},
                {"name": "small", "x": 1920, "y": 0, "width": 1024, "height": 768}]})")
                   < 0
            || !screens.flush()) {
            std::fprintf(stderr, "cannot write the offscreen screen set-up: %s\n", qPrintable(screens.errorString()));
            return 1;
        }
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + screens.fileName().toLocal8Bit());
    }
#endif
    App app(argc, argv);
    return RUN_ALL_TESTS();
}
