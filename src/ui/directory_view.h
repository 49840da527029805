// Dir1: the directory view. Shows the current path's ancestors, from the root
// down, and the folders inside it. Opening a folder (double-click, Enter or
// Return) makes it the current path; highlighting one changes nothing.
#pragma once

#include <QListWidget>
#include <QString>

namespace tollbook::ui {

class DirectoryView : public QListWidget {
  Q_OBJECT

 public:
  explicit DirectoryView(QWidget* parent = nullptr);

  // The current path: absolute, "/" separated, ending in "/" only when it is
  // the root "/".
  const QString& Path() const { return path_; }

  // Makes path (absolute) the current path and lists its folders. Emits
  // PathChanged when the path differs from the old one. Returns an empty
  // text on success; when the folder cannot be read, returns a message that
  // names it and the cause, and the view stays as it was.
  QString SetPath(const QString& path);

  // The full path an entry of the view stands for.
  static QString EntryPath(const QListWidgetItem* item);

 signals:
  void PathChanged(const QString& path);
  // The user opened a folder that cannot be read.
  void OpenFailed(const QString& message);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Open(QListWidgetItem* item);

  QString path_;
};

}  // namespace tollbook::ui
