#pragma once
// Comparing two regular files by their bytes (the option to compare files of
// equal size by content): both are read once, side by side in chunks, and
// the reading stops at the first difference.
#include <QByteArray>
#include <QString>

#include <atomic>

namespace velmor {

enum class ContentCheck {
    NotRead,  // not compared by content
    Same,     // the bytes are the same
    Differ,   // the bytes differ
    Failed,   // one side could not be read (error says why)
};

struct ContentOutcome {
    ContentCheck check = ContentCheck::NotRead;
    QString error;  // "path: reason" where check is Failed
    long long with = -1;  // the folder-2 file (listing index) it was compared with
};

// Compares the file name1 of the open folder dir1 with name2 of dir2 (the
// folders' paths folder1 and folder2 name them in messages). Links are not
// followed, but on side 1 where follow1 (folder 1's links to files stand for
// the files). Either side not a regular file is a failure; so is a read
// error. listed: the size both were listed with (-1: not known); a small
// file is then read in one call without a look at its type first (a file
// of other bytes than listed differs). stop, when set, ends a long
// comparison early (NotRead).
ContentOutcome CompareContent(int dir1, const QString& folder1, const QString& name1, bool follow1, int dir2,
                              const QString& folder2, const QString& name2, long long listed = -1,
                              const std::atomic<bool>* stop = nullptr);

// The same for two files that are taken to be one file under two names (a
// moved file): their sizes must equal size, and only four blocks of 4 KiB
// spread over the file, the first and the last among them, are compared
// (all of a file no longer than one block). Same says the samples agree,
// not that every byte does. Neither side's links are followed.
ContentOutcome CompareSampled(int dir1, const QString& folder1, const QString& name1, int dir2,
                              const QString& folder2, const QString& name2, long long size);

} // namespace velmor
