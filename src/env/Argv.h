#pragma once
// An argument vector for posix_spawn: each text as the bytes of a name
// (nameBytes), so a path or task name reaches the child exactly.
#include "env/FsDir.h"

#include <QStringList>
#include <vector>

namespace velmor {

class Argv {
public:
    explicit Argv(const QStringList& words)
    {
        for (const QString& w : words)
            m_bytes.push_back(nameBytes(w));
        for (QByteArray& b : m_bytes)
            m_ptrs.push_back(b.data());
        m_ptrs.push_back(nullptr);
    }
    Argv(const Argv&) = delete;
    Argv& operator=(const Argv&) = delete;
    // Null-terminated; valid while the object lives.
    char* const* data() const { return m_ptrs.data(); }
    const char* program() const { return m_ptrs.front(); }

private:
    std::vector<QByteArray> m_bytes;
    std::vector<char*> m_ptrs;
};

} // namespace velmor
