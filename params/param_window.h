// The parameter window ("Scale Parameters"): renders a Param and forwards the operator's edits and
// clicks to it. A choice list shows a value outside its entries (an uploaded one, a port running
// at an unlisted baud rate) as an extra last entry, so a download writes back what was read.
// Closing is refused while an exchange waits inside the logic; otherwise the window deletes
// itself, and its owner then destroys the Param.
#pragma once

#include <QWidget>
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "params/parameters.h"

class QLabel;
class QPushButton;

namespace trv4 {

class ParamWindow : public QWidget {
  Q_OBJECT

 public:
  explicit ParamWindow(Param& model, QWidget* parent = nullptr);
  ~ParamWindow() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  // One field's control and the value it shows.
  struct Control {
    const ParamField* field = nullptr;
    QWidget* widget = nullptr;  // QComboBox, QLineEdit, QCheckBox or QLabel, by kind
    std::optional<std::string> shown;
  };
  struct ValueLabel {
    QLabel* label = nullptr;
    std::optional<std::string> shown;
  };
  struct Button {
    int command;
    QPushButton* button;
  };

  void addControl(const ParamField& field);
  void addButton(QWidget* parent, int command, std::function<void()> click, const char* caption,
                 const QRect& rect);
  QLabel* addValueLabel(const QString& name, const QString& what, const QRect& rect);
  // The operator changed a control: its text goes to the logic, which may refuse it.
  void forward(std::size_t index, const std::string& text);
  void picked(std::size_t index, int entry);
  void refresh();
  void render(Control& control);

  Param& model_;
  std::vector<Control> controls_;
  std::array<ValueLabel, 5> internal_;
  std::array<ValueLabel, 4> corners_;
  std::vector<Button> buttons_;
  bool rendering_ = false;  // controls set by refresh() forward nothing
};

}  // namespace trv4
