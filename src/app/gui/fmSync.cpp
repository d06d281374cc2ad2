#include "fmSync.h"

#include "AppMain.h"
#include "app/AutoRun.h"
#include "app/AutoRunStatus.h"
#include "app/UpHand.h"
#include "app/WinState.h"
#include "compare/ResultCounts.h"
#include "env/Prompt.h"
#include "env/StopSignal.h"
#include "env/Usr.h"
#include "tree/view/uTrD.h"
#include "ui/FilterDialog.h"
#include "ui/Pane.h"
#include "ui/ResultGrid.h"
#include "ui/ScheduleDialog.h"
#include "ui/GuiPrompt.h"
#include "ui/WaitDialog.h"
#include "ui/WindowFit.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QSpinBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QCompleter>
#include <QCursor>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <utility>

namespace velmor {

namespace {

// The design size of the window and its panes, in pixels.
constexpr int kDesignWidth = 1180;
constexpr int kDesignHeight = 820;
constexpr int kDesignTreeWidth = 300;
constexpr int kDesignTreeHeight = 340;

const QColor kWhite(0xFF, 0xFF, 0xFF);
const QColor kGrey(0xE0, 0xE0, 0xE0);

// The option boxes: caption and tooltip, by index.
struct OptionText {
    const char16_t* caption;
    const char16_t* tip;
};
const OptionText kOptions[8] = {
    {u"送信先の方が新しい場合は上書きしない", u"送信元と送信先の更新日時を比較して､送信先の方が新しい場合は上書きしません"},
    {u"同期元に存在しないﾌｫﾙﾀﾞ･ﾌｧｲﾙは削除", u"同期元でﾁｪｯｸされないﾌｫﾙﾀﾞも同期先には､不要として扱います"},
    {u"ﾛｸﾞﾌｧｲﾙに更新履歴を下記に書き込む", u"更新(上書･追加･削除)履歴をﾃｷｽﾄﾌｧｲﾙに書き出します"},
    {u"上書･削除時､元のﾌｧｲﾙを下記に保存", u"同期先でﾌｧｲﾙの削除･上書の際に元のﾌｧｲﾙを別ﾌｫﾙﾀﾞに保存します"},
    {u"削除は､ごみ箱を使用", u"ﾌｧｲﾙを削除する際は､ごみ箱を利用します"},
    {u"読取専用", u"同期先のﾌｫﾙﾀﾞ･ﾌｧｲﾙが読取専用の場合は上書･削除しません"},
    {u"隠しﾌｧｲﾙ", u"同期先のﾌｫﾙﾀﾞ･ﾌｧｲﾙが隠しﾌｧｲﾙの場合は上書･削除しません"},
    {u"ｼｽﾃﾑﾌｧｲﾙ", u"同期先のﾌｫﾙﾀﾞ･ﾌｧｲﾙがｼｽﾃﾑﾌｧｲﾙの場合は上書･削除しません"},
};

const char16_t* const kButtons[5] = {u"比較", u"同期", u"FTP", u"比較・同期", u"比較・同期・FTP(確認無)"};

QString text(const char16_t* s) { return QString::fromUtf16(s); }

// Adds the items of a menu in index order; "-" is a separator line.
QList<QAction*> addItems(QMenu* menu, const QStringList& captions)
{
    QList<QAction*> items;
    for (const QString& c : captions)
        items.append(c == QLatin1String("-") ? menu->addSeparator() : menu->addAction(c));
    return items;
}

// Enabled with a white background, or disabled with a light grey one.
void setUsable(QWidget* w, bool on)
{
    w->setEnabled(on);
    QPalette p = w->palette();
    p.setColor(QPalette::Base, on ? kWhite : kGrey);
    w->setPalette(p);
}

void setTextQuietly(QLineEdit* edit, const QString& value)
{
    if (edit->text() == value)
        return;
    const QSignalBlocker block(edit);
    edit->setText(value);
}

void setCheckedQuietly(QCheckBox* box, bool on)
{
    if (box->isChecked() == on)
        return;
    const QSignalBlocker block(box);
    box->setChecked(on);
}

void setFixedPaneSize(QWidget* pane, int width, int height)
{
    if (width > 0)
        pane->setFixedWidth(width);
    if (height > 0)
        pane->setFixedHeight(height);
}

} // namespace

// While alive: a run started from the window is under way. The controls that
// would change what it works on (trees, task list, options, menus) are
// disabled; the grid and the wait dialog's stop button stay usable.
class fmSync::RunBlock {
public:
    explicit RunBlock(fmSync& w) : m_w(w)
    {
        if (m_w.m_runDepth++ == 0)
            m_w.setRunning(true);
    }
    ~RunBlock()
    {
        if (--m_w.m_runDepth == 0)
            m_w.setRunning(false);
    }
    RunBlock(const RunBlock&) = delete;
    RunBlock& operator=(const RunBlock&) = delete;

private:
    fmSync& m_w;
};

fmSync::fmSync(QWidget* parent) : QMainWindow(parent), appEnd([] { AppEnd(); })
{
    // Load, step 2 (first half): from here on the tree controls do their
    // run-time work.
    Usr::bAppRun = true;
    setObjectName(QStringLiteral("fmSync"));
    setWindowTitle(QStringLiteral("ﾌｫﾙﾀﾞの同期"));
    resize(kDesignWidth, kDesignHeight);

    m_st.s.progress = &WaitDlg();
    WaitDlg().setFrame(this);
    // Messages of the loading below already belong to this window.
    if (auto* gui = dynamic_cast<GuiPrompt*>(&Usr::prompt()))
        gui->setOwner(this);

    buildControls();
    buildMenus();
    connectControls();
    Load();
}

fmSync::~fmSync()
{
    if (WaitDlg().isVisible())
        WaitDlg().cEnd();
    WaitDlg().setFrame(nullptr);
    // The controls show the state's trees and grid: they go first.
    delete takeCentralWidget();
    m_st.changed = nullptr;
    m_st.s.commandsChanged = nullptr;
    m_st.restoreWindowState = nullptr;
    m_st.syncHooks = {};
}

QAction* fmSync::item(QMenu* menu, int index) const
{
    const QList<QAction*> a = menu->actions();
    return index >= 0 && index < a.size() ? a[index] : nullptr;
}

// --- building -------------------------------------------------------------------

void fmSync::buildControls()
{
    uTrD1 = new uTrD(&m_st.tree1, makePane);
    uTrD1->setObjectName(QStringLiteral("uTrD1"));
    uTrD2 = new uTrD(&m_st.tree2, makePane);
    uTrD2->setObjectName(QStringLiteral("uTrD2"));
    vSpr = new ResultGrid(m_st.s.vSpr);
    vSpr->setObjectName(QStringLiteral("vSpr"));
    lbCount = new QLabel;
    lbCount->setObjectName(QStringLiteral("lbCount"));
    statusBar()->addWidget(lbCount, 1);

    auto* label1 = new QLabel(QStringLiteral("同期 元"));
    label1->setObjectName(QStringLiteral("Label1_0"));
    auto* label2 = new QLabel(QStringLiteral("同期 先"));
    label2->setObjectName(QStringLiteral("Label1_1"));
    for (QLabel* l : {label1, label2}) {
        l->setFrameStyle(QFrame::Panel | QFrame::Raised);
        l->setAlignment(Qt::AlignCenter);
    }

    pTsk = makePane(QStringLiteral("pTsk"), buildTaskFrame());
    pLb1 = makePane(QStringLiteral("pLb1"), label1);
    pTr1 = makePane(QStringLiteral("pTr1"), uTrD1);
    pLb2 = makePane(QStringLiteral("pLb2"), label2);
    pTr2 = makePane(QStringLiteral("pTr2"), uTrD2);
    pUsr = makePane(QStringLiteral("pUsr"), buildOptionsFrame());
    pSpr = makePane(QStringLiteral("pSpr"), vSpr);
    for (QWidget* caption : {pLb1, pLb2})
        caption->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    // However small the window, the grid shows its header and a few rows.
    constexpr int kGridRowsAtLeast = 4;
    vSpr->setMinimumHeight(vSpr->horizontalHeader()->sizeHint().height()
                           + kGridRowsAtLeast * vSpr->verticalHeader()->defaultSectionSize()
                           + vSpr->horizontalScrollBar()->sizeHint().height() + 2 * vSpr->frameWidth());

    // The panes in order: the task frame over the two trees (each under its
    // caption), the options beside them, the grid below all of them.
    const auto splitter = [](Qt::Orientation o, const QString& name) {
        auto* s = new QSplitter(o);
        s->setObjectName(name);
        s->setChildrenCollapsible(false);
        return s;
    };
    QSplitter* col1 = splitter(Qt::Vertical, QStringLiteral("spTr1"));
    col1->addWidget(pLb1);
    col1->addWidget(pTr1);
    col1->setStretchFactor(1, 1);
    col1->handle(1)->setEnabled(false);
    QSplitter* col2 = splitter(Qt::Vertical, QStringLiteral("spTr2"));
    col2->addWidget(pLb2);
    col2->addWidget(pTr2);
    col2->setStretchFactor(1, 1);
    col2->handle(1)->setEnabled(false);
    QSplitter* trees = splitter(Qt::Horizontal, QStringLiteral("spTrees"));
    trees->addWidget(col1);
    trees->addWidget(col2);
    QSplitter* left = splitter(Qt::Vertical, QStringLiteral("spLeft"));
    left->addWidget(pTsk);
    left->addWidget(trees);
    left->setStretchFactor(1, 1);
    QSplitter* top = splitter(Qt::Horizontal, QStringLiteral("spTop"));
    top->addWidget(left);
    top->addWidget(pUsr);
    top->setStretchFactor(1, 1);
    Splitter = splitter(Qt::Vertical, QStringLiteral("Splitter"));
    Splitter->addWidget(top);
    Splitter->addWidget(pSpr);
    Splitter->setStretchFactor(1, 1);
    // The handle between the upper panel and the grid is easy to find: a
    // wider bar in a darker shade than the window, with the style's grip.
    Splitter->setHandleWidth(7);
    QSplitterHandle* handle = Splitter->handle(1);
    QPalette shade = handle->palette();
    shade.setColor(QPalette::Window, shade.color(QPalette::Midlight).darker(110));
    handle->setPalette(shade);
    handle->setAutoFillBackground(true);
    handle->setToolTip(QStringLiteral("ﾄﾞﾗｯｸﾞで一覧の高さを変更"));
    setCentralWidget(Splitter);

    // Design sizes; the window state may replace them.
    pTr1->resize(kDesignTreeWidth, kDesignTreeHeight);
    trees->setSizes({kDesignTreeWidth, kDesignTreeWidth});
    top->setSizes({2 * kDesignTreeWidth, kDesignWidth - 2 * kDesignTreeWidth});
    Splitter->setSizes({kDesignTreeHeight + 80, kDesignHeight - kDesignTreeHeight - 80});
}

QWidget* fmSync::buildTaskFrame()
{
    auto* frTask = new QGroupBox;
    frTask->setObjectName(QStringLiteral("frTask"));
    auto* l = new QHBoxLayout(frTask);
    auto* caption = new QLabel(QStringLiteral("ﾀｽｸの指定"));
    caption->setObjectName(QStringLiteral("lbTsk"));
    cbTsk = new QComboBox;
    cbTsk->setObjectName(QStringLiteral("cbTsk"));
    cbTsk->setEditable(true);
    cbTsk->setInsertPolicy(QComboBox::NoInsert);
    // Task names are exact: "web" must never complete to, or load, "Web".
    cbTsk->completer()->setCaseSensitivity(Qt::CaseSensitive);
    cbTsk->setMinimumContentsLength(16);
    cbTsk->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    caption->setBuddy(cbTsk);
    lbRoot = new QLabel;
    lbRoot->setObjectName(QStringLiteral("lbRoot"));
    lbRoot->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    lbRoot->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lbRoot->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    l->addWidget(caption);
    l->addWidget(cbTsk);
    l->addWidget(lbRoot, 1);
    return frTask;
}

QWidget* fmSync::buildOptionsFrame()
{
    auto* frUsr = new QGroupBox;
    frUsr->setObjectName(QStringLiteral("frUsr"));
    auto* grid = new QGridLayout(frUsr);
    grid->setVerticalSpacing(4);

    for (int i = 0; i < 8; ++i) {
        chRet[size_t(i)] = new QCheckBox(text(kOptions[i].caption));
        chRet[size_t(i)]->setObjectName(QStringLiteral("chRet_%1").arg(i));
        chRet[size_t(i)]->setToolTip(text(kOptions[i].tip));
    }
    for (int i = 0; i < 5; ++i)
        grid->addWidget(chRet[size_t(i)], i, 0);

    frAttr = new QGroupBox(QStringLiteral("同期先ﾌｫﾙﾀﾞ･ﾌｧｲﾙの属性と除外"));
    frAttr->setObjectName(QStringLiteral("frAttr"));
    frAttr->setToolTip(QStringLiteral("属性により上書･削除を禁止します"));
    auto* attr = new QVBoxLayout(frAttr);
    for (int i = 5; i < 8; ++i)
        attr->addWidget(chRet[size_t(i)]);
    grid->addWidget(frAttr, 0, 1, 4, 1, Qt::AlignTop);
    // Moved files go with the deletion switch, beside it.
    cbMove = new QComboBox;
    cbMove->setObjectName(QStringLiteral("cbMove"));
    cbMove->addItems({QStringLiteral("移動を検出しない"), QStringLiteral("移動を検出(一部を照合)"),
                      QStringLiteral("移動を検出(全体を照合)")});
    cbMove->setToolTip(QStringLiteral("同期元で移動･名前変更されただけのﾌｧｲﾙは、同期先でも移動します (削除がｵﾝの時)"));
    grid->addWidget(cbMove, 4, 1);

    auto* foldCaption = new QLabel(QStringLiteral("更新履歴･ﾊﾞｯｸｱｯﾌﾟの保存先"));
    txFold = new QLineEdit;
    txFold->setObjectName(QStringLiteral("txFold"));
    txFold->setContextMenuPolicy(Qt::NoContextMenu);  // the right button picks the folder
    foldCaption->setBuddy(txFold);
    cmFold = new QPushButton(QStringLiteral("..."));
    cmFold->setObjectName(QStringLiteral("cmFold"));
    cmFold->setFixedWidth(cmFold->fontMetrics().horizontalAdvance(QStringLiteral("....")) + 16);
    // How much history is kept: days and a count, 0 for no limit.
    auto* keepCaption = new QLabel(QStringLiteral("保存"));
    spKeepD = new QSpinBox;
    spKeepD->setObjectName(QStringLiteral("spKeepD"));
    spKeepN = new QSpinBox;
    spKeepN->setObjectName(QStringLiteral("spKeepN"));
    for (QSpinBox* sp : {spKeepD, spKeepN}) {
        sp->setRange(0, kMaxKeep);
        sp->setSpecialValueText(QStringLiteral("無制限"));
    }
    spKeepD->setSuffix(QStringLiteral("日"));
    spKeepN->setSuffix(QStringLiteral("個"));
    spKeepD->setToolTip(QStringLiteral("同期の後、この日数より古い日付のﾊﾞｯｸｱｯﾌﾟﾌｫﾙﾀﾞとﾛｸﾞを削除します (最新のものは残します)"));
    spKeepN->setToolTip(QStringLiteral("同期の後、日付のﾊﾞｯｸｱｯﾌﾟﾌｫﾙﾀﾞとﾛｸﾞをそれぞれこの数まで残し、古いものから削除します"));
    keepCaption->setBuddy(spKeepD);
    auto* fold = new QHBoxLayout;
    fold->addWidget(txFold, 1);
    fold->addWidget(cmFold);
    fold->addWidget(keepCaption);
    fold->addWidget(spKeepD);
    fold->addWidget(spKeepN);
    grid->addWidget(foldCaption, 5, 0, 1, 2);
    grid->addLayout(fold, 6, 0, 1, 2);

    auto* fltCaption = new QLabel(QStringLiteral("ﾌｧｲﾙのﾌｨﾙﾀ指定 (複数の場合ｶﾝﾏ区切)"));
    cbFlt = new QComboBox;
    cbFlt->setObjectName(QStringLiteral("cbFlt"));
    cbFlt->addItems({QStringLiteral("ﾌｧｲﾙのﾌｨﾙﾀｰは設定しない"), QStringLiteral("ﾌｨﾙﾀｰに一致したﾌｧｲﾙを除外"),
                     QStringLiteral("ﾌｨﾙﾀｰに一致したﾌｧｲﾙを対象")});
    fltCaption->setBuddy(cbFlt);
    txFlt = new QLineEdit;
    txFlt->setObjectName(QStringLiteral("txFlt"));
    txFlt->setToolTip(QStringLiteral("複数の場合はｶﾝﾏで区切って下さい"));
    auto* flt = new QHBoxLayout;
    flt->addWidget(cbFlt);
    flt->addWidget(txFlt, 1);
    grid->addWidget(fltCaption, 7, 0, 1, 2);
    grid->addLayout(flt, 8, 0, 1, 2);

    frReigai = new QGroupBox(QStringLiteral("例外指定 (最優先)"));
    frReigai->setObjectName(QStringLiteral("frReigai"));
    auto* reigai = new QVBoxLayout(frReigai);
    reigai->setSpacing(2);
    auto* jogaiCaption =
        new QLabel(QStringLiteral("除外\u3000(指定にﾏｯﾁするﾌｧｲﾙ(同期元)は上書・追加はしない) \u3000ｶﾝﾏ区切り"));
    jogaiCaption->setObjectName(QStringLiteral("lbJogai"));
    txJogai = new QLineEdit;
    txJogai->setObjectName(QStringLiteral("txJogai"));
    jogaiCaption->setBuddy(txJogai);
    auto* hogoCaption =
        new QLabel(QStringLiteral("保護\u3000(指定にﾏｯﾁするﾌｧｲﾙ(同期先)は上書・削除はしない) \u3000ｶﾝﾏ区切り "));
    hogoCaption->setObjectName(QStringLiteral("lbHogo"));
    txHogo = new QLineEdit;
    txHogo->setObjectName(QStringLiteral("txHogo"));
    hogoCaption->setBuddy(txHogo);
    reigai->addWidget(jogaiCaption);
    reigai->addWidget(txJogai);
    reigai->addWidget(hogoCaption);
    reigai->addWidget(txHogo);
    grid->addWidget(frReigai, 9, 0, 1, 2);

    chLinkTgt = new QCheckBox(QStringLiteral("リンク先のファイルをコピーする"));
    chLinkTgt->setObjectName(QStringLiteral("chLinkTgt"));
    chLinkTgt->setToolTip(QStringLiteral("同期元のﾌｧｲﾙへのﾘﾝｸはﾘﾝｸ先のﾌｧｲﾙとして比較･ｺﾋﾟｰします"));
    auto* shiftCaption = new QLabel(QStringLiteral("時刻のずれを無視(分)"));
    spShift = new QSpinBox;
    spShift->setObjectName(QStringLiteral("spShift"));
    spShift->setRange(0, kMaxShift);
    spShift->setSpecialValueText(QStringLiteral("なし"));
    spShift->setToolTip(QStringLiteral("更新日時がちょうどこの分数ずれたﾌｧｲﾙは同じ日時とみなします (FATの夏時間は60)"));
    shiftCaption->setBuddy(spShift);
    auto* more = new QHBoxLayout;
    more->addWidget(chLinkTgt);
    more->addStretch(1);
    more->addWidget(shiftCaption);
    more->addWidget(spShift);
    grid->addLayout(more, 10, 0, 1, 2);

    chAcls = new QCheckBox(QStringLiteral("ACLを保持"));
    chAcls->setObjectName(QStringLiteral("chAcls"));
    chAcls->setToolTip(QStringLiteral("ｱｸｾｽ制御ﾘｽﾄ(ACL)も比較･ｺﾋﾟｰします (ﾌｧｲﾙごとに属性を一度読みます)"));
    chXattrs = new QCheckBox(QStringLiteral("拡張属性を保持"));
    chXattrs->setObjectName(QStringLiteral("chXattrs"));
    chXattrs->setToolTip(QStringLiteral("拡張属性(system.*以外)も比較･ｺﾋﾟｰします (ﾌｧｲﾙごとに属性を一度読みます)"));
    auto* meta = new QHBoxLayout;
    meta->addWidget(chAcls);
    chVerify = new QCheckBox(QStringLiteral("ｺﾋﾟｰを照合"));
    chVerify->setObjectName(QStringLiteral("chVerify"));
    chVerify->setToolTip(QStringLiteral("ｺﾋﾟｰしたﾌｧｲﾙを同期先から読み直して同期元と比べてから置き換えます"));
    // How files of equal size are compared: one box for the two switches,
    // so the panel keeps its height.
    cbCmp = new QComboBox;
    cbCmp->setObjectName(QStringLiteral("cbCmp"));
    cbCmp->addItems({QStringLiteral("日時で比較"), QStringLiteral("内容で比較"), QStringLiteral("内容で比較(日時を合わせる)")});
    cbCmp->setToolTip(QStringLiteral("ｻｲｽﾞが同じﾌｧｲﾙを日時で比べるか内容で比べるか (内容が同じで日時が違うﾌｧｲﾙは"
                                     "ｺﾋﾟｰせずに同期元の日時にもできます)"));
    cbCmp->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    meta->addWidget(chXattrs);
    meta->addWidget(chVerify);
    meta->addStretch(1);
    meta->addWidget(cbCmp);
    grid->addLayout(meta, 11, 0, 1, 2);

    auto* buttons = new QHBoxLayout;
    for (int i = 0; i < 5; ++i) {
        cmRet[size_t(i)] = new QPushButton(text(kButtons[i]));
        cmRet[size_t(i)]->setObjectName(QStringLiteral("cmRet_%1").arg(i));
        cmRet[size_t(i)]->setAutoDefault(false);
        buttons->addWidget(cmRet[size_t(i)]);
    }
    grid->addLayout(buttons, 12, 0, 1, 2);
    grid->setRowStretch(13, 1);
    grid->setColumnStretch(0, 1);

    // On a small screen the frame scrolls rather than pushing the window
    // past the screen's edge: every control stays reachable.
    auto* scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("scUsr"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setWidget(frUsr);
    // It scrolls up and down only: never narrower than its controls.
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setMinimumWidth(frUsr->minimumSizeHint().width()
                            + scroll->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, scroll));
    return scroll;
}

void fmSync::buildMenus()
{
    mnFold = menuBar()->addMenu(QStringLiteral("ﾌｫﾙﾀﾞ(&F)"));
    mnFold->setObjectName(QStringLiteral("mnFold"));
    mnSync = menuBar()->addMenu(QStringLiteral("同期(&S)"));
    mnSync->setObjectName(QStringLiteral("mnSync"));
    mnDisp = menuBar()->addMenu(QStringLiteral("表示設定(&D)"));
    mnDisp->setObjectName(QStringLiteral("mnDisp"));
    mnTask = menuBar()->addMenu(QStringLiteral("ﾀｽｸ(&T)"));
    mnTask->setObjectName(QStringLiteral("mnTask"));

    mnFld1 = new QMenu(QStringLiteral("ﾌｫﾙﾀﾞ1"), this);
    mnFld1->setObjectName(QStringLiteral("mnFld1"));
    mnFld2 = new QMenu(QStringLiteral("ﾌｫﾙﾀﾞ2"), this);
    mnFld2->setObjectName(QStringLiteral("mnFld2"));
    mnFold->addMenu(mnFld1);
    mnFold->addMenu(mnFld2);
    addItems(mnFold, {QStringLiteral("ﾃﾞｰﾀｰﾍﾞｰｽの最適化"), QStringLiteral("-"), QStringLiteral("終了(&X)")});

    addItems(mnFld1, {QStringLiteral("ﾙｰﾄﾊﾟｽを参照して開く"), QStringLiteral("直接ﾙｰﾄﾊﾟｽを指定"),
                      QStringLiteral("指定のﾊﾟｽをｴｸｽﾌﾟﾛｰﾗｰで開く"), QStringLiteral("-"),
                      QStringLiteral("指定&下位のﾁｪｯｸをｵﾝに"), QStringLiteral("指定&下位のﾁｪｯｸをｵﾌに"),
                      QStringLiteral("ﾌｫﾙﾀﾞｰ名にﾌｨﾙﾀｰを指定し､ﾁｪｯｸを一括指定"), QStringLiteral("-"),
                      QStringLiteral("指定&下位を全て展開"), QStringLiteral("指定&下位を全て閉じる"), QStringLiteral("-"),
                      QStringLiteral("ﾁｪｯｸの変更に下位のﾌｫﾙﾀﾞも連動する"), QStringLiteral("-"),
                      QStringLiteral("選択したﾌｫﾙﾀﾞだけをﾁｪｯｸ切替")});
    item(mnFld1, 11)->setCheckable(true);
    addItems(mnFld2, {QStringLiteral("ﾙｰﾄﾊﾟｽを参照して開く"), QStringLiteral("直接ﾙｰﾄﾊﾟｽを指定"),
                      QStringLiteral("指定のﾊﾟｽをｴｸｽﾌﾟﾛｰﾗｰで開く"), QStringLiteral("-"),
                      QStringLiteral("指定&下位を全て展開"), QStringLiteral("指定&下位を全て閉じる")});

    addItems(mnSync, {QStringLiteral("ﾌｫﾙﾀﾞ1とﾌｫﾙﾀﾞ2のﾌｧｲﾙを比較する"), QStringLiteral("ﾌｫﾙﾀﾞ1からﾌｫﾙﾀﾞ2への同期を実行"),
                      QStringLiteral("比較ﾘｽﾄをｸﾘｯﾌﾟﾎﾞｰﾄﾞに貼り付け"), QStringLiteral("-"),
                      QStringLiteral("ﾌｫﾙﾀﾞの比較+同期の実行(確認無し)"), QStringLiteral("-"),
                      QStringLiteral("同期先とFTPの照合"), QStringLiteral("-"), QStringLiteral("次のｴﾗｰ行へ"),
                      QStringLiteral("前のｴﾗｰ行へ")});
    item(mnSync, 8)->setShortcut(QKeySequence(Qt::Key_F8));
    item(mnSync, 9)->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F8));
    addItems(mnDisp, {QStringLiteral("全てのﾌｧｲﾙを表示"), QStringLiteral("上書･追加･削除を表示"),
                      QStringLiteral("同一以外を表示")});
    for (QAction* a : mnDisp->actions())
        a->setCheckable(true);
    addItems(mnTask, {QStringLiteral("上書き保存"), TskMsg::SaveAs, QStringLiteral("-"),
                      QStringLiteral("現在のﾀｽｸを削除"), QStringLiteral("-"), QStringLiteral("自動実行の設定...")});
}

