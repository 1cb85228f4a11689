#pragma once

#include <string>

// Associates ".pvd" files with the application on the desktop: a
// shared-mime-info package and a .desktop entry under the user's data
// folder (`xdgDataHome`, or `home` + "/.local/share"). Written at every
// start; failures are silent. Returns whether both files were written.
bool RegisterDocumentType(const std::string& exePath, const std::string& xdgDataHome, const std::string& home);
