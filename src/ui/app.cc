#include "ui/app.h"

#include <QApplication>
#include <QDir>

namespace tollbook::ui {

int RunTollbook(AccountOpener openAccount, MessageBoxes& boxes) {
  GWfrm window(std::move(openAccount), boxes, QDir::currentPath());
  if (!window.Form_Load()) return kStartUpFailed;
  window.show();
  return QApplication::exec();
}

}  // namespace tollbook::ui
