#include "ui/FilterDialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmor {

sbFlt::sbFlt(QWidget* mainWindow) : QDialog(mainWindow)
{
    setObjectName(QStringLiteral("sbFlt"));
    setWindowTitle(QStringLiteral("ﾌｫﾙﾀﾞｰ ﾁｪｯｸを一括指定"));
    setModal(true);

    auto* layout = new QVBoxLayout(this);
    const auto addLabel = [&](const QString& text) {
        auto* l = new QLabel(text, this);
        layout->addWidget(l);
        return l;
    };
    addLabel(QStringLiteral("以下のﾌｨﾙﾀに一致するﾌｫﾙﾀﾞ-のﾁｪｯｸをはずします"));
    Text1[0] = new QLineEdit(this);
    Text1[0]->setObjectName(QStringLiteral("Text1_0"));
    layout->addWidget(Text1[0]);
    addLabel(QStringLiteral("以下のﾌｨﾙﾀに一致するﾌｫﾙﾀﾞ-のﾁｪｯｸをつけます"));
    Text1[1] = new QLineEdit(this);
    Text1[1]->setObjectName(QStringLiteral("Text1_1"));
    layout->addWidget(Text1[1]);
    addLabel(QStringLiteral("｢つける｣と｢はずす｣のﾌｨﾙﾀｰが両方成立した場合は､｢つける｣が優先されます "));
    addLabel(QStringLiteral("ﾌｲﾙﾀｰが一致した場合に､ｻﾌﾞﾌｫﾙﾀﾞｰにも適用されます"));
    addLabel(QStringLiteral("ｶﾝﾏ又はｽﾍﾟｰｽで仕切って下さい"));

    cmRet = new QPushButton(QStringLiteral("Ok(&O)"), this);
    cmRet->setObjectName(QStringLiteral("cmRet"));
    cmRet->setDefault(true);
    layout->addWidget(cmRet, 0, Qt::AlignRight);
    connect(cmRet, &QPushButton::clicked, this, [this] {
        m_off = Text1[0]->text();
        m_on = Text1[1]->text();
        m_confirmed = true;
        accept();
    });
}

void sbFlt::Act(QString& sOff, QString& sOn, bool& bOk)
{
    Text1[0]->clear();
    Text1[1]->clear();
    Text1[0]->setFocus();
    m_off.clear();
    m_on.clear();
    m_confirmed = false;

    adjustSize();
    if (QWidget* main = parentWidget() ? parentWidget()->window() : nullptr) {
        const QRect m = main->frameGeometry();
        const QSize d = frameGeometry().size();
        move(m.left() + (m.width() - d.width()) / 2, m.top() + (m.height() - d.height()) / 2);
    }

    // The close box and Escape end the modal show without confirmation.
    exec();
    bOk = m_confirmed;
    sOff = m_off;
    sOn = m_on;
}

} // namespace velmor