// --- events -----------------------------------------------------------------------

void fmSync::connectControls()
{
    MainState& st = m_st;
    st.changed = [this] { showState(); };
    st.s.commandsChanged = [this] { showState(); };
    st.restoreWindowState = [this] { WinStateLoad(); };
    st.syncHooks.focusFold = [this] { txFold->setFocus(); };
    st.syncHooks.gridReordered = [this] { vSpr->gridModel().rowsChanged(0, m_st.s.vSpr.rowCount() - 1); };
    st.syncHooks.showRow = [this](int row) { showRowSoon(row); };
    // Reported every few hundred milliseconds, not per file.
    st.syncHooks.progress = [](int done, int total, long long bytesDone, long long bytesTotal) {
        WaitDlg().cProgress(done, total, bytesDone, bytesTotal);
    };
    // The counts follow every flag the user changes.
    connect(vSpr, &ResultGrid::flagToggled, this, [this] { lbCount->setText(m_st.CountText()); });

    // Menu "ﾌｫﾙﾀﾞ(&F)".
    connect(item(mnFold, 2), &QAction::triggered, this, [this] { m_st.DbCompact(); });
    connect(item(mnFold, 4), &QAction::triggered, this, [this] { close(); });

    // Submenu "ﾌｫﾙﾀﾞ1".
    connect(item(mnFld1, 0), &QAction::triggered, this, [this] { m_st.PickRoot(true, false); });
    connect(item(mnFld1, 1), &QAction::triggered, this, [this] { m_st.PickRoot(true, true); });
    connect(item(mnFld1, 2), &QAction::triggered, this, [this] { uTrD1->OpnFld(); });
    for (const bool on : {true, false}) {
        connect(item(mnFld1, on ? 4 : 5), &QAction::triggered, this, [this, on] {
            uTrD1->trView()->setFocus();
            QCoreApplication::processEvents();
            uTrD1->SetChkBx(on);
        });
    }
    connect(item(mnFld1, 6), &QAction::triggered, this, [this] { filterChecks(); });
    connect(item(mnFld1, 8), &QAction::triggered, this, [this] { uTrD1->ExpndALL(0); });
    connect(item(mnFld1, 9), &QAction::triggered, this, [this] { uTrD1->ExpndALL(1); });
    connect(item(mnFld1, 11), &QAction::triggered, this, [this] { m_st.ToggleLinked(); });
    connect(item(mnFld1, 13), &QAction::triggered, this, [this] { uTrD1->ChkOnOff(); });

    // Submenu "ﾌｫﾙﾀﾞ2".
    connect(item(mnFld2, 0), &QAction::triggered, this, [this] { m_st.PickRoot(false, false); });
    connect(item(mnFld2, 1), &QAction::triggered, this, [this] { m_st.PickRoot(false, true); });
    connect(item(mnFld2, 2), &QAction::triggered, this, [this] { uTrD2->OpnFld(); });
    connect(item(mnFld2, 4), &QAction::triggered, this, [this] { uTrD2->ExpndALL(0); });
    connect(item(mnFld2, 5), &QAction::triggered, this, [this] { uTrD2->ExpndALL(1); });

    // Menu "同期(&S)" and the command buttons.
    const auto compare = [this] {
        RunBlock run(*this);
        m_st.CompareCmd();
        resetGrid();
    };
    // After a run the first failed row, if any, is the current one.
    const auto showFirstFailed = [this] {
        if (m_st.lastSync) {
            vSpr->setCurrentIndex(QModelIndex());
            vSpr->goToFailed(true);
        }
    };
    const auto sync = [this, showFirstFailed] {
        {
            RunBlock run(*this);
            m_st.SyncCmd();
        }
        showFirstFailed();
    };
    const auto compareSync = [this, showFirstFailed] {
        {
            RunBlock run(*this);
            m_st.CompareSyncCmd();
            resetGrid();
        }
        showFirstFailed();
    };
    // The window stays usable while it waits for the companion.
    const auto upload = [this](bool wait) { m_st.UpCmd(wait); };
    connect(item(mnSync, 0), &QAction::triggered, this, compare);
    connect(item(mnSync, 1), &QAction::triggered, this, sync);
    connect(item(mnSync, 2), &QAction::triggered, this, [this] { copyList(); });
    connect(item(mnSync, 4), &QAction::triggered, this, compareSync);
    connect(item(mnSync, 6), &QAction::triggered, this, [upload] { upload(false); });
    connect(item(mnSync, 8), &QAction::triggered, this, [this] { vSpr->goToFailed(true); });
    connect(item(mnSync, 9), &QAction::triggered, this, [this] { vSpr->goToFailed(false); });
    connect(cmRet[0], &QPushButton::clicked, this, compare);
    connect(cmRet[1], &QPushButton::clicked, this, sync);
    connect(cmRet[2], &QPushButton::clicked, this, [upload] { upload(false); });
    connect(cmRet[3], &QPushButton::clicked, this, compareSync);
    connect(cmRet[4], &QPushButton::clicked, this, [upload] { upload(true); });

    // Menu "表示設定(&D)".
    for (int i = 0; i < 3; ++i) {
        connect(item(mnDisp, i), &QAction::triggered, this, [this, i] {
            RunBlock run(*this);
            m_st.SetDispMd(i);
            resetGrid();
        });
    }

    // Menu "ﾀｽｸ(&T)".
    connect(item(mnTask, 0), &QAction::triggered, this, [this] { m_st.TskSave(true); });
    connect(item(mnTask, 1), &QAction::triggered, this, [this] { m_st.TskSave(false); });
    connect(item(mnTask, 3), &QAction::triggered, this, [this] { m_st.TskDel(); });
    connect(item(mnTask, 5), &QAction::triggered, this, [this] { scheduleTask(); });

    // The trees' events.
    connect(uTrD1, &uTrD::eCngRt, this, [this](const QString& sRt) { m_st.RootChanged(true, sRt); });
    connect(uTrD2, &uTrD::eCngRt, this, [this](const QString& sRt) { m_st.RootChanged(false, sRt); });
    connect(uTrD1, &uTrD::eChkExp, this, [this] { m_st.ChkExpChanged(); });
    connect(uTrD1, &uTrD::eRClick, this, [this] { mnFld1->popup(QCursor::pos()); });
    connect(uTrD2, &uTrD::eRClick, this, [this] { mnFld2->popup(QCursor::pos()); });

    // The task list: a choice loads the task; typing changes only its text.
    connect(cbTsk, &QComboBox::activated, this, [this](int index) {
        RunBlock run(*this);
        m_st.selectTask(index);
        resetGrid();
    });
    connect(cbTsk, &QComboBox::editTextChanged, this, [this](const QString& t) { m_st.cbTskText = t; });

    // The options panel: every user change goes into the panel's values first.
    for (int k = 0; k < 8; ++k) {
        connect(chRet[size_t(k)], &QCheckBox::clicked, this, [this, k](bool checked) {
            m_st.s.panel.chRet[size_t(k)] = checked;
            m_st.ChkRetClicked(k);
        });
    }
    connect(cbFlt, &QComboBox::activated, this, [this](int index) { m_st.FilterChosen(index); });
    connect(txFlt, &QLineEdit::textEdited, this, [this](const QString& t) {
        m_st.s.panel.txFlt = t;
        m_st.FilterTextChanged();
    });
    connect(txFold, &QLineEdit::textEdited, this, [this](const QString& t) { m_st.s.panel.txFold = t; });
    connect(txJogai, &QLineEdit::textEdited, this, [this](const QString& t) { m_st.s.panel.txJogai = t; });
    connect(txHogo, &QLineEdit::textEdited, this, [this](const QString& t) { m_st.s.panel.txHogo = t; });
    for (auto [box, field] : {std::pair{chLinkTgt, &TaskPanel::chLinkTgt}, std::pair{chAcls, &TaskPanel::chAcls},
                              std::pair{chXattrs, &TaskPanel::chXattrs}, std::pair{chVerify, &TaskPanel::chVerify}})
        connect(box, &QCheckBox::clicked, this, [this, field](bool checked) {
            m_st.s.panel.*field = checked;
            m_st.TskChg(true);
        });
    connect(cbCmp, &QComboBox::activated, this, [this](int k) {
        m_st.s.panel.chContent = k > 0;
        m_st.s.panel.chContentTimes = k == 2;
        m_st.TskChg(true);
    });
    connect(cbMove, &QComboBox::activated, this, [this](int k) {
        m_st.s.panel.nMoves = k;
        m_st.TskChg(true);
    });
    for (auto [sp, field] : {std::pair{spKeepD, &TaskPanel::nKeepDays}, std::pair{spKeepN, &TaskPanel::nKeepCount}})
        connect(sp, &QSpinBox::valueChanged, this, [this, field](int n) {
            if (m_st.s.panel.*field == n)
                return;
            m_st.s.panel.*field = n;
            m_st.TskChg(true);
        });
    connect(spShift, &QSpinBox::valueChanged, this, [this](int minutes) {
        if (m_st.s.panel.nShift == minutes)
            return;
        m_st.s.panel.nShift = minutes;
        m_st.TskChg(true);
    });
    connect(cmFold, &QPushButton::clicked, this, [this] { m_st.PickHist(); });
    txFold->installEventFilter(this);
}

