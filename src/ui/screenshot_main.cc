// tollbook-screenshot PNG: starts the window as tollbook does (same mailbox,
// same start-up), shows it, and saves what it draws to PNG. Exits 1 when
// start-up fails, 2 when the image cannot be written.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTimer>
#include <cstdio>

#include "run/start_up.h"
#include "ui/gwfrm.h"
#include "ui/message_boxes.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: tollbook-screenshot OUTPUT.png\n");
    return 2;
  }
  const QString output = QString::fromLocal8Bit(argv[1]);
  tollbook::ui::QtMessageBoxes boxes;
  tollbook::ui::GWfrm window(
      [] { return tollbook::OpenAccount(""); },
      boxes, QDir::currentPath());
  if (!window.Form_Load()) return 1;
  window.show();
  int status = 0;
  QTimer::singleShot(500, &window, [&] {
    if (!window.grab().save(output, "PNG")) {
      std::fprintf(stderr, "tollbook-screenshot: cannot write %s\n", argv[1]);
      status = 2;
    }
    QApplication::quit();
  });
  QApplication::exec();
  return status;
}
