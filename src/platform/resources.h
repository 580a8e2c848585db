#pragma once

#include <QString>

// Files that ship with Skyvane (the hand-off script, the help page), found
// beside the program as installed, at the install prefix, or in the source
// tree, so a build runs (and tests pass) without installing.
namespace Resources {

// The path of the first shipped file of that relative path; "" when none exists.
QString find(const QString &relativePath);

} // namespace Resources
