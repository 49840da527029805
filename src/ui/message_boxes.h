// The window's modal message boxes, behind a seam: the program shows real
// QMessageBoxes, tests answer and record them without blocking.
#pragma once

#include <QMessageBox>
#include <QString>

#include "run/front_end.h"

class QWidget;

namespace tollbook::ui {

// Everything a box shows. The title is already resolved: a box without a
// title of its own carries the application's title here.
struct BoxContent {
  QString text;
  QString title;
  QString detail;  // shown behind the box's "Show Details..." button; may be empty
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons = QMessageBox::Ok;
};

// Turns a run's message box request into what the window shows: the icon
// mapped, an empty title replaced by "The Tollbook", only an OK button.
BoxContent ToBoxContent(const MessageBoxRequest& request, const QString& detail = {});

class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  // Shows the box modally over parent (nullptr: no window yet) and returns
  // when the user has closed it.
  virtual void Show(const BoxContent& box, QWidget* parent) = 0;
};

// Real QMessageBoxes.
class QtMessageBoxes : public MessageBoxes {
 public:
  void Show(const BoxContent& box, QWidget* parent) override;
};

}  // namespace tollbook::ui
