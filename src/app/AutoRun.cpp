#include "app/AutoRun.h"

#include "env/StopSignal.h"
#include "env/Usr.h"

#include <QScopedValueRollback>

#include <stdexcept>

namespace velmor {

namespace {
const QString kUploadSwitch = QStringLiteral("/F");

// Leading and trailing blanks (spaces) off; other characters belong to the name.
QString trimBlanks(const QString& s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && s.at(b) == QLatin1Char(' '))
        ++b;
    while (e > b && s.at(e - 1) == QLatin1Char(' '))
        --e;
    return s.mid(b, e - b);
}
} // namespace

std::vector<AutoRunItem> AutoRunItems(const QString& text)
{
    std::vector<AutoRunItem> items;
    for (QString piece : text.split(QLatin1Char(','))) {
        AutoRunItem it;
        it.upload = piece.contains(kUploadSwitch);  // case-sensitive: "/f" stays in the name
        if (it.upload)
            piece.remove(kUploadSwitch);
        it.name = trimBlanks(piece);
        items.push_back(std::move(it));
    }
    return items;
}

QString AutoRunWaitText(const QString& item) { return item + QStringLiteral(" 設定中･･･"); }

void AutoRunOver(const QString& text, const AutoRunSteps& steps)
{
    const auto closing = [&steps] { return steps.closing && steps.closing(); };
    for (const AutoRunItem& item : AutoRunItems(text)) {
        MainState::AutoRunTask task;
        task.name = item.name;
        task.upload = item.upload;
        task.cut = closing();
        if (!task.cut) {
            steps.showWait(AutoRunWaitText(item.name));
            steps.setTaskText(item.name);
            task.loaded = steps.load(item.name);
            task.cut = closing();
        }
        // The outcomes are not examined here: a stopped or refused
        // comparison leaves an empty list, which the synchronisation finds,
        // and the hand-off and the next task follow.
        if (task.loaded && !task.cut) {
            task.cmp = steps.compare();
            task.cut = closing();
        }
        if (task.loaded && !task.cut) {
            task.sync = steps.sync();
            task.cut = closing();
        }
        if (task.loaded && !task.cut && item.upload) {
            task.up = steps.upload();
            task.cut = closing();
        }
        steps.closeWait();
        if (steps.taskDone)
            steps.taskDone(task);
        if (task.cut)
            return;
    }
}

// --- the main window's automatic run -------------------------------------------------

bool MainState::Activate()
{
    if (bActDone)
        return false;
    bActDone = true;
    if (Usr::sCmdTsk.isEmpty())
        return false;
    AutoRun(Usr::sCmdTsk);
    return true;
}

void MainState::AutoRun(const QString& text)
{
    if (!s.progress)
        throw std::logic_error("AutoRun needs the wait dialog (s.progress)");
    AutoRunSteps steps;
    steps.showWait = [this](const QString& msg) { s.progress->cMsg(msg, false); };
    steps.setTaskText = [this](const QString& item) {
        // The text field only: an entry of that exact name shows as selected,
        // any other text (also "") leaves none selected. Nothing is loaded.
        cbTskText = item;
        cbTskIndex = int(cbTsk.indexOf(item));
        if (changed)
            changed();
    };
    steps.load = [this](const QString& name) {
        bool ok = false;
        TskLoad(ok, name);
        return ok;
    };
    steps.compare = [this] { return CmpRun(s); };
    steps.sync = [this] {
        SyncHooks hooks;
        hooks.rowFailed = autoRunRowFailed;
        return SyncRun(s, hooks);
    };
    steps.upload = [this] { return UpHand(true); };
    steps.closeWait = [this] { s.progress->cEnd(); };
    steps.taskDone = autoRunTaskDone;
    // A stop signal ends the run after the step under way, as closing does.
    steps.closing = [this] { return bClosing || StopSignal::received(); };
    const QScopedValueRollback unattended(s.bUnattended, true);
    AutoRunOver(text, steps);
}

} // namespace velmor