bool fmSync::eventFilter(QObject* watched, QEvent* e)
{
    // A disabled field sees the click here too: it opens nothing.
    if (watched == txFold && e->type() == QEvent::MouseButtonPress
        && static_cast<QMouseEvent*>(e)->button() == Qt::RightButton) {
        if (txFold->isEnabled())
            m_st.PickHist();
        return true;
    }
    return QMainWindow::eventFilter(watched, e);
}

void fmSync::filterChecks()
{
    sbFlt dialog(this);
    QString sOff, sOn;
    bool bOk = false;
    dialog.Act(sOff, sOn, bOk);
    if (bOk)
        uTrD1->SetChkFlt(sOff, sOn);
}

void fmSync::scheduleTask()
{
    // velmor-cli beside this program writes the units; its messages are
    // shown as they are when it fails.
    const QString cli = QCoreApplication::applicationDirPath() + QStringLiteral("/velmor-cli");
    const QString task = m_st.sCurTsk;
    const auto runCli = [&cli](const QStringList& args, QString& said) {
        QProcess p;
        p.start(cli, QStringList{QStringLiteral("schedule")} + args);
        const bool ok = p.waitForFinished(120'000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        said = QString::fromUtf8(p.readAllStandardError()).trimmed();
        if (said.isEmpty() && !ok)
            said = p.errorString();
        return ok ? QString::fromUtf8(p.readAllStandardOutput()) : QString();
    };
    QString said;
    QStringList current;
    const QString listed = runCli({QStringLiteral("list")}, said);
    if (!said.isEmpty()) {
        Usr::prompt().message(QStringLiteral("自動実行の設定: ") + said);
        return;
    }
    for (const QString& line : listed.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList cols = line.split(QLatin1Char('\t'));
        if (cols.size() >= 2 && cols[0] == task)
            current.append(cols[1]);
    }
    dlSched dialog(this);
    const QStringList args = dialog.Act(task, current);
    if (args.isEmpty())
        return;
    if (args.first() == QLatin1String("remove") && current.isEmpty())
        return;  // nothing to remove
    runCli(args + QStringList{QStringLiteral("--data"), Usr::sUsrDt}, said);
    if (!said.isEmpty())
        Usr::prompt().message(QStringLiteral("自動実行の設定: ") + said);
}

void fmSync::copyList() { QGuiApplication::clipboard()->setText(vSpr->clipboardText()); }

void fmSync::resetGrid() { vSpr->gridModel().reset(); }

void fmSync::showRowSoon(int row)
{
    // Scrolling moves the whole grid image: done once per pass of the event
    // loop for the last row handled, not for every row of a long run.
    m_scrollTo = row;
    m_changedFirst = qMin(m_changedFirst, row);
    m_changedLast = qMax(m_changedLast, row);
    if (m_gridPending)
        return;
    m_gridPending = true;
    QTimer::singleShot(0, this, [this] {
        m_gridPending = false;
        vSpr->gridModel().rowsChanged(m_changedFirst, m_changedLast);
        vSpr->showRow(m_scrollTo);
        m_changedFirst = INT_MAX;
        m_changedLast = -1;
    });
}

void fmSync::setRunning(bool on)
{
    for (QWidget* w : {static_cast<QWidget*>(menuBar()), pTsk, pTr1, pTr2, pUsr})
        w->setEnabled(!on);
    if (!on && StopSignal::received() && !m_closePending) {
        // A stop signal stopped the run: the program ends, reporting the stop.
        SetExitStatus(AutoRunStatus::kFailed);
        m_closePending = true;
    }
    if (!on && m_closePending) {
        QTimer::singleShot(0, this, [this] {
            if (m_closePending)
                close();
        });
    }
}

// --- the state on screen ------------------------------------------------------

void fmSync::showState()
{
    const MainState& st = m_st;
    const Session& s = st.s;
    lbCount->setText(st.CountText());

    // Commands that need a result, and "FTP".
    item(mnSync, 1)->setEnabled(s.syncEnabled);
    item(mnSync, 2)->setEnabled(s.syncEnabled);
    cmRet[1]->setEnabled(s.syncEnabled);
    cmRet[2]->setEnabled(s.ftpEnabled);

    // Task menu and task list.
    item(mnTask, 0)->setEnabled(st.mnSaveEnabled);
    item(mnTask, 1)->setText(st.mnSaveAsCaption);
    item(mnTask, 3)->setEnabled(st.mnDeleteEnabled);
    item(mnTask, 5)->setEnabled(st.mnDeleteEnabled);  // both need a current task
    {
        const QSignalBlocker block(cbTsk);
        QStringList shown;
        for (int i = 0; i < cbTsk->count(); ++i)
            shown << cbTsk->itemText(i);
        if (shown != st.cbTsk) {
            cbTsk->clear();
            cbTsk->addItems(st.cbTsk);
        }
        if (cbTsk->currentIndex() != st.cbTskIndex)
            cbTsk->setCurrentIndex(st.cbTskIndex);
        if (cbTsk->currentText() != st.cbTskText)
            cbTsk->setEditText(st.cbTskText);
    }
    lbRoot->setText(st.lbRoot);

    // Display and check menus.
    for (int i = 0; i < 3; ++i)
        item(mnDisp, i)->setChecked(st.mnDispChecked[size_t(i)]);
    item(mnFld1, 11)->setChecked(st.mnLinkChecked);
    item(mnFld1, 13)->setEnabled(st.mnChkOnOffEnabled);

    // The options panel.
    for (size_t i = 0; i < 8; ++i)
        setCheckedQuietly(chRet[i], s.panel.chRet[i]);
    setTextQuietly(txFold, s.panel.txFold);
    setUsable(txFold, st.txFoldEnabled);
    cmFold->setEnabled(st.txFoldEnabled);
    if (s.panel.cbFlt >= 0 && s.panel.cbFlt < cbFlt->count() && cbFlt->currentIndex() != s.panel.cbFlt) {
        const QSignalBlocker block(cbFlt);
        cbFlt->setCurrentIndex(s.panel.cbFlt);
    }
    setTextQuietly(txFlt, s.panel.txFlt);
    setUsable(txFlt, st.txFltEnabled);
    setTextQuietly(txJogai, s.panel.txJogai);
    setTextQuietly(txHogo, s.panel.txHogo);
    setCheckedQuietly(chLinkTgt, s.panel.chLinkTgt);
    setCheckedQuietly(chAcls, s.panel.chAcls);
    setCheckedQuietly(chXattrs, s.panel.chXattrs);
    setCheckedQuietly(chVerify, s.panel.chVerify);
    if (const int k = !s.panel.chContent ? 0 : s.panel.chContentTimes ? 2 : 1; cbCmp->currentIndex() != k) {
        const QSignalBlocker block(cbCmp);
        cbCmp->setCurrentIndex(k);
    }
    if (spShift->value() != s.panel.nShift) {
        const QSignalBlocker block(spShift);
        spShift->setValue(s.panel.nShift);
    }
    if (cbMove->currentIndex() != s.panel.nMoves) {
        const QSignalBlocker block(cbMove);
        cbMove->setCurrentIndex(s.panel.nMoves);
    }
    for (auto [sp, n] : {std::pair{spKeepD, s.panel.nKeepDays}, std::pair{spKeepN, s.panel.nKeepCount}})
        if (sp->value() != n) {
            const QSignalBlocker block(sp);
            sp->setValue(n);
        }

    // The grid: rows added or removed since the view last counted them.
    if (vSpr->model()->rowCount() != vSpr->verticalHeader()->count())
        resetGrid();
    else
        vSpr->viewport()->update();
}

// --- lifecycle ------------------------------------------------------------------

void fmSync::Load()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_waitCursor = true;
    {
        BusyGuard busy;
        uTrD1->setBHdSlct(true);
        uTrD2->setBHdSlct(true);
        uTrD1->setChkBx(true);
        WinStateLoad();
        // The grid: no rows; the result column takes the width that is left,
        // and a click selects whole rows.
        m_st.s.vSpr.clear();
        resetGrid();
        vSpr->horizontalHeader()->setStretchLastSection(true);
        vSpr->setSelectionBehavior(QAbstractItemView::SelectRows);
        m_st.s.ftpEnabled = true;  // "FTP" is usable until a comparison fills the grid
        m_st.Load();               // task list, first filter entry, no current task
    }
    showState();
    QApplication::restoreOverrideCursor();
    m_waitCursor = false;
}

