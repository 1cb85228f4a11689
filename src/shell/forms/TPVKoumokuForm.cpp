#include "shell/forms/TPVKoumokuForm.h"

#include <QCloseEvent>
#include <QPushButton>

#include "shell/forms/QtCodec.h"

TPVKoumokuForm::TPVKoumokuForm(QWidget* owner, std::function<void(int)> insert)
    : QWidget(owner, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint), insert_(std::move(insert)) {
    setObjectName("PVKoumokuForm");
    setWindowTitle("Fields");
    resize(144, 347);
    for (int i = 0; i < kButtonCount; ++i) {
        auto* b = new QPushButton(this);
        b->setObjectName(QString("btnField%1").arg(i + 1));
        b->setFlat(true);
        b->setFocusPolicy(Qt::NoFocus);  // the compose control keeps the caret
        b->setGeometry(0, 32 * i, 120, 32);
        connect(b, &QPushButton::clicked, this, [this, i] { ButtonClick(i); });
        buttons_[i] = b;
    }
}

void TPVKoumokuForm::SetFieldNames(const std::vector<std::string>& names) {
    names_ = names;
    for (int i = 0; i < kButtonCount; ++i) {
        buttons_[i]->setText(i < static_cast<int>(names_.size()) ? FromCp932(names_[i]) : QString());
    }
}

void TPVKoumokuForm::ButtonClick(int index) {
    if (mode_ == TargetMode::MainWindow) {
        if (insert_) insert_(index);
    } else if (insertInEditor_) {
        insertInEditor_(index);
    }
}

void TPVKoumokuForm::closeEvent(QCloseEvent* event) {
    if (closeAllowed_) event->accept();
    else event->ignore();
}

void TPVKoumokuForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    for (QPushButton* b : buttons_) b->resize(width(), 32);
}
