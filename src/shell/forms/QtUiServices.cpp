#include "shell/forms/QtUiServices.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

#include "addressbook/forms/TPVProgressDialog.h"
#include "shell/forms/QtCodec.h"

namespace {

// Runs `f` on the UI thread, waiting for it when called from another thread.
template <typename F>
void OnUiThread(F f) {
    if (QThread::currentThread() == qApp->thread()) {
        f();
    } else {
        QMetaObject::invokeMethod(qApp, f, Qt::BlockingQueuedConnection);
    }
}

MessageResult ShowBox(MessageKind kind, const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::Information, caption, text, QMessageBox::NoButton, MessageOwner());
    box.setObjectName("PelvaneMessageBox");
    QPushButton* logButton = nullptr;
    switch (kind) {
        case MessageKind::Info:
        case MessageKind::Error:
            box.setStandardButtons(QMessageBox::Ok);
            box.setDefaultButton(QMessageBox::Ok);
            break;
        case MessageKind::ConfirmYesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.setDefaultButton(QMessageBox::No);
            break;
        case MessageKind::YesNoCancel:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            box.setDefaultButton(QMessageBox::Yes);
            break;
        case MessageKind::YesNoCancelDefaultNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            box.setDefaultButton(QMessageBox::No);
            break;
        case MessageKind::OkCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            box.setDefaultButton(QMessageBox::Ok);
            break;
        case MessageKind::ResultWithLogButton:
            box.setStandardButtons(QMessageBox::Ok);
            box.setDefaultButton(QMessageBox::Ok);
            logButton = box.addButton(Str(5302), QMessageBox::RejectRole);
            break;
    }
    if (kind == MessageKind::Error) box.setIcon(QMessageBox::Warning);
    if (kind != MessageKind::ResultWithLogButton) QApplication::beep();
    box.exec();
    if (logButton && box.clickedButton() == logButton) return MessageResult::Cancel;
    switch (box.standardButton(box.clickedButton())) {
        case QMessageBox::Yes:
            return MessageResult::Yes;
        case QMessageBox::No:
            return MessageResult::No;
        case QMessageBox::Cancel:
            return MessageResult::Cancel;
        case QMessageBox::Ok:
            return MessageResult::Ok;
        default:
            // Closed with Escape or the close box: the button that stands for "no".
            if (kind == MessageKind::ConfirmYesNo) return MessageResult::No;
            if (kind == MessageKind::Info || kind == MessageKind::Error) return MessageResult::Ok;
            return MessageResult::Cancel;
    }
}

}  // namespace

QWidget* MessageOwner() {
    if (QWidget* w = QApplication::activeModalWidget()) return w;
    if (QWidget* w = QApplication::activeWindow()) return w;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == "PVMainForm") return w;
    }
    return nullptr;
}

MessageResult QtUiServices::ShowMessage(MessageKind kind, const std::string& caption, const std::string& text) {
    MessageResult result = MessageResult::Ok;
    OnUiThread([&] { result = ShowBox(kind, FromCp932(caption), FromCp932(text)); });
    return result;
}

void QtUiServices::ProgressOpen(const std::string& caption, const std::string& label) {
    OnUiThread([&] {
        if (!progress_) progress_ = new TPVProgressDialog(MessageOwner());
        progress_->SetCaption(FromCp932(caption));
        progress_->SetLabel(FromCp932(label));
        progress_->SetRange(0, 100);
        progress_->SetPosition(0);
        progress_->show();
        progress_->repaint();
    });
}

void QtUiServices::ProgressSetRange(int minimum, int maximum) {
    OnUiThread([&] {
        if (progress_) progress_->SetRange(minimum, maximum);
    });
}

void QtUiServices::ProgressSetPosition(int position) {
    OnUiThread([&] {
        if (progress_) progress_->SetPosition(position);
    });
}

void QtUiServices::ProgressSetCaption(const std::string& caption) {
    OnUiThread([&] {
        if (progress_) progress_->SetCaption(FromCp932(caption));
    });
}

void QtUiServices::ProgressSetLabel(const std::string& label) {
    OnUiThread([&] {
        if (progress_) progress_->SetLabel(FromCp932(label));
    });
}

void QtUiServices::ProgressClose() {
    OnUiThread([&] {
        if (progress_) {
            progress_->close();
            progress_->deleteLater();
            progress_.clear();
        }
    });
}

void QtUiServices::SetBusyCursor(bool busy) {
    OnUiThread([&] {
        if (busy) {
            if (busyDepth_++ == 0) QApplication::setOverrideCursor(Qt::WaitCursor);
        } else if (busyDepth_ > 0 && --busyDepth_ == 0) {
            QApplication::restoreOverrideCursor();
        }
    });
}

namespace {

// "Name(*.x)|*.x|All Files(*.*)|*.*" as Qt's "Name(*.x);;All Files(*.*)":
// the descriptions already name their patterns.
QString QtFilter(const QString& filter) {
    const QStringList parts = filter.split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString pattern = parts[i + 1];
        pattern.replace(';', ' ');
        out << (parts[i].contains('(') ? parts[i] : parts[i] + " (" + pattern + ")");
    }
    return out.join(";;");
}

}  // namespace

bool QtUiServices::ChooseFile(FileDialogKind kind, const std::string& title, const std::string& filter,
                              const std::string& defaultExt, std::string& path) {
    bool chosen = false;
    OnUiThread([&] {
        QFileDialog dialog(MessageOwner(), FromCp932(title));
        dialog.setNameFilter(QtFilter(FromCp932(filter)));
        dialog.setAcceptMode(kind == FileDialogKind::Open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
        dialog.setFileMode(kind == FileDialogKind::Open ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
        // Asking before overwriting is the caller's business.
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
        if (!defaultExt.empty()) dialog.setDefaultSuffix(QString::fromStdString(defaultExt).remove(0, 1));
        if (!path.empty()) dialog.selectFile(QFile::decodeName(QByteArray::fromStdString(path)));
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
            path = QFile::encodeName(dialog.selectedFiles().first()).toStdString();
            chosen = true;
        }
    });
    return chosen;
}