void fmSync::WinStateLoad()
{
    const WinStateData d = LoadWinState();
    {
        BusyGuard busy;
        m_st.ApplyWinState(d);  // roots, display mode, linked mode, lbRoot, sFtpAp
    }
    // Panes still fixed by an earlier load would raise the window's minimum.
    releasePanes();
    if (d.width > 0 && d.height > 0)
        placeWindow(QRect(d.left / kTwipsPerPixel, d.top / kTwipsPerPixel, d.width / kTwipsPerPixel,
                          d.height / kTwipsPerPixel));
    else if (!isVisible())
        placeWindow({});  // the design size, on the primary screen
    // The tree panes hold their stored size until the window is first
    // activated, whatever the window's own size does meanwhile.
    m_splitPending = !isVisible() && !(d.dr1Wd > 300 && d.dirHi > 300);
    if (d.dr1Wd > 300 && d.dirHi > 300) {
        fixPanes(d.dr1Wd / kTwipsPerPixel, d.dr2Wd / kTwipsPerPixel, d.dirHi / kTwipsPerPixel);
        // Restored again after a task was deleted: no activation follows to
        // release them, so they are released once the layout has taken them.
        if (m_activated)
            QTimer::singleShot(0, this, [this] { releasePanes(); });
    }
    if (!d.clsWd.isEmpty())
        vSpr->setColumnWidths(parseColumnWidths(d.clsWd));
    showState();
}

