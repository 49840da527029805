// Runs the window's tests inside one QApplication on the offscreen platform.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QDir>

int main(int argc, char** argv) {
  // ctest sets these; these defaults let the program also run by hand.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("TOLLBOOK_LEDGER", "off", 0);  // never the real ledger in the home folder
  if (getenv("XDG_RUNTIME_DIR") == nullptr) {
    const QByteArray runtime = QDir::tempPath().toLocal8Bit() + "/tollbook-ui-tests-runtime";
    QDir().mkpath(QString::fromLocal8Bit(runtime));
    QFile::setPermissions(QString::fromLocal8Bit(runtime),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    setenv("XDG_RUNTIME_DIR", runtime.constData(), 1);
  }
  ::testing::InitGoogleTest(&argc, argv);
  QApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
