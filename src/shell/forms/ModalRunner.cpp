#include "shell/forms/ModalRunner.h"

#include <QDialog>

namespace {
ModalRunner& Runner() {
    static ModalRunner runner;
    return runner;
}
}  // namespace

int RunModal(QDialog& dialog) { return Runner() ? Runner()(dialog) : dialog.exec(); }

void SetModalRunner(ModalRunner runner) { Runner() = std::move(runner); }
