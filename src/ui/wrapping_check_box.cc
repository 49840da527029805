#include "ui/wrapping_check_box.h"

#include <QStyleOptionButton>
#include <QStylePainter>

namespace tollbook::ui {

WrappingCheckBox::WrappingCheckBox(const QString& text, QWidget* parent)
    : QCheckBox(text, parent) {}

void WrappingCheckBox::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionButton option;
  initStyleOption(&option);

  const int indicatorWidth = style()->pixelMetric(QStyle::PM_IndicatorWidth, &option, this);
  const int indicatorHeight = style()->pixelMetric(QStyle::PM_IndicatorHeight, &option, this);
  const int spacing = style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, &option, this);

  QStyleOptionButton indicator = option;
  indicator.rect = QRect(0, (height() - indicatorHeight) / 2, indicatorWidth, indicatorHeight);
  painter.drawPrimitive(QStyle::PE_IndicatorCheckBox, indicator);

  const QRect textArea = rect().adjusted(indicatorWidth + spacing, 0, 0, 0);
  const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap | Qt::TextShowMnemonic;
  QRect used = painter.boundingRect(textArea, flags, text());
  painter.drawItemText(textArea, flags, palette(), isEnabled(), text(), QPalette::WindowText);

  if (hasFocus()) {
    QStyleOptionFocusRect focus;
    focus.initFrom(this);
    focus.rect = used.adjusted(-1, 0, 1, 0).intersected(rect());
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
  }
}

bool WrappingCheckBox::hitButton(const QPoint& pos) const { return rect().contains(pos); }

}  // namespace tollbook::ui
