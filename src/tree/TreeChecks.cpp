// Folder tree model: check boxes, linked mode, and ticking by name patterns.
#include "env/Prompt.h"
#include "env/Usr.h"
#include "tree/FolderTreeImpl.h"
#include "tree/WildMatch.h"

#include <QRegularExpression>

namespace velmor {

void FolderTree::setChkBx(bool bShw)
{
    if (d->chkBx == bShw)
        return;
    d->chkBx = bShw;
    emit checkBoxesChanged(bShw);
}

bool FolderTree::chkBx() const
{
    return d->chkBx;
}

void FolderTree::setPrChSync(bool bSync)
{
    if (!d->chkBx)
        return;  // linked mode exists only while the boxes are shown
    d->chkSync = bSync;
}

bool FolderTree::chkSync() const
{
    return d->chkSync;
}

void FolderTree::ChkOnOff()
{
    TreeNode* n = selected();
    if (!n || n->isPlaceholder())
        return;
    n->checked = !n->checked;
    d->changed(n);
}

void FolderTree::SetChkBx(bool bChk)
{
    TreeNode* n = selected();
    if (!n)
        return;
    {
        BusyGuard busy;
        Usr::ChkFso();
        d->SetChkTree(n, bChk);
    }
    d->compact();
    emit nodesChanged();
}

void FolderTree::checkClicked(TreeNode* node, bool checked)
{
    if (!node || !node->alive || node->isPlaceholder())
        return;
    // The box has toggled by itself; that is all outside linked mode.
    if (node->checked != checked) {
        node->checked = checked;
        d->changed(node);
    }
    if (!d->chkSync)
        return;
    {
        BusyGuard busy;
        d->SetChkTree(node, checked);
    }
    d->compact();
    emit nodesChanged();
    emit eChkExp();
}

void FolderTree::Impl::SetChkTree(TreeNode* start, bool value)
{
    const WalkLoadsAll everyNode(this);
    std::vector<TreeNode*> stack{start};
    while (!stack.empty()) {
        TreeNode* node = stack.back();
        stack.pop_back();
        node->checked = value;
        loadIfUnloaded(node);
        for (auto it = node->children.rbegin(); it != node->children.rend(); ++it)
            stack.push_back(*it);
    }
}

namespace {

// Runs of blanks become one blank, then every blank a ",".
QString normalisePatterns(const QString& s)
{
    static const QRegularExpression blanks(QStringLiteral(" +"));
    QString out = s;
    out.replace(blanks, QStringLiteral(" "));
    out.replace(QLatin1Char(' '), QLatin1Char(','));
    return out;
}

// The non-empty, trimmed, lower-cased patterns of a normalised text.
QStringList patternList(const QString& normalised)
{
    QStringList out;
    for (const QString& p : normalised.toLower().split(QLatin1Char(','))) {
        const QString t = p.trimmed();
        if (!t.isEmpty())
            out.append(t);
    }
    return out;
}

bool matchesAny(const QString& name, const QStringList& patterns)
{
    for (const QString& p : patterns)
        if (WildMatch(name, p))
            return true;
    return false;
}

} // namespace

void FolderTree::SetChkFlt(QString& sOffs, QString& sOns)
{
    sOffs = normalisePatterns(sOffs);
    sOns = normalisePatterns(sOns);
    const QStringList ons = patternList(sOns);
    const QStringList offs = patternList(sOffs);
    // Every pattern is tried before anything changes, so a bad one leaves
    // all marks as they were.
    for (const QString& p : ons + offs) {
        try {
            WildMatch(QString(), p);
        } catch (const PatternError&) {
            Usr::prompt().message(QStringLiteral("ﾌｫﾙﾀﾞｰ名のﾌｨﾙﾀｰが正しくありません（[ が閉じていません）\r") + p);
            return;
        }
    }
    TreeNode* n = selected();
    if (!n)
        return;
    {
        BusyGuard busy;
        d->FltChk(n, ons, offs);
    }
    d->compact();
    emit nodesChanged();
}

void FolderTree::Impl::FltChk(TreeNode* node, const QStringList& ons, const QStringList& offs)
{
    if (!node)
        return;
    loadIfUnloaded(node);
    // Children in order, each one finished (with its subtree) before the next.
    for (size_t i = 0; i < node->children.size(); ++i) {
        TreeNode* c = node->children[i];
        if (c->isPlaceholder())
            continue;
        const QString name = c->text.toLower();
        if (matchesAny(name, ons)) {
            c->checked = true;
            if (chkSync)
                SetChkTree(c, true);
        } else if (matchesAny(name, offs)) {
            c->checked = false;
            if (chkSync)
                SetChkTree(c, false);
        } else {
            FltChk(c, ons, offs);
        }
    }
}

} // namespace velmor
