#include "shell/forms/TPVAboutForm.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSvgRenderer>
#include <QVBoxLayout>

#include "shell/forms/QtCodec.h"

namespace {

constexpr QSize kPictureSize(96, 96);

QPixmap RenderPicture(qreal ratio) {
    QPixmap pixmap(kPictureSize * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(QStringLiteral(":/about.svg"));
    QPainter painter(&pixmap);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(kPictureSize)));
    return pixmap;
}

}  // namespace

TPVAboutForm::TPVAboutForm(QWidget* owner) : QDialog(owner) {
    setWindowTitle(QStringLiteral("About ") + Str(900));

    imgPicture = new QLabel(this);
    imgPicture->setObjectName(QStringLiteral("imgPicture"));
    imgPicture->setPixmap(RenderPicture(devicePixelRatioF()));
    imgPicture->setFixedSize(kPictureSize);

    lblVersion = new QLabel(Str(900) + QStringLiteral(" Version ") + Str(902), this);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));

    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);

    auto* top = new QHBoxLayout;
    top->addWidget(imgPicture);
    top->addSpacing(12);
    top->addWidget(lblVersion, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOK);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    // A fixed dialog: the size its contents need, not resizable.
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(btnOK, &QPushButton::clicked, this, &TPVAboutForm::btnOKClick);
}

void TPVAboutForm::btnOKClick() { accept(); }
