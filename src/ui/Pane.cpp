#include "ui/Pane.h"

#include <QVBoxLayout>
#include <QWidget>

namespace velmor {

QWidget* makePane(const QString& key, QWidget* control)
{
    auto* pane = new QWidget;
    pane->setObjectName(key);
    auto* l = new QVBoxLayout(pane);
    l->setContentsMargins(0, 0, 0, 0);
    l->addWidget(control);
    return pane;
}

} // namespace velmor
