#include "ui/message_boxes.h"

namespace tollbook::ui {

BoxSpec ToBoxSpec(const MessageBoxRequest& request, const QString& detail) {
  BoxSpec box;
  box.text = QString::fromStdString(request.text);
  box.title = QString::fromStdString(request.title.empty() ? std::string(kApplicationTitle)
                                                           : request.title);
  box.detail = detail;
  switch (request.icon) {
    case MessageIcon::kNone:
      box.icon = QMessageBox::NoIcon;
      break;
    case MessageIcon::kInformation:
      box.icon = QMessageBox::Information;
      break;
    case MessageIcon::kWarning:
      box.icon = QMessageBox::Warning;
      break;
    case MessageIcon::kCritical:
      box.icon = QMessageBox::Critical;
      break;
  }
  box.buttons = QMessageBox::Ok;
  return box;
}

void QtMessageBoxes::Show(const BoxSpec& spec, QWidget* parent) {
  QMessageBox box(spec.icon, spec.title, spec.text, spec.buttons, parent);
  box.setObjectName("MessageBox");
  if (!spec.detail.isEmpty()) box.setDetailedText(spec.detail);
  box.exec();
}

}  // namespace tollbook::ui
