#include "ui/directory_view.h"

#include <QDir>
#include <QKeyEvent>
#include <QStyledItemDelegate>
#include <algorithm>
#include <filesystem>
#include <system_error>

namespace tollbook::ui {
namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kDepthRole = Qt::UserRole + 1;

// Indents every entry by its depth in the tree.
class IndentDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyleOptionViewItem indented = option;
    indented.rect.adjust(Indent(option, index), 0, 0, 0);
    QStyledItemDelegate::paint(painter, indented, index);
  }
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.rwidth() += Indent(option, index);
    return size;
  }

 private:
  static int Indent(const QStyleOptionViewItem& option, const QModelIndex& index) {
    return index.data(kDepthRole).toInt() * option.fontMetrics.horizontalAdvance(QLatin1Char('0'));
  }
};

// The folders directly inside path, hidden ones left out, sorted without
// regard to case. Returns false with error set when path cannot be listed.
bool ListFolders(const QString& path, QStringList& names, QString& error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::directory_iterator it(path.toStdString(), ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code statError;
    if (name.empty() || name[0] == '.' || !fs::is_directory(it->path(), statError)) continue;
    names.append(QString::fromStdString(name));
  }
  if (ec) {
    error = QStringLiteral("cannot open the folder %1: %2")
                .arg(path, QString::fromStdString(ec.message()));
    return false;
  }
  std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
    return QString::compare(a, b, Qt::CaseInsensitive) < 0;
  });
  return true;
}

}  // namespace

DirectoryView::DirectoryView(QWidget* parent) : QListWidget(parent) {
  setItemDelegate(new IndentDelegate(this));
  setSelectionMode(QAbstractItemView::SingleSelection);
  setUniformItemSizes(true);
  connect(this, &QListWidget::itemDoubleClicked, this, &DirectoryView::Open);
}

QString DirectoryView::EntryPath(const QListWidgetItem* item) {
  return item->data(kPathRole).toString();
}

QString DirectoryView::SetPath(const QString& requested) {
  const QString path = QDir::cleanPath(requested);
  QStringList folders;
  QString error;
  if (!ListFolders(path, folders, error)) return error;

  const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
  const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);
  clear();
  QListWidgetItem* current = nullptr;
  auto add = [&](const QString& text, const QString& entryPath, int depth, const QIcon& icon) {
    auto* item = new QListWidgetItem(icon, text, this);
    item->setData(kPathRole, entryPath);
    item->setData(kDepthRole, depth);
    return item;
  };
  current = add(QStringLiteral("/"), QStringLiteral("/"), 0, openIcon);
  const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
  QString ancestor;
  for (int i = 0; i < parts.size(); ++i) {
    ancestor += QLatin1Char('/') + parts[i];
    current = add(parts[i], ancestor, i + 1, openIcon);
  }
  const QString prefix = path == QLatin1String("/") ? path : path + QLatin1Char('/');
  for (const QString& name : folders) add(name, prefix + name, parts.size() + 1, closedIcon);
  setCurrentItem(current);
  scrollToItem(current, QAbstractItemView::PositionAtTop);

  const bool changed = path != path_;
  path_ = path;
  if (changed) emit PathChanged(path_);
  return {};
}

void DirectoryView::keyPressEvent(QKeyEvent* event) {
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentItem()) {
    Open(currentItem());
    return;
  }
  QListWidget::keyPressEvent(event);
}

void DirectoryView::Open(QListWidgetItem* item) {
  const QString message = SetPath(EntryPath(item));
  if (message.isEmpty()) return;
  for (int i = 0; i < count(); ++i) {
    if (EntryPath(this->item(i)) == path_) setCurrentRow(i);
  }
  emit OpenFailed(message);
}

}  // namespace tollbook::ui