QMargins fmSync::frameMargins() const
{
    const QRect inner = geometry();
    const QRect frame = frameGeometry();
    return {inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
            frame.bottom() - inner.bottom()};
}

void fmSync::placeWindow(const QRect& stored)
{
    QList<QRect> areas;  // the primary screen first
    QScreen* primary = QGuiApplication::primaryScreen();
    if (primary)
        areas.append(primary->availableGeometry());
    for (QScreen* screen : QGuiApplication::screens())
        if (screen != primary)
            areas.append(screen->availableGeometry());
    // The desktop draws the frame only once the window is shown: until then
    // room is left for a title bar and borders, so that the frame fits too.
    QMargins m = frameMargins();
    if (!isVisible()) {
        const int border = style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, this);
        m = {border, style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this), border, border};
    }
    QRect frame;
    QRect area;
    if (stored.isValid()) {
        frame = QRect(stored.topLeft(), stored.size().grownBy(m));
        area = screenAreaFor(frame, areas);
    } else {
        frame = QRect(QPoint(), size().grownBy(m));
        area = areas.value(0);
        frame.moveCenter(area.center());
    }
    const QRect fitted = fitFrame(frame, area, minimumSizeHint().grownBy(m));
    move(fitted.topLeft());
    resize(fitted.size().shrunkBy(m));
}

