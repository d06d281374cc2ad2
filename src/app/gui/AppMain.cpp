#include "AppMain.h"

#include "AppIcon.h"

#include "app/Startup.h"
#include "env/StopSignal.h"
#include "env/Usr.h"
#include "fmSync.h"
#include "ui/GuiPrompt.h"
#include "ui/WaitDialog.h"

#include <QApplication>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QLocale>
#include <QPointer>
#include <QThread>
#include <QTranslator>

#include <cstdio>
#include <memory>

namespace velmor {

namespace {
std::unique_ptr<spWait> g_wait;
std::unique_ptr<GuiPrompt> g_prompt;
QPointer<fmSync> g_main;
bool g_ending = false;
int g_exitStatus = 0;

// Japanese font files of the Debian packages, in order of preference.
const char* const kJapaneseFontFiles[] = {
    "/usr/share/fonts/opentype/ipafont-gothic/ipagp.ttf",
    "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf",
    "/usr/share/fonts/truetype/fonts-japanese-gothic.ttf",
    "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc",
    "/usr/share/fonts/opentype/noto/NotoSansCJKjp-Regular.otf",
    "/usr/share/fonts/truetype/takao-gothic/TakaoPGothic.ttf",
    "/usr/share/fonts/truetype/vlgothic/VL-PGothic-Regular.ttf",
};
} // namespace

void SetExitStatus(int code) { g_exitStatus = code; }

int ExitStatus() { return g_exitStatus; }

QString EnsureJapaneseFont()
{
    const QStringList families = QFontDatabase::families(QFontDatabase::Japanese);
    if (!families.isEmpty()) {
        // The system can draw Japanese; when the default font cannot, the
        // font matching falls back to one of these by itself.
        const QString current = QApplication::font().family();
        return families.contains(current) ? current : families.first();
    }
    for (const char* file : kJapaneseFontFiles) {
        const QString path = QString::fromLatin1(file);
        if (!QFileInfo::exists(path))
            continue;
        const int id = QFontDatabase::addApplicationFont(path);
        const QStringList loaded = id >= 0 ? QFontDatabase::applicationFontFamilies(id) : QStringList();
        if (loaded.isEmpty())
            continue;
        QFont f = QApplication::font();
        f.setFamilies({loaded.first(), f.family()});
        QApplication::setFont(f);
        return loaded.first();
    }
    std::fputs("velmor: no Japanese font found; captions may not be readable"
               " (install fonts-ipafont-gothic or fonts-noto-cjk)\n",
               stderr);
    return QString();
}

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
        QCoreApplication::exit(g_exitStatus);
    else  // not in the event loop yet: end it as soon as it starts
        QMetaObject::invokeMethod(qApp, [] { QCoreApplication::exit(g_exitStatus); }, Qt::QueuedConnection);
}

bool LoadQtTranslation()
{
    // The interface is Japanese whatever the user's locale, so Qt's own
    // texts are too. Without the translation files they stay English.
    static QTranslator qtbase;
    if (qtbase.load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"), QStringLiteral("_"),
                    QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return QCoreApplication::installTranslator(&qtbase);
    std::fputs("velmor: Qt's Japanese translation (qtbase_ja.qm) is missing; its dialogs stay in English"
               " (install qt6-translations-l10n)\n",
               stderr);
    return false;
}

int RunApp(int argc, char** argv)
{
    // The whole command line is the task text: Qt is given none of it, so
    // "-platform", "-style" and the like are task names, never Qt's options
    // (the environment, such as QT_QPA_PLATFORM, still reaches Qt).
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));
    static int qtArgc = 1;
    static char* qtArgv[] = {argv[0], nullptr};
    QApplication app(qtArgc, qtArgv);
    QApplication::setApplicationName(QStringLiteral("velmor"));
    QApplication::setWindowIcon(AppIcon());
    // SIGINT, SIGTERM, SIGHUP stop a comparison or synchronisation as the
    // stop button would; the window then closes (status 1).
    StopSignal::install();
    LoadQtTranslation();
    EnsureJapaneseFont();
    Main(args);
    const int rc = app.exec();
    Usr::setPrompt(nullptr);
    delete g_main;
    g_wait.reset();
    g_prompt.reset();
    return rc;
}

} // namespace velmor
