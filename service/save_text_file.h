// "Save…" of the service windows: asks for a file name and writes the text there whole (a new
// file renamed over the old one), so a failure loses nothing already on disk; it is told in a
// message box.
#pragma once

#include <QString>
#include <string>

class QWidget;

namespace trv4 {

// False when the operator cancelled or the file could not be written.
bool saveTextFile(QWidget* parent, const QString& caption, const QString& suggestedName,
                  const QString& filter, const std::string& text);

}  // namespace trv4