void fmSync::WinStateSave()
{
    WinStateData d;
    // The position of the frame and the size inside it, as they are
    // restored; a maximised or minimised window saves its normal place.
    const QRect normal = normalGeometry();
    const QMargins m = frameMargins();
    d.left = (normal.left() - m.left()) * kTwipsPerPixel;
    d.top = (normal.top() - m.top()) * kTwipsPerPixel;
    d.width = normal.width() * kTwipsPerPixel;
    d.height = normal.height() * kTwipsPerPixel;
    m_st.FillWinState(d);
    d.dr1Wd = pTr1->width() * kTwipsPerPixel;
    d.dr2Wd = pTr2->width() * kTwipsPerPixel;
    d.dirHi = pTr1->height() * kTwipsPerPixel;
    d.clsWd = columnWidthsText(vSpr->columnWidths());
    SaveWinState(d);  // a failure has been written to stderr; the window closes all the same
}

void fmSync::fixPanes(int width1, int width2, int height)
{
    setFixedPaneSize(pTr1, width1, height);
    setFixedPaneSize(pTr2, width2, 0);
    m_panesFixed = true;
    // A window smaller than the stored panes need (its stored size was
    // pulled onto a smaller screen): the panes give way, rather than the
    // window growing past the screen.
    Splitter->updateGeometry();  // the window's layout learns of the fixed panes now, shown or not
    const QSize excess = minimumSizeHint() - size();
    if (excess.width() <= 0 && excess.height() <= 0)
        return;
    const int least = kDesignTreeWidth / 3;  // a tree stays wide and tall enough to use
    const QList<int> widths =
        giveWay(width2 > 0 ? QList<int>{width1, width2} : QList<int>{width1}, excess.width(), least);
    setFixedPaneSize(pTr1, widths[0], giveWay({height}, excess.height(), least)[0]);
    setFixedPaneSize(pTr2, widths.value(1), 0);
    Splitter->updateGeometry();
}

