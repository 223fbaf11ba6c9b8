#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class AboutBox;
}

namespace app {

// The modal box with the program's name and version; OK, Escape and the close box close it.
class AboutBox : public QDialog {
    Q_OBJECT

public:
    explicit AboutBox(QWidget* parent = nullptr);
    ~AboutBox() override;

private:
    std::unique_ptr<Ui::AboutBox> m_form;
};

} // namespace app
