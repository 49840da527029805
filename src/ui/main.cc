// tollbook: the window. Opens the mailbox that $TOLLBOOK_MAILBOX, $MAILDIR or
// ~/Maildir names, the same one tollbook-cli uses.
#include <QApplication>

#include "run/start_up.h"
#include "ui/app.h"
#include "ui/message_boxes.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  tollbook::ui::QtMessageBoxes boxes;
  return tollbook::ui::RunTollbook(
      [] { return tollbook::OpenAccount(""); },
      boxes);
}
