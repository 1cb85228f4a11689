#include "shell/forms/AppStart.h"

#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "shell/Commonfunc.h"
#include "shell/DocumentType.h"
#include "shell/StringTable.h"
#include "shell/forms/QtCodec.h"
#include "shell/forms/QtUiServices.h"
#include "shell/forms/SingleInstance.h"
#include "shell/forms/TPVMainForm.h"

namespace {

QString InstanceSocket(const AppPaths& paths) {
    return QFile::decodeName(QByteArray::fromStdString(paths.tempFolder + "instance"));
}

}  // namespace

// Removes the private folder of one run: its two (emptied) preview folders,
// the instance socket and the folder itself.
static void RemoveRunFolder(const AppPaths& paths) {
    ::rmdir(paths.mainPreviewFolder.c_str());
    ::rmdir(paths.wizardPreviewFolder.c_str());
    ::unlink((paths.tempFolder + "instance").c_str());
    ::rmdir(paths.tempFolder.c_str());
}

int RunApplication(int argc, char** argv) {
    // The web views refuse to start as root without this.
    if (::geteuid() == 0 && !std::getenv("QTWEBENGINE_DISABLE_SANDBOX")) ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);

    QApplication app(argc, argv);
    // The pictures are compiled into the UI library, which is static: the
    // linker keeps them only when something refers to them.
    Q_INIT_RESOURCE(resources);
    QApplication::setApplicationName(Str(900));
    QApplication::setQuitOnLastWindowClosed(true);
    try {
        PathEnvironment env = CurrentPathEnvironment();
        AppPaths paths = ComputeAppPaths(env);
        QString tempProblem = QString::fromStdString(SecureTempFolder(paths, env.uid));
        SetAppPaths(paths);
        SetUiServices(std::make_shared<QtUiServices>());

        QStringList arguments = app.arguments().mid(1);
        TSingleInstance instance(InstanceSocket(paths));
        if (!paths.tempFolder.empty() && !instance.Listen()) {
            QByteArray path = arguments.isEmpty() ? QByteArray() : QFile::encodeName(arguments.first());
            QString error;
            if (!TSingleInstance::HandOver(InstanceSocket(paths), path, &error) && !error.isEmpty()) {
                std::fprintf(stderr, "%s: %s\n", qPrintable(Str(900)), qPrintable(error));
            }
            return 1;
        }

        RegisterDocumentType(env.exePath, env.xdgDataHome, env.home);

        TPVMainForm form(arguments);
        if (!tempProblem.isEmpty()) {
            form.AddStartupProblem(tempProblem + (paths.tempFolder.empty()
                                                      ? QStringLiteral(" No private temporary folder could be made; "
                                                                       "HTML mail and previews cannot be used.")
                                                      : QStringLiteral(" A private folder is used instead: ") +
                                                            QFile::decodeName(paths.tempFolder.c_str())));
        }
        QObject::connect(&instance, &TSingleInstance::activateRequested, &form, &TPVMainForm::BringToFront);
        QObject::connect(&instance, &TSingleInstance::documentHandedOver, &form,
                         &TPVMainForm::OpenHandedOverDocument);
        form.show();
        int code = app.exec();
        // A fallback folder was made for this run only: leave nothing behind.
        if (!tempProblem.isEmpty() && !paths.tempFolder.empty()) RemoveRunFolder(paths);
        return code;
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, Str(900), QString::fromLocal8Bit(e.what()));
        return 0;
    }
}
