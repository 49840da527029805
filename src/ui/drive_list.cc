#include "ui/drive_list.h"

#include <QFileInfo>
#include <QSignalBlocker>
#include <QStorageInfo>
#include <algorithm>

namespace tollbook::ui {

QStringList MountedRoots() {
  QStringList roots{QStringLiteral("/")};
  QStringList others;
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
    const QString root = volume.rootPath();
    if (root == QLatin1String("/") || others.contains(root) || !QFileInfo(root).isDir()) continue;
    others.append(root);
  }
  std::sort(others.begin(), others.end());
  return roots + others;
}

QString RootHolding(const QStringList& roots, const QString& path) {
  QString best = QStringLiteral("/");
  for (const QString& root : roots) {
    const bool holds =
        path == root || path.startsWith(root.endsWith(QLatin1Char('/')) ? root : root + '/');
    if (holds && root.size() > best.size()) best = root;
  }
  return best;
}

DriveList::DriveList(const QStringList& roots, QWidget* parent) : QComboBox(parent) {
  addItems(roots);
  connect(this, &QComboBox::activated, this, [this](int index) {
    const QString root = itemText(index);
    if (root == shown_) return;
    shown_ = root;
    emit DriveChosen(root);
  });
}

void DriveList::ShowDriveOf(const QString& path) {
  QStringList roots;
  for (int i = 0; i < count(); ++i) roots.append(itemText(i));
  shown_ = RootHolding(roots, path);
  const QSignalBlocker blocker(this);
  setCurrentIndex(findText(shown_));
}

}  // namespace tollbook::ui