void fmSync::splitFirstStart()
{
    // A laptop screen: the grid shows this many rows, the upper panel (its
    // options scroll) giving way down to its least height; a taller window
    // keeps the upper panel's design height and gives the rest to the grid.
    constexpr int kGridRowsFirst = 20;
    const QList<int> sizes = Splitter->sizes();
    const int total = sizes.value(0) + sizes.value(1);
    const int need = vSpr->horizontalHeader()->sizeHint().height()
                     + kGridRowsFirst * vSpr->verticalHeader()->defaultSectionSize() + 2 * vSpr->frameWidth();
    const int top = std::max(std::min(kDesignTreeHeight + 80, total - need), Splitter->widget(0)->minimumSizeHint().height());
    Splitter->setSizes({top, total - top});
}

void fmSync::releasePanes()
{
    if (!m_panesFixed)
        return;
    m_panesFixed = false;
    // The splitters above the tree panes take the sizes that the fixed
    // panes gave them as their own: released, the panes keep their sizes
    // rather than falling back to the splitters' earlier ones.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QList<std::pair<QSplitter*, QList<int>>> held;
    for (QWidget* pane : {pTr1, pTr2}) {
        for (QWidget* w = pane->parentWidget(); w && w != this; w = w->parentWidget()) {
            auto* s = qobject_cast<QSplitter*>(w);
            if (s && std::none_of(held.cbegin(), held.cend(), [s](const auto& h) { return h.first == s; }))
                held.append({s, s->sizes()});
        }
    }
    for (QWidget* pane : {pTr1, pTr2}) {
        pane->setMinimumSize(0, 0);
        pane->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    }
    for (const auto& [s, sizes] : held)
        s->setSizes(sizes);
}

