#include "tree/view/uTrD.h"

#include "env/Usr.h"
#include "tree/view/TreeItemModel.h"

#include <QComboBox>
#include <QHeaderView>
#include <QHideEvent>
#include <QMouseEvent>
#include <QShowEvent>
#include <QSplitter>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace velmor {

uTrD::uTrD(FolderTree* tree, PaneMaker makePane, QWidget* parent)
    : QWidget(parent),
      m_tree(tree ? tree : new FolderTree(this)),
      m_model(new TreeItemModel(m_tree, this)),
      m_split(new QSplitter(Qt::Vertical)),
      m_drive(new QComboBox),
      m_browse(new QToolButton),
      m_view(new QTreeView),
      m_timer(new QTimer(this))
{
    m_split->setObjectName(QStringLiteral("Splitter"));
    m_drive->setObjectName(QStringLiteral("Drive1"));
    m_browse->setObjectName(QStringLiteral("cmFld"));
    m_view->setObjectName(QStringLiteral("trView"));
    m_timer->setObjectName(QStringLiteral("Timer1"));

    auto* top = new QSplitter(Qt::Horizontal);
    top->addWidget(makePane(QStringLiteral("pDrive"), m_drive));
    top->addWidget(makePane(QStringLiteral("pFld"), m_browse));
    top->setStretchFactor(0, 1);
    top->setStretchFactor(1, 0);
    m_split->addWidget(top);
    m_split->addWidget(makePane(QStringLiteral("pDir"), m_view));
    m_split->setStretchFactor(0, 0);
    m_split->setStretchFactor(1, 1);
    if (Usr::bAppRun)
        m_split->setFrameShape(QFrame::StyledPanel);
    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->addWidget(m_split);

    m_browse->setText(QStringLiteral("..."));
    m_model->setImages(style()->standardIcon(QStyle::SP_DirClosedIcon),
                       style()->standardIcon(QStyle::SP_DirOpenIcon));
    m_view->setModel(m_model);
    m_view->setHeaderHidden(true);
    m_view->setUniformRowHeights(true);
    m_view->viewport()->installEventFilter(this);
    fillDrives();

    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, m_tree, &FolderTree::ChkUpd);

    // The control's events are the model's.
    connect(m_tree, &FolderTree::eCngRt, this, &uTrD::eCngRt);
    connect(m_tree, &FolderTree::eCngDr, this, &uTrD::eCngDr);
    connect(m_tree, &FolderTree::eChkExp, this, &uTrD::eChkExp);
    connect(m_tree, &FolderTree::eRClick, this, &uTrD::eRClick);

    // Model -> widget.
    connect(m_tree, &FolderTree::nodeChanged, this, &uTrD::syncExpansion);
    connect(m_tree, &FolderTree::resetDone, this, [this] {
        syncAllExpansion();
        if (m_tree->nodeCount() == 0)
            m_timer->stop();
        else
            startTimerIfLoaded();
    });
    connect(m_tree, &FolderTree::nodesChanged, this, &uTrD::syncAllExpansion);
    connect(m_tree, &FolderTree::selectionChanged, this, &uTrD::syncSelection);
    connect(m_tree, &FolderTree::driveChanged, this, [this](const QString& mp) {
        const QSignalBlocker block(m_drive);  // never a second root load
        int i = m_drive->findText(mp);
        if (i < 0) {
            m_drive->addItem(mp);
            i = m_drive->count() - 1;
        }
        m_drive->setCurrentIndex(i);
    });

    // Widget -> model (user actions only).
    connect(m_view, &QTreeView::expanded, this, [this](const QModelIndex& i) {
        if (!m_syncing)
            m_tree->expandNode(TreeItemModel::nodeOf(i));
    });
    connect(m_view, &QTreeView::collapsed, this, [this](const QModelIndex& i) {
        if (!m_syncing)
            m_tree->collapseNode(TreeItemModel::nodeOf(i));
    });
    connect(m_view->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& cur) {
                if (!m_syncing)
                    m_tree->select(TreeItemModel::nodeOf(cur));
            });
    connect(m_drive, &QComboBox::activated, this, [this](int i) { m_tree->changeDrive(m_drive->itemText(i)); });
    connect(m_browse, &QToolButton::clicked, m_tree, &FolderTree::browseRoot);
}

uTrD::~uTrD()
{
    // The view goes before the model it shows.
    m_view->setModel(nullptr);
}

void uTrD::fillDrives()
{
    const QSignalBlocker block(m_drive);
    m_drive->clear();
    m_drive->addItems(FolderTree::driveList());
    m_drive->setCurrentIndex(m_drive->findText(m_tree->drive()));
}

void uTrD::setBHdSlct(bool bHide)
{
    QPalette pal = m_view->palette();
    const QPalette std = style()->standardPalette();
    if (bHide) {
        pal.setColor(QPalette::Inactive, QPalette::Highlight, pal.color(QPalette::Inactive, QPalette::Base));
        pal.setColor(QPalette::Inactive, QPalette::HighlightedText, pal.color(QPalette::Inactive, QPalette::Text));
    } else {
        pal.setColor(QPalette::Inactive, QPalette::Highlight, std.color(QPalette::Inactive, QPalette::Highlight));
        pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     std.color(QPalette::Inactive, QPalette::HighlightedText));
    }
    m_view->setPalette(pal);
}

void uTrD::startTimerIfLoaded()
{
    if (Usr::bAppRun && isVisible() && m_tree->nodeCount() > 0 && !m_timer->isActive())
        m_timer->start();
}

void uTrD::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    startTimerIfLoaded();
}

void uTrD::hideEvent(QHideEvent* e)
{
    QWidget::hideEvent(e);
    m_timer->stop();
}

bool uTrD::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == m_view->viewport() && e->type() == QEvent::MouseButtonRelease) {
        const auto* me = static_cast<QMouseEvent*>(e);
        if (me->button() == Qt::RightButton)
            m_tree->rightReleased();
        else if (me->button() == Qt::LeftButton)
            m_tree->clickedByUser();
    }
    return QWidget::eventFilter(watched, e);
}

void uTrD::syncExpansion(TreeNode* node)
{
    const QModelIndex i = m_model->indexOf(node);
    if (!i.isValid() || m_view->isExpanded(i) == node->expanded)
        return;
    m_syncing = true;
    m_view->setExpanded(i, node->expanded);
    m_syncing = false;
}

void uTrD::syncAllExpansion()
{
    for (int i = 0; i < m_tree->nodeCount(); ++i) {
        TreeNode* n = m_tree->nodeAt(i);
        if (!n->isPlaceholder())
            syncExpansion(n);
    }
    syncSelection(m_tree->selected());
}

void uTrD::syncSelection(TreeNode* node)
{
    const QModelIndex i = m_model->indexOf(node);
    if (m_view->currentIndex() == i)
        return;
    m_syncing = true;
    if (i.isValid())
        m_view->setCurrentIndex(i);
    else
        m_view->selectionModel()->clearCurrentIndex();
    m_syncing = false;
}

} // namespace velmor
