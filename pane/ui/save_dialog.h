// The Qt save panel behind the secondary windows' Save buttons: a window-modal file dialog
// proposing a name. Tests replace the dialog with a chooser.
#pragma once

#include <QWidget>
#include <functional>
#include <optional>
#include <string>

namespace vl::ui {

using SavePathChooser = std::function<std::optional<std::string>(const std::string& proposedName)>;

// Asks for a path (through chooser when set, else a file dialog on parent) and runs completion
// once with it, or with nullopt when the user cancelled.
void runSaveDialog(QWidget* parent, const std::string& proposedName, const SavePathChooser& chooser,
                   std::function<void(const std::optional<std::string>&)> completion);
// Says on parent, without blocking, that the chosen file was not written and why.
void showSaveFailure(QWidget* parent, const std::string& message);

}  // namespace vl::ui
