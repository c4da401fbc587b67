#include "ui/paintbox.h"

#include <QMouseEvent>
#include <QPainter>

PaintBox::PaintBox(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PaintBox::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (m_canvas.size() == size())
        return;
    // Keep what was drawn where it still fits; new area starts in the window colour.
    QImage grown(size(), QImage::Format_RGB32);
    grown.fill(palette().color(QPalette::Window));
    QPainter p(&grown);
    p.drawImage(0, 0, m_canvas);
    p.end();
    m_canvas = grown;
}

void PaintBox::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    p.drawImage(event->rect(), m_canvas, event->rect());
}

void PaintBox::mousePressEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    emit mousePressed(event->button(), event->modifiers(), pos.x(), pos.y());
}