bool fmSync::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate)
        Activate();
    return QMainWindow::event(e);
}

void fmSync::showEvent(QShowEvent* e)
{
    QMainWindow::showEvent(e);
    if (m_splitPending) {
        m_splitPending = false;
        splitFirstStart();
    }
    // A window that the desktop does not activate (focus-stealing prevention
    // for a program started by a scheduler) still runs its tasks.
    if (!m_st.bActDone && !m_firstQueued) {
        m_firstQueued = true;
        QTimer::singleShot(0, this, [this] { firstActivation(); });
    }
}

void fmSync::Activate()
{
    m_activated = true;
    if (m_waitCursor) {
        QApplication::restoreOverrideCursor();
        m_waitCursor = false;
    }
    releasePanes();
    // The automatic run starts once the activation has been handled, so the
    // window is painted and active meanwhile.
    if (!m_st.bActDone && !m_firstQueued) {
        m_firstQueued = true;
        QTimer::singleShot(0, this, [this] { firstActivation(); });
    }
}

void fmSync::firstActivation()
{
    if (m_st.bActDone)
        return;
    releasePanes();
    if (Usr::sCmdTsk.isEmpty()) {
        m_st.Activate();  // no tasks named: nothing runs, ever
        return;
    }
    AutoRunStatus status;
    bool ran = false;
    {
        RunBlock run(*this);
        m_st.autoRunTaskDone = [this, &status](const MainState::AutoRunTask& t) {
            status.add(t);
            resetGrid();
        };
        // A night job reads its failures where velmor-cli run writes them.
        m_st.autoRunRowFailed = [this](int r, const QString& why) {
            PrintFailedRow(m_st.cbTskText, m_st.s.vSpr.row(r), why);
        };
        ran = m_st.Activate();
        m_st.autoRunTaskDone = nullptr;
        m_st.autoRunRowFailed = nullptr;
    }
    if (!ran)
        return;
    SetExitStatus(status.exitCode());
    close();
}

void fmSync::closeEvent(QCloseEvent* e)
{
    // Nothing more starts: an automatic run skips its remaining steps and
    // tasks, and a wait for the companion ends (the companion runs on).
    m_st.bClosing = true;
    if (m_runDepth > 0) {
        // The run finishes first (as soon as it sees the stop), then the
        // window closes: the state is saved and the database closed only
        // when nothing works on them any more.
        e->ignore();
        m_closePending = true;
        WaitDlg().stopWork();
        return;
    }
    e->accept();
    m_closePending = false;
    if (m_closed)
        return;  // the close request runs once
    m_closed = true;
    WinStateSave();
    try {
        m_st.s.oDb.DbClose();
    } catch (const std::exception& ex) {
        std::fprintf(stderr, "velmor: the work database did not close cleanly: %s\n", ex.what());
    }
    if (appEnd)
        appEnd();
}

} // namespace velmor
