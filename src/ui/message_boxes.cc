#include "ui/message_boxes.h"

namespace tollbook::ui {

BoxContent ToBoxContent(const MessageBoxRequest& request, const QString& detail) {
  BoxContent box;
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

void QtMessageBoxes::Show(const BoxContent& content, QWidget* parent) {
  QMessageBox box(content.icon, content.title, content.text, content.buttons, parent);
  box.setObjectName("MessageBox");
  if (!content.detail.isEmpty()) box.setDetailedText(content.detail);
  box.exec();
}

}  // namespace tollbook::ui
