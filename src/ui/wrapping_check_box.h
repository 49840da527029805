// A check box whose caption wraps onto further lines when it is wider than
// the box, so long captions fit the window's fixed layout.
#pragma once

#include <QCheckBox>

namespace tollbook::ui {

class WrappingCheckBox : public QCheckBox {
  Q_OBJECT

 public:
  explicit WrappingCheckBox(const QString& text, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool hitButton(const QPoint& pos) const override;
};

}  // namespace tollbook::ui
