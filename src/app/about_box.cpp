#include "app/about_box.h"

#include "app/app_resources.h"
#include "app/dialog_units.h"
#include "ui_about_box.h"

#include <QIcon>

namespace app {

AboutBox::AboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      m_form(std::make_unique<Ui::AboutBox>())
{
    ensureResources();
    m_form->setupUi(this);
    applyDialogUnits(*this);
    const QSize iconSize = m_form->iconLabel->size().boundedTo(QSize(32, 32));
    m_form->iconLabel->setPixmap(QIcon(QStringLiteral(":/icons/app-32.xpm")).pixmap(iconSize));
    connect(m_form->okButton, &QPushButton::clicked, this, &AboutBox::accept);
}

AboutBox::~AboutBox() = default;

} // namespace app
