#pragma once
// Shared test helpers: a prompt that records and answers, file helpers.
#include "env/Prompt.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <deque>
#include <utility>
#include <vector>

namespace velmor::test {

// Records every text shown; answers questions, inputs and pickers from
// queues (empty queue: cancel).
class RecordingPrompt : public Prompt {
public:
    void message(const QString& text) override { messages.append(text); }
    bool question(const QString& text) override;
    QString input(const QString& prompt, const QString& defaultText) override;
    QString pickFolder(const QString& title, const QString& start) override;
    QString pickFile(const QString& title, const QString& filter, const QString& start) override;

    QStringList messages;
    QStringList questions;
    QStringList inputPrompts;
    QStringList pickerStarts;
    std::deque<bool> questionAnswers;
    std::deque<QString> inputAnswers;
    std::deque<QString> folderAnswers;
    std::deque<QString> fileAnswers;
};

// Installs a RecordingPrompt as the process prompt for the lifetime of the object.
class ScopedPrompt {
public:
    ScopedPrompt();
    ~ScopedPrompt();
    RecordingPrompt* operator->() { return &p; }
    RecordingPrompt& get() { return p; }

private:
    RecordingPrompt p;
};

// A throw-away home folder for the lifetime of the object: HOME points to a
// temporary folder, XDG_CONFIG_HOME/XDG_DATA_HOME are unset and
// QStandardPaths runs in test mode, so the special folders, "Quarnell" data
// folders and the per-user store (QuarnellTools.conf) of the real user are
// never touched. The environment is restored afterwards; the test mode of
// QStandardPaths stays on for the rest of the process.
class ScopedTestHome {
public:
    ScopedTestHome();
    ~ScopedTestHome();
    ScopedTestHome(const ScopedTestHome&) = delete;
    ScopedTestHome& operator=(const ScopedTestHome&) = delete;
    QString path() const { return m_home.path(); }

private:
    QTemporaryDir m_home;
    std::vector<std::pair<const char*, QByteArray>> m_saved;
};

// One run of a program (of the built velmor-cli, say).
struct CliResult {
    int code = -1;   // exit status; -1 when it did not end normally
    QByteArray out;  // stdout, as bytes
    QString err;     // stderr
};
// Runs program with args to its end (killed after timeoutMs). A program
// that cannot be started has code -1 and err saying why.
CliResult runProgram(const QString& program, const QStringList& args, int timeoutMs = 120'000);
// The velmor-cli of this build tree ("" when it is not built).
QString velmorCli();
// Runs velmor-cli with args, through the programs of prefix when given
// (a wrapper and its arguments, the program's path follows them).
CliResult runVelmorCli(const QStringList& args, const QStringList& prefix = {});

// Writes bytes to a file, creating parent folders.
void writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);
// Creates a folder with its parents.
void makeDir(const QString& path);
// Removes everything below the open folder dirFd, by descriptors, so that
// names of any bytes and paths of any length go too. Throws on failure.
void rawClearAt(int dirFd);
// The same below the folder at path, when it exists (the folder stays).
void rawClear(const QString& path);
// Sets a file's or folder's last-modified time.
void setMTime(const QString& path, const QDateTime& t);
// Gives the entry at path (a link itself) the mark of the program's
// temporaries, as a run that ended early leaves them.
void markAsTemp(const QString& path);

// A tree that takes a run a while: `folders` folders "d00", "d01" ... with
// `files` files each, every file with its own size and content.
void writeManyFiles(const QString& root, int folders, int files);
// The folder names writeManyFiles uses.
QString manyFilesFolder(int d);
// Relative paths of the files below root, hidden ones too, at any depth.
QStringList filesBelow(const QString& root);
// Checks that every file below dst is the same as its source below src, and
// that no temporary file of the program is left there. Returns the number
// of files below dst.
int expectWholeCopies(const QString& src, const QString& dst);

} // namespace velmor::test
