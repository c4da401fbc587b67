#include "ui/depthfield.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QStyleOptionSpinBox>
#include <algorithm>
#include <cstdint>
#include <limits>

#include "ui/dialogs.h"

namespace {

// The characters a number may be typed with; everything printable else is refused.
bool IsNumberChar(QChar c) {
    return (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.';
}

// Hands the line edit's checks to the field: QAbstractSpinBox installs no
// validator of its own for a subclass that is not one of Qt's spin boxes.
class FieldValidator final : public QValidator {
  public:
    explicit FieldValidator(DepthField* field) : QValidator(field), m_field(field) {}
    State validate(QString& input, int& pos) const override {
        return m_field->validate(input, pos);
    }

  private:
    DepthField* m_field;
};

} // namespace

DepthField::DepthField(Dialogs& dialogs, int minimum, int maximum, int value, QWidget* parent)
    : QAbstractSpinBox(parent), m_dialogs(dialogs), m_minimum(minimum), m_maximum(maximum) {
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    setKeyboardTracking(true);
    // Composed input would bypass the character check.
    setAttribute(Qt::WA_InputMethodEnabled, false);
    lineEdit()->setAttribute(Qt::WA_InputMethodEnabled, false);
    lineEdit()->setText(QString::number(clamp(value)));
    lineEdit()->setValidator(new FieldValidator(this));
    m_shownText = lineEdit()->text();
    connect(lineEdit(), &QLineEdit::textChanged, this, [this](const QString& text) {
        m_shownText = text;
        emit textChanged(text);
    });
}

bool DepthField::ParseInteger(const QString& text, int& out) {
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == text.size())
        return false;
    std::int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c < u'0' || c > u'9')
            return false;
        magnitude = magnitude * 10 + (c.unicode() - u'0');
        if (magnitude > std::int64_t(std::numeric_limits<int>::max()) + 1)
            return false;
    }
    const std::int64_t v = negative ? -magnitude : magnitude;
    if (v > std::numeric_limits<int>::max())
        return false;
    out = int(v);
    return true;
}

int DepthField::clamp(int v) const {
    return std::clamp(v, m_minimum, m_maximum);
}

int DepthField::value() const {
    int v = 0;
    return ParseInteger(text(), v) ? v : m_minimum;
}

void DepthField::setValue(int value) {
    setText(QString::number(clamp(value)));
}

QString DepthField::text() const {
    return lineEdit()->text();
}

void DepthField::setText(const QString& text) {
    m_shownText = text;
    lineEdit()->setText(text);
}

void DepthField::stepBy(int steps) {
    // From the value as read now, even when it was typed out of range.
    const std::int64_t next = std::int64_t(value()) + steps;
    setValue(int(std::clamp<std::int64_t>(next, m_minimum, m_maximum)));
}

QAbstractSpinBox::StepEnabled DepthField::stepEnabled() const {
    // The arrows always work; stepBy clamps.
    return StepUpEnabled | StepDownEnabled;
}

QValidator::State DepthField::validate(QString& input, int&) const {
    // Any text of number characters may stand while typing (also out of range
    // or not a number yet). Typed characters are refused with a beep in
    // keyPressEvent; this catches the rest: pasted or dropped text. The text
    // already shown, or set by the program, is not an edit.
    if (input == m_shownText)
        return QValidator::Acceptable;
    for (const QChar c : input) {
        if (!IsNumberChar(c)) {
            m_dialogs.beep();
            return QValidator::Invalid;
        }
    }
    return QValidator::Acceptable;
}

void DepthField::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Up:
        stepBy(1);
        event->accept();
        return;
    case Qt::Key_Down:
        stepBy(-1);
        event->accept();
        return;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        event->accept();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Left to the window, whose default button answers it.
        event->ignore();
        return;
    default:
        break;
    }
    const Qt::KeyboardModifiers commandModifiers =
        event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (commandModifiers == Qt::NoModifier) {
        for (const QChar c : event->text()) {
            if (c.unicode() < 32 || c.unicode() == 127)
                continue; // editing keys (backspace, delete, ...)
            if (!IsNumberChar(c)) {
                m_dialogs.beep();
                event->accept();
                return;
            }
        }
    }
    QAbstractSpinBox::keyPressEvent(event);
}

void DepthField::focusOutEvent(QFocusEvent* event) {
    QAbstractSpinBox::focusOutEvent(event);
    // A menu popping up or another window coming to the front does not leave the field.
    if (event->reason() == Qt::PopupFocusReason || event->reason() == Qt::ActiveWindowFocusReason)
        return;
    commit();
}

void DepthField::commit() {
    int v = 0;
    if (ParseInteger(text(), v) && clamp(v) != v)
        setText(QString::number(clamp(v)));
}

void DepthField::wheelEvent(QWheelEvent* event) {
    // Only the arrows and the Up and Down keys step the value.
    event->ignore();
}

void DepthField::paintEvent(QPaintEvent*) {
    // The style draws a spin box's frame one pixel inside the top and bottom
    // edges; the field's layout height is the frame's height, so the frame is
    // drawn over the whole widget.
    QStyleOptionSpinBox option;
    initStyleOption(&option);
    option.rect.adjust(0, -1, 0, 1);
    QPainter painter(this);
    style()->drawComplexControl(QStyle::CC_SpinBox, &option, &painter, this);
}
