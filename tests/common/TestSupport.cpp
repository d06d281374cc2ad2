#include "common/TestSupport.h"

#include "env/FsDir.h"
#include "env/Usr.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <stdexcept>
#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <vector>
#include <sys/stat.h>

namespace velmor::test {

namespace {
template <class T>
T take(std::deque<T>& q, T fallback)
{
    if (q.empty())
        return fallback;
    T v = q.front();
    q.pop_front();
    return v;
}
} // namespace

bool RecordingPrompt::question(const QString& text)
{
    questions.append(text);
    return take(questionAnswers, false);
}

QString RecordingPrompt::input(const QString& prompt, const QString&)
{
    inputPrompts.append(prompt);
    return take(inputAnswers, QString());
}

QString RecordingPrompt::pickFolder(const QString&, const QString& start)
{
    pickerStarts.append(start);
    return take(folderAnswers, QString());
}

QString RecordingPrompt::pickFile(const QString&, const QString&, const QString& start)
{
    pickerStarts.append(start);
    return take(fileAnswers, QString());
}

ScopedPrompt::ScopedPrompt() { Usr::setPrompt(&p); }
ScopedPrompt::~ScopedPrompt() { Usr::setPrompt(nullptr); }

ScopedTestHome::ScopedTestHome()
{
    if (!m_home.isValid())
        throw std::runtime_error("cannot create a temporary home folder");
    for (const char* v : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME"})
        m_saved.emplace_back(v, qgetenv(v));
    qputenv("HOME", QFile::encodeName(m_home.path()));
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("XDG_DATA_HOME");
    QStandardPaths::setTestModeEnabled(true);
}

ScopedTestHome::~ScopedTestHome()
{
    for (const auto& [name, value] : m_saved) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + path.toStdString());
    return f.readAll();
}

void makeDir(const QString& path)
{
    if (!QDir().mkpath(path))
        throw std::runtime_error("cannot create " + path.toStdString());
}

void markAsTemp(const QString& path)
{
    const struct timespec mark[2] = {{0, UTIME_OMIT}, {kTmpMark, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), mark, AT_SYMLINK_NOFOLLOW), 0) << path.toStdString();
}

void setMTime(const QString& path, const QDateTime& t)
{
    QFile f(path);
    const bool isDir = QFileInfo(path).isDir();
    if (isDir) {
        // QFile cannot open a folder; use utime through the file system.
        const QByteArray p = QFile::encodeName(path);
        struct timespec ts[2];
        ts[0].tv_sec = ts[1].tv_sec = t.toSecsSinceEpoch();
        ts[0].tv_nsec = ts[1].tv_nsec = 0;
        if (::utimensat(AT_FDCWD, p.constData(), ts, 0) != 0)
            throw std::runtime_error("cannot set time of " + path.toStdString());
        return;
    }
    if (!f.open(QIODevice::ReadWrite) || !f.setFileTime(t, QFileDevice::FileModificationTime))
        throw std::runtime_error("cannot set time of " + path.toStdString());
}

void rawClearAt(int dirFd)
{
    const int fd = ::fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!dir)
        throw std::runtime_error("cannot list a folder to remove");
    std::vector<QByteArray> names;
    while (const dirent* e = ::readdir(dir)) {
        const QByteArray n(e->d_name);
        if (n != "." && n != "..")
            names.push_back(n);
    }
    ::closedir(dir);
    for (const QByteArray& n : names) {
        if (::unlinkat(dirFd, n.constData(), 0) == 0)
            continue;
        UniqueFd sub(::openat(dirFd, n.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!sub.valid())
            throw std::runtime_error("cannot remove " + n.toStdString());
        rawClearAt(sub.get());
        if (::unlinkat(dirFd, n.constData(), AT_REMOVEDIR) != 0)
            throw std::runtime_error("cannot remove folder " + n.toStdString());
    }
}

void rawClear(const QString& path)
{
    UniqueFd fd = openDirPath(nameBytes(path), false);
    if (fd.valid())
        rawClearAt(fd.get());
}

QString velmorCli()
{
    const QString cli = QCoreApplication::applicationDirPath() + QStringLiteral("/../src/app/velmor-cli");
    return QFileInfo(cli).isExecutable() ? cli : QString();
}

CliResult runProgram(const QString& program, const QStringList& args, int timeoutMs)
{
    QProcess p;
    p.start(program, args);
    CliResult r;
    if (!p.waitForStarted()) {
        r.err = program + QStringLiteral(" cannot be run: ") + p.errorString();
        return r;
    }
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        r.err = program + QStringLiteral(" did not finish within %1 ms").arg(timeoutMs);
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

CliResult runVelmorCli(const QStringList& args, const QStringList& prefix)
{
    if (prefix.isEmpty())
        return runProgram(velmorCli(), args);
    return runProgram(prefix.first(), prefix.mid(1) + QStringList{velmorCli()} + args);
}

QString manyFilesFolder(int d) { return QStringLiteral("d%1").arg(d, 2, 10, QLatin1Char('0')); }

void writeManyFiles(const QString& root, int folders, int files)
{
    for (int d = 0; d < folders; ++d)
        for (int f = 0; f < files; ++f)
            writeFile(root + QLatin1Char('/') + manyFilesFolder(d) + QStringLiteral("/f%1.txt").arg(f, 4, 10, QLatin1Char('0')),
                      QByteArray(2048 + f, char('a' + d % 26)));
}

QStringList filesBelow(const QString& root)
{
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(root).relativeFilePath(it.next());
    return files;
}

int expectWholeCopies(const QString& src, const QString& dst)
{
    const QStringList copied = filesBelow(dst);
    for (const QString& rel : copied) {
        EXPECT_FALSE(rel.contains(QLatin1String(kTmpTag))) << "temporary file left: " << rel.toStdString();
        EXPECT_EQ(readFile(dst + QLatin1Char('/') + rel), readFile(src + QLatin1Char('/') + rel))
            << rel.toStdString();
    }
    return int(copied.size());
}

} // namespace velmor::test
