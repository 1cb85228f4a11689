#include "delivery/forms/TPVLogForm.h"

#include <QAction>
#include <QMenu>
#include <QPlainTextEdit>
#include <QThread>
#include <QVBoxLayout>

#include "delivery/Debug.h"
#include "shell/forms/QtCodec.h"
#include "shell/forms/QtWindowPlacement.h"

namespace {

const QString kPlacementKey = QStringLiteral("LogForm");

}  // namespace

TPVLogForm::TPVLogForm(QWidget* owner)
    : QWidget(owner, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("TPVLogForm"));
    setWindowTitle(QStringLiteral("Log"));
    resize(554, 180);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setContextMenuPolicy(Qt::CustomContextMenu);

    mnuClear = new QAction(QStringLiteral("ログの消去"), this);
    mnuClear->setObjectName(QStringLiteral("mnuClear"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Memo1);

    connect(Memo1, &QPlainTextEdit::customContextMenuRequested, this, &TPVLogForm::ShowContextMenu);
    connect(mnuClear, &QAction::triggered, this, &TPVLogForm::mnuClearClick);

    RestoreWindowPlacement(this, kPlacementKey);
}

TPVLogForm::~TPVLogForm() {
    DetachFromSendLog();
    SaveWindowPlacement(this, kPlacementKey);
}

void TPVLogForm::AppendLine(const std::string& line) {
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this, line] { AppendLine(line); }, Qt::QueuedConnection);
        return;
    }
    Memo1->appendPlainText(FromCp932(line));
}

void TPVLogForm::Clear() {
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this] { Clear(); }, Qt::QueuedConnection);
        return;
    }
    Memo1->clear();
}

void TPVLogForm::AttachToSendLog() {
    if (sink_) return;
    sink_ = std::make_shared<TSink>();
    sink_->form = this;
    std::shared_ptr<TSink> sink = sink_;
    SetLogWindow(
        [sink](const std::string& line) {
            std::lock_guard lock(sink->mutex);
            if (sink->form) sink->form->AppendLine(line);
        },
        [sink] {
            std::lock_guard lock(sink->mutex);
            if (sink->form) sink->form->Clear();
        });
}

void TPVLogForm::DetachFromSendLog() {
    if (!sink_) return;
    SetLogWindow({}, {});
    {
        std::lock_guard lock(sink_->mutex);
        sink_->form = nullptr;
    }
    sink_.reset();
}

void TPVLogForm::mnuClearClick() { Memo1->clear(); }

void TPVLogForm::ShowContextMenu(const QPoint& pos) {
    QMenu menu(this);
    menu.addAction(mnuClear);
    menu.exec(Memo1->viewport()->mapToGlobal(pos));
}
