#pragma once
// The subdivision-depth field: a number field with up and down arrows whose
// text is the state. Unlike QSpinBox it keeps whatever the user typed (also
// out of range or not a number) until the focus leaves, and refuses other
// characters with a beep.

#include <QAbstractSpinBox>
#include <QString>

class Dialogs;

class DepthField : public QAbstractSpinBox {
    Q_OBJECT
  public:
    DepthField(Dialogs& dialogs, int minimum, int maximum, int value, QWidget* parent = nullptr);

    int minimum() const { return m_minimum; }
    int maximum() const { return m_maximum; }

    // The text read as a decimal integer (an optional sign and digits, within
    // 32 bits); the minimum when the text is anything else. Not clamped.
    int value() const;
    // Shows value clamped into the range.
    void setValue(int value);

    QString text() const;
    void setText(const QString& text);

    // An optional sign and decimal digits, nothing else, within 32 bits.
    static bool ParseInteger(const QString& text, int& out);

    // Replaces a number typed outside the range by the nearest bound, as
    // leaving the field does; any other text stays.
    void commit();

    void stepBy(int steps) override;
    QValidator::State validate(QString& input, int& pos) const override;

  signals:
    // Every change of the text: typing, the arrows, or the clamp on leaving.
    void textChanged(const QString& text);

  protected:
    StepEnabled stepEnabled() const override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    int clamp(int v) const;

    Dialogs& m_dialogs;
    int m_minimum;
    int m_maximum;
    QString m_shownText; // the text as last accepted
};
