#pragma once
// What an item is beyond what stat gives: its POSIX ACLs and extended
// attributes, read the same way for the comparison and for the copy.
//
// ACLs are the kernel's xattrs "system.posix_acl_access" and
// "system.posix_acl_default" (a folder's inherited ACL), kept as the kernel
// hands them over; the other extended attributes are those of every
// namespace but "system." (user., trusted., security.; which of them the
// process may read depends on who it is). A link's own attributes are read,
// never its target's.
#include <QByteArray>
#include <QString>

namespace velmor {

enum MetaKind : unsigned {
    kMetaAcls = 1,    // POSIX ACLs
    kMetaXattrs = 2,  // extended attributes
};

// The attributes of one item, each kind as one canonical byte text (its
// pairs in name order: name, NUL, the value's length as 4 bytes, the value),
// so that two items' attributes of a kind are equal exactly when their
// texts are. Empty: none.
struct FileXattrs {
    QByteArray acl;
    QByteArray other;
    bool operator==(const FileXattrs&) const = default;
};

// Reads the attributes of the kinds asked for of the entry name in the open
// folder dirFd (an empty name: the item dirFd is open on, which may be an
// O_PATH descriptor of a file or link), links not followed. A volume
// that holds no attributes has none. False, errno set, when they cannot be
// read.
bool ReadXattrs(int dirFd, const QByteArray& name, unsigned kinds, FileXattrs& out);

// The pairs of a canonical text, in order; false for a malformed text.
struct XattrPair {
    QByteArray name;
    QByteArray value;
};
bool SplitXattrs(const QByteArray& text, QList<XattrPair>& out);

// The path through which the entry name of the open folder dirFd is reached
// without resolving anything above it ("/proc/self/fd/N/name"): for the
// calls that have no descriptor-relative form (the l*xattr family).
QByteArray procPath(int dirFd, const QByteArray& name);

// A short Japanese text naming what differs between two attribute sets of
// the kinds asked for ("ACL", "拡張属性"), blank-separated; "" when equal.
QString XattrDifference(const FileXattrs& a, const FileXattrs& b);

} // namespace velmor
