#pragma once
// The hand-off to the FTP companion program Zavro, which lies outside this
// program: where its executable is (the per-user store, key "Zavro", asked
// for when unknown) and how it is started with the task name. Only its
// argument list and, in batch mode, its end are relied on; its exit code and
// output are never read.
#include "app/MainState.h"

#include <QString>
#include <QStringList>
#include <functional>

namespace velmor {

enum class MainState::UpResult {
    Finished,     // batch: the companion was started and has ended
    Started,      // interactive: the companion was started; nobody waits for it
    NotFound,     // no executable is known; the message said so, nothing ran
    StartFailed,  // the executable exists but could not be started (message shown)
    Abandoned,    // batch: the window closed while waiting; the companion runs on
};

// The hand-off's own texts (CR = line break).
namespace UpMsg {
inline const QString NotFound = QStringLiteral("Zavro.exe がｲﾝｽﾄｰﾙされていないか 有効でありません");
inline const QString PickName = QStringLiteral("Zavro.exe");
inline const QString PickTitle = QStringLiteral("Zavro.exeの指定");
inline const QString PickFilter = QStringLiteral("実行ﾌｧｲﾙ (*.exe)|*.exe|");
// path + StartFailed + the system's reason
inline const QString StartFailed = QStringLiteral(" を起動できません\r");
} // namespace UpMsg

namespace Zavro {

// The per-user store key of the companion's path.
inline const QString kStoreKey = QStringLiteral("Zavro");

// The companion's arguments: batch {"SyncUp", "/b|" + task}, interactive
// {"SyncUp|" + task}. The task follows the bar as it is (spaces and all).
QStringList Args(bool wait, const QString& task);

// The companion's path: the store entry when it names an existing file,
// else the user's pick (title, filter and initial name of UpMsg), which is
// written back to the store also when the user cancelled (then "").
QString FindUp();

// How a wait for the companion ended.
enum class WaitEnd { Ended, NotStarted, Abandoned };
// Starts program with args and returns when it has ended, letting pending
// events run every 100 ms meanwhile. NotStarted, with the reason in why,
// when it could not be started. Abandoned as soon as abandon() answers true
// (the window is closing): the companion is left running, never killed. Its
// standard input is empty, its output dropped.
WaitEnd RunWait(const QString& program, const QStringList& args, QString* why = nullptr,
                const std::function<bool()>& abandon = {});

// Starts program with args and returns at once; nobody waits for it. False,
// with the reason in why, when it could not be started.
bool Start(const QString& program, const QStringList& args, QString* why = nullptr);

// The hand-off of task: sFtpAp := FindUp(); the message UpMsg::NotFound
// when it is empty; else RunWait (wait) or Start. A start failure is shown
// as the path + UpMsg::StartFailed + the reason.
MainState::UpResult UpHand(bool wait, const QString& task, QString& sFtpAp,
                           const std::function<bool()>& abandon = {});

} // namespace Zavro

} // namespace velmor
