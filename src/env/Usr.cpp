#include "env/Usr.h"

#include "env/FsDir.h"
#include "env/Prompt.h"
#include "env/Trash.h"
#include "env/yIni.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace velmor::Usr {
namespace {
SilentPrompt g_silent;
Prompt* g_prompt = &g_silent;
} // namespace

QString exeBaseName(const QString& exeFilePath)
{
    QString name = QFileInfo(exeFilePath).fileName();
    if (name.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive))
        name.chop(4);
    if (name.right(3).toLower() == QLatin1String("_dv"))
        name.chop(3);
    return name;
}

Prompt& prompt() { return *g_prompt; }

void setPrompt(Prompt* p) { g_prompt = p ? p : &g_silent; }

void CutTail(QString& path, QString& suffix)
{
    if (suffix.isEmpty())
        suffix = QStringLiteral("/");
    if (path == QLatin1String("/") && suffix == QLatin1String("/"))
        return;  // the file-system root keeps its only separator
    if (path.endsWith(suffix))
        path.chop(suffix.size());
}

QString CutTail(const QString& path, const QString& suffix)
{
    QString p = path;
    QString s = suffix;
    CutTail(p, s);
    return p;
}

bool DelRcy(const QString& path)
{
    QByteArray last;
    const UniqueFd dir = openParentOf(nameBytes(path), last);
    return dir.valid() && TrashAt(dir.get(), last, path).isEmpty();
}

QString GtFldDlg(const QString& path)
{
    QCoreApplication::processEvents();
    QString start = path;
    if (!start.isEmpty() && !QFileInfo(start).isDir())
        start.clear();
    return prompt().pickFolder(QStringLiteral("ﾌｫﾙﾀﾞの指定"), start);
}

void OpnExp(const QString& path) { yIni::W_ExpFd(path, false); }

} // namespace velmor::Usr
