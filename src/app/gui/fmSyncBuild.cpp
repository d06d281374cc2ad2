// The main window's controls, panes and menus, built once.
#include "fmSync.h"
#include "WindowDesign.h"

#include "ui/Pane.h"
#include "ui/ResultGrid.h"
#include "tree/view/uTrD.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>

namespace velmor {

using namespace design;

namespace {

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

} // namespace

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
    vSpr->setMinimumHeight(vSpr->heightForRows(kGridRowsAtLeast) + vSpr->horizontalScrollBar()->sizeHint().height());

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
    // Operations in flight at once on folder 2: "自動" leaves it to how
    // slowly folder 2's volume answers.
    auto* jobsCaption = new QLabel(QStringLiteral("同時処理"));
    spJobs = new QSpinBox;
    spJobs->setObjectName(QStringLiteral("spJobs"));
    spJobs->setRange(0, kMaxJobs);
    spJobs->setSpecialValueText(QStringLiteral("自動"));
    spJobs->setToolTip(QStringLiteral("同期先で同時に行う処理の数 (自動: ﾛｰｶﾙﾃﾞｨｽｸは1つずつ、応答の遅いﾈｯﾄﾜｰｸ上の"
                                      "同期先では複数)"));
    jobsCaption->setBuddy(spJobs);
    auto* more = new QHBoxLayout;
    more->addWidget(chLinkTgt);
    more->addStretch(1);
    more->addWidget(jobsCaption);
    more->addWidget(spJobs);
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

} // namespace velmor
