// Shows the main window on a small generated pair of trees after a
// comparison and writes a picture of it:
//   velmor-screenshot OUT.png WORKDIR
// WORKDIR receives the trees (Home, Backup), the user data folder and the
// history folder; whatever it held before is removed. The window opens as
// on a first start, so the screen's size decides its size. Run under a
// display (scripts/screenshot.sh uses xvfb-run, on two screen sizes).
#include "app/gui/AppIcon.h"
#include "app/gui/AppMain.h"
#include "app/gui/fmSync.h"
#include "env/Prompt.h"
#include "env/Usr.h"
#include "tree/view/uTrD.h"
#include "ui/ResultGrid.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeView>
#include <cstdio>

using namespace velmor;

namespace {

// Answers the task name question; shows nothing.
class ScriptPrompt : public Prompt {
public:
    void message(const QString& text) override { std::fprintf(stderr, "message: %s\n", qPrintable(text)); }
    bool question(const QString&) override { return true; }
    QString input(const QString&, const QString&) override { return QStringLiteral("写真とﾄﾞｷｭﾒﾝﾄ"); }
    QString pickFolder(const QString&, const QString&) override { return {}; }
    QString pickFile(const QString&, const QString&, const QString&) override { return {}; }
};

bool write(const QString& path, const QByteArray& bytes, const QDateTime& when)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        return false;
    f.close();
    return f.open(QIODevice::ReadWrite) && f.setFileTime(when, QFileDevice::FileModificationTime);
}

// A source tree and a destination that differs from it in every way the
// grid can show: new, changed, deleted and identical files and folders.
bool makeTrees(const QString& src, const QString& dst)
{
    const QDateTime old = QDateTime::currentDateTime().addDays(-30);
    const QDateTime recent = QDateTime::currentDateTime().addDays(-1);
    struct F {
        const char16_t* path;
        int size;
        bool inSrc, inDst, changed;
    };
    const F files[] = {
        {u"Documents/report-2026.odt", 48213, true, true, true},
        {u"Documents/budget.ods", 12877, true, true, false},
        {u"Documents/notes.txt", 912, true, false, false},
        {u"Documents/書類/契約書.pdf", 220415, true, true, false},
        {u"Documents/書類/見積書.pdf", 88120, true, false, false},
        {u"Photos/2026-08 Kyoto/IMG_0412.jpg", 3145728, true, true, false},
        {u"Photos/2026-08 Kyoto/IMG_0413.jpg", 2912004, true, true, false},
        {u"Photos/2026-08 Kyoto/IMG_0415.jpg", 3020331, true, false, false},
        {u"Photos/2026-11 Sapporo/IMG_0921.jpg", 2750112, true, false, false},
        {u"Photos/2026-11 Sapporo/IMG_0922.jpg", 2810400, true, false, false},
        {u"Photos/old/thumbs.db", 40960, false, true, false},
        {u"Music/playlist.m3u", 1822, true, true, true},
        {u"Music/README", 310, true, true, false},
        {u"Archive/2019.tar.gz", 7340032, false, true, false},
    };
    for (const F& f : files) {
        const QString rel = QString::fromUtf16(f.path);
        const QByteArray body(f.size, 'v');
        if (f.inSrc && !write(src + u'/' + rel, body, f.changed ? recent : old))
            return false;
        if (f.inDst && !write(dst + u'/' + rel, f.changed ? body.left(f.size / 2) : body, old))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fputs("usage: velmor-screenshot OUT.png WORKDIR\n", stderr);
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setWindowIcon(AppIcon());
    EnsureJapaneseFont();
    const QString out = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    const QString work = QDir(QString::fromLocal8Bit(argv[2])).absolutePath();
    const QString src = work + QStringLiteral("/Home"), dst = work + QStringLiteral("/Backup");
    const QString history = work + QStringLiteral("/History");
    QDir(work).removeRecursively();
    if (!makeTrees(src, dst) || !QDir().mkpath(history) || !QDir().mkpath(work + QStringLiteral("/data"))) {
        std::fprintf(stderr, "velmor-screenshot: cannot make the trees in %s\n", qPrintable(work));
        return 1;
    }
    Usr::sExeNm = QStringLiteral("velmor");
    Usr::sUsrDt = work + QStringLiteral("/data/");
    ScriptPrompt prompt;
    Usr::setPrompt(&prompt);

    int rc = 0;
    {
        fmSync win;
        win.appEnd = [] {};
        win.show();  // first start: the design size, as far as the screen holds it
        if (!QTest::qWaitForWindowExposed(&win)) {
            std::fputs("velmor-screenshot: the window was not shown\n", stderr);
            return 1;
        }
        MainState& st = win.state();
        st.tree1.setRoot(src);
        st.tree2.setRoot(dst);
        st.tree1.ExpndALL(0, true);
        st.tree1.setPath(src);
        st.tree1.SetChkBx(true);
        st.tree2.ExpndALL(0, true);
        st.tree1.setPath(src + QStringLiteral("/Photos"));
        // The user's choices: delete what the source lacks, keep a log.
        for (int k : {1, 2}) {
            win.chRet[size_t(k)]->click();
        }
        win.txFold->setText(history);
        st.s.panel.txFold = history;
        st.TskSave(false);                      // the task name comes from the prompt
        win.cmRet[0]->click();                  // 比較
        win.vSpr->setFocus();
        QTest::qWait(300);
        if (!win.grab().save(out)) {
            std::fprintf(stderr, "velmor-screenshot: cannot write %s\n", qPrintable(out));
            rc = 1;
        } else {
            std::printf("%s: %d rows, window %dx%d\n", qPrintable(out), st.s.vSpr.rowCount(), win.width(),
                        win.height());
        }
    }
    Usr::setPrompt(nullptr);
    return rc;
}
