// Drive1: the drive list. On this platform the "drives" are the root paths of
// the mounted file systems, the root "/" first.
#pragma once

#include <QComboBox>
#include <QString>
#include <QStringList>

namespace tollbook::ui {

// The root paths of the mounted file systems that are folders: "/" first,
// the others sorted, no duplicates.
QStringList MountedRoots();

// The entry of roots that holds path: the longest root that is path itself or
// one of its ancestors ("/" when none is).
QString RootHolding(const QStringList& roots, const QString& path);

class DriveList : public QComboBox {
  Q_OBJECT

 public:
  explicit DriveList(const QStringList& roots, QWidget* parent = nullptr);

  // The drive shown.
  QString Drive() const { return currentText(); }

  // Shows the drive that holds path, without raising DriveChosen.
  void ShowDriveOf(const QString& path);

 signals:
  // The user picked a drive other than the one shown before.
  void DriveChosen(const QString& root);

 private:
  QString shown_;
};

}  // namespace tollbook::ui
