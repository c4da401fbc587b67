#pragma once
// A paint box that keeps what is drawn on it: drawing routines change its
// canvas at once (also outside paint events) and a repaint shows it again.

#include <QImage>
#include <QWidget>

class PaintBox : public QWidget {
    Q_OBJECT
  public:
    explicit PaintBox(QWidget* parent = nullptr);

    // What the box shows, as large as the widget (Format_RGB32). Draw into it,
    // then call update() to show the change.
    QImage& canvas() { return m_canvas; }
    const QImage& canvas() const { return m_canvas; }

  signals:
    // A mouse press on the box, in box pixels.
    void mousePressed(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    QImage m_canvas;
};
