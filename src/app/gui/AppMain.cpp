#include "AppMain.h"

#include "app/Startup.h"
#include "env/Usr.h"
#include "fmSync.h"
#include "ui/GuiPrompt.h"
#include "ui/WaitDialog.h"

#include <QApplication>
#include <QPointer>
#include <QThread>

#include <memory>

namespace velmor {

namespace {
std::unique_ptr<spWait> g_wait;
std::unique_ptr<GuiPrompt> g_prompt;
QPointer<fmSync> g_main;
bool g_ending = false;
} // namespace

spWait& WaitDlg()
{
    if (!g_wait)
        g_wait = std::make_unique<spWait>();
    return *g_wait;
}

void Main(const QStringList& argumentsAfterProgram)
{
    g_prompt = std::make_unique<GuiPrompt>();
    Usr::setPrompt(g_prompt.get());
    WaitDlg();  // created hidden; its messages belong to the main window later
    // The user data folder's messages are shown before any window exists.
    startProcess(QCoreApplication::applicationDirPath(), QCoreApplication::applicationFilePath(),
                 argumentsAfterProgram);

    // Owned by Qt: deleted when the application ends (WA_DeleteOnClose is off,
    // so closing does not delete it while AppEnd still runs).
    g_main = new fmSync;
    g_prompt->setOwner(g_main);
    WaitDlg().setFrame(g_main);
    g_main->show();
}

void AppEnd()
{
    if (g_ending)
        return;
    g_ending = true;
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget* w : windows) {
        if (w)
            w->close();
    }
    // The windows themselves are freed by RunApp once the event loop has
    // returned: AppEnd may run inside the main window's own close handling.
    if (QThread::currentThread()->loopLevel() > 0)
        QCoreApplication::exit(0);
    else  // not in the event loop yet: end it as soon as it starts
        QMetaObject::invokeMethod(qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

int RunApp(int argc, char** argv)
{
    // The command line is taken before QApplication removes the options it
    // recognises, so a task name is never altered.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));
    QApplication app(argc, argv);
    Main(args);
    const int rc = app.exec();
    Usr::setPrompt(nullptr);
    delete g_main;
    g_wait.reset();
    g_prompt.reset();
    return rc;
}

} // namespace velmor
