#pragma once
// What the volume of a destination folder can hold, found by trying it once
// per comparison: whether names that differ only in letter case name one
// entry (FAT, exFAT, NTFS as Windows uses it, folders with the casefold
// flag), whether the characters Windows refuses are refused, whether modes
// and symbolic links are kept, and whether times are kept to two seconds
// only (FAT). The comparison marks what the volume cannot take before
// anything happens, instead of every run failing on it or, worse, two
// source items overwriting each other on the destination.
#include <QString>
#include <QStringView>

namespace velmor {

struct VolumeCaps {
    bool foldsCase = false;      // "a.txt" and "A.txt" are one entry
    bool preservesCase = true;   // a name is listed in the case it was made in
    bool windowsNames = false;   // \ : * ? " < > | and control characters are refused
    bool holdsLinks = true;      // symbolic links can be made
    bool keepsModes = true;      // permission bits stay as they are set
    // Modification times are rounded to two seconds (FAT). Such a volume may
    // also give a renamed entry the time of the rename (fusefat), which the
    // kernel's cache hides from a probe: a copy's times are set again once
    // it is in place.
    bool twoSecondTimes = false;
    bool holdsOwners = true;     // an entry's owner and group can be set to any number (as root)
    bool holdsXattrs = true;     // extended attributes (user.*) can be set
    bool holdsAcls = true;       // POSIX ACLs can be set
    long nameMax = 255;          // longest name in bytes (in UTF-16 units where windowsNames)
    // Operations worth keeping in flight at once (ProbeJobs): 1 where each
    // answers at once (a local disk), more where each waits on a server.
    int jobs = 1;

    // The key under which the volume files a name: the name itself, or its
    // case-folded form where the volume folds case.
    QString key(const QString& name) const { return foldsCase ? name.toCaseFolded() : name; }
    // Why the volume cannot hold an entry of this name ("" when it can).
    QString refusal(QStringView name) const;
    // The same, for an entry that may be a symbolic link.
    QString refusal(QStringView name, bool link) const;
    // Why a name cannot go beside other, which the volume files under the
    // same key.
    static QString clashWith(const QString& other);
};

// Tries what the folder dirFd's volume can hold by making and removing a few
// entries of its own in it (names beginning ".velmor-probe~"); the folder's
// times are put back afterwards. Where nothing can be made there (a volume
// mounted read-only, no permission) the answers come from the file system's
// type alone.
VolumeCaps ProbeVolume(int dirFd);

// How many operations are worth keeping in flight at once on the volume of
// the folder dirFd, from the time it takes to answer a question no cache
// answers (the volume's statistics): 1 where it answers within a local
// disk's time, more the longer each answer waits on a server (a network
// share, a remote mount).
int ProbeJobs(int dirFd);

// The operations in flight on folder 2: the user's number (1 and up), or
// the volume's own (0: chosen by the volume).
inline int JobsFor(int chosen, const VolumeCaps& caps)
{
    return chosen > 0 ? chosen : caps.jobs;
}

} // namespace velmor
