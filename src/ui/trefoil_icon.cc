#include "ui/trefoil_icon.h"

#include <QPainter>
#include <QPainterPath>

namespace tollbook::ui {

QImage TrefoilImage(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal centre = size / 2.0;
  const qreal blade = size * 0.26;   // radius of each blade
  const qreal reach = size * 0.215;  // from the centre to a blade's centre
  QPainterPath trefoil;
  for (int i = 0; i < 3; ++i) {
    QPainterPath leaf;
    leaf.addEllipse(QPointF(centre, centre - reach), blade, blade);
    trefoil = trefoil.united(QTransform()
                                 .translate(centre, centre)
                                 .rotate(120.0 * i)
                                 .translate(-centre, -centre)
                                 .map(leaf));
  }
  painter.setPen(QPen(QColor(128, 96, 0), size >= 32 ? 1.5 : 1.0));
  painter.setBrush(QColor(255, 255, 0));
  painter.drawPath(trefoil);
  painter.setBrush(QColor(128, 96, 0));
  painter.setPen(Qt::NoPen);
  painter.drawEllipse(QPointF(centre, centre), size * 0.06, size * 0.06);
  return image;
}

QIcon TrefoilIcon() {
  QIcon icon;
  icon.addPixmap(QPixmap::fromImage(TrefoilImage(32)));
  icon.addPixmap(QPixmap::fromImage(TrefoilImage(16)));
  return icon;
}

}  // namespace tollbook::ui
