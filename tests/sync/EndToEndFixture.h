#pragma once
// Comparison and synchronisation together on real folders: both trees, a
// user data folder with the work database, and the session of one window.
#include "SyncFixture.h"

#include "compare/Compare.h"
#include "env/Usr.h"
#include "tree/FolderTree.h"

namespace velmor::test {

class EndToEndTest : public SyncFixture {
protected:
    void SetUp() override
    {
        SyncFixture::SetUp();
        const QString data = tmp.path() + QStringLiteral("/data/");
        makeDir(data);
        Usr::sUsrDt = data;
        session.tree1 = &tree1;
        session.tree2 = &tree2;
    }
    void TearDown() override
    {
        session.oDb.DbClose();
        SyncFixture::TearDown();
    }

    // Loads both trees and ticks the given folders of folder 1 ("" = all).
    void tick(const QStringList& rels)
    {
        tree1.setChkBx(true);
        tree1.setRoot(f1);
        tree1.ExpndALL(2, true);
        tree2.setRoot(f2);
        for (const QString& rel : rels) {
            const QString full = rel.isEmpty() ? f1 : f1 + QLatin1Char('/') + rel;
            tree1.setPath(full);
            ASSERT_EQ(tree1.Path(), full);
            tree1.SetChkBx(true);
        }
    }

    // Compares and returns "path|name.ext|status|flag" per grid row.
    QStringList compare()
    {
        freezeSource();
        EXPECT_EQ(CmpRun(session), CmpOutcome::Done);
        QStringList rows;
        for (const ResultRow& r : session.vSpr.rows()) {
            QString name = r.name;
            if (!r.ext.isEmpty())
                name += QLatin1Char('.') + r.ext;
            rows << r.path + QLatin1Char('|') + name + QLatin1Char('|') + r.status + QLatin1Char('|') + r.flag;
        }
        return rows;
    }

    QStringList statuses() const
    {
        QStringList s;
        for (const ResultRow& r : session.vSpr.rows())
            s << r.status;
        return s;
    }

    FolderTree tree1, tree2;
};

} // namespace velmor::test
