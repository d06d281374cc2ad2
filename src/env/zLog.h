#pragma once
// History log of a synchronisation run: one new UTF-16 LE file per run,
// "<root>/Log/yyyy-mm-dd[~n].log", one time-stamped line per change.
#include <QString>
#include <memory>
#include <stdexcept>

namespace velmor {

class LogError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class zLog {
public:
    zLog();
    ~zLog();
    // Picks the first free name for today below sRt + "/Log/", creates the
    // folder and the file (BOM written). Throws LogError on failure (a full
    // volume is named in the reason); a file whose BOM could not be written
    // is removed again.
    void lgOn(const QString& sRt);
    // The same below the open history folder rootFd (sRt names it in the
    // file name and messages): "Log" and the file are made beneath it, never
    // through a link, so the log lands in the folder the run checked.
    void lgOn(int rootFd, const QString& sRt);
    // Appends "yy/MM/dd hh:mm:ss : " + sTx + CR LF, handed to the system
    // before it returns. Throws LogError when no log is open or the write
    // fails (a full volume is named in the reason); the file then ends after
    // the previous line, never in part of one.
    void lgWrite(const QString& sTx);
    // Closes the file; never fails.
    void lgOff();
    bool isOpen() const;
    // Path of the open (or last opened) file.
    QString fileName() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace velmor
