#pragma once
// Shared fixture of the tests that run the built velmor-cli on saved tasks:
// a throw-away HOME and folder, a user data folder in it, and tasks of one
// folder with one file against an empty destination.
#include "common/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace velmor::test {

class CliTaskFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (velmorCli().isEmpty())
            GTEST_SKIP() << "velmor-cli is not built";
        ASSERT_TRUE(tmp.isValid());
        data = tmp.path() + QStringLiteral("/data");
    }

    QString src(const QString& task) const { return tmp.path() + QStringLiteral("/src ") + task; }
    QString dst(const QString& task) const { return tmp.path() + QStringLiteral("/dst ") + task; }
    bool synced(const QString& task) const { return QFileInfo::exists(dst(task) + QStringLiteral("/in/f.txt")); }

    // Saves task name: one folder "in" with one file "f.txt" against an
    // empty destination.
    void saveTask(const QString& name)
    {
        writeFile(src(name) + QStringLiteral("/in/f.txt"), name.toUtf8());
        QDir().mkpath(dst(name));
        const CliResult r = runVelmorCli(
            {QStringLiteral("task"), QStringLiteral("save"), name, src(name), dst(name), QStringLiteral("--data"), data});
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
    }

    ScopedTestHome home;  // the child's HOME: its store and default folders
    QTemporaryDir tmp;
    QString data;
};

} // namespace velmor::test
