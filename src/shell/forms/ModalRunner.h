#pragma once

#include <functional>

class QDialog;

// Every modal dialog of the application runs through RunModal, so a test
// can stand in for the user (fill in the dialog, press its buttons) without
// a nested event loop.
using ModalRunner = std::function<int(QDialog&)>;

int RunModal(QDialog& dialog);

// Installs `runner` (an empty one restores QDialog::exec).
void SetModalRunner(ModalRunner runner);
