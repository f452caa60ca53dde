// A label that shows a value (a weight, a factor, a prompt): assistive technology reads the value
// as the label's name and what the value is as its description. The name is set with every new
// value, so it never stays a caption set once, and assistive technology hears of each change.
#pragma once

#include <QLabel>
#include <QString>

namespace trv4 {

// What the label shows, e.g. "Weight of scale A"; the name follows the text the label shows now.
inline void describeValue(QLabel* label, const QString& what) {
  label->setAccessibleDescription(what);
  label->setAccessibleName(label->text());
}

// Shows a new value; assistive technology is told the name changed.
inline void showValue(QLabel* label, const QString& text) {
  label->setText(text);
  label->setAccessibleName(text);
}

}  // namespace trv4
